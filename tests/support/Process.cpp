#include "support/Process.h"

#include <fstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
// windows.h first: the two below build on its types.
#include <psapi.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace testsupport {

#ifdef _WIN32

int ThreadCount()
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const DWORD self = ::GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int n = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        n += entry.th32OwnerProcessID == self ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return n;
}

int OpenDescriptorCount()
{
    DWORD handles = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &handles) ? static_cast<int>(handles) : -1;
}

long ResidentKiB()
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
        return -1;
    }
    return static_cast<long>(counters.WorkingSetSize / 1024);
}

#else

namespace {
int CountEntries(const char* path)
{
    DIR* dir = opendir(path);
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++n;
        }
    }
    closedir(dir);
    return n;
}
} // namespace

int ThreadCount() { return CountEntries("/proc/self/task"); }

// The directory stream itself holds one descriptor while counting.
int OpenDescriptorCount() { return CountEntries("/proc/self/fd") - 1; }

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        std::string rest;
        std::getline(status, rest);
    }
    return -1;
}

#endif

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int BaselineThreadCount()
{
#ifdef _WIN32
    std::thread([]() {}).join(); // a joined thread has ended and is no longer listed
#else
    long tid = 0;
    std::thread([&tid]() { tid = ::syscall(SYS_gettid); }).join();
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    WaitFor([&]() { return ::access(task.c_str(), F_OK) != 0; }, std::chrono::seconds(1));
#endif
    return ThreadCount();
}

int ThreadCountSettledAt(int expected)
{
    int now = ThreadCount();
    WaitFor([&]() { return (now = ThreadCount()) == expected; }, std::chrono::seconds(1));
    return now;
}

bool RunsUnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace testsupport
