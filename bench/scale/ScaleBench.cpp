// Scale: N simulated I/O boxes (one iobox-sim process serving all) logged in through the
// connection manager from several threads and polled with the production timing. Over a
// steady window it counts polls and events, and measures this process's resident memory and
// CPU time per device. The anchor, a thread-per-device libmodbus client polling the same
// server with the same period, runs first in a child process of its own.
#include <modbus/modbus.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Common/Timing.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "EventManager/EventProcessManager.h"
#include "Marl/Base/GuidUtil.h"
#include "support/BenchHost.h"
#include "support/PollTiming.h"
#include "support/Process.h"
#include "support/System.h"
#include "support/Stats.h"

namespace {

constexpr int kInputs = 12;
constexpr double kPeriodMs = iobox::kPollPeriodMs;
constexpr double kAllowanceMs = 100;

struct Options {
    std::string sim;
    int devices = 100;
    int windowS = 60;
    int settleS = 7;       // after the last login, before the window opens
    int loginThreads = 50;
    int alarms = 1;        // inputs in alarm at every poll
    bool anchor = true;    // also run the libmodbus anchor
    bool anchorMode = false;
    int port = 0;          // anchor mode: the simulator's port
    int simPort = 0;       // a simulator already running (started by the caller) instead of --sim
    int futexSlots = -1;   // -1: the kernel's default futex hash; else its size (0: the global one)
    bool unit = false;     // end with Unit's shutdown of the connections instead of logouts
};

const char* const kUsage =
    "usage: bench_scale --sim PATH | --sim-port P [--devices N] [--window S] [--settle S] [--login-threads N]\n"
    "                   [--alarms N] [--no-anchor] [--futex-slots N] [--unit]\n"
    "       bench_scale --anchor --port P [--devices N] [--window S] [--settle S] (used internally)\n";

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--no-anchor") {
            o.anchor = false;
            continue;
        }
        if (name == "--anchor") {
            o.anchorMode = true;
            continue;
        }
        if (name == "--unit") {
            o.unit = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        const int v = std::atoi(value.c_str());
        if (name == "--sim") {
            o.sim = value;
        } else if (name == "--devices" && v > 0 && v <= 5000) {
            o.devices = v;
        } else if (name == "--window" && v > 0 && v <= 3600) {
            o.windowS = v;
        } else if (name == "--settle" && v > 0 && v <= 600) {
            o.settleS = v;
        } else if (name == "--login-threads" && v > 0 && v <= 500) {
            o.loginThreads = v;
        } else if (name == "--alarms" && v >= 1 && v <= kInputs) { // input 1 in alarm times the polls
            o.alarms = v;
        } else if (name == "--futex-slots" && v >= 0 && v <= (1 << 20)) {
            o.futexSlots = v;
        } else if (name == "--port" && v > 0 && v < 65536) {
            o.port = v;
        } else if (name == "--sim-port" && v > 0 && v < 65536) {
            o.simPort = v;
        } else {
            return false;
        }
    }
    return o.anchorMode ? o.port > 0 : (!o.sim.empty() || o.simPort > 0);
}

// Completion moments of one device's polls; written only by that device's poll thread and
// read once polling has ended.
struct PollLog {
    std::vector<double> times;
    std::atomic<std::size_t> count{0};

    void Record(double ms)
    {
        const std::size_t i = count.load(std::memory_order_relaxed);
        if (i < times.size()) {
            times[i] = ms;
            count.store(i + 1, std::memory_order_release);
        }
    }
    std::vector<double> Times() const
    {
        return std::vector<double>(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(count.load()));
    }
};

std::size_t TotalPolls(const std::vector<std::vector<double>>& times)
{
    std::size_t n = 0;
    for (const auto& polls : times) {
        n += polls.size();
    }
    return n;
}

std::size_t PollCapacity(const Options& o, int loginSeconds)
{
    return static_cast<std::size_t>((loginSeconds + o.settleS + o.windowS + 60) * 1000 / kPeriodMs) + 8;
}

