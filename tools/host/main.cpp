// iobox-host: the emulated host application. Loads iobox.d.so as the host does and shows what
// the host sees.

#include "HostOptions.h"
#include "Session.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnStopSignal(int) { g_interrupted.store(true); }

void InstallSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // The first Ctrl-C shuts down through Stop and Unit; a second one ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed stdout pipe makes writes fail instead of ending the process.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

std::string ExecutableDir()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return {};
    }
    const std::string exe(path, static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    iobox::host::HostOptions options;
    std::string error;
    if (!iobox::host::ParseHostOptions(args, options, error)) {
        std::fprintf(stderr, "iobox-host: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(iobox::host::kHostUsage, stdout);
        return 0;
    }
    InstallSignalHandlers();
    const std::string plugin =
        options.pluginPath.empty() ? iobox::host::DefaultPluginPath(ExecutableDir()) : options.pluginPath;
    iobox::host::Session session(options, plugin, g_interrupted);
    return session.Run();
}
