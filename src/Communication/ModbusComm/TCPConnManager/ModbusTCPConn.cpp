#include "Communication/ModbusComm/TCPConnManager/ModbusTCPConn.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "Common/Error.h"
#include "Common/Log.h"
#include "Common/Timer.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusFrame.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "dam/Channel.h"
#include "dam/Operation.h"

namespace iobox {

namespace {

constexpr uint8_t kPollUnit = 0x00;
constexpr int kInputChannelType = 4;
constexpr int kOutputChannelType = 5;


template <class Channel>
void AppendChannels(std::vector<std::shared_ptr<Channel>>& out, int count, int channelType, const char* nameFormat)
{
    for (int i = 1; i <= count; ++i) {
        auto channel = std::make_shared<Channel>();
        char name[32];
        std::snprintf(name, sizeof(name), nameFormat, i);
        channel->SetVal_channel_type(channelType);
        channel->SetVal_no(i);
        channel->SetVal_name(name);
        channel->SetVal_enable(true);
        out.push_back(std::move(channel));
    }
}

} // namespace

// The exchange turn for one exchange; it counts as failed unless Succeeded is called.
class CModbusTCPConn::Turn {
public:
    explicit Turn(CModbusTCPConn& conn) : m_conn(conn) {}
    ~Turn() { m_conn.EndTurn(m_failed); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    void Succeeded() { m_failed = false; }

private:
    CModbusTCPConn& m_conn;
    bool m_failed = true;
};

CModbusTCPConn::CModbusTCPConn() : CModbusTCPConn(CTCPConnMgr::Instance()->GetTiming()) {}

CModbusTCPConn::CModbusTCPConn(const ModbusTiming& timing)
    : m_client(std::make_shared<TcpClientHandle>()), m_timing(timing)
{
}

CModbusTCPConn::~CModbusTCPConn() { Stop(); }

bool CModbusTCPConn::Init(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType,
                          int companyType)
{
    if (!Open(param, inputNum, outputNum, inputType, companyType)) {
        return false;
    }
    StartPolling();
    return true;
}

bool CModbusTCPConn::Open(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType,
                          int companyType)
{
    m_param = param;
    if (!Connect()) {
        return false;
    }
    m_inputNum = inputNum;
    m_outputNum = outputNum;
    m_inputType = inputType;
    m_companyType = companyType;
    return true;
}

void CModbusTCPConn::StartPolling()
{
    // The poll holds its connection for the length of one poll, never between polls: a host
    // that logs the device out from inside a notification of the poll releases the
    // connection while the poll still runs on it. The poll may then hold the last reference
    // and destroy the connection on its own timer thread when it returns; Stop there cannot
    // join the thread it runs on, so CTimer hands the thread on to be joined later (at the
    // next login or logout, and when the manager goes). Every other Stop comes from a thread
    // that holds its own reference and joins the timer thread, which has let go by then.
    std::weak_ptr<CModbusTCPConn> self = weak_from_this();
    // Under the stop lock: a stop requested before (Unit while the login was on its way) starts
    // nothing, one requested after finds the timer.
    std::lock_guard<std::mutex> lock(m_stopMutex);
    if (m_stopping) {
        return;
    }
    m_timer = std::make_shared<CTimer>([self]() {
        if (const auto conn = self.lock()) {
            conn->OnPollTimer();
        }
    });
    m_timer->Start(m_timing.pollPeriodMs, true);
}

std::shared_ptr<CTimer> CModbusTCPConn::Timer()
{
    std::lock_guard<std::mutex> lock(m_stopMutex);
    return m_timer;
}

bool CModbusTCPConn::Connect()
{
    TouchActivity();
    if (!m_client->Connect(m_param)) {
        return false;
    }
    return Settle() && m_client->IsConnected();
}

bool CModbusTCPConn::Settle()
{
    std::unique_lock<std::mutex> lock(m_stopMutex);
    return !m_stopWake.wait_for(lock, std::chrono::milliseconds(m_timing.connectSettleMs),
                                [this] { return m_stopping.load(); });
}

bool CModbusTCPConn::CheckConnection()
{
    if (!m_client || !m_client->Reconnect() || !m_client->IsConnected()) {
        return false;
    }
    TouchActivity();
    return true;
}

bool CModbusTCPConn::TakeTurn(bool hostRequest)
{
    std::unique_lock<std::mutex> lock(m_turnMutex);
    const uint64_t failedBefore = m_failedExchanges;
    const auto free = [this] { return !m_turnTaken; };
    if (!hostRequest || m_param.receiveTimeoutMs == 0) {
        m_turnFree.wait(lock, free);
    } else if (!m_turnFree.wait_for(lock, std::chrono::milliseconds(m_param.receiveTimeoutMs), free)) {
        return false;
    }
    if (hostRequest && m_failedExchanges != failedBefore) {
        return false; // the device did not answer the exchange this request waited for
    }
    m_turnTaken = true;
    return true;
}

void CModbusTCPConn::EndTurn(bool failed)
{
    {
        std::lock_guard<std::mutex> lock(m_turnMutex);
        m_turnTaken = false;
        m_failedExchanges += failed ? 1 : 0;
    }
    m_turnFree.notify_all(); // every waiting host request has to look at the result
}

bool CModbusTCPConn::Exchange(const std::string& request, std::string& reply, bool hostRequest)
{
    if (!TakeTurn(hostRequest)) {
        return false;
    }
    Turn turn(*this);
    int unreadWrites = m_unreadWriteReplies;
    m_unreadWriteReplies = 0;
    uint16_t transaction = 0;
    modbus::TransactionOf(request, transaction);
    Marl::Net::StickyParam sticky = modbus::ReadReplyFraming();
    if (!m_client->SendDataByHeadSticky(sticky, request)) {
        NoteUnansweredRead(transaction, sticky);
        return false;
    }
    reply = sticky.head + sticky.body;
    // The device answers in order, so this request's reply follows the late ones. Each late
    // reply passed over is forgotten, so the loop ends.
    while (IsLateReply(reply, transaction, unreadWrites)) {
        Marl::Net::StickyParam next = modbus::ReadReplyFraming();
        // Nothing to send: the framed read takes the next reply as it is.
        if (!m_client->SendDataByHeadSticky(next, std::string())) {
            NoteUnansweredRead(transaction, next);
            return false;
        }
        reply = next.head + next.body;
    }
    turn.Succeeded();
    return true;
}

bool CModbusTCPConn::IsLateReply(const std::string& reply, uint16_t transaction, int& unreadWrites)
{
    if (unreadWrites > 0 && modbus::IsWriteReply(reply)) {
        --unreadWrites;
        return true;
    }
    uint16_t replyTransaction = 0;
    if (m_lateReads.empty() || !modbus::TransactionOf(reply, replyTransaction) || replyTransaction == transaction) {
        return false;
    }
    const auto late = std::find(m_lateReads.begin(), m_lateReads.end(), replyTransaction);
    if (late == m_lateReads.end()) {
        return false;
    }
    m_lateReads.erase(late);
    return true;
}

void CModbusTCPConn::NoteUnansweredRead(uint16_t transaction, const Marl::Net::StickyParam& sticky)
{
    // A reply broken off part-way cannot be recognised later; only whole replies are awaited.
    if (!sticky.head.empty()) {
        return;
    }
    // Replies later than a few exchanges are long cleared from the socket or never come.
    constexpr std::size_t kLateReadsKept = 8;
    if (m_lateReads.size() >= kLateReadsKept) {
        m_lateReads.pop_front();
    }
    m_lateReads.push_back(transaction);
}

bool CModbusTCPConn::SendWrite(const std::string& request)
{
    if (!TakeTurn(true)) {
        return false;
    }
    Turn turn(*this);
    if (!m_client->SendDataNoReceive(request)) {
        return false;
    }
    ++m_unreadWriteReplies;
    turn.Succeeded();
    return true;
}

void CModbusTCPConn::TouchActivity() { m_lastActivity.store(m_timing.tick()); }

int64_t CModbusTCPConn::MsSinceActivity() const
{
    return static_cast<int64_t>(m_timing.tick() - m_lastActivity.load());
}

bool CModbusTCPConn::TryLogin()
{
    if (m_client->IsConnected()) {
        return true;
    }
    if (m_offline) {
        if (MsSinceActivity() > static_cast<int64_t>(m_timing.offlineRetrySeconds) * 1000 && Connect()) {
            IOBOX_LOG(4, "iobox::CModbusTCPConn::TryLogin", "device login success, handle[%d].", m_client->GetId());
            m_offline = false;
            m_failureCount = 0;
            CTCPConnMgr::Instance()->ReportDeviceStatus(this, CTCPConnMgr::kStatusOnline);
            return true;
        }
        return false;
    }
    if (CheckConnection()) {
        m_failureCount = 0;
        return true;
    }
    if (m_stopping) {
        return false; // a check cut short by Stop says nothing about the device
    }
    if (++m_failureCount >= m_timing.failedChecksBeforeOffline) {
        IOBOX_LOG(4, "iobox::CModbusTCPConn::TryLogin", "device logOut, handle[%d].", m_client->GetId());
        m_failureCount = 0;
        m_offline = true;
        m_client->Disconnect();
        CTCPConnMgr::Instance()->ReportDeviceStatus(this, CTCPConnMgr::kStatusOffline);
    }
    return false;
}

void CModbusTCPConn::OnPollTimer()
{
    // A stop, also one from inside this poll's own status notification, ends the poll here.
    if (m_stopping || !TryLogin() || m_stopping) {
        return;
    }
    std::vector<ModbusAlarmInfo> inputs;
    if (!GetInputStatus(kPollUnit, inputs)) {
        return;
    }
    for (auto& info : inputs) {
        if (info.type == 0 && info.alarm == 1) {
            CTCPConnMgr::Instance()->ShowAlarm(this, &info);
        }
    }
}

bool CModbusTCPConn::GetInputStatus(uint8_t unitId, std::vector<ModbusAlarmInfo>& out)
{
    const std::string request = modbus::BuildReadInputsRequest(modbus::NextTransaction(), unitId, m_inputNum);
    std::string reply;
    if (!Exchange(request, reply, false)) {
        if (m_stopping) {
            return false; // cut short by Stop
        }
        IOBOX_LOG(4, "iobox::CModbusTCPConn::GetInputStatus", "GetInputStatus SynSendData failed, handle id[%d].",
                  m_client->GetId());
        SetError(kErrorExchangeFailed);
        m_client->Close();
        return false;
    }
    TouchActivity();
    if (!modbus::ParseInputRecvData(reply, m_inputNum, m_inputType, out)) {
        IOBOX_LOG(4, "iobox::CModbusTCPConn::GetInputStatus", "GetInputStatus ParseInputRecvData failed, handle id[%d].",
                  m_client->GetId());
        SetError(kErrorExchangeFailed);
        return false;
    }
    return true;
}

bool CModbusTCPConn::AlarmHostRequest_GetAlarmOutputStatus(
    std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>& out)
{
    uint16_t firstCoil = 0;
    if (!modbus::CoilBase(m_companyType, firstCoil)) {
        IOBOX_LOG(4, "iobox::CModbusTCPConn::AlarmHostRequest_GetAlarmOutputStatus",
                  "GetAlarmOutputStatus failed, sub device type error, device company type: %d.", m_companyType);
        SetError(kErrorRequestUnusable);
        return false;
    }
    IOBOX_LOG(3, "iobox::CModbusTCPConn::AlarmHostRequest_GetAlarmOutputStatus",
              "AlarmHostRequest_GetAlarmOutputStatus , device company type: %d.", m_companyType);
    const std::string request = modbus::BuildReadCoilsRequest(modbus::NextTransaction(), firstCoil, m_outputNum);
    std::string reply;
    if (!Exchange(request, reply, true)) {
        IOBOX_LOG(4, "iobox::CModbusTCPConn::AlarmHostRequest_GetAlarmOutputStatus",
                  "GetAlarmHostMainStatus SynSendData failed.connect handle[%d]", m_client->GetId());
        SetError(kErrorExchangeFailed);
        return false;
    }
    if (!modbus::ParseOutputRecvData(reply, m_outputNum, out)) {
        IOBOX_LOG(4, "iobox::CModbusTCPConn::AlarmHostRequest_GetAlarmOutputStatus",
                  "GetAlarmHostMainStatus ParseOutputRecvData failed. connect handle[%d]", m_client->GetId());
        SetError(kErrorExchangeFailed);
        return false;
    }
    return true;
}

bool CModbusTCPConn::AlarmHostRequest_AlarmOutputControl(int enable, int outputNo)
{
    const int state = enable == 1 ? 1 : 0;
    IOBOX_LOG(2, "iobox::CModbusTCPConn::AlarmHostRequest_AlarmOutputControl", "Oprate Output, output_id: %d, enable : %d",
              outputNo, state);
    // The transaction is taken before the company type is known, so a refused request uses one.
    const uint32_t transaction = modbus::NextTransaction();
    uint16_t coil = 0;
    if (!modbus::CoilAddress(m_companyType, outputNo, coil)) {
        IOBOX_LOG(4, "iobox::CModbusTCPConn::AlarmHostRequest_AlarmOutputControl",
                  "OprateOutput failed, sub device type error, device company type: %d.", m_companyType);
        SetError(kErrorRequestUnusable);
        return false;
    }
    IOBOX_LOG(3, "iobox::CModbusTCPConn::AlarmHostRequest_AlarmOutputControl",
              "AlarmHostRequest_AlarmOutputControl , device company type: %d.", m_companyType);
    if (!SendWrite(modbus::BuildWriteCoilRequest(transaction, coil, state))) {
        IOBOX_LOG(4, "iobox::CModbusTCPConn::AlarmHostRequest_AlarmOutputControl",
                  "OprateOutput, output_id: %d, enable : %d.", outputNo, state);
        SetError(kErrorExchangeFailed);
        return false;
    }
    return true;
}

bool CModbusTCPConn::GetAlarmInputChannels(std::vector<std::shared_ptr<dam::CAlarmInputObj>>& out)
{
    AppendChannels(out, m_inputNum, kInputChannelType, "Alarminput-%d");
    return true;
}

bool CModbusTCPConn::GetAlarmOutputChannels(std::vector<std::shared_ptr<dam::CAlarmOutputObj>>& out)
{
    AppendChannels(out, m_outputNum, kOutputChannelType, "Alarmoutput-%d");
    return true;
}

bool CModbusTCPConn::Stop()
{
    RequestStop();
    const auto timer = Timer();
    if (timer && !timer->Stop()) {
        // The poll is stuck past the deadline and may hold the client's exchange lock, which
        // Disconnect would wait for. The poll holds the connection while it runs, so the
        // client goes when the poll lets go of it (this destructor's Stop).
        return false;
    }
    m_client->Disconnect();
    return true;
}

void CModbusTCPConn::RequestStop()
{
    std::shared_ptr<CTimer> timer;
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stopping = true;
        timer = m_timer;
    }
    m_stopWake.notify_all();
    // The poll may be waiting for the device (an exchange, a drain, a connect): cut that short
    // first, without the turn or the client's lock, so that the join is at once.
    m_client->Abort();
    if (timer) {
        timer->RequestStop();
    }
}

bool CModbusTCPConn::FinishStop(uint32_t deadlineMs)
{
    const auto timer = Timer();
    if (timer && !timer->Join(deadlineMs)) {
        return false; // as in Stop
    }
    m_client->Disconnect();
    return true;
}

} // namespace iobox
