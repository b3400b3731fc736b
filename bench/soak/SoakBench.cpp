// Soak: N simulated I/O boxes, served in-process by a few simulators on loopback, logged in
// through the connection manager with the production timing and polled for a long time while
// connections are dropped at random and, on a schedule, simulators go away (every one at first,
// then one at a time) long enough for their boxes to go offline, and come back. Once a minute it
// samples this process (memory, threads, descriptors or handles); at the end it reports the
// growth since minute 5, every outage's offline and online notifications, events against
// alarms, polls against those due and the error lines logged.
//
// Only the bench support API, the plug-in, the host stand-in and the simulator library are used
// here, so that the same source builds for Windows.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Common/Constants.h"
#include "Common/Timing.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "EventManager/EventProcessManager.h"
#include "IOBoxSimulator.h"
#include "Marl/Base/GuidUtil.h"
#include "support/BenchHost.h"
#include "support/Stats.h"
#include "support/System.h"

namespace {

constexpr int kInputs = 12;
constexpr int kOutputs = 6;
constexpr double kPeriodMs = iobox::kPollPeriodMs;
constexpr double kSettleMs = iobox::kConnectSettleMs;
// A poll later than this after the one before it lost at least one poll in between. Generous,
// because a soak is not a timing benchmark: the machine may be shared.
constexpr double kGapAllowanceMs = 1000;
// Drops pause this long before each sample, so that every dropped connection has been
// reconnected (the next poll fails, the one after reconnects: 11 s at most) when it is taken.
constexpr double kQuietBeforeSampleMs = 15000;
// A sample waits at most this long past its minute for a quiet moment, then is taken anyway.
constexpr double kSampleWaitMs = 45000;
// After an outage its boxes come back at their next reconnect attempt: every 15 s, tried at a
// poll, so up to 20 s after the simulator listens again; the settle adds one more.
constexpr double kRecoveryMs = (iobox::kOfflineRetrySeconds * 1000.0) + kPeriodMs + kSettleMs + 4000;
constexpr double kTickMs = 200;

struct Options {
    int devices = 200;
    int simulators = 5;
    double runSeconds = 30 * 60;
    int alarms = 1;
    double dropPercent = 5;    // of the connections, per minute
    int outageEveryMin = 5;    // 0: no outages
    int outageSeconds = -1;    // -1: 40, or 30 when outages come every minute
    int loginThreads = 50;
    unsigned long seed = 0;
    bool seedGiven = false;
};

const char* const kUsage =
    "usage: bench_soak [--devices N] [--simulators N] [--minutes M | --seconds S] [--alarms N]\n"
    "                  [--drop-percent P] [--outage-every-min M] [--outage-seconds S]\n"
    "                  [--login-threads N] [--seed N]\n"
    "  defaults: 200 devices, 5 simulators, 30 minutes, 1 input in alarm, 5 % of the connections\n"
    "  dropped a minute, an outage every 5 minutes (0: none) lasting 40 s, of every simulator\n"
    "  first and then of one at a time\n"
    "  (30 s when outages come every minute)\n";

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        char* end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end != '\0') {
            return false;
        }
        const bool whole = v == std::floor(v);
        if (name == "--devices" && whole && v >= 1 && v <= 5000) {
            o.devices = static_cast<int>(v);
        } else if (name == "--simulators" && whole && v >= 1 && v <= 64) {
            o.simulators = static_cast<int>(v);
        } else if (name == "--minutes" && v >= 0.5 && v <= 24 * 60) {
            o.runSeconds = v * 60;
        } else if (name == "--seconds" && v >= 30 && v <= 24 * 3600) {
            o.runSeconds = v;
        } else if (name == "--alarms" && whole && v >= 1 && v <= kInputs) { // input 1 in alarm marks the polls
            o.alarms = static_cast<int>(v);
        } else if (name == "--drop-percent" && v >= 0 && v <= 100) {
            o.dropPercent = v;
        } else if (name == "--outage-every-min" && whole && v >= 0 && v <= 24 * 60) {
            o.outageEveryMin = static_cast<int>(v);
        } else if (name == "--outage-seconds" && whole && v >= 1 && v <= 3600) {
            o.outageSeconds = static_cast<int>(v);
        } else if (name == "--login-threads" && whole && v >= 1 && v <= 500) {
            o.loginThreads = static_cast<int>(v);
        } else if (name == "--seed" && whole && v >= 0 && v <= 4294967295.0) {
            o.seed = static_cast<unsigned long>(v);
            o.seedGiven = true;
        } else {
            return false;
        }
    }
    return true;
}

// ---- the fault schedule -------------------------------------------------------------------

struct Outage {
    int simulator = 0;    // -1: every simulator
    bool Covers(int sim) const { return simulator < 0 || simulator == sim; }
    double startMs = 0;   // planned, from the run's start
    double endMs = 0;
    // Actual moments and what the simulator said.
    double startedMs = -1;
    double endedMs = -1;
    bool listenedAgain = false;
};

