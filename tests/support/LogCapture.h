#pragma once
#include <memory>
#include <string>
#include <vector>

#include "Marl/Base/Log.h"

namespace testsupport {

// Installs a capture sink for the life of the object and restores the previous sink after.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Marl::Base::CCaptureLogSink::Line> Lines() const { return m_sink->Lines(); }
    void Clear() { m_sink->Clear(); }

    // Lines logged with exactly this printf format (as the plug-in passes it).
    std::vector<Marl::Base::CCaptureLogSink::Line> WithFormat(const std::string& format) const;
    std::size_t CountFormat(const std::string& format) const { return WithFormat(format).size(); }
    // Lines whose formatted text equals prefix + "[" + sourcePath + "(<line>)]".
    std::size_t CountLine(int level, const std::string& prefix, const std::string& sourcePath) const;
    bool HasLine(int level, const std::string& prefix, const std::string& sourcePath) const
    {
        return CountLine(level, prefix, sourcePath) > 0;
    }
    // Lines whose text contains the fragment.
    std::size_t CountContaining(const std::string& fragment) const;
    // Every line, one per row, for failure messages.
    std::string Dump() const;

private:
    std::shared_ptr<Marl::Base::CCaptureLogSink> m_sink;
    std::shared_ptr<Marl::Base::ILogSink> m_previous;
};

// True when text is prefix + "[" + sourcePath + "(<digits>)]".
bool MatchesLine(const std::string& text, const std::string& prefix, const std::string& sourcePath);

} // namespace testsupport
