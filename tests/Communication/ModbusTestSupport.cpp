#include "ModbusTestSupport.h"

#include <atomic>
#include <sstream>
#include <thread>

#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "LoopbackServer.h"
#include "support/Process.h"

namespace modbustest {

iobox::ModbusTiming ShortTiming()
{
    iobox::ModbusTiming timing;
    timing.pollPeriodMs = 100;
    timing.connectSettleMs = 10;
    timing.offlineRetrySeconds = 0;
    return timing;
}

Marl::Net::TcpConnectParam Loopback(uint16_t port) { return transporttest::ClientParams(port, 1000, false); }

iobox::sim::SimulatorConfig SimConfig(int companyType, int inputs, int outputs)
{
    iobox::sim::SimulatorConfig config;
    config.companyType = companyType;
    config.inputs = inputs;
    config.outputs = outputs;
    return config;
}

void AlarmRecorder::Callback(iobox::ModbusAlarmInfo* info, void* userData)
{
    auto* self = static_cast<AlarmRecorder*>(userData);
    std::lock_guard<std::mutex> lock(self->m_mutex);
    self->m_records.push_back(*info);
}

void AlarmRecorder::Install() { iobox::CTCPConnMgr::Instance()->SetAlarmCallback(&AlarmRecorder::Callback, this); }

std::vector<iobox::ModbusAlarmInfo> AlarmRecorder::Records() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

std::size_t AlarmRecorder::Count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records.size();
}

bool AlarmRecorder::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const
{
    return testsupport::WaitFor([&] { return Count() >= count; }, timeout);
}

void RequestLog::Attach(iobox::sim::SimulatorConfig& config)
{
    config.onRequest = [this](const iobox::sim::RequestInfo& info) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(info);
        m_times.push_back(now);
    };
}

std::size_t RequestLog::Count(uint64_t connection, uint8_t function) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (const auto& r : m_requests) {
        n += (r.connectionId == connection && r.function == function) ? 1 : 0;
    }
    return n;
}

std::vector<iobox::sim::RequestInfo> RequestLog::Of(uint8_t function) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<iobox::sim::RequestInfo> out;
    for (const auto& r : m_requests) {
        if (r.function == function) {
            out.push_back(r);
        }
    }
    return out;
}

bool RequestLog::WaitFor(uint8_t function, std::size_t n, std::chrono::milliseconds timeout) const
{
    return testsupport::WaitFor([&] { return Of(function).size() >= n; }, timeout);
}

std::vector<std::chrono::steady_clock::time_point> RequestLog::TimesOf(uint8_t function) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::chrono::steady_clock::time_point> out;
    for (std::size_t i = 0; i < m_requests.size(); ++i) {
        if (m_requests[i].function == function) {
            out.push_back(m_times[i]);
        }
    }
    return out;
}

void RequestLog::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
    m_times.clear();
}

namespace {

std::string Describe(const OutputTraffic::States& states)
{
    std::ostringstream out;
    for (const auto& entry : states) {
        out << entry.first << "=" << entry.second << " ";
    }
    return out.str();
}

// What a read by the owner of `own`, after setting it to `state`, must show.
bool ReadIsRight(const OutputTraffic& traffic, const OutputTraffic::States& read, unsigned int own, unsigned int state)
{
    if (read.size() != traffic.fixed.size() + static_cast<std::size_t>(traffic.threads)) {
        return false;
    }
    for (const auto& entry : read) {
        const auto fixed = traffic.fixed.find(entry.first);
        if (fixed != traffic.fixed.end()) {
            if (entry.second != fixed->second) {
                return false;
            }
        } else if (entry.first == own ? entry.second != state : entry.second > 1) {
            return false;
        }
    }
    return true;
}

} // namespace