// What one side (ours or the anchor) measured.
struct Result {
    int devices = 0;
    int loggedIn = 0;
    double loginSeconds = 0;
    bench::PollCheck polls;
    long alarms = 0;         // whole run: alarms seen (ours: that reached the event pipeline)
    long alarmsExpected = 0; // whole run: polls seen x inputs in alarm
    long eventsDelivered = 0; // whole run
    long eventsRaised = 0;    // whole run: alarms that reached the event pipeline
    double memoryPerDeviceKiB = 0; // resident on Linux, private bytes on Windows
    double residentPerDeviceKiB = 0; // the working set on Windows
    double threadsPerDevice = 0;
    double handlesPerDevice = 0;   // descriptors on Linux, handles on Windows (-1: unknown)
    double cpuPercent = 0;    // of one core, whole process, over the window
    double unitMs = -1;       // --unit: how long Unit's shutdown of the connections took
    double workerCpuPercent = 0; // the part the event worker thread used
    double kernelCpuPercent = 0; // the part spent in the kernel
    int descriptors = 0;        // handles on Windows
    int highestDescriptor = 0;  // -1 where numbers are not dense (Windows)
    int threads = 0;
    int futexSlots = -1; // slots of the process's futex hash at the window's end (0: global)
    long errorLines = 0;
};

std::string Serialise(const Result& r)
{
    return bench::Format("devices=%d logged=%d login_s=%.3f seen=%zu expected=%zu missing=%zu intervals=%zu late=%zu "
                         "early=%zu max_late_ms=%.3f p99_late_ms=%.3f alarms=%ld alarms_expected=%ld "
                         "mem_kib=%.3f res_kib=%.3f threads_pd=%.3f handles_pd=%.3f cpu_pct=%.4f sys_pct=%.4f fds=%d top_fd=%d threads=%d "
                         "futex_slots=%d",
                         r.devices, r.loggedIn, r.loginSeconds, r.polls.seen, r.polls.expected, r.polls.missing,
                         r.polls.intervals, r.polls.late, r.polls.early, r.polls.maxLatenessMs, r.polls.p99LatenessMs,
                         r.alarms, r.alarmsExpected, r.memoryPerDeviceKiB, r.residentPerDeviceKiB, r.threadsPerDevice, r.handlesPerDevice, r.cpuPercent, r.kernelCpuPercent, r.descriptors,
                         r.highestDescriptor, r.threads, r.futexSlots);
}

bool Parse(const std::string& text, Result& r)
{
    std::map<std::string, double> v;
    std::istringstream in(text);
    std::string field;
    while (in >> field) {
        const auto eq = field.find('=');
        if (eq != std::string::npos) {
            v[field.substr(0, eq)] = std::atof(field.substr(eq + 1).c_str());
        }
    }
    if (v.count("devices") == 0 || v.count("cpu_pct") == 0) {
        return false;
    }
    r.devices = static_cast<int>(v["devices"]);
    r.loggedIn = static_cast<int>(v["logged"]);
    r.loginSeconds = v["login_s"];
    r.polls.seen = static_cast<std::size_t>(v["seen"]);
    r.polls.expected = static_cast<std::size_t>(v["expected"]);
    r.polls.missing = static_cast<std::size_t>(v["missing"]);
    r.polls.intervals = static_cast<std::size_t>(v["intervals"]);
    r.polls.late = static_cast<std::size_t>(v["late"]);
    r.polls.early = static_cast<std::size_t>(v["early"]);
    r.polls.maxLatenessMs = v["max_late_ms"];
    r.polls.p99LatenessMs = v["p99_late_ms"];
    r.alarms = static_cast<long>(v["alarms"]);
    r.alarmsExpected = static_cast<long>(v["alarms_expected"]);
    r.memoryPerDeviceKiB = v["mem_kib"];
    r.residentPerDeviceKiB = v["res_kib"];
    r.threadsPerDevice = v["threads_pd"];
    r.handlesPerDevice = v["handles_pd"];
    r.cpuPercent = v["cpu_pct"];
    r.kernelCpuPercent = v["sys_pct"];
    r.descriptors = static_cast<int>(v["fds"]);
    r.highestDescriptor = static_cast<int>(v["top_fd"]);
    r.threads = static_cast<int>(v["threads"]);
    r.futexSlots = static_cast<int>(v["futex_slots"]);
    r.eventsDelivered = -1;
    r.eventsRaised = -1;
    return true;
}

