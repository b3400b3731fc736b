#include "ModbusTestSupport.h"

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
