#include "System.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "support/Process.h"

namespace bench {

namespace {

int CountEntries(const char* path, int* highest)
{
    DIR* dir = opendir(path);
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    int top = -1;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        ++n;
        const int value = std::atoi(entry->d_name);
        top = value > top ? value : top;
    }
    closedir(dir);
    if (highest != nullptr) {
        *highest = top;
    }
    return n;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
}

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv, int cpu, std::string& error)
{
    if (argv.empty()) {
        error = "no program";
        return nullptr;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    // Built before the fork: the child only calls async-signal-safe functions.
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    if (cpu >= CPU_SETSIZE) {
        error = "no such CPU";
        close(pipeFds[0]);
        close(pipeFds[1]);
        return nullptr;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    if (cpu >= 0) {
        CPU_SET(cpu, &set);
    }
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return nullptr;
    }
    if (pid == 0) {
        if (cpu >= 0 && sched_setaffinity(0, sizeof set, &set) != 0) {
            _exit(126);
        }
        dup2(pipeFds[1], STDOUT_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, 0, pipeFds[0]));
}

ChildProcess::~ChildProcess()
{
    Stop();
    if (m_out >= 0) {
        close(static_cast<int>(m_out));
    }
}

bool ChildProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Bounded by the deadline and by the pipe's end; each turn either reads or waits.
    for (int turn = 0; turn < 1000000; ++turn) {
        if (TakeLine(line)) {
            return true;
        }
        if (m_out < 0) {
            return false;
        }
        pollfd p{static_cast<int>(m_out), POLLIN, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready == 0) {
            return false;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready < 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::read(static_cast<int>(m_out), chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            close(static_cast<int>(m_out));
            m_out = -1;
            return TakeRest(line);
        }
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return false;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    if (m_reaped) {
        return m_status;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (int turn = 0; turn < 1000000; ++turn) {
        int status = 0;
        const pid_t done = waitpid(static_cast<pid_t>(m_pid), &status, WNOHANG);
        if (done == static_cast<pid_t>(m_pid)) {
            m_reaped = true;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_status;
        }
        if (done < 0 && errno != EINTR) {
            m_reaped = true;
            return m_status;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

int ChildProcess::Stop(std::chrono::milliseconds grace)
{
    if (m_reaped) {
        return m_status;
    }
    kill(static_cast<pid_t>(m_pid), SIGTERM);
    if (Wait(grace) >= 0 || m_reaped) {
        return m_status;
    }
    kill(static_cast<pid_t>(m_pid), SIGKILL);
    return Wait(std::chrono::milliseconds(5000));
}

bool PinToCpu(int cpu)
{
    if (cpu < 0) {
        return true;
    }
    if (cpu >= CPU_SETSIZE) {
        return false;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

long RaiseDescriptorLimit()
{
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0) {
        return -1;
    }
    if (lim.rlim_cur < lim.rlim_max) {
        rlimit raised = lim;
        raised.rlim_cur = lim.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            lim = raised;
        }
    }
    return lim.rlim_cur == RLIM_INFINITY ? LONG_MAX : static_cast<long>(lim.rlim_cur);
}

namespace {
double Seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; }
} // namespace

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double SystemCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_stime);
}

double ThreadCpuSeconds(const std::string& prefix, bool matching)
{
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) {
        return -1;
    }
    double total = 0;
    for (int entries = 0; entries < 100000; ++entries) {
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            break;
        }
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::ifstream comm(task + "/comm");
        std::getline(comm, name);
        if ((name.compare(0, prefix.size(), prefix) == 0) != matching) {
            continue;
        }
        std::ifstream schedstat(task + "/schedstat");
        unsigned long long runNs = 0;
        if (schedstat >> runNs) {
            total += static_cast<double>(runNs) / 1e9;
        }
    }
    closedir(dir);
    return total;
}

int HighestDescriptor()
{
    int highest = -1;
    CountEntries("/proc/self/fd", &highest);
    return highest;
}

namespace {
// From linux/prctl.h of 6.16; older headers lack them.
constexpr int kPrFutexHash = 78;
constexpr int kPrFutexHashSetSlots = 1;
constexpr int kPrFutexHashGetSlots = 2;
} // namespace

bool SetFutexHashSlots(int slots)
{
    return prctl(kPrFutexHash, kPrFutexHashSetSlots, static_cast<unsigned long>(slots), 0UL, 0UL) == 0;
}

int FutexHashSlots() { return prctl(kPrFutexHash, kPrFutexHashGetSlots, 0UL, 0UL, 0UL); }

std::string SelfPath()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

double LoadAverage1()
{
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

int OnlineCpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) {
        return -1;
    }
    return CPU_COUNT(&set);
}

ProcessSample SampleProcess()
{
    ProcessSample s;
    s.memoryKiB = testsupport::ResidentKiB();
    s.residentKiB = s.memoryKiB;
    s.threads = testsupport::ThreadCount();
    s.handles = testsupport::OpenDescriptorCount();
    return s;
}

const char* MemoryFigureName() { return "resident memory, KiB"; }
const char* HandleFigureName() { return "open descriptors"; }
const char* ResidentFigureName() { return nullptr; }

} // namespace bench
