#pragma once
#include <memory>
#include <string>
#include <vector>
#include <atomic>
#include <mutex>

#include "Marl/Base/Export.h"

namespace Marl { namespace Base {
namespace details {

// printf-style log call of the host. Every plug-in line goes through here.
// assumed: the void result.
MARL_API void IOstraFormatLog(int level, const char* module, const char* format, ...)
    MARL_PRINTF(3, 4);

} // namespace details

// Where formatted log lines go. One sink is installed per process.
class MARL_API ILogSink {
public:
    virtual ~ILogSink();
    // format is the unformatted printf format the caller passed; text the formatted line.
    virtual void Write(int level, const std::string& module, const std::string& format,
                       const std::string& text) = 0;
    // Lines below this level are dropped before they are formatted.
    virtual int MinLevel() const;
};

// Writes "time level module text" to stderr for lines at or above the minimum level.
class MARL_API CStderrLogSink : public ILogSink {
public:
    explicit CStderrLogSink(int minLevel = 3);
    void Write(int level, const std::string& module, const std::string& format,
               const std::string& text) override;
    void SetMinLevel(int level);
    int GetMinLevel() const;
    int MinLevel() const override;

private:
    std::atomic<int> m_minLevel;
};

// Keeps every line in memory; tests assert on it.
class MARL_API CCaptureLogSink : public ILogSink {
public:
    struct Line {
        int level;
        std::string module;
        std::string format;
        std::string text;
    };
    void Write(int level, const std::string& module, const std::string& format,
               const std::string& text) override;
    std::vector<Line> Lines() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

// Installs a sink and returns the previous one; an empty pointer restores the stderr default.
MARL_API std::shared_ptr<ILogSink> SetLogSink(std::shared_ptr<ILogSink> sink);
MARL_API std::shared_ptr<ILogSink> GetLogSink();

// Human-readable name of a level (2 TRACE, 3 INFO, 4 WARN, 5 ERROR).
MARL_API const char* LogLevelName(int level);

}} // namespace Marl::Base
