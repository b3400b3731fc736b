#include "LoopbackServer.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#endif

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace transporttest {

namespace {

constexpr int kIoTimeoutMs = 3000;
constexpr int kServerLifetimeMs = 20000; // an accept loop never outlives this
using iobox::platform::WaitReadyMs;

#if defined(_WIN32)
constexpr int kNoSignal = 0;
// Children started with handle inheritance must not keep a test's socket open.
Socket NoInherit(Socket fd) { ::SetHandleInformation(reinterpret_cast<HANDLE>(fd), HANDLE_FLAG_INHERIT, 0); return fd; }
Socket NewSocket()
{
    static const bool started = [] { WSADATA data; return ::WSAStartup(MAKEWORD(2, 2), &data) == 0; }();
    return started ? NoInherit(::socket(AF_INET, SOCK_STREAM, 0)) : kNoSocket;
}
void CloseSocket(Socket fd) { ::closesocket(fd); }
bool SetNonBlocking(Socket fd) { u_long on = 1; return ::ioctlsocket(fd, FIONBIO, &on) == 0; }
bool ConnectPending() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }
#else
constexpr int kNoSignal = MSG_NOSIGNAL;
Socket NewSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
void CloseSocket(Socket fd) { ::close(fd); }
bool SetNonBlocking(Socket fd) { return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0; }
bool ConnectPending() { return errno == EINPROGRESS; }
#endif

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A TCP socket bound to 127.0.0.1 with a kernel-chosen port.
Socket BoundSocket(uint16_t& port)
{
    const Socket fd = NewSocket();
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (fd == kNoSocket || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("cannot bind a loopback socket");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

Socket Accept(Socket listenFd, int waitMs)
{
    if (!WaitReadyMs(listenFd, false, waitMs)) {
        return kNoSocket;
    }
#if defined(_WIN32)
    return NoInherit(::accept(listenFd, nullptr, nullptr));
#else
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
#endif
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int BodyLengthOfHead(const std::string& head)
{
    return head.size() < 2 ? -1 : (static_cast<unsigned char>(head[0]) << 8) | static_cast<unsigned char>(head[1]);
}

} // namespace

bool Peer::ReadExact(std::string& out, std::size_t n)
{
    iobox::platform::SetSocketTimeouts(m_fd, 0, kIoTimeoutMs);
    char buffer[4096];
    for (std::size_t got = 0; got < n;) {
        const std::size_t want = std::min(n - got, sizeof buffer);
        const long r = m_ssl != nullptr ? SSL_read(m_ssl, buffer, static_cast<int>(want)) : ::recv(m_fd, buffer, want, 0);
        if (r <= 0) {
            return false;
        }
        out.append(buffer, static_cast<std::size_t>(r));
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool Peer::Write(const std::string& data)
{
    for (std::size_t sent = 0; sent < data.size();) {
        const long r = m_ssl != nullptr ? SSL_write(m_ssl, data.data() + sent, static_cast<int>(data.size() - sent))
                                        : ::send(m_fd, data.data() + sent, static_cast<int>(data.size() - sent), kNoSignal);
        if (r <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(r);
    }
    return true;
}

bool Peer::WriteSlowly(const std::string& data)
{
    for (char c : data) {
        if (!Write(std::string(1, c))) {
            return false;
        }
        SleepMs(1);
    }
    return true;
}

bool Peer::WaitDelivered()
{
#if defined(_WIN32)
    // Windows does not tell what the peer has not acknowledged; on loopback a write that has
    // left the send buffer reaches the client within a few milliseconds.
    return WaitReadyMs(m_fd, true, kIoTimeoutMs) && (SleepMs(50), true);
#else
    // The send queue holds what the client has not acknowledged yet.
    for (int waited = 0; waited <= kIoTimeoutMs; ++waited) {
        int queued = 0;
        if (::ioctl(m_fd, SIOCOUTQ, &queued) != 0) {
            return false;
        }
        if (queued == 0) {
            return true;
        }
        SleepMs(1);
    }
    return false;
#endif
}

void Peer::ResetOnClose()
{
    const linger abort{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
}

bool Peer::WaitClosed()
{
    for (int i = 0; i < kIoTimeoutMs / 50; ++i) {
        char buffer[256];
        // Readable: the read does not block, and fails only when the connection has gone.
        if (WaitReadyMs(m_fd, false, 50) && ::recv(m_fd, buffer, sizeof buffer, 0) <= 0) {
            return true;
        }
    }
    return false;
}

void Peer::Flood(char byte, std::atomic<std::size_t>& received)
{
    const std::string chunk(16384, byte);
    char buffer[256];
    SetNonBlocking(m_fd);
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         std::chrono::steady_clock::now() < end;) {
        const bool readable = WaitReadyMs(m_fd, false, 0);
        const long r = readable ? ::recv(m_fd, buffer, sizeof buffer, 0) : 0;
        if (readable && r <= 0) {
            return; // the client closed or reset the connection
        }
        received += static_cast<std::size_t>(r);
        if (WaitReadyMs(m_fd, true, 50)) {
            ::send(m_fd, chunk.data(), static_cast<int>(chunk.size()), kNoSignal);
        }
    }
}

LoopbackServer::LoopbackServer(Session session, int connections, SSL_CTX* tls)
    : m_session(std::move(session)), m_connections(connections), m_tls(tls)
{
    m_listenFd = BoundSocket(m_port);
    if (::listen(m_listenFd, 16) != 0) {
        throw std::runtime_error("listen failed");
    }
    m_thread = std::thread([this]() { Run(); });
}

LoopbackServer::~LoopbackServer()
{
    m_stop = true;
    m_thread.join();
    CloseSocket(m_listenFd);
}

void LoopbackServer::Run()
{
#if !defined(_WIN32)
    // A TLS write towards a client that has gone must fail here, not end the test process.
    // Blocked for this thread only, so that a client write raising the signal still shows.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
#endif
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServerLifetimeMs);
    for (int accepted = 0; !m_stop && accepted < m_connections && std::chrono::steady_clock::now() < end;) {
        const Socket fd = Accept(m_listenFd, 20);
        if (fd == kNoSocket) {
            continue;
        }
        ++accepted;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        SSL* ssl = nullptr;
        if (m_tls != nullptr) {
            iobox::platform::SetSocketTimeouts(fd, 0, kIoTimeoutMs);
            ssl = SSL_new(m_tls);
            SSL_set_fd(ssl, static_cast<int>(fd)); // OpenSSL keeps a Windows socket in an int too
        }
        if (ssl == nullptr || SSL_accept(ssl) == 1) {
            Peer peer(fd, ssl);
            m_session(peer);
            if (ssl != nullptr) {
                SSL_shutdown(ssl);
            }
        }
        SSL_free(ssl);
        CloseSocket(fd);
        ++m_served;
    }
}

LoopbackServer::Session AnswerOnce(std::string reply, bool closeAfter)
{
    return [reply = std::move(reply), closeAfter](Peer& peer) {
        std::string request;
        if (peer.ReadExact(request, 5) && peer.Write(reply)) {
            closeAfter ? peer.WaitDelivered() : peer.WaitClosed();
        }
    };
}

RefusingPort::RefusingPort() { m_fd = BoundSocket(m_port); }

RefusingPort::~RefusingPort() { CloseSocket(m_fd); }

UnansweredListener::UnansweredListener()
{
    m_listenFd = BoundSocket(m_port);
    if (::listen(m_listenFd, 0) != 0) {
        throw std::runtime_error("listen failed");
    }
    // Connect until one attempt is left unanswered: the accept queue is then full and the
    // kernel drops every further connection request.
    const sockaddr_in addr = Loopback(m_port);
    for (int i = 0; i < 8 && !m_full; ++i) {
        const Socket fd = NewSocket();
        m_fillers.push_back(fd);
        if (SetNonBlocking(fd) && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            m_full = ConnectPending() && !WaitReadyMs(fd, true, 500);
        }
    }
}

UnansweredListener::~UnansweredListener()
{
    Release();
    CloseSocket(m_listenFd);
}

void UnansweredListener::Release()
{
    for (Socket fd : m_fillers) {
        CloseSocket(fd);
    }
    m_fillers.clear();
    // Emptying the accept queue makes room: the kernel completes the next connect by itself.
    for (int i = 0; i < 8; ++i) {
        const Socket fd = Accept(m_listenFd, 0);
        if (fd == kNoSocket) {
            break;
        }
        CloseSocket(fd);
    }
}

SslCtxPtr MakeServerTlsContext(int minVersion, int maxVersion)
{
    SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"),
                                                      EVP_PKEY_free);
    std::unique_ptr<X509, void (*)(X509*)> cert(X509_new(), X509_free);
    if (!ctx || !key || !cert) {
        throw std::runtime_error("TLS set-up failed");
    }
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("iobox test device"),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0 || SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1 ||
        SSL_CTX_set_min_proto_version(ctx.get(), minVersion) != 1 ||
        SSL_CTX_set_max_proto_version(ctx.get(), maxVersion) != 1) {
        throw std::runtime_error("TLS set-up failed");
    }
    return ctx;
}

Marl::Net::TcpConnectParam ClientParams(uint16_t port, uint32_t receiveTimeoutMs, bool tls)
{
    Marl::Net::TcpConnectParam param;
    param.ip = "127.0.0.1";
    param.port = port;
    param.tls = tls;
    param.connectTimeoutMs = 1500;
    param.sendTimeoutMs = 1500;
    param.receiveTimeoutMs = receiveTimeoutMs;
    return param;
}

Marl::Net::StickyParam HeadSticky()
{
    Marl::Net::StickyParam sticky;
    sticky.mode = Marl::Net::kStickyByHead;
    sticky.headLength = 2;
    sticky.bodyLength = &BodyLengthOfHead;
    return sticky;
}

std::string HeadFramed(const std::string& body)
{
    return std::string{static_cast<char>((body.size() >> 8) & 0xFF), static_cast<char>(body.size() & 0xFF)} + body;
}

} // namespace transporttest
