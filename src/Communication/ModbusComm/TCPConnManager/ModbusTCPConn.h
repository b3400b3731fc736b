#pragma once
// One live connection to one I/O box: polls its inputs on a timer thread of its own, hands
// every input in alarm to the connection manager, supervises the link (offline after repeated
// failed checks, online again after a reconnect), reads and switches the outputs for host
// threads and describes its channels.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
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

// Held by shared pointer (enable_shared_from_this: the poll holds its connection while it runs).
class CModbusTCPConn : public std::enable_shared_from_this<CModbusTCPConn> {
public:
    // Takes the connection manager's timings.
    CModbusTCPConn();
    explicit CModbusTCPConn(const ModbusTiming& timing);
    // Stops polling and removes the TCP client, so that a connection dropped without a logout
    // leaves nothing running.
    ~CModbusTCPConn();
    CModbusTCPConn(const CModbusTCPConn&) = delete;
    CModbusTCPConn& operator=(const CModbusTCPConn&) = delete;

    // What the client connects with; set by Open, read-only afterwards.
    const Marl::Net::TcpConnectParam& Param() const { return m_param; }
    // Connects and starts polling (first poll at once on the timer thread). Once per object.
    bool Init(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType, int companyType);
    // Init in two steps, so that the manager can register the connection before its first
    // poll: Open connects, StartPolling starts the timer. Each once, in this order.
    bool Open(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType, int companyType);
    void StartPolling();
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
    // Ends polling and removes the TCP client; returns at once whatever the device does: a
    // blocked exchange or connect is cut short, then the timer thread is joined. From the
    // poll itself (a host that logs out from inside a notification) the thread is not joined
    // but ends once the poll returns. False when the poll was still running at the deadline.
    bool Stop();
    // Stop in two steps, so that Unit stops every connection first and then waits for all of
    // them against one deadline. RequestStop also ends a connect or settle of Open in progress
    // (on another thread); FinishStop reports nothing when the deadline passes.
    void RequestStop();
    bool FinishStop(uint32_t deadlineMs);

private:
    class Turn;
    bool Connect();
    std::shared_ptr<CTimer> Timer(); // set once by StartPolling
    // Waits the settle time after a connect; false when a stop ended the wait.
    bool Settle();
    bool CheckConnection();
    // One framed read: request out, the joined reply back. Replies that earlier requests left
    // unread are passed over, so that the reply is this request's own.
    bool Exchange(const std::string& request, std::string& reply, bool hostRequest);
    // Whether the reply answers an earlier request rather than this one; forgets it if so.
    // During the turn.
    bool IsLateReply(const std::string& reply, uint16_t transaction, int& unreadWrites);
    // A read that failed before any byte of its reply arrived may still be answered: its
    // reply is remembered as late. During the turn.
    void NoteUnansweredRead(uint16_t transaction, const Marl::Net::StickyParam& sticky);
    // Sends a write without awaiting its reply.
    bool SendWrite(const std::string& request);
    // The exchange turn: one exchange at a time on the device. The poll waits for it as long
    // as it takes. A host request waits at most one receive time-out, and gives up at once
    // when the exchange it waited for failed: behind a stalled poll it then fails after the
    // poll's wait, not after the poll's and a second one of its own.
    bool TakeTurn(bool hostRequest);
    void EndTurn(bool failed);
    void TouchActivity();
    int64_t MsSinceActivity() const;

    Marl::Net::TcpConnectParam m_param;
    std::shared_ptr<TcpClientHandle> m_client;
    std::atomic<uint64_t> m_lastActivity{0}; // m_timing.tick milliseconds
    std::shared_ptr<CTimer> m_timer; // guarded by m_stopMutex
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
    // Set by Stop; a poll that sees it ends, a settle wait ends at once.
    std::atomic<bool> m_stopping{false};
    std::mutex m_stopMutex; // orders m_stopping with the settle wait and the timer's start
    std::condition_variable m_stopWake;
    // The exchange turn (a mutex with a bounded wait; std::timed_mutex's clock-based lock is
    // invisible to the thread sanitizer here).
    std::mutex m_turnMutex;
    std::condition_variable m_turnFree;
    bool m_turnTaken = false;          // guarded by m_turnMutex
    uint64_t m_failedExchanges = 0;    // guarded by m_turnMutex
    // The poll thread and host threads take turns on the device. A write's reply is never
    // awaited, and a read that timed out leaves its reply to come later; if such a reply
    // arrives after the next read has cleared the socket, that read meets it first and reads
    // on. Write replies are told by their function, late read replies by their transaction.
    int m_unreadWriteReplies = 0;       // during the turn
    std::deque<uint16_t> m_lateReads;   // during the turn; the most recent few
};

} // namespace iobox
