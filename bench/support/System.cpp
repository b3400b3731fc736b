#include "System.h"

// What the POSIX and the Windows side share (SystemPosix.cpp, SystemWindows.cpp).
namespace bench {

bool ChildProcess::WaitForLine(const std::string& prefix, std::string& rest, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    for (int lines = 0; lines < 100000; ++lines) {
        if (!ReadLine(line, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()))) {
            return false;
        }
        if (line.compare(0, prefix.size(), prefix) == 0) {
            rest = line.substr(prefix.size());
            return true;
        }
    }
    return false;
}

double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace bench