OutputTrafficResult RunOutputTraffic(const OutputTraffic& traffic, const iobox::sim::IOBoxSimulator& sim)
{
    std::atomic<int> readsOk{0};
    std::atomic<int> readsWrong{0};
    std::atomic<int> writesFailed{0};
    std::mutex wrongMutex;
    std::string firstWrong;
    const auto fixedOutput = *traffic.fixed.begin();
    const uint64_t pollsBefore = sim.RequestCount(kReadInputs);
    auto host = [&](int thread) {
        const unsigned int own = static_cast<unsigned int>(thread) + 1;
        for (int i = 0; i < traffic.iterations; ++i) {
            if (i % 10 == 0) {
                sim.WaitForRequests(kReadInputs, pollsBefore + static_cast<uint64_t>(i / 10), kWait);
            }
            const unsigned int state = static_cast<unsigned int>(i % 2);
            if (!traffic.write(static_cast<int>(own), static_cast<int>(state)) ||
                !traffic.write(static_cast<int>(fixedOutput.first), static_cast<int>(fixedOutput.second))) {
                ++writesFailed;
            }
            OutputTraffic::States read;
            const bool ok = traffic.read(read);
            if (ok && ReadIsRight(traffic, read, own, state)) {
                ++readsOk;
                continue;
            }
            ++readsWrong;
            std::lock_guard<std::mutex> lock(wrongMutex);
            if (firstWrong.empty()) {
                firstWrong = "thread " + std::to_string(thread) + " set output " + std::to_string(own) + " to " +
                             std::to_string(state) + ", read " + (ok ? Describe(read) : std::string("failed"));
            }
        }
    };
    std::vector<std::thread> threads;
    for (int k = 0; k < traffic.threads; ++k) {
        threads.emplace_back(host, k);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    OutputTrafficResult result;
    result.readsOk = readsOk.load();
    result.readsWrong = readsWrong.load();
    result.writesFailed = writesFailed.load();
    result.firstWrong = firstWrong;
    return result;
}

std::vector<std::string> Texts(const testsupport::LogCapture& log, const std::string& format)
{
    std::vector<std::string> texts;
    for (const auto& line : log.WithFormat(format)) {
        texts.push_back(line.text);
    }
    return texts;
}

void ModbusFixture::SetUp() { iobox::CTCPConnMgr::Instance()->SetTiming(m_timing); }

void ModbusFixture::TearDown()
{
    auto* manager = iobox::CTCPConnMgr::Instance();
    for (int handle : m_handles) {
        manager->Logout(handle);
    }
    manager->SetAlarmCallback(nullptr, nullptr);
    manager->SetTiming(iobox::ModbusTiming());
    m_sim.reset();
}

bool ModbusFixture::StartSim(iobox::sim::SimulatorConfig config)
{
    m_sim.reset();
    m_requests.Clear();
    m_requests.Attach(config);
    m_sim = std::make_unique<iobox::sim::IOBoxSimulator>(std::move(config));
    const bool started = m_sim->Start();
    EXPECT_TRUE(started) << m_sim->LastError();
    return started;
}

int ModbusFixture::Login(int inputNum, int outputNum, int inputType, int companyType)
{
    const int handle = iobox::CTCPConnMgr::Instance()->RequestLogin(Loopback(m_sim->Port()), inputNum, outputNum,
                                                                    inputType, companyType);
    if (handle > 0) {
        m_handles.push_back(handle);
    }
    return handle;
}

int ModbusFixture::LoginAndSave(int inputNum, int outputNum, int inputType, int companyType)
{
    const int handle = Login(inputNum, outputNum, inputType, companyType);
    if (handle > 0) {
        iobox::CTCPConnMgr::Instance()->SaveAdamDeviceGuid(handle, {GuidOf(handle), DeviceIdOf(handle)});
    }
    return handle;
}

bool ModbusFixture::ConnLogged(int level, const std::string& func, const std::string& text) const
{
    return m_log.HasLine(level, "[iobox::CModbusTCPConn::" + func + "]" + text, kConnSource);
}

std::vector<int> ModbusFixture::StatusCodes() const
{
    std::vector<int> codes;
    for (const auto& record : m_host.deviceManager->StatusNotifications()) {
        codes.push_back(record.statusCode);
    }
    return codes;
}

} // namespace modbustest
