// Micro benchmarks of the plug-in's hot pieces, each beside an anchor measured in the same
// run: the Modbus frame build and parse, and the event document's build and content.
#include <benchmark/benchmark.h>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/ModbusFrame.h"
#include "EventManager/Event/DamEventMsg.h"
#include "EventManager/EventFactory/EventFactory.h"
#include "EventManager/EventProcessManager.h"
#include "proto/RapidJsonProto.h"
#include "support/BenchHost.h"
#include "support/Stats.h"

namespace {

constexpr int kInputs = 12;

// A Read Discrete Inputs reply for 12 inputs: head, unit, function, byte count 2, two bytes.
const std::string kReply("\x00\x01\x00\x00\x00\x05\x00\x02\x02\xA5\x0C", 11);

// ---- frames ---------------------------------------------------------------------------------

void BM_FrameBuild(benchmark::State& state)
{
    for (auto _ : state) {
        std::string request = iobox::modbus::BuildReadInputsRequest(iobox::modbus::NextTransaction(), 0, kInputs);
        benchmark::DoNotOptimize(request);
    }
}
BENCHMARK(BM_FrameBuild);

// Anchor: the same twelve bytes stored into a fixed array.
void BM_Anchor_FrameBuild(benchmark::State& state)
{
    uint32_t transaction = 0;
    for (auto _ : state) {
        unsigned char frame[12] = {static_cast<unsigned char>(transaction >> 8),
                                   static_cast<unsigned char>(transaction & 0xFF), 0, 0, 0, 6, 0, 2, 0, 0, 0, kInputs};
        ++transaction;
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_Anchor_FrameBuild);

void BM_FrameParse(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<iobox::ModbusAlarmInfo> inputs; // fresh, as each poll has
        iobox::modbus::ParseInputRecvData(kReply, kInputs, 1, inputs);
        benchmark::DoNotOptimize(inputs.data());
    }
}
BENCHMARK(BM_FrameParse);

// Anchor: the bits unpacked into one byte per input, as libmodbus hands them out.
void BM_Anchor_FrameParse(benchmark::State& state)
{
    for (auto _ : state) {
        uint8_t bits[kInputs];
        const std::size_t count = static_cast<uint8_t>(kReply[8]);
        int point = 0;
        for (std::size_t i = 0; i < count && point < kInputs; ++i) {
            const uint8_t byte = static_cast<uint8_t>(kReply[9 + i]);
            for (int j = 0; j < 8 && point < kInputs; ++j) {
                bits[point++] = (byte >> j) & 1;
            }
        }
        benchmark::DoNotOptimize(bits);
    }
}
BENCHMARK(BM_Anchor_FrameParse);

// ---- event document -----------------------------------------------------------------------

struct EventFixture {
    EventFixture()
    {
        device = host.AddBox(7, "MICRO-BOX-7", kInputs);
        record = std::make_shared<iobox::CModbusAlarmInputInfo>(device, 3, 0, 1);
    }
    bench::BenchHost host;
    std::shared_ptr<dam::CDevice> device;
    std::shared_ptr<iobox::CModbusAlarmInputInfo> record;
};

EventFixture& Fixture()
{
    static EventFixture fixture;
    return fixture;
}

void BM_EventDocumentBuild(benchmark::State& state)
{
    auto& f = Fixture();
    for (auto _ : state) {
        auto messages = iobox::CSPEventFactory::CreateEventMsg(f.record);
        if (messages.size() != 1) {
            state.SkipWithError("no event built");
            break;
        }
        benchmark::DoNotOptimize(messages.data());
    }
}
BENCHMARK(BM_EventDocumentBuild);

// The values of one event, as the host would give them.
struct EventValues {
    int sourceId = 703;
    std::string sourceName = "bench box 7 input 3";
    std::string areaName;
    int deviceId = 7;
    std::string deviceName = "bench box 7";
    int eventId = 1;
    std::string occurrence = "2024-05-01 12:00:00";
    std::string daylight = "2024-03-31";
    std::string standard = "2024-10-27";
};

// Anchor: the same sixteen members written straight into a RapidJSON DOM, without paths and
// without host calls.
void BuildDirect(rapidjson::Document& doc, const EventValues& v)
{
    auto& a = doc.GetAllocator();
    doc.SetObject();
    rapidjson::Value zone(rapidjson::kObjectType);
    zone.AddMember("TimeZoneBias", -60, a);
    zone.AddMember("DaylightDate", rapidjson::Value(v.daylight.c_str(), a), a);
    zone.AddMember("StandardDate", rapidjson::Value(v.standard.c_str(), a), a);
    zone.AddMember("DaylightBias", -60, a);
    rapidjson::Value time(rapidjson::kObjectType);
    time.AddMember("OccurrenceTime", rapidjson::Value(v.occurrence.c_str(), a), a);
    time.AddMember("TimeDifference", 3600, a);
    time.AddMember("TimeZone", zone, a);
    rapidjson::Value basic(rapidjson::kObjectType);
    basic.AddMember("EventType", 5030, a);
    basic.AddMember("SourceType", 1003, a);
    basic.AddMember("SourceID", v.sourceId, a);
    basic.AddMember("SourceName", rapidjson::Value(v.sourceName.c_str(), a), a);
    basic.AddMember("AreaID", -1, a);
    basic.AddMember("AreaName", rapidjson::Value(v.areaName.c_str(), a), a);
    basic.AddMember("DeviceID", v.deviceId, a);
    basic.AddMember("DeviceName", rapidjson::Value(v.deviceName.c_str(), a), a);
    basic.AddMember("EventID", v.eventId, a);
    basic.AddMember("OfflineType", 1, a);
    basic.AddMember("TimeInfo", time, a);
    rapidjson::Value event(rapidjson::kObjectType);
    event.AddMember("BasicInfo", basic, a);
    doc.AddMember("Event", event, a);
}

void BM_Anchor_EventDocumentBuild(benchmark::State& state)
{
    EventValues values;
    for (auto _ : state) {
        auto doc = std::make_shared<rapidjson::Document>();
        BuildDirect(*doc, values);
        ++values.eventId;
        benchmark::DoNotOptimize(doc.get());
    }
}
BENCHMARK(BM_Anchor_EventDocumentBuild);

void BM_EventContent(benchmark::State& state)
{
    auto messages = iobox::CSPEventFactory::CreateEventMsg(Fixture().record);
    if (messages.size() != 1) {
        state.SkipWithError("no event built");
        return;
    }
    const std::shared_ptr<proto::IProto> document = messages[0]->GetProto();
    for (auto _ : state) {
        // A new message over the same document: its content is built on the first call.
        auto message = std::make_shared<iobox::CSPDamEventMsg>(document);
        char* data = nullptr;
        unsigned int length = 0;
        message->GetContent(&data, &length);
        benchmark::DoNotOptimize(data);
    }
}
BENCHMARK(BM_EventContent);

// Anchor: the same document written to text and copied with its NUL into a string.
void BM_Anchor_EventContent(benchmark::State& state)
{
    rapidjson::Document doc;
    BuildDirect(doc, EventValues());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        doc.Accept(writer);
        auto content = std::make_shared<std::string>(buffer.GetString(), buffer.GetSize() + 1);
        benchmark::DoNotOptimize(content->data());
    }
}
BENCHMARK(BM_Anchor_EventContent);