// The steady window: CPU and memory of the whole process between its two ends.
struct Window {
    double startMs = 0;
    double endMs = 0;
    double cpuSeconds = 0;
    double kernelCpuSeconds = 0;
    double workerCpuSeconds = 0;
    bench::ProcessSample end;
};

// The event worker's thread name as Linux keeps it (15 characters at most).
const std::string kWorkerThreadPrefix = std::string(bench::kEventWorkerName).substr(0, 15);

Window MeasureWindow(const Options& o)
{
    Window w;
    const double cpu0 = bench::CpuSeconds();
    const double kernel0 = bench::SystemCpuSeconds();
    const double worker0 = bench::ThreadCpuSeconds(kWorkerThreadPrefix, true);
    w.startMs = bench::NowMs();
    std::this_thread::sleep_for(std::chrono::seconds(o.windowS));
    w.endMs = bench::NowMs();
    w.cpuSeconds = bench::CpuSeconds() - cpu0;
    w.kernelCpuSeconds = bench::SystemCpuSeconds() - kernel0;
    w.workerCpuSeconds = bench::ThreadCpuSeconds(kWorkerThreadPrefix, true) - worker0;
    w.end = bench::SampleProcess();
    return w;
}

// Per device: the window's end against the process before the first device.
// -1 where either end could not be measured.
double PerDevice(long end, long before, int devices)
{
    return end < 0 || before < 0 ? -1 : static_cast<double>(end - before) / devices;
}

void FillProcessFigures(Result& r, const Window& w, const bench::ProcessSample& before, int devices)
{
    r.memoryPerDeviceKiB = PerDevice(w.end.memoryKiB, before.memoryKiB, devices);
    r.residentPerDeviceKiB = PerDevice(w.end.residentKiB, before.residentKiB, devices);
    r.threadsPerDevice = PerDevice(w.end.threads, before.threads, devices);
    r.handlesPerDevice = PerDevice(w.end.handles, before.handles, devices);
    r.cpuPercent = 100.0 * w.cpuSeconds / ((w.endMs - w.startMs) / 1000.0);
    r.workerCpuPercent = 100.0 * w.workerCpuSeconds / ((w.endMs - w.startMs) / 1000.0);
    r.kernelCpuPercent = 100.0 * w.kernelCpuSeconds / ((w.endMs - w.startMs) / 1000.0);
    r.descriptors = w.end.handles;
    r.highestDescriptor = bench::HighestDescriptor();
    r.threads = w.end.threads;
    r.futexSlots = bench::FutexHashSlots();
}

// ---- the anchor: one thread per device, libmodbus, the same pause between polls ----------

// Applies --futex-slots; false when asked for and refused.
bool ApplyFutexSlots(const Options& o)
{
    if (o.futexSlots < 0) {
        return true;
    }
    if (!bench::SetFutexHashSlots(o.futexSlots)) {
        std::fprintf(stderr, "bench_scale: this kernel does not let the futex hash be sized\n");
        return false;
    }
    return true;
}

