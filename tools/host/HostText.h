#pragma once
// The texts iobox-host shows: readable lines for what the host receives and sends.

#include <cstdint>
#include <string>
#include <vector>

namespace iobox::host {

// The fields of an event's JSON text that a person reads first.
struct EventSummary {
    std::string time;          // OccurrenceTime
    std::string deviceName;
    long long deviceId = 0;
    std::string sourceName;    // the input's channel name
    long long sourceId = 0;    // the input's host channel id
    long long eventId = 0;
};

// False when the text is not an event document (then `out` is untouched).
bool ParseEventJson(const std::string& json, EventSummary& out);
// "event  <time>  <device>  <input>  id <event id>", or a line saying the content is unreadable.
std::string ReadableEvent(const std::string& json);

// "offline", "online", or the code in hexadecimal.
std::string StatusName(int statusCode);
std::string NotificationLine(unsigned int msgType, int deviceId, int statusCode);

struct OutputState {
    int no = 0;                 // the box's output number, 1-based
    unsigned int channelId = 0; // the host's channel id
    bool on = false;
};
// "1 off  2 on  ..." in output order; "none reported" when empty.
std::string OutputsText(const std::vector<OutputState>& outputs);

// "error (0, 947): not a valid device address".
std::string ErrorText(int module, int code);

struct ChannelEntry {
    int no = 0;
    unsigned int id = 0;
    std::string name;
};
// Lines listing "<name> = id <id>", a few a line; long lists show their ends only.
std::vector<std::string> ChannelLines(const std::vector<ChannelEntry>& channels);

// What the host's operator enters to add an I/O box.
struct AddRequest {
    std::string alias;
    std::string address;
    unsigned int port = 0;
    int inputs = 0;
    int outputs = 0;
    int inputType = 0;
    int companyType = 0;
};
// The add request's JSON text, as the host passes it to the device management handler.
std::string AddRequestJson(const AddRequest& request);

// The text cut at blanks into lines of at most `width` characters; a word longer than that
// stands alone on its line.
std::vector<std::string> WrapText(const std::string& text, std::size_t width);

// "3 s", "1 min 05 s".
std::string SecondsText(long long seconds);

} // namespace iobox::host
