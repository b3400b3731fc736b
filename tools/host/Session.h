#pragma once
// One run of iobox-host: the host's road from loading the plug-in to unloading it, told as it
// happens, with the part in the middle chosen by the options (guided tour, commands from stdin,
// or watching a real box).

#include "Console.h"
#include "EmulatedHost.h"
#include "HostOptions.h"
#include "IOBoxSimulator.h"
#include "Common/Timing.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace iobox::host {

// The plug-in's production timings as the host experiences them.
constexpr std::chrono::milliseconds kPollPeriod{iobox::kPollPeriodMs};
constexpr std::chrono::seconds kOfflineRetry{iobox::kOfflineRetrySeconds};
constexpr int kFailedChecksBeforeOffline = iobox::kFailedChecksBeforeOffline;

// When the simulated box's inputs were last read (the plug-in's polls), seen from the box.
class PollWatch {
public:
    void Seen();
    std::uint64_t Count() const { return m_count.load(); }
    // Milliseconds until the next poll is due, from the last one seen and the poll period
    // (rolled forward when polls are not reaching the box); -1 before the first poll.
    long long NextDueInMs() const;

private:
    std::atomic<std::uint64_t> m_count{0};
    std::atomic<long long> m_lastMs{0};
};

enum class WaitResult { Met, TimedOut, Over };

class Session {
public:
    // interrupted is set from a signal handler.
    Session(const HostOptions& options, std::string pluginPath, const std::atomic<bool>& interrupted);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The whole run; the process exit code.
    int Run();

    // ---- for the parts in the middle -------------------------------------------------------
    Console& Out() { return m_console; }
    EmulatedHost& Host() { return *m_host; }
    iobox::sim::IOBoxSimulator* Box() { return m_box.get(); }
    PollWatch& Polls() { return m_polls; }
    const HostOptions& Options() const { return m_options; }

    // "[  12.3 s] title"
    void Step(const std::string& title);
    // An indented line under the current step, one line whatever its length (facts stay
    // whole for grep).
    void Detail(const std::string& text);
    // Indented prose, wrapped.
    void Note(const std::string& text);
    // Explanations only the guided tour gives.
    void Explain(const std::string& text);

    // True once Ctrl-C came or the run's time is over.
    bool Over() const;
    std::string OverReason() const;
    long long SecondsLeft() const;   // until the end of the run's time; -1 when unbounded
    double Elapsed() const;

    // Polls `done` until it holds, the time-out passes or the run is over. While waiting the
    // countdown text is shown (on a terminal: kept up to date; elsewhere: printed once).
    WaitResult WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                         const std::function<std::string()>& countdown);

    // Reads and shows the outputs; false (after showing why) when the plug-in failed.
    bool ShowOutputs(const std::string& label, std::vector<OutputState>* states = nullptr);
    // Switches through the operation interface and waits briefly so that the box's echo is in
    // before the next exchange; false after showing why.
    bool SwitchOutput(int outputNo, bool on);
    std::uint64_t OutputsSwitched() const { return m_outputsSwitched; }
    void StatusReport();

private:
    bool StartBox();
    bool BringUp();
    bool ValidateAndAdd();
    void ShutDown();
    void Summary(int exitCode);

    HostOptions m_options;
    std::string m_pluginPath;
    const std::atomic<bool>& m_interrupted;
    const std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_bounded = false;
    bool m_tour = false;

    Console m_console;
    std::shared_ptr<Marl::Base::ILogSink> m_previousSink;
    PollWatch m_polls;
    std::unique_ptr<iobox::sim::IOBoxSimulator> m_box;
    std::unique_ptr<EmulatedHost> m_host;
    std::string m_deviceName;
    std::uint64_t m_outputsSwitched = 0;
    bool m_clean = true;   // every shutdown step succeeded
};

// The middle parts. Each returns false when something the host should have seen did not come.
bool RunTour(Session& session);
bool RunInteractive(Session& session);
bool RunWatch(Session& session);

} // namespace iobox::host
