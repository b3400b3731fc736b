#pragma once
// iobox-host --check: what an integrator runs against an installed plug-in before the host does.

#include <string>

namespace iobox::host {

// Loads the module, finds its five exports, calls Init and Unit and unloads it, printing one
// line per finding on stdout (plug-in log lines at or above logLevel on stderr). The process
// exit code: 0 when everything held, 1 otherwise.
int RunPluginCheck(const std::string& pluginPath, int logLevel);

} // namespace iobox::host
