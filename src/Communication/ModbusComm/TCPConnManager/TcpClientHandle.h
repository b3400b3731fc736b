#pragma once
// A connection's way to its TCP client: the client's id in the process-wide client table,
// -1 while there is none. Every operation forwards to the table with the current id.
#include <atomic>
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
    // Head-length framed exchange; true when a whole reply arrived.
    bool SendDataByHeadSticky(Marl::Net::StickyParam& sticky, const std::string& data);
    // Sends without reading a reply; true when everything was written.
    bool SendDataNoReceive(const std::string& data);
    int GetId() const { return m_id.load(); }

private:
    // Written by the poll thread (connect, remove) while host threads read it for output
    // requests.
    std::atomic<int> m_id{-1};
};

} // namespace iobox
