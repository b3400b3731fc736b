#pragma once
// What iobox-host needs from the operating system, in one place: loading the module as the
// host does, where the executable lies, whether a stream is a terminal, and Ctrl-C.

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>

namespace iobox::host::platform {

// The system's module loader by the name its users know it: "LoadLibrary" or "dlopen".
extern const char* const kModuleLoader;
// The loaded module's handle, or nullptr with the loader's reason in `error`.
void* OpenModule(const std::string& path, std::string& error);
void* ModuleSymbol(void* module, const char* name);
// 0 when the module was let go of, as dlclose reports it.
int CloseModule(void* module);

// The directory holding the running executable, "" when it cannot be told.
std::string ExecutableDir();

// A path given on the command line as the loader can open it: on Windows a Unix path that is
// not found as written is tried on drive Z:, where Wine shows the Unix file system.
std::string NativePath(const std::string& path);

// Blocks until stdin has bytes; how many were read, 0 at its end or on an error.
long ReadStdin(char* buffer, std::size_t size);

bool IsTerminal(std::FILE* stream);
// A terminal that moves the cursor on "\r\033[K" (on Windows once asked to).
bool TerminalTakesEscapes(std::FILE* stream);

// The first Ctrl-C (or SIGTERM) sets `stop`, which must outlive the process's run; a second
// one ends the process at once. A closed stdout pipe makes writes fail instead of ending it.
void InstallStopHandlers(std::atomic<bool>& stop);

} // namespace iobox::host::platform