int RunAnchor(const Options& o)
{
    bench::RaiseDescriptorLimit();
    if (!ApplyFutexSlots(o)) {
        return 1;
    }
    const int n = o.devices;
    std::vector<PollLog> logs(static_cast<std::size_t>(n));
    for (auto& log : logs) {
        log.times.assign(PollCapacity(o, 0), 0.0);
    }
    std::atomic<long> alarms{0};
    std::atomic<bool> stop{false};
    std::atomic<int> connected{0};
    const bench::ProcessSample baseline = bench::SampleProcess();
    const double begin = bench::NowMs();

    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        threads.emplace_back([&, i]() {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", o.port);
            if (ctx == nullptr || modbus_connect(ctx) != 0) {
                if (ctx != nullptr) {
                    modbus_free(ctx);
                }
                return;
            }
            ++connected;
            // First polls spread over one period, as staggered logins spread ours. The simplest
            // client sleeps: a thread ends within one pause of the stop.
            std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(kPeriodMs) * i / n));
            const long maxPolls = static_cast<long>(logs[static_cast<std::size_t>(i)].times.size()) + 8;
            for (long poll = 0; poll < maxPolls && !stop; ++poll) {
                uint8_t bits[kInputs];
                if (modbus_read_input_bits(ctx, 0, kInputs, bits) == kInputs) {
                    logs[static_cast<std::size_t>(i)].Record(bench::NowMs());
                    for (int b = 0; b < kInputs; ++b) {
                        alarms += bits[b] ? 1 : 0;
                    }
                }
                // A pause after each poll, as the plug-in's timer makes.
                std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(kPeriodMs)));
            }
            modbus_close(ctx);
            modbus_free(ctx);
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(o.settleS));
    Result r;
    r.devices = n;
    r.loggedIn = connected.load();
    r.loginSeconds = (bench::NowMs() - begin) / 1000.0 - o.settleS;
    const Window w = MeasureWindow(o);
    FillProcessFigures(r, w, baseline, n);
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    std::vector<std::vector<double>> times;
    for (const auto& log : logs) {
        times.push_back(log.Times());
    }
    r.polls = bench::CheckPolls(times, w.startMs, w.endMs, kPeriodMs, kAllowanceMs);
    r.alarms = alarms.load();
    r.alarmsExpected = static_cast<long>(TotalPolls(times)) * o.alarms;
    std::printf("anchor %s\n", Serialise(r).c_str());
    std::fflush(stdout);
    return 0;
}

// ---- the plug-in --------------------------------------------------------------------------

std::vector<PollLog>* g_pollLogs = nullptr;
std::atomic<long> g_alarms{0};

// Notes the poll's moment for its handle, then hands the record on as the manager would.
void RecordingCallback(iobox::ModbusAlarmInfo* info, void* userData)
{
    if (info != nullptr) {
        ++g_alarms;
        if (info->point == 1 && info->address > 0 && static_cast<std::size_t>(info->address) < g_pollLogs->size()) {
            (*g_pollLogs)[static_cast<std::size_t>(info->address)].Record(bench::NowMs());
        }
    }
    iobox::CEventProcessManager::ModbusEventCallback(info, userData);
}

