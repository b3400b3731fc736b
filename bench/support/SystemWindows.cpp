#include "System.h"

#include <windows.h>
// windows.h first: the two below build on its types.
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/Command.h"
#include "support/Process.h"

namespace bench {

namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t FromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

double Seconds(const FILETIME& t)
{
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
}

// This process's handles. GetProcessHandleCount answers 0 under Wine, so the system's handle
// table is read instead, filtered by this process's id (on Windows both agree).
int HandleCount()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0) {
        return static_cast<int>(count);
    }
    using QuerySystem = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QuerySystem>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return -1;
    }
    // SystemExtendedHandleInformation: a count, then one entry per handle with a full-width pid.
    struct Entry {
        void* object;
        ULONG_PTR pid;
        ULONG_PTR handle;
        ULONG access;
        USHORT creatorBackTraceIndex;
        USHORT objectType;
        ULONG attributes;
        ULONG reserved;
    };
    constexpr ULONG kExtendedHandleInformation = 64;
    std::vector<char> buffer(1 << 20);
    // The table grows between calls: a few tries with a larger buffer, never more.
    for (int attempt = 0; attempt < 6; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(kExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto total = *reinterpret_cast<const ULONG_PTR*>(buffer.data());
            const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + 2 * sizeof(ULONG_PTR));
            const ULONG_PTR self = ::GetCurrentProcessId();
            int n = 0;
            for (ULONG_PTR i = 0; i < total; ++i) {
                n += entries[i].pid == self ? 1 : 0;
            }
            return n;
        }
        buffer.resize((std::max)(buffer.size() * 2, static_cast<std::size_t>(needed) + 65536));
    }
    return -1;
}

// Wine's working set and commit charge count every thread's whole stack (about 1 MiB each),
// which Windows commits only as it is touched. The resident memory of the Linux process that
// runs this program is what the machine really gives it; /proc is reachable through the drive
// that maps the Unix root, but not as /proc/self, since the wineserver opens files for its
// clients. The process is found by its arguments, which Wine leaves in its Unix command line.
std::string ReadUnixFile(const std::string& path)
{
    std::string text;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return text;
    }
    char chunk[4096];
    for (int reads = 0; reads < 64; ++reads) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
        text.append(chunk, n);
        if (n < sizeof chunk) {
            break;
        }
    }
    std::fclose(f);
    return text;
}

std::string FindWineProcess()
{
    // This program's arguments as the Unix command line holds them: NUL after each.
    std::string mine;
    for (int i = 1; i < __argc; ++i) {
        mine += std::string(__argv[i]) + '\0';
    }
    const std::string self = SelfPath();
    const std::string exe = self.substr(self.find_last_of("\\/") + 1);
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA("Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string found;
    int matches = 0;
    for (int entries = 0; entries < 1000000; ++entries) {
        const std::string name = entry.cFileName;
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            const std::string dir = "Z:\\proc\\" + name;
            std::string cmdline = ReadUnixFile(dir + "\\cmdline");
            // Wine rewrites its argv in place and pads the rest with NULs.
            cmdline.erase(cmdline.find_last_not_of('\0') + 1);
            cmdline += '\0';
            const std::size_t program = cmdline.find('\0');
            if (program != std::string::npos && cmdline.compare(program + 1, std::string::npos, mine) == 0 &&
                cmdline.substr(0, program).find(exe) != std::string::npos) {
                found = dir;
                ++matches;
            }
        }
        if (!::FindNextFileA(find, &entry)) {
            break;
        }
    }
    ::FindClose(find);
    return matches == 1 ? found : std::string(); // two alike could not be told apart
}