// Prints the usual table, then each benchmark's time against its anchor's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Plain text: the output goes to files as often as to a terminal.
    RatioReporter() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "median") {
                continue;
            }
            // The median of the repetitions when there are some, the single run otherwise.
            auto& slot = m_times[run.run_name.function_name];
            if (aggregate || !slot.fromMedian) {
                slot = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime(), aggregate};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const
    {
        bench::Table table({"benchmark", "time ns", "CPU ns", "anchor time ns", "anchor CPU ns", "ratio (CPU)"});
        for (const auto& entry : m_times) {
            if (entry.first.rfind("BM_Anchor_", 0) == 0) {
                continue;
            }
            const auto anchor = m_times.find("BM_Anchor_" + entry.first.substr(3));
            const Times none;
            const Times& a = anchor == m_times.end() ? none : anchor->second;
            const Times& t = entry.second;
            table.AddRow({entry.first, bench::Format("%.1f", t.real), bench::Format("%.1f", t.cpu),
                          bench::Format("%.1f", a.real), bench::Format("%.1f", a.cpu),
                          bench::Format("%.2f", bench::Ratio(t.cpu, a.cpu))});
        }
        std::printf("\n%s", table.Render().c_str());
    }

private:
    struct Times {
        double real = 0;
        double cpu = 0;
        bool fromMedian = false;
    };
    std::map<std::string, Times> m_times;
};

} // namespace

int main(int argc, char** argv)
{
    bench::QuietLog quiet;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
