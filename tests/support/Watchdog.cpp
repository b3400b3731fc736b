#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

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

// Under Wine its debugger attaches to the process and prints the stack of each of its threads
// (function names and lines from the program's DWARF or PDB debug information). Real Windows
// has no winedbg: the dump is then skipped and says so.
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
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) {
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
        std::fprintf(stderr, "watchdog: no winedbg to show the threads (error %lu)\n", ::GetLastError());
    } else {
        if (::WaitForSingleObject(debugger.hProcess, 30000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "watchdog: winedbg did not finish within 30 s\n");
            ::TerminateProcess(debugger.hProcess, 1);
        }
        ::CloseHandle(debugger.hThread);
        ::CloseHandle(debugger.hProcess);
    }
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

} // namespace

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
