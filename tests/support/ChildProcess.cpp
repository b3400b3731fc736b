#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

void CloseFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// One read into the buffer; false (and the descriptor closed) at the end of the stream.
bool ReadInto(int& fd, std::string& buffer)
{
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) {
        CloseFd(fd);
        return false;
    }
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
{
    int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    for (auto& p : pipes) {
        if (::pipe2(p, O_CLOEXEC) != 0) {
            p[0] = p[1] = -1;
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[0][0], 0);
    posix_spawn_file_actions_adddup2(&actions, pipes[1][1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipes[2][1], 2);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const bool piped = pipes[0][0] >= 0 && pipes[1][0] >= 0 && pipes[2][0] >= 0;
    if (!piped || posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(pipes[0][0]);
    CloseFd(pipes[1][1]);
    CloseFd(pipes[2][1]);
    m_in = pipes[0][1];
    m_out = pipes[1][0];
    m_err = pipes[2][0];
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    CloseFd(m_in);
    CloseFd(m_out);
    CloseFd(m_err);
}

bool ChildProcess::Signal(int signal) const { return m_pid > 0 && ::kill(m_pid, signal) == 0; }

bool ChildProcess::WriteStdin(const std::string& text)
{
    std::size_t done = 0;
    for (int i = 0; i < 1000 && done < text.size() && m_in >= 0; ++i) {
        const ssize_t n = ::write(m_in, text.data() + done, text.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return done == text.size();
}

std::string ChildProcess::ReadLine(milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (int i = 0; i < 100000; ++i) {
        const auto nl = m_outBuffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = m_outBuffer.substr(0, nl);
            m_outBuffer.erase(0, nl + 1);
            return line;
        }
        pollfd p{m_out, POLLIN, 0};
        if (m_out < 0 || ::poll(&p, 1, MsLeft(deadline)) <= 0 || !ReadInto(m_out, m_outBuffer)) {
            return {};
        }
    }
    return {};
}

ChildProcess::Result ChildProcess::Finish(milliseconds timeout)
{
    CloseFd(m_in);
    Result result;
    result.out.swap(m_outBuffer);
    const auto deadline = Clock::now() + timeout;
    for (int i = 0; i < 100000 && MsLeft(deadline) > 0 && (m_out >= 0 || m_err >= 0); ++i) {
        pollfd p[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (::poll(p, 2, MsLeft(deadline)) <= 0) {
            break;
        }
        if (p[0].revents != 0) {
            ReadInto(m_out, result.out);
        }
        if (p[1].revents != 0) {
            ReadInto(m_err, result.err);
        }
    }
    for (int i = 0; i < 1000 && m_pid > 0; ++i) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (MsLeft(deadline) == 0 && i > 20) {
            break;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return result;
}

} // namespace testsupport
