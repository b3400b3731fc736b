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

bool ChildProcess::TakeLine(std::string& line)
{
    const auto newline = m_buffer.find('\n');
    if (newline == std::string::npos) {
        return false;
    }
    line = m_buffer.substr(0, newline);
    m_buffer.erase(0, newline + 1);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back(); // a Windows child's text mode
    }
    return true;
}

bool ChildProcess::TakeRest(std::string& line)
{
    if (m_buffer.empty()) {
        return false;
    }
    line.swap(m_buffer);
    m_buffer.clear();
    return true;
}

double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace bench
