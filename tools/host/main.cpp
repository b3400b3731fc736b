// iobox-host: the emulated host application. Loads the iobox.d module as the host does and shows
// what the host sees.

#include "HostOptions.h"
#include "HostPlatform.h"
#include "PluginCheck.h"
#include "Session.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#ifndef IOBOX_VERSION
#error "IOBOX_VERSION is the project's version"
#endif

namespace {

// Set by the first Ctrl-C; lives as long as the process.
std::atomic<bool> g_interrupted{false};

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
    if (options.version) {
        std::fputs("iobox-host " IOBOX_VERSION "\n", stdout);
        return 0;
    }
    const std::string plugin = options.pluginPath.empty()
        ? iobox::host::DefaultPluginPath(iobox::host::platform::ExecutableDir())
        : options.pluginPath;
    if (options.check) {
        return iobox::host::RunPluginCheck(plugin, options.logLevel);
    }
    iobox::host::platform::InstallStopHandlers(g_interrupted);
    iobox::host::Session session(options, plugin, g_interrupted);
    return session.Run();
}
