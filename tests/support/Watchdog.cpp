#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// windows.h first: the snapshot API builds on its types.
#include <tlhelp32.h>
#else
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace testsupport {

namespace {

// Never freed: the watchdog thread may still sleep while the process exits (a hang there is
// one it must report too).
struct WatchState {
    std::mutex mutex;
    std::string phase = "the program's start";
};
WatchState* g_watch = nullptr;

void SetPhase(std::string phase)
{
    std::lock_guard<std::mutex> lock(g_watch->mutex);
    g_watch->phase = std::move(phase);
}

class PhaseTracker : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo& info) override
    {
        SetPhase(std::string("test ") + info.test_suite_name() + "." + info.name());
    }
    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        SetPhase(std::string("the end of test ") + info.test_suite_name() + "." + info.name());
    }
    void OnTestProgramEnd(const ::testing::UnitTest&) override { SetPhase("the program's exit, after its last test"); }
};

#ifdef _WIN32

// winedbg attaches through a thread it starts in this process, and a new thread first takes the
// loader lock: while another thread holds that lock (a DllMain, a static destructor at unload, a
// thread's start or end that waits) the debugger never prints. So its wait ends well inside the
// margin before CTest's time-out, and the threads are then listed from here.
constexpr DWORD kDebuggerWaitMs = 10000;

struct Module {
    std::uintptr_t begin;
    std::uintptr_t end;
    std::string name;
};

// Read from the process's module list, without the loader lock.
std::vector<Module> LoadedModules()
{
    std::vector<Module> modules;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return modules;
    }
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Module32First(snapshot, &entry); more; more = ::Module32Next(snapshot, &entry)) {
        const auto begin = reinterpret_cast<std::uintptr_t>(entry.modBaseAddr);
        modules.push_back({begin, begin + entry.modBaseSize, entry.szModule});
    }
    ::CloseHandle(snapshot);
    return modules;
}

// The module an address falls in, or none.
const Module* ModuleOf(const std::vector<Module>& modules, std::uintptr_t address)
{
    for (const Module& m : modules) {
        if (address >= m.begin && address < m.end) {
            return &m;
        }
    }
    return nullptr;
}

// Each thread's instruction pointer and the words of its stack that point into a module (its
// return addresses among them, with stale ones), as module+offset: llvm-symbolizer
// --relative-address --obj=<module> <offset> names them from the module's PDB.
void ListThreadsHere(const std::vector<DWORD>& threads)
{
    const std::vector<Module> modules = LoadedModules();
    const auto print = [&modules](const char* label, std::uintptr_t address) {
        const Module* m = ModuleOf(modules, address);
        if (m != nullptr) {
            std::fprintf(stderr, "  %s %s+0x%llx\n", label, m->name.c_str(),
                         static_cast<unsigned long long>(address - m->begin));
        }
        return m != nullptr;
    };
    for (const DWORD id : threads) {
        HANDLE thread = id == ::GetCurrentThreadId()
                            ? nullptr
                            : ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, id);
        if (thread == nullptr) {
            continue;
        }
        std::fprintf(stderr, "thread 0x%lx\n", id);
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        if (::SuspendThread(thread) != static_cast<DWORD>(-1) && ::GetThreadContext(thread, &context)) {
            print("at", context.Rip);
            const auto* stack = reinterpret_cast<const std::uintptr_t*>(context.Rsp);
            for (int i = 0, shown = 0; i < 8192 && shown < 40; ++i) {
                std::uintptr_t word = 0;
                if (!::ReadProcessMemory(::GetCurrentProcess(), stack + i, &word, sizeof word, nullptr)) {
                    break; // the end of the stack
                }
                shown += print("stack", word) ? 1 : 0;
            }
        }
        ::ResumeThread(thread);
        ::CloseHandle(thread);
    }
}