long WineProcessResidentKiB()
{
    static const std::string process = FindWineProcess();
    if (process.empty()) {
        return -1;
    }
    const std::string status = ReadUnixFile(process + "\\status");
    const std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv, int cpu, std::string& error)
{
    if (argv.empty()) {
        error = "no program";
        return nullptr;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        error = "CreatePipe failed: " + std::to_string(::GetLastError());
        return nullptr;
    }
    // Only the write end goes to the child.
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine;
    for (const auto& arg : argv) {
        commandLine += (commandLine.empty() ? "" : " ") + testsupport::QuotedArgument(arg);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessA(argv[0].c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                          nullptr, nullptr, &startup, &info);
    ::CloseHandle(writeEnd);
    if (!started) {
        error = "CreateProcess failed: " + std::to_string(::GetLastError());
        ::CloseHandle(readEnd);
        return nullptr;
    }
    if (cpu >= 0 && (cpu >= 64 || !::SetProcessAffinityMask(info.hProcess, DWORD_PTR(1) << cpu))) {
        error = "no such CPU";
        ::TerminateProcess(info.hProcess, 126);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        ::CloseHandle(readEnd);
        return nullptr;
    }
    ::ResumeThread(info.hThread);
    ::CloseHandle(info.hThread);
    return std::unique_ptr<ChildProcess>(
        new ChildProcess(static_cast<long long>(info.dwProcessId), FromHandle(info.hProcess), FromHandle(readEnd)));
}

ChildProcess::~ChildProcess()
{
    Stop();
    if (m_out != 0) {
        ::CloseHandle(AsHandle(m_out));
    }
    ::CloseHandle(AsHandle(m_process));
}

bool ChildProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // An anonymous pipe cannot be waited on: it is peeked every few milliseconds until the
    // deadline, so a read never blocks.
    for (int turn = 0; turn < 10000000; ++turn) {
        if (TakeLine(line)) {
            return true;
        }
        if (m_out == 0) {
            return false;
        }
        DWORD available = 0;
        if (!::PeekNamedPipe(AsHandle(m_out), nullptr, 0, nullptr, &available, nullptr)) {
            ::CloseHandle(AsHandle(m_out)); // the child's end is closed
            m_out = 0;
            return TakeRest(line);
        }
        if (available == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        char chunk[4096];
        DWORD n = 0;
        if (::ReadFile(AsHandle(m_out), chunk, available < sizeof chunk ? available : sizeof chunk, &n, nullptr)) {
            m_buffer.append(chunk, n);
        }
    }
    return false;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    if (m_reaped) {
        return m_status;
    }
    const auto ms = timeout.count() <= 0 ? 0 : (timeout.count() >= INFINITE ? INFINITE - 1 : timeout.count());
    if (::WaitForSingleObject(AsHandle(m_process), static_cast<DWORD>(ms)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(AsHandle(m_process), &code);
    m_reaped = true;
    m_status = static_cast<int>(code);
    return m_status;
}

int ChildProcess::Stop(std::chrono::milliseconds grace)
{
    if (m_reaped || Wait(grace) >= 0) {
        return m_status;
    }
    ::TerminateProcess(AsHandle(m_process), 1);
    return Wait(std::chrono::milliseconds(5000));
}

bool PinToCpu(int cpu)
{
    if (cpu < 0) {
        return true;
    }
    return cpu < 64 && ::SetProcessAffinityMask(::GetCurrentProcess(), DWORD_PTR(1) << cpu) != 0;
}

// Windows has no per-process limit of sockets to raise.
long RaiseDescriptorLimit() { return LONG_MAX; }

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return -1;
    }
    return Seconds(kernel) + Seconds(user);
}

double SystemCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return -1;
    }
    return Seconds(kernel);
}

double ThreadCpuSeconds(const std::string& prefix, bool matching)
{
    using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    const auto getDescription = reinterpret_cast<GetDescription>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (getDescription == nullptr || snapshot == INVALID_HANDLE_VALUE) {
        if (snapshot != INVALID_HANDLE_VALUE) {
            ::CloseHandle(snapshot);
        }
        return -1;
    }
    const std::wstring wanted(prefix.begin(), prefix.end()); // thread names are ASCII here
    const DWORD self = ::GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    double total = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != self) {
            continue;
        }
        HANDLE thread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == nullptr) {
            continue;
        }
        PWSTR name = nullptr;
        const bool named = SUCCEEDED(getDescription(thread, &name)) && name != nullptr;
        const bool match = named && std::wstring(name).compare(0, wanted.size(), wanted) == 0;
        if (name != nullptr) {
            ::LocalFree(name);
        }
        FILETIME created, exited, kernel, user;
        if (match == matching && ::GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
            total += Seconds(kernel) + Seconds(user);
        }
        ::CloseHandle(thread);
    }
    ::CloseHandle(snapshot);
    return total;
}

// Handles are not numbered densely as descriptors are: there is no highest one to report.
int HighestDescriptor() { return -1; }

bool SetFutexHashSlots(int) { return false; }
int FutexHashSlots() { return -1; }

std::string SelfPath()
{
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

double LoadAverage1()
{
    // Windows keeps no load average. Under Wine the Linux one is readable through the drive
    // that maps the Unix root.
    if (!testsupport::RunsUnderWine()) {
        return -1;
    }
    const std::string text = ReadUnixFile("Z:\\proc\\loadavg");
    return text.empty() ? -1 : std::atof(text.c_str());
}

int OnlineCpus()
{
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) {
        return -1;
    }
    int n = 0;
    for (; process != 0; process &= process - 1) {
        ++n;
    }
    return n;
}

ProcessSample SampleProcess()
{
    ProcessSample s;
    // The commit charge (PagefileUsage) is the process's private bytes, which the _EX form
    // repeats as PrivateUsage.
    PROCESS_MEMORY_COUNTERS counters{};
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
        s.memoryKiB = static_cast<long>(counters.PagefileUsage / 1024);
        s.residentKiB = static_cast<long>(counters.WorkingSetSize / 1024);
    }
    if (testsupport::RunsUnderWine()) {
        s.residentKiB = WineProcessResidentKiB();
    }
    s.threads = testsupport::ThreadCount();
    s.handles = HandleCount();
    return s;
}

const char* MemoryFigureName() { return "private bytes, KiB"; }
const char* HandleFigureName() { return "handles"; }
const char* ResidentFigureName()
{
    return testsupport::RunsUnderWine() ? "resident memory of the Wine process, KiB" : "working set, KiB";
}

} // namespace bench
