#include "Console.h"

#include "HostPlatform.h"

namespace iobox::host {

Console::Console(bool json)
    : m_json(json),
      m_narration(json ? stderr : stdout),
      m_statusOnTerminal(platform::TerminalTakesEscapes(json ? stderr : stdout))
{
}

void Console::WipeLocked()
{
    if (m_statusVisible) {
        std::fputs("\r\033[K", m_narration);
        std::fflush(m_narration);
        m_statusVisible = false;
    }
}

void Console::Say(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    WipeLocked();
    std::fprintf(m_narration, "%s\n", line.c_str());
    std::fflush(m_narration);
}

void Console::Error(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    WipeLocked();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void Console::Event(const std::string& json, const std::string& readable)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    WipeLocked();
    if (m_json) {
        std::fprintf(stdout, "%s\n", json.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(m_narration, "%s\n", readable.c_str());
        std::fflush(m_narration);
    }
}

void Console::Status(const std::string& text)
{
    if (!m_statusOnTerminal) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fprintf(m_narration, "\r\033[K%s", text.c_str());
    std::fflush(m_narration);
    m_statusVisible = true;
}

void Console::ClearStatus()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    WipeLocked();
}

bool Console::StatusShown() const { return m_statusOnTerminal; }

Console::LogSink::LogSink(Console& console, int minLevel) : m_console(console), m_stderr(minLevel) {}

int Console::LogSink::MinLevel() const { return m_stderr.GetMinLevel(); }

void Console::LogSink::Write(int level, const std::string& module, const std::string& format,
                             const std::string& text)
{
    if (level < m_stderr.GetMinLevel()) {
        return;
    }
    // The stderr sink writes one line and calls nothing else, so holding the console's lock
    // across it only orders it among the other lines.
    std::lock_guard<std::mutex> lock(m_console.m_mutex);
    m_console.WipeLocked();
    m_stderr.Write(level, module, format, text);
}

} // namespace iobox::host
