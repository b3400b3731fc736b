#include "BenchHost.h"

namespace bench {

namespace {
constexpr std::size_t kKeptLines = 5;
}

BenchHost::BenchHost() { capacityManager->SetKeepEvents(false); }

std::shared_ptr<dam::CDevice> BenchHost::AddBox(int id, const std::string& guid, int inputs)
{
    return eventtest::AddBox(*this, {id, guid, "bench box " + std::to_string(id), inputs,
                                     static_cast<unsigned int>(id) * 100U});
}

void CountingLogSink::Write(int level, const std::string&, const std::string& format, const std::string& text)
{
    if (level < MinLevel()) {
        return;
    }
    ++m_count;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_byFormat[format];
    if (m_first.size() < kKeptLines) {
        m_first.push_back(text);
    }
}

std::vector<std::string> CountingLogSink::First() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_first;
}

std::map<std::string, long> CountingLogSink::ByFormat() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_byFormat;
}

QuietLog::QuietLog() : m_sink(std::make_shared<CountingLogSink>()) { m_previous = Marl::Base::SetLogSink(m_sink); }

QuietLog::~QuietLog() { Marl::Base::SetLogSink(m_previous); }

} // namespace bench
