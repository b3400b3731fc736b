#pragma once
// Small TCP servers on 127.0.0.1 with kernel-chosen ports for the transport tests: a scripted
// server (plain or TLS) that runs one session per accepted connection, a port that refuses
// connections and a listener that never answers. Every wait here is bounded.
#include <openssl/ssl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Common/Platform.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"

namespace transporttest {

using Socket = iobox::platform::SocketHandle;
constexpr Socket kNoSocket = static_cast<Socket>(-1);

// The server side of one accepted connection. Reads and waits give up after 3 s.
class Peer {
public:
    Peer(Socket fd, SSL* ssl) : m_fd(fd), m_ssl(ssl) {}
    // Appends exactly n bytes; false on time-out or when the client closed first.
    bool ReadExact(std::string& out, std::size_t n);
    bool Write(const std::string& data);
    // One byte per segment, a millisecond apart, so that the reply spans many reads.
    bool WriteSlowly(const std::string& data);
    // Until the client has acknowledged everything written so far.
    bool WaitDelivered();
    // Until the client closes.
    bool WaitClosed();
    // Sends `byte` without end, counting what the client sends meanwhile, until the client
    // closes or 10 s have passed.
    void Flood(char byte, std::atomic<std::size_t>& received);
    int TlsVersion() const { return m_ssl != nullptr ? SSL_version(m_ssl) : 0; }
    // The connection ends with a reset instead of an orderly close.
    void ResetOnClose();

private:
    Socket m_fd;
    SSL* m_ssl;
};

// Serves up to `connections` connections one after another, each with the session, on a
// thread of its own. The destructor stops accepting and waits for the session in progress.
class LoopbackServer {
public:
    using Session = std::function<void(Peer&)>;
    explicit LoopbackServer(Session session, int connections = 1, SSL_CTX* tls = nullptr);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    uint16_t Port() const { return m_port; }
    int Served() const { return m_served; }

private:
    void Run();
    Session m_session;
    int m_connections;
    SSL_CTX* m_tls;
    Socket m_listenFd = kNoSocket;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

// Reads one 5-byte request and writes the reply; then closes once the client has everything
// (closeAfter) or waits for the client to close.
LoopbackServer::Session AnswerOnce(std::string reply, bool closeAfter = false);

// A port on 127.0.0.1 that is bound but not listening: connects to it are refused.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    uint16_t Port() const { return m_port; }

private:
    Socket m_fd = kNoSocket;
    uint16_t m_port = 0;
};

// A listener on 127.0.0.1 whose backlog is full and that never accepts: a new connect gets
// no answer at all until Release.
class UnansweredListener {
public:
    UnansweredListener();
    ~UnansweredListener();
    uint16_t Port() const { return m_port; }
    bool Full() const { return m_full; }
    // Accepts and drops the queued connections, so that the next connect is answered.
    void Release();

private:
    Socket m_listenFd = kNoSocket;
    uint16_t m_port = 0;
    bool m_full = false;
    std::vector<Socket> m_fillers;
};

// A server TLS context with a self-signed certificate made now (TLS1_2_VERSION, ...).
using SslCtxPtr = std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)>;
SslCtxPtr MakeServerTlsContext(int minVersion, int maxVersion);

// Client parameters towards a loopback port: no TLS unless asked, short time-outs.
Marl::Net::TcpConnectParam ClientParams(uint16_t port, uint32_t receiveTimeoutMs = 1500, bool tls = false);
// Head-length framing of the tests: two bytes of body length, big-endian, then the body.
Marl::Net::StickyParam HeadSticky();
std::string HeadFramed(const std::string& body);

} // namespace transporttest