// Under Wine its debugger attaches to the process and prints the stack of each of its threads
// (function names and lines from the program's DWARF or PDB debug information). Real Windows
// has no winedbg: the threads are then listed from here.
void DumpThreads()
{
    char folder[MAX_PATH] = {};
    if (::GetTempPathA(MAX_PATH, folder) == 0) {
        std::fprintf(stderr, "watchdog: no temporary folder for the debugger's commands\n");
        return;
    }
    const DWORD self = ::GetCurrentProcessId();
    const std::string commands = std::string(folder) + "iobox-watchdog-" + std::to_string(self) + ".txt";
    FILE* file = std::fopen(commands.c_str(), "w");
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (file == nullptr || snapshot == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "watchdog: the threads cannot be listed (error %lu)\n", ::GetLastError());
        if (file != nullptr) {
            std::fclose(file);
        }
        return;
    }
    // "bt all" would show every process of the Wine prefix: one thread at a time instead.
    std::vector<DWORD> threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) {
            threads.push_back(entry.th32ThreadID);
            std::fprintf(file, "echo thread 0x%lx\nbt 0x%lx\n", entry.th32ThreadID, entry.th32ThreadID);
        }
    }
    std::fprintf(file, "detach\n");
    std::fclose(file);
    ::CloseHandle(snapshot);

    std::string command = "winedbg --file \"" + commands + "\" " + std::to_string(self);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION debugger{};
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &debugger)) {
        std::fprintf(stderr, "watchdog: no winedbg to show the threads (error %lu); listed from here\n",
                     ::GetLastError());
        ListThreadsHere(threads);
        return;
    }
    if (::WaitForSingleObject(debugger.hProcess, kDebuggerWaitMs) != WAIT_OBJECT_0) {
        // Not killed: a debugger that ends takes its debuggee with it, with exit code 0. It ends
        // with this process.
        std::fprintf(stderr,
                     "\nwatchdog: winedbg did not finish within %lu ms (a thread holding the loader lock keeps "
                     "it from attaching); listed from here\n",
                     kDebuggerWaitMs);
        ListThreadsHere(threads);
    }
    ::CloseHandle(debugger.hThread);
    ::CloseHandle(debugger.hProcess);
    ::DeleteFileA(commands.c_str());
}

[[noreturn]] void EndProcess() { ::TerminateProcess(::GetCurrentProcess(), 3); std::abort(); }

#else

void DumpThreads()
{
    const std::string command = "timeout 30 gdb -p " + std::to_string(::getpid()) +
                                " -batch -nx -ex 'set pagination off' -ex 'thread apply all bt' </dev/null 1>&2";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "watchdog: gdb could not show the threads\n");
    }
}

[[noreturn]] void EndProcess() { ::_exit(3); }

#endif

void Watch(int seconds)
{
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::string phase;
    {
        std::lock_guard<std::mutex> lock(g_watch->mutex);
        phase = g_watch->phase;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "watchdog: still running after %d s, in %s; the stacks of its threads follow\n", seconds,
                 phase.c_str());
    std::fflush(stderr);
    DumpThreads();
    std::fprintf(stderr, "watchdog: ending the program with a failure\n");
    std::fflush(stderr);
    EndProcess(); // no exit handlers: the hang may be in one of them
}

[[noreturn]] void OnTerminate()
{
    std::fputs("test program: std::terminate called", stderr);
    if (const std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            std::fprintf(stderr, ", by an uncaught exception: %s", e.what());
        } catch (...) {
            std::fputs(", by an uncaught exception", stderr);
        }
    }
    std::fputs("\n", stderr);
    std::abort();
}

#ifdef _WIN32
// The C runtime's abort() ends the program with exit code 3 and says nothing.
void OnAbort(int) { std::fputs("test program: abort() called, ending with exit code 3\n", stderr); }

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* info)
{
    const auto address = reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    std::fprintf(stderr, "test program: unhandled exception 0x%08lx at 0x%llx",
                 static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                 static_cast<unsigned long long>(address));
    const std::vector<Module> modules = LoadedModules();
    if (const Module* m = ModuleOf(modules, address)) {
        std::fprintf(stderr, " (%s+0x%llx)", m->name.c_str(), static_cast<unsigned long long>(address - m->begin));
    }
    std::fputs("\n", stderr);
    return EXCEPTION_CONTINUE_SEARCH; // on to the debugger, as without this filter
}
#endif

} // namespace

void ReportAbruptEnds()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::set_terminate(OnTerminate);
#ifdef _WIN32
    std::signal(SIGABRT, OnAbort);
    ::SetUnhandledExceptionFilter(OnUnhandled);
#endif
}

void StartWatchdog()
{
    const char* value = std::getenv("IOBOX_TEST_WATCHDOG_SECONDS");
    const int seconds = value != nullptr ? std::atoi(value) : 0;
    if (seconds <= 0 || g_watch != nullptr) {
        return;
    }
#ifndef _WIN32
    // gdb runs as a child of this process; a restricted ptrace scope lets only ancestors attach.
    ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
#endif
    g_watch = new WatchState();
    ::testing::UnitTest::GetInstance()->listeners().Append(new PhaseTracker());
    std::thread(Watch, seconds).detach();
}

} // namespace testsupport
