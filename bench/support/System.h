#pragma once
// What the benchmarks need from the operating system: child processes they start and end by
// pid, CPU pinning, the descriptor limit, and probes of this process's CPU time. Memory,
// thread and descriptor counts come from the tests' process probes (support/Process.h).
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bench {

// A child started with fork/exec (CreateProcess on Windows), optionally pinned to one CPU (as
// taskset would), whose standard output is read through a pipe. The destructor ends it if it
// still runs.
class ChildProcess {
public:
    // argv[0] is the program's path. Empty pointer (and error) when it could not be started.
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv, int cpu, std::string& error);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    long long Pid() const { return m_pid; }
    // Next line of the child's output (without the newline); false at its end or on time-out.
    bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
    // Waits for a line that starts with prefix and returns the rest; false on time-out or end.
    bool WaitForLine(const std::string& prefix, std::string& rest, std::chrono::milliseconds timeout);
    // Waits for the child to exit by itself; its exit status, or -1 on time-out.
    int Wait(std::chrono::milliseconds timeout);
    // SIGTERM to this child's pid, then SIGKILL when it has not ended within grace (on Windows,
    // which has no polite signal for a console child, it is ended through its own handle).
    int Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

private:
    // The process and the pipe's read end: a pid and a descriptor, or two Windows handles.
    ChildProcess(long long pid, std::intptr_t process, std::intptr_t out) : m_pid(pid), m_process(process), m_out(out) {}

    // The next whole line of what was read, without its line end; false when none is complete.
    bool TakeLine(std::string& line);
    // What is left after the pipe's end, as a last line; false when nothing is.
    bool TakeRest(std::string& line);

    long long m_pid;
    std::intptr_t m_process;
    std::intptr_t m_out;
    bool m_reaped = false;
    int m_status = -1;
    std::string m_buffer;
};

// Pins the calling thread, and the threads it starts afterwards, to one CPU. False when the
// CPU does not exist or pinning is refused; cpu < 0 does nothing and returns true.
bool PinToCpu(int cpu);
// Raises the soft limit of open descriptors to the hard limit; returns the soft limit now.
long RaiseDescriptorLimit();
// User plus system CPU time this process has used, seconds.
double CpuSeconds();
// The system (kernel) part of it.
double SystemCpuSeconds();
// CPU time of this process's threads whose name starts with prefix (or, with matching false,
// of all the others), seconds, from the scheduler's nanosecond accounting.
double ThreadCpuSeconds(const std::string& prefix, bool matching);
// The highest descriptor number open in this process.
int HighestDescriptor();
// Linux 6.16 and later give a process its own futex hash, sized by the CPUs (16 slots on two),
// however many threads later wait in it. Sets its size (0: share the kernel's global hash
// instead); false where the kernel does not offer the choice. Slots() reads it (-1: unknown).
bool SetFutexHashSlots(int slots);
int FutexHashSlots();
// Path of the running executable.
std::string SelfPath();
// The 1-minute load average, and how many CPUs this process may run on.
double LoadAverage1();
int OnlineCpus();

// One look at this process, for growth over a long run: memory (resident on Linux, private
// bytes on Windows), threads, and open descriptors (handles on Windows); -1 where a figure
// cannot be had on this platform.
struct ProcessSample {
    long memoryKiB = -1;
    long residentKiB = -1; // the same as memoryKiB on Linux; the working set on Windows
    int threads = -1;
    int handles = -1;
};
ProcessSample SampleProcess();
// The names of SampleProcess's memory and handle figures on this platform, for reports.
const char* MemoryFigureName();
const char* HandleFigureName();
// The name of residentKiB where it differs from memoryKiB, else nullptr.
const char* ResidentFigureName();

// Seconds on the monotonic clock, as a double in milliseconds.
double NowMs();

} // namespace bench
