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

iobox::sim::SimulatorConfig SimConfig(int companyType)
{
    iobox::sim::SimulatorConfig config;
    config.companyType = companyType;
    return config;
}

void AlarmRecorder::Install()
{
    iobox::CTCPConnMgr::Instance()->SetAlarmCallback(
        [](iobox::ModbusAlarmInfo* info, void* userData) {
            auto* self = static_cast<AlarmRecorder*>(userData);
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_records.push_back(*info);
        },
        this);
}

std::vector<iobox::ModbusAlarmInfo> AlarmRecorder::Records() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

bool AlarmRecorder::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const
{
    return testsupport::WaitFor([&] { return Count() >= count; }, timeout);
}

void RequestLog::Attach(iobox::sim::SimulatorConfig& config)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
    }
    config.onRequest = [this](const iobox::sim::RequestInfo& info) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(info);
    };
}

std::vector<iobox::sim::RequestInfo> RequestLog::Of(uint8_t function, uint64_t connection) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<iobox::sim::RequestInfo> out;
    for (const auto& r : m_requests) {
        if (r.function == function && (connection == 0 || r.connectionId == connection)) {
            out.push_back(r);
        }
    }
    return out;
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
    m_requests.Attach(config);
    m_sim = std::make_unique<iobox::sim::IOBoxSimulator>(std::move(config));
    const bool started = m_sim->Start();
    EXPECT_TRUE(started) << m_sim->LastError();
    return started;
}

int ModbusFixture::Login(int inputType, int companyType)
{
    const int handle =
        iobox::CTCPConnMgr::Instance()->RequestLogin(Loopback(m_sim->Port()), 12, 6, inputType, companyType);
    if (handle > 0) {
        m_handles.push_back(handle);
    }
    return handle;
}

int ModbusFixture::LoginAndSave(int inputType, int companyType)
{
    const int handle = Login(inputType, companyType);
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
