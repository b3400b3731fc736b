#include "support/LogCapture.h"

#include <cctype>
#include <sstream>

namespace testsupport {

LogCapture::LogCapture() : m_sink(std::make_shared<Marl::Base::CCaptureLogSink>())
{
    m_previous = Marl::Base::SetLogSink(m_sink);
}

LogCapture::~LogCapture() { Marl::Base::SetLogSink(m_previous); }

std::vector<Marl::Base::CCaptureLogSink::Line> LogCapture::WithFormat(const std::string& format) const
{
    std::vector<Marl::Base::CCaptureLogSink::Line> out;
    for (const auto& line : m_sink->Lines()) {
        if (line.format == format) {
            out.push_back(line);
        }
    }
    return out;
}

bool MatchesLine(const std::string& text, const std::string& prefix, const std::string& sourcePath)
{
    const std::string head = prefix + "[" + sourcePath + "(";
    if (text.compare(0, head.size(), head) != 0 || text.size() < head.size() + 3) {
        return false;
    }
    if (text.compare(text.size() - 2, 2, ")]") != 0) {
        return false;
    }
    const std::string digits = text.substr(head.size(), text.size() - 2 - head.size());
    if (digits.empty()) {
        return false;
    }
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::size_t LogCapture::CountLine(int level, const std::string& prefix, const std::string& sourcePath) const
{
    std::size_t n = 0;
    for (const auto& line : m_sink->Lines()) {
        if (line.level == level && MatchesLine(line.text, prefix, sourcePath)) {
            ++n;
        }
    }
    return n;
}

std::size_t LogCapture::CountContaining(const std::string& fragment) const
{
    std::size_t n = 0;
    for (const auto& line : m_sink->Lines()) {
        if (line.text.find(fragment) != std::string::npos) {
            ++n;
        }
    }
    return n;
}

std::string LogCapture::Dump() const
{
    std::ostringstream out;
    for (const auto& line : m_sink->Lines()) {
        out << line.level << ' ' << line.module << ' ' << line.text << '\n';
    }
    return out.str();
}

} // namespace testsupport
