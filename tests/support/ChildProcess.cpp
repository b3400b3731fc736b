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

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
{
    int in[2];
    int out[2];
    int err[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    m_in = in[1];
    m_out.fd = out[0];
    m_err.fd = err[0];
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    CloseFd(m_in);
    CloseFd(m_out.fd);
    CloseFd(m_err.fd);
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

void ChildProcess::CloseStdin() { CloseFd(m_in); }

bool ChildProcess::Fill(Stream& stream, int ms)
{
    if (stream.ended || stream.fd < 0) {
        return false;
    }
    pollfd p{stream.fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) {
        return true;
    }
    char chunk[4096];
    const ssize_t n = ::read(stream.fd, chunk, sizeof chunk);
    if (n <= 0) {
        stream.ended = true;
        return false;
    }
    stream.buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::string ChildProcess::ReadLineFrom(Stream& stream, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (int i = 0; i < 100000; ++i) {
        const auto nl = stream.buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = stream.buffer.substr(0, nl);
            stream.buffer.erase(0, nl + 1);
            return line;
        }
        const int left = MsLeft(deadline);
        if (left == 0 || !Fill(stream, left)) {
            return {};
        }
    }
    return {};
}

std::string ChildProcess::ReadAllErr(milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (int i = 0; i < 100000 && MsLeft(deadline) > 0 && Fill(m_err, MsLeft(deadline)); ++i) {
    }
    std::string all;
    all.swap(m_err.buffer);
    return all;
}

bool ChildProcess::ReadUntil(const std::string& text, milliseconds timeout, std::string& seen)
{
    const auto deadline = Clock::now() + timeout;
    for (int i = 0; i < 10000 && MsLeft(deadline) > 0; ++i) {
        const std::string line = ReadLine(milliseconds(MsLeft(deadline)));
        seen += line + "\n";
        if (line.find(text) != std::string::npos) {
            return true;
        }
        if (line.empty() && m_out.ended) {
            return false;
        }
    }
    return false;
}

int ChildProcess::Wait(milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (int i = 0; i < 100000 && m_pid > 0; ++i) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (MsLeft(deadline) == 0) {
            break;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return -1;
}

ChildProcess::Result ChildProcess::Finish(milliseconds timeout)
{
    CloseStdin();
    const auto deadline = Clock::now() + timeout;
    for (int i = 0; i < 100000 && MsLeft(deadline) > 0 && !(m_out.ended && m_err.ended); ++i) {
        pollfd p[2] = {{m_out.ended ? -1 : m_out.fd, POLLIN, 0}, {m_err.ended ? -1 : m_err.fd, POLLIN, 0}};
        if (::poll(p, 2, MsLeft(deadline)) <= 0) {
            break;
        }
        if (p[0].revents != 0) {
            Fill(m_out, 0);
        }
        if (p[1].revents != 0) {
            Fill(m_err, 0);
        }
    }
    Result result;
    result.exitCode = Wait(milliseconds(MsLeft(deadline) + 100));
    result.out.swap(m_out.buffer);
    result.err.swap(m_err.buffer);
    return result;
}

} // namespace testsupport
