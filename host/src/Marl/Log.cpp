#include "Marl/Base/Log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <shared_mutex>

#include "Platform/HostPlatform.h"

namespace Marl { namespace Base {

namespace {

std::shared_mutex g_sinkMutex; // every log call reads the slot; only set-up writes it
std::shared_ptr<ILogSink>& SinkSlot()
{
    static std::shared_ptr<ILogSink> sink = std::make_shared<CStderrLogSink>();
    return sink;
}

} // namespace

ILogSink::~ILogSink() = default;
int ILogSink::MinLevel() const { return 0; }

const char* LogLevelName(int level)
{
    switch (level) {
    case 0:
    case 1:
    case 2: return "TRACE";
    case 3: return "INFO";
    case 4: return "WARN";
    default: return "ERROR";
    }
}

CStderrLogSink::CStderrLogSink(int minLevel) : m_minLevel(minLevel) {}

void CStderrLogSink::SetMinLevel(int level) { m_minLevel = level; }
int CStderrLogSink::GetMinLevel() const { return m_minLevel; }
int CStderrLogSink::MinLevel() const { return m_minLevel; }

void CStderrLogSink::Write(int level, const std::string& module, const std::string&, const std::string& text)
{
    if (level < m_minLevel) {
        return;
    }
    time_t seconds = 0;
    int milliseconds = 0;
    Platform::WallClockNow(seconds, milliseconds);
    tm local{};
    Platform::LocalTime(seconds, local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // One fprintf per line keeps concurrent lines whole.
    std::fprintf(stderr, "%s.%03ld %-5s %s %s\n", stamp, static_cast<long>(milliseconds), LogLevelName(level),
                 module.c_str(), text.c_str());
}

void CCaptureLogSink::Write(int level, const std::string& module, const std::string& format, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(Line{level, module, format, text});
}

std::vector<CCaptureLogSink::Line> CCaptureLogSink::Lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

void CCaptureLogSink::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

std::shared_ptr<ILogSink> SetLogSink(std::shared_ptr<ILogSink> sink)
{
    if (!sink) {
        sink = std::make_shared<CStderrLogSink>();
    }
    std::unique_lock<std::shared_mutex> lock(g_sinkMutex);
    std::shared_ptr<ILogSink> previous = SinkSlot();
    SinkSlot() = std::move(sink);
    return previous;
}

std::shared_ptr<ILogSink> GetLogSink()
{
    std::shared_lock<std::shared_mutex> lock(g_sinkMutex);
    return SinkSlot();
}

namespace details {

void IOstraFormatLog(int level, const char* module, const char* format, ...)
{
    if (format == nullptr) {
        return;
    }
    std::shared_ptr<ILogSink> sink = GetLogSink();
    if (!sink || level < sink->MinLevel()) {
        return; // traces nobody reads cost no formatting
    }
    char small[512];
    std::string text;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        text.assign(small, static_cast<size_t>(needed));
    } else {
        text.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(&text[0], text.size(), format, copy);
        text.resize(static_cast<size_t>(needed));
    }
    va_end(copy);
    sink->Write(level, module ? module : "", format, text);
}

} // namespace details
}} // namespace Marl::Base
