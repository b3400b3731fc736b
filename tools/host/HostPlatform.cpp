#include "HostPlatform.h"

#include <csignal>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#endif

namespace iobox::host::platform {

namespace {

std::atomic<bool>* g_stop = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef _WIN32
bool Exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::wstring Wide(const std::string& text)
{
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
    }
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Narrow(const std::wstring& wide)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 1u, '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], n, nullptr, nullptr);
    }
    text.resize(text.size() - 1);
    return text;
}

std::string LastErrorText()
{
    const DWORD code = ::GetLastError();
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string why = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    ::LocalFree(text);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ' || why.back() == '.')) {
        why.pop_back();
    }
    return "error " + std::to_string(code) + (why.empty() ? "" : ": " + why);
}

// The C runtime calls this on the console's control thread with SIGINT already reset to its
// default, so a second Ctrl-C ends the process.
extern "C" void OnStopSignal(int signal)
{
    std::signal(signal, SIG_DFL);
    g_stop->store(true);
}
#else
extern "C" void OnStopSignal(int) { g_stop->store(true); }
#endif

} // namespace

#ifdef _WIN32

const char* const kModuleLoader = "LoadLibrary";

void* OpenModule(const std::string& path, std::string& error)
{
    HMODULE module = ::LoadLibraryW(Wide(path).c_str());
    if (module == nullptr) {
        error = path + ": " + LastErrorText();
    }
    return reinterpret_cast<void*>(module);
}

void* ModuleSymbol(void* module, const char* name)
{
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

int CloseModule(void* module) { return ::FreeLibrary(static_cast<HMODULE>(module)) ? 0 : -1; }

std::string ExecutableDir()
{
    std::wstring path(32768, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) {
        return {};
    }
    path.resize(n);
    return Narrow(std::filesystem::path(path).parent_path().wstring());
}

std::string NativePath(const std::string& path)
{
    if (path.size() < 2 || path[0] != '/' || path[1] == '/' || Exists(path)) {
        return path;
    }
    std::string onZ = "Z:" + path;
    for (char& c : onZ) {
        c = c == '/' ? '\\' : c;
    }
    return Exists(onZ) ? onZ : path;
}

long ReadStdin(char* buffer, std::size_t size)
{
    DWORD n = 0;
    const BOOL ok = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &n, nullptr);
    return ok ? static_cast<long>(n) : 0;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

bool TerminalTakesEscapes(std::FILE* stream)
{
    if (!IsTerminal(stream)) {
        return false;
    }
    HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    return ::GetConsoleMode(console, &mode) &&
        ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

void InstallStopHandlers(std::atomic<bool>& stop)
{
    g_stop = &stop;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGBREAK, OnStopSignal);
}

#else

const char* const kModuleLoader = "dlopen";

void* OpenModule(const std::string& path, std::string& error)
{
    ::dlerror();
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "dlopen failed";
    }
    return module;
}

void* ModuleSymbol(void* module, const char* name) { return ::dlsym(module, name); }

int CloseModule(void* module) { return ::dlclose(module); }

std::string ExecutableDir()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return {};
    }
    return std::filesystem::path(std::string(path, static_cast<std::size_t>(n))).parent_path().string();
}

std::string NativePath(const std::string& path) { return path; }

long ReadStdin(char* buffer, std::size_t size)
{
    for (int i = 0; i < 100; ++i) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, size);
        if (n >= 0 || errno != EINTR) {
            return n > 0 ? static_cast<long>(n) : 0;
        }
    }
    return 0;
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool TerminalTakesEscapes(std::FILE* stream) { return IsTerminal(stream); }

void InstallStopHandlers(std::atomic<bool>& stop)
{
    g_stop = &stop;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // The first Ctrl-C shuts down through Stop and Unit; a second one ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

#endif

} // namespace iobox::host::platform