// Outages every `every` minutes, 5 s past the minute (just after that minute's sample). The
// first comes at minute (every - 1) / 2 (minute 2 with the default 5) and takes every simulator
// away, before the growth baseline at minute 5: a box's first offline and online round touches
// one more page of its poll thread's stack, which later rounds reuse, so the baseline holds that
// one-time cost of every box. The others take one simulator after the other. None starts unless
// its boxes can be back before the run ends.
std::string SimulatorName(const Outage& outage)
{
    return outage.simulator < 0 ? std::string("every sim") : "sim " + std::to_string(outage.simulator);
}

std::vector<Outage> PlanOutages(const Options& o, double outageMs)
{
    std::vector<Outage> plan;
    if (o.outageEveryMin <= 0) {
        return plan;
    }
    const double everyMs = o.outageEveryMin * 60000.0;
    const double firstMs = ((o.outageEveryMin - 1) / 2) * 60000.0 + 5000;
    const double runMs = o.runSeconds * 1000;
    for (int k = 0; k < 100000; ++k) {
        Outage outage;
        outage.simulator = k == 0 && o.simulators > 1 ? -1 : (k + o.simulators - 1) % o.simulators;
        outage.startMs = firstMs + k * everyMs;
        outage.endMs = outage.startMs + outageMs;
        if (outage.endMs + kRecoveryMs > runMs) {
            break;
        }
        plan.push_back(outage);
    }
    return plan;
}

// ---- what the run observes --------------------------------------------------------------

// Polls of one box, written only by its poll thread (through the alarm callback) and read once
// polling has ended; nothing here grows, so the bookkeeping adds nothing to the samples.
struct BoxPolls {
    long polls = 0;
    double firstMs = -1;
    double lastMs = -1;
    long lostOutside = 0;      // polls lost in gaps that overlap no outage of the box's simulator
    long lostInOutage = 0;
    long gapsOutside = 0;      // such gaps outside outages
    double longestGapOutsideMs = 0;
};

struct Run {
    Options options;
    std::vector<Outage> outages;
    double outageMs = 0;
    double startMs = 0;        // on bench::NowMs's clock
    std::vector<std::atomic<int>> boxOfHandle; // handle -> box index, -1 unknown
    std::vector<BoxPolls> boxPolls;
    std::atomic<long> polls{0};
    std::atomic<long> alarms{0};
    std::atomic<long> unmappedPolls{0};

    // Notifications, under notifyMutex.
    std::mutex notifyMutex;
    std::vector<unsigned char> boxOffline;            // current state per box
    std::vector<unsigned char> offlineCount;          // [outage * devices + box]
    std::vector<unsigned char> onlineCount;
    std::vector<double> firstOfflineMs, lastOfflineMs, lastOnlineMs; // per outage, from its start
    long offlineTotal = 0;
    long onlineTotal = 0;
    long stray = 0;                                    // outside every outage of the box's simulator
    static constexpr std::size_t kStrayKept = 10;
    std::string strayFirst[kStrayKept];
    std::atomic<int> offlineNow{0};

    int SimulatorOf(int box) const { return box % options.simulators; }
    double Since(double nowMs) const { return nowMs - startMs; }

    // Whether [fromMs, toMs] (run time) touches an outage of this simulator or its recovery.
    bool InOutage(int simulator, double fromMs, double toMs) const
    {
        for (const auto& outage : outages) {
            if (outage.Covers(simulator) && fromMs < outage.endMs + kRecoveryMs && toMs > outage.startMs - 1000) {
                return true;
            }
        }
        return false;
    }
};

Run* g_run = nullptr;

std::string MinSec(double ms)
{
    const long s = ms < 0 ? 0 : static_cast<long>(ms / 1000);
    return bench::Format("%02ld:%02ld", s / 60, s % 60);
}

// Notes the poll of the handle's box, then hands the record on as the manager would.
void RecordingCallback(iobox::ModbusAlarmInfo* info, void* userData)
{
    Run& run = *g_run;
    if (info != nullptr) {
        ++run.alarms;
        if (info->point == 1) {
            ++run.polls;
            const int box = info->address > 0 && static_cast<std::size_t>(info->address) < run.boxOfHandle.size()
                                ? run.boxOfHandle[static_cast<std::size_t>(info->address)].load(std::memory_order_acquire)
                                : -1;
            if (box < 0) {
                ++run.unmappedPolls;
            } else {
                BoxPolls& p = run.boxPolls[static_cast<std::size_t>(box)];
                const double now = run.Since(bench::NowMs());
                if (p.lastMs >= 0) {
                    const double gap = now - p.lastMs;
                    if (gap > kPeriodMs + kGapAllowanceMs) {
                        // A lost poll costs a period; its reconnect adds the settle.
                        const long lost = std::max(1L, std::lround((gap - kPeriodMs - kSettleMs) / kPeriodMs));
                        if (run.InOutage(run.SimulatorOf(box), p.lastMs, now)) {
                            p.lostInOutage += lost;
                        } else {
                            p.lostOutside += lost;
                            ++p.gapsOutside;
                            p.longestGapOutsideMs = std::max(p.longestGapOutsideMs, gap);
                        }
                    }
                } else {
                    p.firstMs = now;
                }
                p.lastMs = now;
                ++p.polls;
            }
        }
    }
    iobox::CEventProcessManager::ModbusEventCallback(info, userData);
}

