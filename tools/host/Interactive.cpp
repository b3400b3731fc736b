// The middle of a run that does not end by itself: commands from stdin, or watching a real box.

#include "Commands.h"
#include "Session.h"

#include "HostPlatform.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace iobox::host {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kReadSlice{100};
constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxQueued = 64;
// Far more than a day's typing or any script; past it stdin counts as ended.
constexpr long kMaxReads = 10'000'000;

// Lines from stdin, read by a thread of their own so that the caller can look at its clock in
// between. No portable call wakes a thread blocked on a terminal or a pipe, so the reader is
// detached and shares only this state: it ends at the end of stdin or with the process. It reads
// below the C library, whose stream lock would otherwise be held across the process's exit.
class StdinLines {
public:
    enum class Result { Line, Nothing, End };

    StdinLines() : m_state(std::make_shared<State>())
    {
        std::thread([state = m_state] { Read(*state); }).detach();
    }

    Result Next(std::string& line, milliseconds wait)
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        m_state->changed.wait_for(lock, wait, [this] { return !m_state->lines.empty() || m_state->ended; });
        if (!m_state->lines.empty()) {
            line = std::move(m_state->lines.front());
            m_state->lines.pop_front();
            m_state->changed.notify_all();
            return Result::Line;
        }
        return m_state->ended ? Result::End : Result::Nothing;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::string> lines;
        bool ended = false;
    };

    static void Read(State& state)
    {
        std::string buffer;
        char chunk[512];
        long n = 0;
        for (long reads = 0; reads < kMaxReads && (n = platform::ReadStdin(chunk, sizeof chunk)) > 0; ++reads) {
            buffer.append(chunk, static_cast<std::size_t>(n));
            for (auto nl = buffer.find('\n'); nl != std::string::npos; nl = buffer.find('\n')) {
                Hand(state, buffer.substr(0, nl));
                buffer.erase(0, nl + 1);
            }
            if (buffer.size() > kMaxLine) {
                buffer.clear();   // not a command
            }
        }
        // The last line may lack its newline.
        if (!buffer.empty()) {
            Hand(state, buffer);
        }
        std::lock_guard<std::mutex> lock(state.mutex);
        state.ended = true;
        state.changed.notify_all();
    }

    static void Hand(State& state, std::string line)
    {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::unique_lock<std::mutex> lock(state.mutex);
        state.changed.wait(lock, [&state] { return state.lines.size() < kMaxQueued; });
        state.lines.push_back(std::move(line));
        state.changed.notify_all();
    }

    std::shared_ptr<State> m_state;
};

// Runs one command; false for quit.
bool Execute(Session& s, const Command& c)
{
    switch (c.kind) {
    case Command::Kind::Empty:
        return true;
    case Command::Kind::Help: {
        std::istringstream lines(kCommandHelp);
        std::string line;
        for (int i = 0; i < 16 && std::getline(lines, line); ++i) {
            s.Detail(line);
        }
        return true;
    }
    case Command::Kind::Outputs:
        s.ShowOutputs("outputs");
        return true;
    case Command::Kind::Set:
        s.SwitchOutput(c.output, c.on);
        return true;
    case Command::Kind::Status:
        s.StatusReport();
        return true;
    case Command::Kind::Wait: {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(c.seconds);
        s.WaitUntil([] { return false; }, std::chrono::seconds(c.seconds), [until] {
            const auto left =
                std::chrono::duration_cast<milliseconds>(until - std::chrono::steady_clock::now()).count();
            return "waiting, " + SecondsText(left <= 0 ? 0 : (left + 999) / 1000) + " left";
        });
        return true;
    }
    case Command::Kind::Quit:
        return false;
    }
    return true;
}

} // namespace

bool RunInteractive(Session& s)
{
    s.Step("Commands");
    s.Note("reading commands from stdin, one a line: outputs, set N on|off, status, wait SECONDS, quit, help");
    const bool echo = !platform::IsTerminal(stdin);
    StdinLines reader;
    // Bounded by the run's time (at most a day) and by a count of slices to match.
    const long long maxSlices = static_cast<long long>(kMaxDurationS) * 1000 / kReadSlice.count() + 100;
    for (long long i = 0; i < maxSlices && !s.Over(); ++i) {
        std::string line;
        const auto result = reader.Next(line, kReadSlice);
        if (result == StdinLines::Result::Nothing) {
            continue;
        }
        if (result == StdinLines::Result::End) {
            s.Note("stdin is closed; the host keeps running until Ctrl-C or the end of the run (" +
                     SecondsText(s.SecondsLeft()) + " left)");
            s.WaitUntil([] { return false; }, milliseconds(s.SecondsLeft() * 1000 + 1000), nullptr);
            return true;
        }
        Command command;
        std::string error;
        if (echo && line.find_first_not_of(" \t") != std::string::npos) {
            s.Out().Say("> " + line);
        }
        if (!ParseCommand(line, command, error)) {
            s.Detail(error);
            continue;
        }
        if (!Execute(s, command)) {
            s.Detail("quit");
            return true;
        }
    }
    return true;
}

bool RunWatch(Session& s)
{
    s.Step("Watching the box");
    s.ShowOutputs("outputs");
    s.Note("events and notifications appear as they come; Ctrl-C ends the run (" + SecondsText(s.SecondsLeft()) +
             " left)");
    s.WaitUntil([] { return false; }, milliseconds(s.SecondsLeft() * 1000 + 1000), [&s] {
        return "running, " + SecondsText(s.SecondsLeft()) + " left, " + std::to_string(s.Host().EventCount()) +
            " events so far";
    });
    return true;
}

} // namespace iobox::host
