#include "HostText.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>

#include "OstraPlatform/PlatformCodes.h"

namespace iobox::host {

namespace {

const rapidjson::Value* Member(const rapidjson::Value& object, const char* key)
{
    if (!object.IsObject()) {
        return nullptr;
    }
    const auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

std::string Text(const rapidjson::Value& object, const char* key)
{
    const rapidjson::Value* v = Member(object, key);
    return v != nullptr && v->IsString() ? std::string(v->GetString(), v->GetStringLength()) : std::string();
}

long long Integer(const rapidjson::Value& object, const char* key)
{
    const rapidjson::Value* v = Member(object, key);
    return v != nullptr && v->IsInt64() ? v->GetInt64() : 0;
}

} // namespace

bool ParseEventJson(const std::string& json, EventSummary& out)
{
    rapidjson::Document doc;
    if (doc.Parse(json.c_str(), json.size()).HasParseError()) {
        return false;
    }
    const rapidjson::Value* event = Member(doc, "Event");
    const rapidjson::Value* basic = event != nullptr ? Member(*event, "BasicInfo") : nullptr;
    if (basic == nullptr || !basic->IsObject()) {
        return false;
    }
    EventSummary s;
    if (const rapidjson::Value* timeInfo = Member(*basic, "TimeInfo")) {
        s.time = Text(*timeInfo, "OccurrenceTime");
    }
    s.deviceName = Text(*basic, "DeviceName");
    s.deviceId = Integer(*basic, "DeviceID");
    s.sourceName = Text(*basic, "SourceName");
    s.sourceId = Integer(*basic, "SourceID");
    s.eventId = Integer(*basic, "EventID");
    out = s;
    return true;
}

std::string ReadableEvent(const std::string& json)
{
    EventSummary s;
    if (!ParseEventJson(json, s)) {
        const std::string head = json.substr(0, 60);
        return "event  (content is not an event document: '" + head + (json.size() > 60 ? "...'" : "'") + ")";
    }
    return "event  " + (s.time.empty() ? std::string("(no time)") : s.time) + "  " + s.deviceName + "  " +
        s.sourceName + "  id " + std::to_string(s.eventId);
}

std::string StatusName(int statusCode)
{
    switch (statusCode) {
    case OstraPlatform::DEVICE_STATUS_OFFLINE: return "offline";
    case OstraPlatform::DEVICE_STATUS_ONLINE: return "online";
    default: {
        char text[24];
        std::snprintf(text, sizeof text, "status 0x%04X", static_cast<unsigned>(statusCode));
        return text;
    }
    }
}

std::string NotificationLine(unsigned int msgType, int deviceId, int statusCode)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(statusCode));
    return "notification  device " + std::to_string(deviceId) + " is " + StatusName(statusCode) + " (status " +
        code + ", message type " + std::to_string(msgType) + ")";
}

std::string OutputsText(const std::vector<OutputState>& outputs)
{
    if (outputs.empty()) {
        return "none reported";
    }
    std::string text;
    for (const auto& o : outputs) {
        if (!text.empty()) {
            text += "  ";
        }
        text += std::to_string(o.no) + (o.on ? " on" : " off");
    }
    return text;
}

std::string ErrorText(int module, int code)
{
    const char* meaning = nullptr;
    if (module == 0) {
        switch (code) {
        case 2: meaning = "the request is unusable, or the device has no connection"; break;
        case 4: meaning = "the device could not be reached or did not answer"; break;
        case 903: meaning = "no device with that id"; break;
        case 907: meaning = "the device is not logged in"; break;
        case 947: meaning = "not a valid device address"; break;
        case 10004: meaning = "not supported"; break;
        default: break;
        }
    }
    std::string text = "error (" + std::to_string(module) + ", " + std::to_string(code) + ")";
    return meaning != nullptr ? text + ": " + meaning : text;
}

std::vector<std::string> ChannelLines(const std::vector<ChannelEntry>& channels)
{
    constexpr std::size_t kPerLine = 3;
    constexpr std::size_t kShownAtMost = 24;
    constexpr std::size_t kHeadWhenLong = 8;
    constexpr std::size_t kTailWhenLong = 4;
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (channels.size() > kShownAtMost && i == kHeadWhenLong) {
            entries.push_back("... " + std::to_string(channels.size() - kHeadWhenLong - kTailWhenLong) + " more ...");
            i = channels.size() - kTailWhenLong;
        }
        entries.push_back(channels[i].name + " = id " + std::to_string(channels[i].id));
    }
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < entries.size(); i += kPerLine) {
        std::string line;
        for (std::size_t j = i; j < entries.size() && j < i + kPerLine; ++j) {
            line += (j == i ? "" : "   ") + entries[j];
        }
        lines.push_back(line);
    }
    return lines;
}

std::string AddRequestJson(const AddRequest& r)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("AddDevicesRequest");
    w.StartObject();
    w.Key("DeviceType");
    w.Int(OstraPlatform::DEVICE_CATEGORY_ALARM_HOST);
    w.Key("DeviceProtocol");
    w.Int(OstraPlatform::ACCESS_PROTOCOL_MODBUS_TCP);
    w.Key("SingleDevice");
    w.StartObject();
    w.Key("Alias");
    w.String(r.alias.c_str(), static_cast<rapidjson::SizeType>(r.alias.size()));
    w.Key("Manufacturer");
    w.Int(r.companyType);
    w.Key("AddByAddress");
    w.StartObject();
    w.Key("Address");
    w.String(r.address.c_str(), static_cast<rapidjson::SizeType>(r.address.size()));
    w.Key("Port");
    w.Uint(r.port);
    w.Key("IOBox");
    w.StartObject();
    w.Key("AlarmInputCount");
    w.Int(r.inputs);
    w.Key("AlarmOutputCount");
    w.Int(r.outputs);
    w.Key("AlarmInputType");
    w.Int(r.inputType);
    w.EndObject();
    w.EndObject();
    w.EndObject();
    w.EndObject();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::vector<std::string> WrapText(const std::string& text, std::size_t width)
{
    if (text.size() <= width) {
        return {text};
    }
    // Continuation lines keep the first line's indentation.
    const std::size_t indentEnd = text.find_first_not_of(' ');
    const std::string indent = text.substr(0, indentEnd == std::string::npos ? 0 : indentEnd);
    std::vector<std::string> lines;
    std::string line;
    std::size_t i = indent.size();
    while (i < text.size()) {
        const std::size_t blank = text.find(' ', i);
        const std::size_t end = blank == std::string::npos ? text.size() : blank;
        const std::string word = text.substr(i, end - i);
        if (!line.empty() && indent.size() + line.size() + 1 + word.size() > width) {
            lines.push_back(indent + line);
            line.clear();
        }
        if (!word.empty()) {
            line += (line.empty() ? "" : " ") + word;
        }
        i = end + 1;
    }
    if (!line.empty()) {
        lines.push_back(indent + line);
    }
    return lines;
}

std::string SecondsText(long long seconds)
{
    if (seconds < 0) {
        seconds = 0;
    }
    if (seconds < 60) {
        return std::to_string(seconds) + " s";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%lld min %02lld s", seconds / 60, seconds % 60);
    return text;
}

} // namespace iobox::host
