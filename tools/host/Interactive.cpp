// The middle of a run that does not end by itself: commands from stdin, or watching a real box.

#include "Commands.h"
#include "Session.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>

namespace iobox::host {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kReadSlice{100};
constexpr std::size_t kMaxLine = 4096;

// Lines from a descriptor, read in slices so that the caller can look at its clock in between.
class LineReader {
public:
    enum class Result { Line, Nothing, End };

    explicit LineReader(int fd) : m_fd(fd) {}

    Result Next(std::string& line, milliseconds wait)
    {
        if (TakeLine(line)) {
            return Result::Line;
        }
        if (m_ended) {
            // The last line may lack its newline.
            if (!m_buffer.empty()) {
                line.swap(m_buffer);
                m_buffer.clear();
                return Result::Line;
            }
            return Result::End;
        }
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) {
            return Result::Nothing;
        }
        char chunk[512];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n <= 0) {
            m_ended = true;
        } else {
            m_buffer.append(chunk, static_cast<std::size_t>(n));
            if (m_buffer.size() > kMaxLine && m_buffer.find('\n') == std::string::npos) {
                m_buffer.clear();   // not a command
            }
        }
        return TakeLine(line) ? Result::Line : Result::Nothing;
    }

private:
    bool TakeLine(std::string& line)
    {
        const auto nl = m_buffer.find('\n');
        if (nl == std::string::npos) {
            return false;
        }
        line = m_buffer.substr(0, nl);
        m_buffer.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return true;
    }

    int m_fd;
    std::string m_buffer;
    bool m_ended = false;
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
    const bool echo = ::isatty(STDIN_FILENO) != 1;
    LineReader reader(STDIN_FILENO);
    // Bounded by the run's time (at most a day) and by a count of slices to match.
    const long long maxSlices = static_cast<long long>(kMaxDurationS) * 1000 / kReadSlice.count() + 100;
    for (long long i = 0; i < maxSlices && !s.Over(); ++i) {
        std::string line;
        const auto result = reader.Next(line, kReadSlice);
        if (result == LineReader::Result::Nothing) {
            continue;
        }
        if (result == LineReader::Result::End) {
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
