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
    // Next line of stdout (without the newline); empty on time-out or end.
    std::string ReadLine(std::chrono::milliseconds timeout);

    struct Result {
        int exitCode = -1; // 128 + signal for a signal; -1 when the child did not end in time
        std::string out;
        std::string err;
    };
    // Closes stdin and collects both streams (together, so neither pipe fills) until the
    // child ends or the time-out passes.
    Result Finish(std::chrono::milliseconds timeout);

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outBuffer;
};

} // namespace testsupport
