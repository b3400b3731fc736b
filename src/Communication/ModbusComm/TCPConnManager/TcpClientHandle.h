#pragma once
// A connection's way to its TCP client: the client's id in the process-wide client table,
// -1 while there is none. Every operation forwards to the table with the current id.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "Communication/ModbusComm/TCP/TCPClient.h"

namespace iobox {

class TcpClientHandle {
public:
    // Creates and connects a client unless one exists already (then true at once).
    bool Connect(const Marl::Net::TcpConnectParam& param);
    // Connects the existing client again.
    bool Reconnect();
    // Closes the client's socket; the client stays for a later Reconnect.
    bool Close();
    bool IsConnected();
    // Removes the client from the table; the id becomes -1.
    void Disconnect();
    // From any thread: ends at once whatever the client waits for, the connect of a client
    // not in the table yet included, and fails every later Connect. For a connection that stops.
    void Abort();
    // Head-length framed exchange; true when a whole reply arrived.
    bool SendDataByHeadSticky(Marl::Net::StickyParam& sticky, const std::string& data);
    // Sends without reading a reply; true when everything was written.
    bool SendDataNoReceive(const std::string& data);
    int GetId() const { return m_id.load(); }

private:
    // Written by the poll thread (connect, remove) while host threads read it for output
    // requests.
    std::atomic<int> m_id{-1};
    // Orders Abort with a Connect in progress: either Abort finds the connecting client or
    // its id, or the Connect finds the abort.
    std::mutex m_abortMutex;
    std::shared_ptr<Marl::Net::CTCPClient> m_connecting; // guarded by m_abortMutex
    bool m_aborted = false;                              // guarded by m_abortMutex
};

} // namespace iobox
