#pragma once
// The stand-in host as the tests set it up (platform managers, I/O boxes with alarm input
// channels, the event worker thread), keeping only a count of delivered events, and a log
// that costs nothing below errors.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EventManager/EventTestHost.h"
#include "Marl/Base/Log.h"
#include "support/HostEnvironment.h"

namespace bench {

const char* const kEventWorkerName = eventtest::kWorkerName;
using EventWorker = eventtest::ReservedWorker;

class BenchHost : public testsupport::HostEnvironment {
public:
    BenchHost();
    // A host I/O box with inputs 1..inputs as alarm input channels (ids id * 100 + no).
    std::shared_ptr<dam::CDevice> AddBox(int id, const std::string& guid, int inputs);
};

// Drops every line below level 5 before it is formatted (as the stderr sink does), counts the
// rest and keeps the first few for the report.
class CountingLogSink : public Marl::Base::ILogSink {
public:
    void Write(int level, const std::string& module, const std::string& format, const std::string& text) override;
    int MinLevel() const override { return 5; }
    long Count() const { return m_count.load(); }
    std::vector<std::string> First() const;
    // How many lines each format produced.
    std::map<std::string, long> ByFormat() const;

private:
    std::atomic<long> m_count{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_first;
    std::map<std::string, long> m_byFormat;
};

// Installs a CountingLogSink for the life of the object.
class QuietLog {
public:
    QuietLog();
    ~QuietLog();
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;
    const CountingLogSink& Sink() const { return *m_sink; }

private:
    std::shared_ptr<CountingLogSink> m_sink;
    std::shared_ptr<Marl::Base::ILogSink> m_previous;
};

} // namespace bench
