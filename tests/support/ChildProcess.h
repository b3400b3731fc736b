#pragma once
// A command run as a child process with its stdin, stdout and stderr on pipes. Every read is
// bounded in time; a child still running when the object goes is killed by its pid.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    bool Signal(int signal) const;

    bool WriteStdin(const std::string& text);
    void CloseStdin();

    // Next line of stdout or stderr (without the newline); empty on time-out or end.
    std::string ReadLine(std::chrono::milliseconds timeout) { return ReadLineFrom(m_out, timeout); }
    std::string ReadErrLine(std::chrono::milliseconds timeout) { return ReadLineFrom(m_err, timeout); }
    // Everything left on stderr until the child closes it or the time-out passes.
    std::string ReadAllErr(std::chrono::milliseconds timeout);
    // Reads stdout lines until one contains `text` (true) or the time-out passes; the lines
    // read are appended to `seen`.
    bool ReadUntil(const std::string& text, std::chrono::milliseconds timeout, std::string& seen);

    // Exit code (128 + signal for a signal), or -1 when the child did not end in time.
    int Wait(std::chrono::milliseconds timeout);

    struct Result {
        int exitCode = -1;
        std::string out;
        std::string err;
    };
    // Closes stdin, collects both streams until the child ends (or the time-out passes), and
    // returns what it printed; the streams are drained together so neither pipe fills.
    Result Finish(std::chrono::milliseconds timeout);

private:
    struct Stream {
        int fd = -1;
        std::string buffer;
        bool ended = false;
    };
    std::string ReadLineFrom(Stream& stream, std::chrono::milliseconds timeout);
    // One read from the stream into its buffer, waiting at most `ms`; false at the end.
    static bool Fill(Stream& stream, int ms);

    pid_t m_pid = -1;
    int m_in = -1;
    Stream m_out;
    Stream m_err;
};

} // namespace testsupport