// Files each offline and online notification under the outage of the box's simulator that it
// belongs to: the last one that began before it, if that began less than one outage period ago.
void OnStatus(const OstraPlatform::CDeviceManager::StatusRecord& record)
{
    Run& run = *g_run;
    const double now = run.Since(bench::NowMs());
    const int box = record.deviceId - 1;
    const int devices = run.options.devices;
    const bool offline = record.statusCode == iobox::kStatusCodeOffline;
    const bool online = record.statusCode == iobox::kStatusCodeOnline;
    std::lock_guard<std::mutex> lock(run.notifyMutex);
    run.offlineTotal += offline ? 1 : 0;
    run.onlineTotal += online ? 1 : 0;
    int belongs = -1;
    if (box >= 0 && box < devices && (offline || online)) {
        const double windowMs = run.options.outageEveryMin * 60000.0;
        for (std::size_t k = 0; k < run.outages.size(); ++k) {
            const Outage& outage = run.outages[k];
            if (outage.Covers(run.SimulatorOf(box)) && now >= outage.startMs - 1000 && now < outage.startMs + windowMs) {
                belongs = static_cast<int>(k);
            }
        }
        const auto b = static_cast<std::size_t>(box);
        if (offline && run.boxOffline[b] == 0) {
            run.boxOffline[b] = 1;
            ++run.offlineNow;
        } else if (online && run.boxOffline[b] != 0) {
            run.boxOffline[b] = 0;
            --run.offlineNow;
        }
    }
    if (belongs < 0) {
        if (static_cast<std::size_t>(run.stray) < Run::kStrayKept) {
            run.strayFirst[run.stray] = bench::Format("%s device %d status 0x%x", MinSec(now).c_str(), record.deviceId,
                                                      static_cast<unsigned>(record.statusCode));
        }
        ++run.stray;
        return;
    }
    const auto k = static_cast<std::size_t>(belongs);
    const std::size_t at = k * static_cast<std::size_t>(devices) + static_cast<std::size_t>(box);
    const double fromStart = now - run.outages[k].startMs;
    if (offline) {
        run.offlineCount[at] = static_cast<unsigned char>(std::min(run.offlineCount[at] + 1, 255));
        run.firstOfflineMs[k] = run.firstOfflineMs[k] < 0 ? fromStart : std::min(run.firstOfflineMs[k], fromStart);
        run.lastOfflineMs[k] = std::max(run.lastOfflineMs[k], fromStart);
    } else {
        run.onlineCount[at] = static_cast<unsigned char>(std::min(run.onlineCount[at] + 1, 255));
        run.lastOnlineMs[k] = std::max(run.lastOnlineMs[k], fromStart);
    }
}

// ---- samples ------------------------------------------------------------------------------

struct Sample {
    double atMs = 0;          // run time
    double dueMs = 0;
    bench::ProcessSample process;
    int connected = 0;
    long polls = 0;
    long events = 0;
    long offline = 0;
    long online = 0;
    long drops = 0;
    bool settled = false;     // taken at a quiet moment (see Quiet)
};


void PrintSample(const Sample& s, int devices)
{
    const long minute = std::lround(s.dueMs / 60000);
    const std::string label = minute * 60000.0 == s.dueMs ? bench::Format("minute %ld", minute) : std::string("end");
    // Windows adds the resident memory (under Wine, of the Linux process) to its private bytes.
    const std::string resident = bench::ResidentFigureName() == nullptr
        ? std::string()
        : bench::Format("  %s %s", bench::ResidentFigureName(), bench::Measured(s.process.residentKiB).c_str());
    std::printf("sample %s (%s)  %s %s%s  threads %s  %s %s  connected %d/%d  polls %ld  events %ld  "
                "offline %ld  online %ld  drops %ld%s\n",
                MinSec(s.atMs).c_str(), label.c_str(), bench::MemoryFigureName(), bench::Measured(s.process.memoryKiB).c_str(),
                resident.c_str(),
                bench::Measured(s.process.threads).c_str(), bench::HandleFigureName(), bench::Measured(s.process.handles).c_str(),
                s.connected, devices, s.polls, s.events, s.offline, s.online, s.drops,
                s.settled ? "" : "  (not settled: taken 45 s past its minute)");
    std::fflush(stdout);
}

