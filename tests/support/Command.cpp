#include "support/Command.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testsupport {

#ifdef _WIN32
// One argument as the C runtime's command-line parser takes it apart again.
std::string QuotedArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(backslashes * 2, '\\') + "\"";
}
#endif

namespace {

constexpr int kKilled = 137;   // what a shell reports for a child ended by SIGKILL

// A fresh directory for one run's files.
std::filesystem::path RunDirectory()
{
    static std::atomic<int> runs{0};
#ifdef _WIN32
    const auto pid = static_cast<long>(::GetCurrentProcessId());
#else
    const auto pid = static_cast<long>(::getpid());
#endif
    auto dir = std::filesystem::temp_directory_path() /
        ("iobox_command_" + std::to_string(pid) + "_" + std::to_string(runs++));
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

#ifdef _WIN32

HANDLE Inheritable(const std::filesystem::path& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return ::CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Run(const std::string& program, const std::vector<std::string>& args, const std::string& input, int timeoutS,
        const std::filesystem::path& out, const std::filesystem::path& err)
{
    std::string line = QuotedArgument(program);
    for (const auto& arg : args) {
        line += " " + QuotedArgument(arg);
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE inRead = nullptr;
    HANDLE inWrite = nullptr;
    // A pipe large enough for the whole input, so writing it never waits for the child.
    if (!::CreatePipe(&inRead, &inWrite, &sa, static_cast<DWORD>(input.size() + 4096))) {
        return -1;
    }
    ::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    DWORD written = 0;
    ::WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    ::CloseHandle(inWrite);
    HANDLE outFile = Inheritable(out, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE errFile = Inheritable(err, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outFile;
    si.hStdError = errFile;
    PROCESS_INFORMATION pi{};
    const BOOL started = ::CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    for (HANDLE h : {inRead, outFile, errFile}) {
        ::CloseHandle(h);
    }
    if (!started) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(pi.hProcess, static_cast<DWORD>(timeoutS) * 1000) != WAIT_OBJECT_0) {
        ::TerminateProcess(pi.hProcess, kKilled);
        ::WaitForSingleObject(pi.hProcess, 5000);
    }
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

#else

int Run(const std::string& program, const std::vector<std::string>& args, const std::string& input, int timeoutS,
        const std::filesystem::path& out, const std::filesystem::path& err)
{
    // A child that exits without reading its input must not end this process by SIGPIPE.
    static const bool pipeIgnored = ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)pipeIgnored;
    int in[2];
    if (::pipe(in) != 0) {
        return -1;
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || ::dup2(in[0], 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) {
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(in[1]);
        ::close(o);
        ::close(e);
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    // The input fits the pipe (64 KiB), so it goes in whole without waiting for the child; a
    // child that has already exited makes the write fail, which is no fault of the run.
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    const ssize_t n = pid > 0 ? ::write(in[1], input.data(), input.size()) : 0;
    const bool inputCut = n >= 0 && static_cast<std::size_t>(n) < input.size();
    ::close(in[1]);
    if (pid < 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutS);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFSIGNALED(status)) {
        return WTERMSIG(status) == SIGKILL ? kKilled : 128 + WTERMSIG(status);
    }
    return WIFEXITED(status) && !inputCut ? WEXITSTATUS(status) : -1;
}

#endif

} // namespace

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);   // text mode: a Windows child's "\r\n" reads as "\n"
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                         int timeoutS, const std::string& outPath)
{
    const auto dir = RunDirectory();
    const std::filesystem::path out = outPath.empty() ? dir / "out" : std::filesystem::path(outPath);
    CommandResult result;
    result.exitCode = Run(program, args, input, timeoutS, out, dir / "err");
    result.out = ReadFile(out.string());
    result.err = ReadFile((dir / "err").string());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return result;
}

} // namespace testsupport
