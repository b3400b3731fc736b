#pragma once
// One live connection to one I/O box: polls its inputs on a timer thread of its own, hands
// every input in alarm to the connection manager, supervises the link (offline after repeated
// failed checks, online again after a reconnect), reads and switches the outputs for host
// threads and describes its channels.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Common/Timing.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTypes.h"
#include "Communication/ModbusComm/TCPConnManager/TcpClientHandle.h"

namespace dam {
class CAlarmInputObj;
class CAlarmOutputObj;
class CAlarmOutState;
} // namespace dam

namespace iobox {

class CTimer;

class CModbusTCPConn {
public:
    // Takes the connection manager's timings.
    CModbusTCPConn();
    explicit CModbusTCPConn(const ModbusTiming& timing);
    // Stops polling and removes the TCP client, so that a connection dropped without a logout
    // leaves nothing running.
    ~CModbusTCPConn();
    CModbusTCPConn(const CModbusTCPConn&) = delete;
    CModbusTCPConn& operator=(const CModbusTCPConn&) = delete;

    // Connects and starts polling (first poll at once on the timer thread). Once per object.
    bool Init(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType, int companyType);
    // Whether the link is usable for this poll; supervises it on the way. Poll thread only.
    bool TryLogin();
    // One poll: supervision, then the inputs; each input in alarm goes to the manager.
    void OnPollTimer();
    // Reads every input; a failed exchange closes the socket so that the next poll reconnects.
    bool GetInputStatus(uint8_t unitId, std::vector<ModbusAlarmInfo>& out);
    // Output states by 1-based output number; entries already in the map are kept.
    bool AlarmHostRequest_GetAlarmOutputStatus(std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>& out);
    // Switches one 1-based output: on for enable 1, off otherwise. The reply is not awaited.
    bool AlarmHostRequest_AlarmOutputControl(int enable, int outputNo);
    bool GetAlarmInputChannels(std::vector<std::shared_ptr<dam::CAlarmInputObj>>& out);
    bool GetAlarmOutputChannels(std::vector<std::shared_ptr<dam::CAlarmOutputObj>>& out);
    // Ends polling (joins the timer thread) and removes the TCP client. Not from the poll.
    bool Stop();

private:
    bool Connect();
    bool CheckConnection();
    // One framed read: request out, the joined reply back. Replies to earlier writes that are
    // still unread are passed over, so that the reply is this request's own.
    bool Exchange(const std::string& request, std::string& reply);
    // Sends a write without awaiting its reply.
    bool SendWrite(const std::string& request);
    void TouchActivity();
    int64_t SecondsSinceActivity() const;

    Marl::Net::TcpConnectParam m_param;
    std::shared_ptr<TcpClientHandle> m_client;
    std::atomic<int64_t> m_lastActivity{0}; // wall-clock seconds
    std::shared_ptr<CTimer> m_timer;
    // Set by Init before the timer thread starts and before the manager publishes the
    // connection; read-only afterwards.
    int m_inputNum = 12;
    int m_outputNum = 6;
    int m_inputType = 0;
    int m_companyType = 0;
    // Poll thread only.
    int m_failureCount = 0;
    bool m_offline = false;
    const ModbusTiming m_timing;
    // The poll thread and host threads take turns on the device. A write's reply is never
    // awaited; if it arrives after the next read has cleared the socket, that read meets it
    // first and reads on.
    std::mutex m_exchangeMutex;
    int m_unreadWriteReplies = 0; // guarded by m_exchangeMutex
};

} // namespace iobox