Result RunOurs(const Options& o, int simPort, long& errorLines)
{
    Result r;
    r.devices = o.devices;
    bench::QuietLog quiet;
    bench::BenchHost host;
    bench::EventWorker worker;
    std::vector<std::string> guids;
    for (int i = 1; i <= o.devices; ++i) {
        guids.push_back(Marl::Base::GuidUtil::CreateGuid()); // 36 characters, as the host makes them
        host.AddBox(i, guids.back(), kInputs);
    }
    // Handles are issued from 1 in this fresh process.
    std::vector<PollLog> logs(static_cast<std::size_t>(o.devices) + 1);
    const int loginEstimateS = o.devices / o.loginThreads + 30;
    for (auto& log : logs) {
        log.times.assign(PollCapacity(o, loginEstimateS), 0.0);
    }
    g_pollLogs = &logs;

    auto* manager = iobox::CTCPConnMgr::Instance();
    manager->SetTiming(iobox::ModbusTiming{}); // production timing
    auto* events = iobox::CEventProcessManager::Instance();
    events->Init();
    manager->SetAlarmCallback(&RecordingCallback, events);

    const bench::ProcessSample baseline = bench::SampleProcess();
    Marl::Net::TcpConnectParam param;
    param.ip = "127.0.0.1";
    param.port = static_cast<uint16_t>(simPort);
    param.tls = false;
    std::vector<int> handles(static_cast<std::size_t>(o.devices), -1);
    std::atomic<int> nextDevice{0};
    const double loginStart = bench::NowMs();
    {
        std::vector<std::thread> loggers;
        for (int t = 0; t < o.loginThreads; ++t) {
            loggers.emplace_back([&]() {
                for (int i = nextDevice++; i < o.devices; i = nextDevice++) {
                    const int handle = manager->RequestLogin(param, kInputs, 6, 1, 0);
                    handles[static_cast<std::size_t>(i)] = handle;
                    if (handle > 0) {
                        iobox::DeviceGuidInfo record;
                        record.guid = guids[static_cast<std::size_t>(i)];
                        record.deviceId = i + 1;
                        manager->SaveAdamDeviceGuid(handle, record);
                    }
                }
            });
        }
        for (auto& t : loggers) {
            t.join();
        }
    }
    r.loginSeconds = (bench::NowMs() - loginStart) / 1000.0;
    for (int h : handles) {
        r.loggedIn += h > 0 ? 1 : 0;
    }
    std::this_thread::sleep_for(std::chrono::seconds(o.settleS));

    const Window w = MeasureWindow(o);
    FillProcessFigures(r, w, baseline, o.devices);

    // Log out from as many threads as logged in, or leave every device to Unit.
    nextDevice = 0;
    if (o.unit) {
        const double unitStart = bench::NowMs();
        manager->Shutdown();
        r.unitMs = bench::NowMs() - unitStart;
    } else {
        std::vector<std::thread> loggers;
        for (int t = 0; t < o.loginThreads; ++t) {
            loggers.emplace_back([&]() {
                for (int i = nextDevice++; i < o.devices; i = nextDevice++) {
                    if (handles[static_cast<std::size_t>(i)] > 0) {
                        manager->Logout(handles[static_cast<std::size_t>(i)]);
                    }
                }
            });
        }
        for (auto& t : loggers) {
            t.join();
        }
    }
    // Every alarm that reached the pipeline must come out of the worker; bounded wait.
    r.eventsRaised = g_alarms.load();
    const auto drainDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (static_cast<long>(host.capacityManager->EventCount()) < r.eventsRaised &&
           std::chrono::steady_clock::now() < drainDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.eventsDelivered = static_cast<long>(host.capacityManager->EventCount());
    events->UnInit();

    std::vector<std::vector<double>> times;
    for (std::size_t h = 1; h < logs.size(); ++h) {
        times.push_back(logs[h].Times());
    }
    g_pollLogs = nullptr;
    r.polls = bench::CheckPolls(times, w.startMs, w.endMs, kPeriodMs, kAllowanceMs);
    r.alarms = r.eventsRaised;
    r.alarmsExpected = static_cast<long>(TotalPolls(times)) * o.alarms;
    errorLines = quiet.Sink().Count();
    for (const auto& entry : quiet.Sink().ByFormat()) {
        std::printf("error lines logged: %ld x \"%s\"\n", entry.second, entry.first.c_str());
    }
    return r;
}

std::string Fraction(std::size_t a, std::size_t b) { return bench::Format("%zu / %zu", a, b); }

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (o.anchorMode) {
        return RunAnchor(o);
    }
    if (!ApplyFutexSlots(o)) {
        return 1;
    }
    const long limit = bench::RaiseDescriptorLimit();
    const long needed = static_cast<long>(o.devices) * 5 + 256;
    if (limit < needed) {
        std::fprintf(stderr, "bench_scale: descriptor limit %ld is below the %ld needed\n", limit, needed);
        return 1;
    }

    // One simulator for both sides; every poll sees the first `alarms` inputs in alarm.
    std::string bits(kInputs, '0');
    for (int i = 0; i < o.alarms; ++i) {
        bits[static_cast<std::size_t>(i)] = '1';
    }
    const int loginEstimateS = o.devices / o.loginThreads + 30;
    const int simDuration = 2 * (o.settleS + o.windowS + 30) + loginEstimateS + 120;
    std::string error;
    std::unique_ptr<bench::ChildProcess> sim;
    int simPort = o.simPort;
    if (simPort == 0) {
        sim = bench::ChildProcess::Start({o.sim, "--port", "0", "--quiet", "--inputs", std::to_string(kInputs),
                                          "--pattern", "fixed:" + bits, "--duration", std::to_string(simDuration)},
                                         -1, error);
        std::string portText;
        if (!sim || !sim->WaitForLine("port ", portText, std::chrono::seconds(10))) {
            std::fprintf(stderr, "bench_scale: simulator did not start %s\n", error.c_str());
            return 1;
        }
        simPort = std::atoi(portText.c_str());
    }
    const double loadBefore = bench::LoadAverage1();

    Result anchor;
    bool haveAnchor = false;
    if (o.anchor) {
        std::vector<std::string> args = {bench::SelfPath(), "--anchor", "--port", std::to_string(simPort),
                                          "--devices", std::to_string(o.devices), "--window", std::to_string(o.windowS),
                                          "--settle", std::to_string(o.settleS), "--alarms", std::to_string(o.alarms)};
        if (o.futexSlots >= 0) {
            args.push_back("--futex-slots");
            args.push_back(std::to_string(o.futexSlots));
        }
        auto child = bench::ChildProcess::Start(args, -1, error);
        std::string line;
        if (child && child->WaitForLine("anchor ", line, std::chrono::seconds(o.settleS + o.windowS + 120))) {
            haveAnchor = Parse(line, anchor);
        }
        if (child) {
            child->Wait(std::chrono::seconds(30));
        }
        if (!haveAnchor) {
            std::fprintf(stderr, "bench_scale: the anchor run gave no result\n");
        }
    }

    long errorLines = 0;
    const Result ours = RunOurs(o, simPort, errorLines);
    const double loadAfter = bench::LoadAverage1();
    if (sim) {
        sim->Stop();
    }

    std::printf("\nScale: %d devices, %d input(s) in alarm per poll, production timing (pause %.0f ms), "
                "steady window %d s after logins + %d s; %d login threads; load average %s -> %s\n"
                "anchor: one thread per device with libmodbus, polling the same simulator with the same pause\n\n",
                o.devices, o.alarms, kPeriodMs, o.windowS, o.settleS, o.loginThreads, bench::Measured(loadBefore, 2).c_str(),
                bench::Measured(loadAfter, 2).c_str());
    bench::Table table({"measure", "iobox.d", "anchor", "ratio", "goal (N = 1000)", "verdict"});
    const bool late = ours.polls.late > 0 || ours.polls.early > 0 || ours.polls.missing > 0;
    auto both = [&](const char* name, const std::string& a, const std::string& b, const std::string& ratio,
                    const char* goal, const std::string& verdict) { table.AddRow({name, a, b, ratio, goal, verdict}); };
    both("logged in", bench::Format("%d / %d in %.1f s", ours.loggedIn, ours.devices, ours.loginSeconds),
         haveAnchor ? bench::Format("%d / %d", anchor.loggedIn, anchor.devices) : "-", "", "all",
         ours.loggedIn == ours.devices ? "met" : "MISSED");
    both("polls completed in window / due by its end - 100 ms", Fraction(ours.polls.seen, ours.polls.expected),
         haveAnchor ? Fraction(anchor.polls.seen, anchor.polls.expected) : "-", "", "", "");
    both("polls missing", bench::Format("%zu", ours.polls.missing),
         haveAnchor ? bench::Format("%zu", anchor.polls.missing) : "-", "", "0", ours.polls.missing == 0 ? "met" : "MISSED");
    both("intervals late (> period + 100 ms) / early", bench::Format("%zu / %zu of %zu", ours.polls.late, ours.polls.early, ours.polls.intervals),
         haveAnchor ? bench::Format("%zu / %zu of %zu", anchor.polls.late, anchor.polls.early, anchor.polls.intervals) : "-", "",
         "0 / 0", late ? "MISSED" : "met");
    both("lateness max / p99, ms", bench::Format("%.1f / %.1f", ours.polls.maxLatenessMs, ours.polls.p99LatenessMs),
         haveAnchor ? bench::Format("%.1f / %.1f", anchor.polls.maxLatenessMs, anchor.polls.p99LatenessMs) : "-", "",
         "<= 100", ours.polls.maxLatenessMs <= kAllowanceMs ? "met" : "MISSED");
    both("alarms / polls x inputs in alarm (whole run)", bench::Format("%ld / %ld", ours.alarms, ours.alarmsExpected),
         haveAnchor ? bench::Format("%ld / %ld", anchor.alarms, anchor.alarmsExpected) : "-", "", "all",
         ours.alarms == ours.alarmsExpected ? "met" : "MISSED");
    both("events delivered / alarms raised (whole run)", bench::Format("%ld / %ld", ours.eventsDelivered, ours.eventsRaised),
         "-", "", "all", ours.eventsDelivered == ours.eventsRaised ? "met" : "MISSED");
    const auto kibRatio = [](double a, double b) {
        return a < 0 || b < 0 ? std::string() : bench::Format("%.2f", bench::Ratio(a, b));
    };
    // The memory goal is the resident one; Windows adds its private bytes (commit charge).
    const bool separateResident = bench::ResidentFigureName() != nullptr;
    const std::string memoryRow = std::string(bench::MemoryFigureName()) + " per device";
    const char* const memoryGoal = "<= 32";
    const std::string memoryVerdict =
        ours.residentPerDeviceKiB < 0 ? "n/a" : (ours.residentPerDeviceKiB <= 32 ? "met" : "MISSED");
    both(memoryRow.c_str(), bench::Measured(ours.memoryPerDeviceKiB, 1),
         haveAnchor ? bench::Measured(anchor.memoryPerDeviceKiB, 1) : "-",
         haveAnchor ? kibRatio(ours.memoryPerDeviceKiB, anchor.memoryPerDeviceKiB) : "",
         separateResident ? "" : memoryGoal, separateResident ? "" : memoryVerdict);
    if (separateResident) {
        const std::string residentRow = std::string(bench::ResidentFigureName()) + " per device";
        both(residentRow.c_str(), bench::Measured(ours.residentPerDeviceKiB, 1),
             haveAnchor ? bench::Measured(anchor.residentPerDeviceKiB, 1) : "-",
             haveAnchor ? kibRatio(ours.residentPerDeviceKiB, anchor.residentPerDeviceKiB) : "", memoryGoal,
             memoryVerdict);
    }
    both("threads per device", bench::Measured(ours.threadsPerDevice, 2),
         haveAnchor ? bench::Measured(anchor.threadsPerDevice, 2) : "-", "", "", "");
    const std::string handlesRow = std::string(bench::HandleFigureName()) + " per device";
    both(handlesRow.c_str(), bench::Measured(ours.handlesPerDevice, 2),
         haveAnchor ? bench::Measured(anchor.handlesPerDevice, 2) : "-", "", "", "");
    both("CPU, % of one core (all devices)", bench::Format("%.3f", ours.cpuPercent),
         haveAnchor ? bench::Format("%.3f", anchor.cpuPercent) : "-",
         haveAnchor ? bench::Format("%.2f", bench::Ratio(ours.cpuPercent, anchor.cpuPercent)) : "", "<= 1.5",
         ours.cpuPercent <= 1.5 ? "met" : "MISSED");
    both("  of which in the kernel", bench::Format("%.3f", ours.kernelCpuPercent),
         haveAnchor ? bench::Format("%.3f", anchor.kernelCpuPercent) : "-", "", "", "");
    both("  of which the event worker thread", bench::Format("%.3f", ours.workerCpuPercent), "-", "", "", "");
    both("CPU per device, us per second", bench::Format("%.2f", ours.cpuPercent * 1e4 / ours.devices),
         haveAnchor ? bench::Format("%.2f", anchor.cpuPercent * 1e4 / anchor.devices) : "-", "", "", "");
    if (ours.unitMs >= 0) {
        both("Unit with every device logged in, ms", bench::Format("%.1f", ours.unitMs), "-", "", "", "");
    }
    // Handles are not numbered densely: Windows has no highest one, and no futex hash either.
    const auto handles = [&](const Result& r) {
        return r.highestDescriptor < 0 ? bench::Measured(r.descriptors)
                                       : bench::Format("%d / %d", r.descriptors, r.highestDescriptor);
    };
    const std::string handlesTotalRow =
        std::string(bench::HandleFigureName()) + (bench::HighestDescriptor() < 0 ? "" : " / highest number");
    both(handlesTotalRow.c_str(), handles(ours), haveAnchor ? handles(anchor) : "-", "", "", "");
    both("threads", bench::Format("%d", ours.threads), haveAnchor ? bench::Format("%d", anchor.threads) : "-", "", "", "");
    both("futex hash slots of the process (0: global)", bench::Measured(ours.futexSlots),
         haveAnchor ? bench::Measured(anchor.futexSlots) : "-", "", "", "");
    both("error lines logged (listed above the table)", bench::Format("%ld", errorLines), "-", "", "", "");
    std::fputs(table.Render().c_str(), stdout);
    std::printf("(goals apply at N = 1000; CPU and memory are this process's over the window, the simulator excluded)\n");
    return 0;
}