// ---- set-up and tear-down -----------------------------------------------------------------

std::vector<std::unique_ptr<iobox::sim::IOBoxSimulator>> StartSimulators(const Options& o)
{
    std::vector<std::unique_ptr<iobox::sim::IOBoxSimulator>> sims;
    std::uint64_t mask = 0;
    for (int i = 0; i < o.alarms; ++i) {
        mask |= std::uint64_t{1} << i;
    }
    for (int s = 0; s < o.simulators; ++s) {
        iobox::sim::SimulatorConfig config;
        config.host = "127.0.0.1";
        config.inputs = kInputs;
        config.outputs = kOutputs;
        auto sim = std::make_unique<iobox::sim::IOBoxSimulator>(config);
        if (!sim->Start()) {
            std::fprintf(stderr, "bench_soak: simulator %d did not start: %s\n", s, sim->LastError().c_str());
            return {};
        }
        sim->SetInputs(mask);
        sims.push_back(std::move(sim));
    }
    return sims;
}

// Runs fn(i) for i in [0, count) from `threads` threads; returns when all are done.
template <class Fn>
void ForEachFromThreads(int count, int threads, Fn fn)
{
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < std::min(threads, count); ++t) {
        workers.emplace_back([&]() {
            for (int i = next++; i < count; i = next++) {
                fn(i);
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
}

int TotalConnections(const std::vector<std::unique_ptr<iobox::sim::IOBoxSimulator>>& sims)
{
    int n = 0;
    for (const auto& sim : sims) {
        n += sim->ConnectionCount();
    }
    return n;
}

std::string Verdict(bool met) { return met ? "met" : "MISSED"; }

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Three failed checks, a poll apart, follow the poll that finds the connection gone: a
    // shorter outage leaves some boxes online. A longer one than the period allows runs into
    // the next outage's window.
    const int outageS = o.outageSeconds > 0 ? o.outageSeconds : (o.outageEveryMin == 1 ? 30 : 40);
    const double minOutageMs = (iobox::kFailedChecksBeforeOffline + 1) * kPeriodMs + 5000;
    if (o.outageEveryMin > 0 &&
        (outageS * 1000.0 < minOutageMs || outageS * 1000.0 + kRecoveryMs > o.outageEveryMin * 60000.0)) {
        std::fprintf(stderr,
                     "bench_soak: an outage of %d s does not fit: at least %.0f s for its boxes to go offline, and "
                     "at most %.0f s so that they are back before the next\n",
                     outageS, minOutageMs / 1000, (o.outageEveryMin * 60000.0 - kRecoveryMs) / 1000);
        return 2;
    }
    if (!o.seedGiven) {
        o.seed = std::random_device{}();
    }
    std::mt19937 rng(static_cast<std::mt19937::result_type>(o.seed));

    const long limit = bench::RaiseDescriptorLimit();
    const long needed = static_cast<long>(o.devices) * 5 + 256;
    if (limit >= 0 && limit < needed) {
        std::fprintf(stderr, "bench_soak: descriptor limit %ld is below the %ld needed\n", limit, needed);
        return 1;
    }

    Run run;
    run.options = o;
    run.outageMs = outageS * 1000.0;
    run.outages = PlanOutages(o, run.outageMs);
    const std::size_t devices = static_cast<std::size_t>(o.devices);
    // Handles are issued from 1 in this fresh process, one per successful login.
    run.boxOfHandle = std::vector<std::atomic<int>>(devices + 1);
    for (auto& b : run.boxOfHandle) {
        b.store(-1);
    }
    run.boxPolls.assign(devices, BoxPolls{});
    run.boxOffline.assign(devices, 0);
    run.offlineCount.assign(run.outages.size() * devices, 0);
    run.onlineCount.assign(run.outages.size() * devices, 0);
    run.firstOfflineMs.assign(run.outages.size(), -1);
    run.lastOfflineMs.assign(run.outages.size(), -1);
    run.lastOnlineMs.assign(run.outages.size(), -1);
    g_run = &run;

    auto sims = StartSimulators(o);
    if (sims.empty()) {
        return 1;
    }

    bench::QuietLog quiet;
    bench::BenchHost host;
    bench::EventWorker worker;
    std::vector<std::string> guids;
    for (int i = 1; i <= o.devices; ++i) {
        guids.push_back(Marl::Base::GuidUtil::CreateGuid());
        host.AddBox(i, guids.back(), kInputs);
    }
    host.deviceManager->SetStatusObserver(&OnStatus);

    auto* manager = iobox::CTCPConnMgr::Instance();
    manager->SetTiming(iobox::ModbusTiming{}); // production timing
    auto* events = iobox::CEventProcessManager::Instance();
    events->Init();
    manager->SetAlarmCallback(&RecordingCallback, events);

    std::printf("Soak: %d devices on %d simulators (127.0.0.1, ports", o.devices, o.simulators);
    for (const auto& sim : sims) {
        std::printf(" %u", static_cast<unsigned>(sim->Port()));
    }
    std::printf("), %.0f s, production timing (poll every %.0f ms, reconnect every %u s while offline), "
                "%d input(s) in alarm per poll, %.1f %% of the connections dropped a minute, seed %lu\n",
                o.runSeconds, kPeriodMs, static_cast<unsigned>(iobox::kOfflineRetrySeconds), o.alarms, o.dropPercent,
                o.seed);
    if (run.outages.empty()) {
        std::printf("outages: none\n");
    } else {
        std::printf("outages: every simulator first, then one at a time, for %d s, every %d min, first at %s:", outageS, o.outageEveryMin,
                    MinSec(run.outages.front().startMs).c_str());
        for (const auto& outage : run.outages) {
            std::printf(" %s %s;", MinSec(outage.startMs).c_str(), SimulatorName(outage).c_str());
        }
        std::printf("\n");
    }
    std::fflush(stdout);

    // ---- logins, spread over the simulators round robin; the run's clock starts with them ----
    std::vector<int> handles(devices, -1);
    run.startMs = bench::NowMs();
    const double loginStart = run.startMs;
    ForEachFromThreads(o.devices, o.loginThreads, [&](int i) {
        const auto b = static_cast<std::size_t>(i);
        Marl::Net::TcpConnectParam param;
        param.ip = "127.0.0.1";
        param.port = sims[b % sims.size()]->Port();
        param.tls = false;
        const int handle = manager->RequestLogin(param, kInputs, kOutputs, 1, 0);
        handles[b] = handle;
        if (handle > 0) {
            if (static_cast<std::size_t>(handle) < run.boxOfHandle.size()) {
                run.boxOfHandle[static_cast<std::size_t>(handle)].store(i, std::memory_order_release);
            }
            iobox::DeviceGuidInfo record;
            record.guid = guids[b];
            record.deviceId = i + 1;
            manager->SaveAdamDeviceGuid(handle, record);
        }
    });
    int loggedIn = 0;
    for (int h : handles) {
        loggedIn += h > 0 ? 1 : 0;
    }
    std::printf("logged in: %d / %d in %.1f s\n", loggedIn, o.devices, (bench::NowMs() - loginStart) / 1000);
    std::fflush(stdout);
    if (loggedIn != o.devices) {
        std::fprintf(stderr, "bench_soak: %d of %d logins failed\n", o.devices - loggedIn, o.devices);
        ForEachFromThreads(o.devices, o.loginThreads, [&](int i) {
            if (handles[static_cast<std::size_t>(i)] > 0) {
                manager->Logout(handles[static_cast<std::size_t>(i)]);
            }
        });
        events->UnInit();
        return 1;
    }

    // ---- the run: faults and samples from this thread, so it adds no thread of its own ----
    const double runMs = o.runSeconds * 1000;
    std::vector<double> marks;
    for (double m = 60000; m < runMs; m += 60000) {
        marks.push_back(m);
    }
    marks.push_back(runMs);
    std::vector<Sample> samples;
    samples.reserve(marks.size());
    std::size_t nextMark = 0;
    std::size_t nextOutage = 0;
    int activeOutage = -1;
    long drops = 0;
    long dropRequests = 0;
    double dropBudget = 0;
    double lastTick = 0;
    long outageFailures = 0;
    const double dropWindowMsPerMinute = 60000 - kQuietBeforeSampleMs;
    const long maxTicks = static_cast<long>((runMs + kSampleWaitMs) / kTickMs) + 100;
    for (long tick = 0; tick < maxTicks && nextMark < marks.size(); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(kTickMs)));
        const double now = run.Since(bench::NowMs());

        // Outages: refused first, so that no box reconnects between the drop and the refusal.
        if (activeOutage < 0 && nextOutage < run.outages.size() && now >= run.outages[nextOutage].startMs) {
            Outage& outage = run.outages[nextOutage];
            outage.startedMs = now;
            for (int s = 0; s < o.simulators; ++s) {
                if (outage.Covers(s)) {
                    auto& sim = *sims[static_cast<std::size_t>(s)];
                    if (!sim.RefuseNew(true)) {
                        ++outageFailures;
                    }
                    sim.DropAll();
                }
            }
            activeOutage = static_cast<int>(nextOutage++);
        }
        if (activeOutage >= 0 && now >= run.outages[static_cast<std::size_t>(activeOutage)].endMs) {
            Outage& outage = run.outages[static_cast<std::size_t>(activeOutage)];
            outage.listenedAgain = true;
            for (int s = 0; s < o.simulators; ++s) {
                if (!outage.Covers(s)) {
                    continue;
                }
                auto& sim = *sims[static_cast<std::size_t>(s)];
                if (!sim.RefuseNew(false)) {
                    outage.listenedAgain = false;
                    ++outageFailures;
                    std::fprintf(stderr, "bench_soak: simulator %d did not listen again: %s\n", s, sim.LastError().c_str());
                }
                sim.ClearFaults();
            }
            outage.endedMs = run.Since(bench::NowMs());
            activeOutage = -1;
        }

        // Random drops, spread over each minute except the quiet stretch before its sample, and
        // never on a simulator in an outage or its recovery (its boxes are accounted there).
        const double elapsed = now - lastTick;
        lastTick = now;
        const bool dropTime = marks[nextMark] - now > kQuietBeforeSampleMs;
        if (o.dropPercent > 0 && dropTime) {
            std::vector<int> weights(sims.size(), 0);
            int eligible = 0;
            for (std::size_t s = 0; s < sims.size(); ++s) {
                if (!run.InOutage(static_cast<int>(s), now, now)) {
                    weights[s] = sims[s]->ConnectionCount();
                    eligible += weights[s];
                }
            }
            dropBudget += o.dropPercent / 100.0 * TotalConnections(sims) * elapsed / dropWindowMsPerMinute;
            for (int turn = 0; turn < 1000 && dropBudget >= 1 && eligible > 0; ++turn) {
                std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
                const std::size_t s = pick(rng);
                dropBudget -= 1;
                ++dropRequests;
                const std::size_t closed = sims[s]->DropSome(1);
                drops += static_cast<long>(closed);
                weights[s] -= static_cast<int>(closed);
                eligible -= static_cast<int>(closed);
            }
        }

        // Samples: at the minute, or as soon after it as nothing is in flight.
        if (now >= marks[nextMark]) {
            const bool settled = activeOutage < 0 && run.offlineNow.load() == 0 && TotalConnections(sims) == o.devices;
            if (settled || now >= marks[nextMark] + kSampleWaitMs) {
                Sample s;
                s.dueMs = marks[nextMark];
                s.settled = settled;
                s.process = bench::SampleProcess();
                s.atMs = now;
                s.connected = TotalConnections(sims);
                s.polls = run.polls.load();
                s.events = static_cast<long>(host.capacityManager->EventCount());
                {
                    std::lock_guard<std::mutex> lock(run.notifyMutex);
                    s.offline = run.offlineTotal;
                    s.online = run.onlineTotal;
                }
                s.drops = drops;
                samples.push_back(s);
                PrintSample(s, o.devices);
                ++nextMark;
            }
        }
    }
    if (activeOutage >= 0) {
        // Only when the tick count ran out first; the simulator stops below anyway.
        for (int s = 0; s < o.simulators; ++s) {
            if (run.outages[static_cast<std::size_t>(activeOutage)].Covers(s)) {
                sims[static_cast<std::size_t>(s)]->ClearFaults();
            }
        }
    }
    const double pollingEndMs = run.Since(bench::NowMs());

    // ---- the end: every box logged out (each logout is bounded by the plug-in's own deadline),
    // every event out of the worker within a bounded wait ----
    const double logoutStart = bench::NowMs();
    std::atomic<int> loggedOut{0};
    ForEachFromThreads(o.devices, o.loginThreads, [&](int i) {
        if (manager->Logout(handles[static_cast<std::size_t>(i)])) {
            ++loggedOut;
        }
    });
    const double logoutS = (bench::NowMs() - logoutStart) / 1000;
    const long alarmsRaised = run.alarms.load();
    const auto drainDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (static_cast<long>(host.capacityManager->EventCount()) < alarmsRaised &&
           std::chrono::steady_clock::now() < drainDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const long delivered = static_cast<long>(host.capacityManager->EventCount());
    events->UnInit();
    manager->SetAlarmCallback(nullptr, nullptr);
    host.deviceManager->SetStatusObserver(nullptr);
    for (auto& sim : sims) {
        sim->Stop();
    }

    // ---- report ----
    std::printf("\nlogged out: %d / %d in %.1f s; polling ended at %s\n", loggedOut.load(), o.devices, logoutS,
                MinSec(pollingEndMs).c_str());
    for (const auto& entry : quiet.Sink().ByFormat()) {
        std::printf("error lines logged: %ld x \"%s\"\n", entry.second, entry.first.c_str());
    }
    {
        std::lock_guard<std::mutex> lock(run.notifyMutex);
        for (long i = 0; i < std::min<long>(run.stray, static_cast<long>(Run::kStrayKept)); ++i) {
            std::printf("notification outside an outage: %s\n", run.strayFirst[i].c_str());
        }
    }

    // Growth: from the sample at minute 5 (the first one in a shorter run) to the last.
    std::printf("\nGrowth (%s; this process: the plug-in, the host stand-in and the %d simulators, one server "
                "thread each)\n\n",
                samples.size() >= 2 ? "samples below" : "one sample only: n/a", o.simulators);
    bench::Table growth({"measure", "baseline", "last", "growth", "goal", "verdict"});
    if (samples.size() >= 2) {
        std::size_t base = 0;
        for (std::size_t i = 0; i + 1 < samples.size(); ++i) {
            if (samples[i].dueMs == 300000.0) {
                base = i;
            }
        }
        const Sample& b = samples[base];
        const Sample& l = samples.back();
        growth.AddRow({"samples compared", MinSec(b.atMs) + (b.settled ? "" : " (not settled)"),
                       MinSec(l.atMs) + (l.settled ? "" : " (not settled)"), "", "", ""});
        auto memory = [&](const std::string& name, const Sample& from, bool resident = false) {
            const long before = resident ? from.process.residentKiB : from.process.memoryKiB;
            const long after = resident ? l.process.residentKiB : l.process.memoryKiB;
            if (before >= 0 && after >= 0) {
                const long kib = after - before;
                const double pct = 100.0 * static_cast<double>(kib) / static_cast<double>(before);
                growth.AddRow({name, bench::Format("%ld", before), bench::Format("%ld", after),
                               bench::Format("%+ld KiB (%+.2f %%)", kib, pct), "<= 1 %", Verdict(pct <= 1.0)});
            } else {
                growth.AddRow({name, "n/a", "n/a", "n/a", "<= 1 %", "n/a (not measurable here)"});
            }
        };
        memory(bench::MemoryFigureName(), b);
        if (bench::ResidentFigureName() != nullptr) {
            memory(bench::ResidentFigureName(), b, true);
        }
        // A box's first offline and online round leaves memory that later rounds reuse, so the
        // growth from minute 5 holds the first outage of every simulator after it. Growth from
        // once every simulator has had one tells a cost per round apart from that.
        double warmedMs = 0;
        for (int sim = 0; sim < o.simulators && warmedMs >= 0; ++sim) {
            const auto first = std::find_if(run.outages.begin(), run.outages.end(),
                                            [sim](const Outage& outage) { return outage.Covers(sim); });
            warmedMs = first == run.outages.end() || first->endedMs < 0 ? -1 : std::max(warmedMs, first->endedMs);
        }
        const auto warmed = std::find_if(samples.begin(), samples.end() - 1, [warmedMs](const Sample& s) {
            return warmedMs >= 0 && s.settled && s.atMs > warmedMs;
        });
        if (warmed != samples.end() - 1) {
            memory(bench::Format("  from %s, every simulator's first outage over", MinSec(warmed->atMs).c_str()), *warmed);
        } else {
            growth.AddRow({"  from every simulator's first outage over", "n/a", "n/a", "n/a", "<= 1 %",
                           "n/a (not every simulator had an outage before the last sample)"});
        }
        auto count = [&](const char* name, int before, int after) {
            if (before >= 0 && after >= 0) {
                growth.AddRow({name, bench::Format("%d", before), bench::Format("%d", after),
                               bench::Format("%+d", after - before), "0", Verdict(after - before <= 0)});
            } else {
                growth.AddRow({name, "n/a", "n/a", "n/a", "0", "n/a (not measurable here)"});
            }
        };
        count("threads", b.process.threads, l.process.threads);
        count(bench::HandleFigureName(), b.process.handles, l.process.handles);
    } else {
        growth.AddRow({"(one sample only)", "n/a", "n/a", "n/a", "", "n/a"});
    }
    std::fputs(growth.Render().c_str(), stdout);

    // Outages.
    std::printf("\nOutages (%d s each; offline is due after three failed checks, online at the next reconnect "
                "attempt once the simulator listens again)\n\n",
                outageS);
    bench::Table outageTable({"at", "simulator", "boxes", "offline once / more", "offline after start, s",
                              "online once / more", "online after start, s", "memory across it, KiB", "verdict"});
    // From the last sample before the outage to the first settled one after it.
    auto memoryAcross = [&samples](const Outage& outage) {
        const Sample* before = nullptr;
        const Sample* after = nullptr;
        for (const Sample& s : samples) {
            if (s.atMs < outage.startedMs) {
                before = &s;
            } else if (after == nullptr && outage.endedMs >= 0 && s.atMs > outage.endedMs && s.settled) {
                after = &s;
            }
        }
        if (before == nullptr || after == nullptr || before->process.memoryKiB < 0 || after->process.memoryKiB < 0) {
            return std::string("n/a (no sample on both sides)");
        }
        return bench::Format("%+ld (%s -> %s)", after->process.memoryKiB - before->process.memoryKiB,
                             MinSec(before->atMs).c_str(), MinSec(after->atMs).c_str());
    };
    long extra = 0;
    bool outagesMet = outageFailures == 0;
    {
        std::lock_guard<std::mutex> lock(run.notifyMutex);
        for (std::size_t k = 0; k < run.outages.size(); ++k) {
            const Outage& outage = run.outages[k];
            int boxes = 0;
            int offOnce = 0, offMore = 0, onOnce = 0, onMore = 0;
            for (int box = 0; box < o.devices; ++box) {
                const std::size_t at = k * devices + static_cast<std::size_t>(box);
                const int off = run.offlineCount[at];
                const int on = run.onlineCount[at];
                if (outage.Covers(run.SimulatorOf(box))) {
                    ++boxes;
                    offOnce += off == 1 ? 1 : 0;
                    offMore += off > 1 ? 1 : 0;
                    onOnce += on == 1 ? 1 : 0;
                    onMore += on > 1 ? 1 : 0;
                }
                extra += std::max(0, off - 1) + std::max(0, on - 1);
            }
            const bool met = outage.startedMs >= 0 && outage.listenedAgain && offOnce == boxes && onOnce == boxes;
            outagesMet = outagesMet && met;
            auto range = [](double first, double last) {
                return first < 0 ? std::string("none") : bench::Format("%.1f - %.1f", first / 1000, last / 1000);
            };
            outageTable.AddRow({outage.startedMs < 0 ? std::string("not started") : MinSec(outage.startedMs),
                                SimulatorName(outage), bench::Format("%d", boxes),
                                bench::Format("%d / %d", offOnce, offMore),
                                range(run.firstOfflineMs[k], run.lastOfflineMs[k]), bench::Format("%d / %d", onOnce, onMore),
                                run.lastOnlineMs[k] < 0 ? std::string("none") : bench::Format("up to %.1f", run.lastOnlineMs[k] / 1000),
                                memoryAcross(outage), outage.listenedAgain ? Verdict(met) : "MISSED (did not listen again)"});
        }
        if (run.outages.empty()) {
            outageTable.AddRow({"(none planned)", "", "", "", "", "", "", "", ""});
        }
        outageTable.AddRow({"other notifications", "", "", "", "", "", "", "",
                            bench::Format("%ld outside an outage, %ld beyond one per box per outage: %s", run.stray,
                                          extra, Verdict(run.stray == 0 && extra == 0).c_str())});
    }
    std::fputs(outageTable.Render().c_str(), stdout);

    // Polls and events.
    long seen = 0, due = 0, lostOutside = 0, lostInOutage = 0, gapsOutside = 0, silent = 0, never = 0;
    double longestGap = 0;
    for (const BoxPolls& p : run.boxPolls) {
        seen += p.polls;
        lostOutside += p.lostOutside;
        lostInOutage += p.lostInOutage;
        gapsOutside += p.gapsOutside;
        longestGap = std::max(longestGap, p.longestGapOutsideMs);
        if (p.polls == 0) {
            ++never;
            continue;
        }
        due += static_cast<long>((pollingEndMs - p.firstMs) / kPeriodMs) + 1;
        silent += pollingEndMs - p.lastMs > 2 * kPeriodMs + kSettleMs + kGapAllowanceMs ? 1 : 0;
    }
    const long dropsWithoutOutage = drops;
    std::printf("\nPolls and events (%s)\n\n", MinSec(pollingEndMs).c_str());
    bench::Table table({"measure", "value", "goal", "verdict"});
    table.AddRow({"polls seen / due (roughly: a period apart from each box's first)", bench::Format("%ld / %ld", seen, due),
                  "", ""});
    table.AddRow({"  polls lost in outages (and their recovery)", bench::Format("%ld", lostInOutage), "", ""});
    table.AddRow({"  polls lost elsewhere / connections dropped at random",
                  bench::Format("%ld / %ld (in %ld gaps; longest %.1f s)", lostOutside, dropsWithoutOutage, gapsOutside,
                                longestGap / 1000),
                  "<= one per drop", Verdict(lostOutside <= dropsWithoutOutage)});
    table.AddRow({"  boxes never polled / silent at the end (no poll in the last 2 periods)",
                  bench::Format("%ld / %ld", never, silent), "0 / 0", Verdict(never == 0 && silent == 0)});
    if (run.unmappedPolls.load() > 0) {
        table.AddRow({"  polls of an unknown handle", bench::Format("%ld", run.unmappedPolls.load()), "0", "MISSED"});
    }
    table.AddRow({"random drops made / asked for", bench::Format("%ld / %ld", drops, dropRequests), "", ""});
    table.AddRow({"alarms / polls x inputs in alarm", bench::Format("%ld / %ld", alarmsRaised, run.polls.load() * o.alarms),
                  "all", Verdict(alarmsRaised == run.polls.load() * o.alarms)});
    table.AddRow({"events delivered / alarms raised (after a drain of 30 s at most)",
                  bench::Format("%ld / %ld", delivered, alarmsRaised), "all", Verdict(delivered == alarmsRaised)});
    table.AddRow({"error lines logged (listed above)", bench::Format("%ld", quiet.Sink().Count()), "", ""});
    std::fputs(table.Render().c_str(), stdout);
    std::fflush(stdout);
    g_run = nullptr;
    return 0;
}
