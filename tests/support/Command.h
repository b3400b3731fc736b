#pragma once
// A command run as a child process, without a shell, with its standard streams in files, for the
// tests of the tools. A command that outlives its time is killed, so every run is bounded.

#include <string>
#include <vector>

namespace testsupport {

struct CommandResult {
    int exitCode = -1; // 137 when the time-out killed the command
    std::string out;
    std::string err;
};

// Runs program with args, `input` (at most what a pipe holds, 64 KiB) piped to its stdin, for at
// most timeoutS seconds. While it runs, what it printed so far can be read from outPath when one
// is given.
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, int timeoutS, const std::string& outPath = "");

// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);

#ifdef _WIN32
// One argument of a command line as the C runtime's parser takes it apart again.
std::string QuotedArgument(const std::string& arg);
#endif

} // namespace testsupport
