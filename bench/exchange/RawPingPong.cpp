#include "RawPingPong.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace bench {

namespace {

// Reads exactly n bytes (blocking); false on end of stream or error.
bool ReadExactly(int fd, unsigned char* out, std::size_t n)
{
    std::size_t have = 0;
    // A blocking read returns at least one byte or ends the loop.
    for (std::size_t turn = 0; have < n && turn < n + 64; ++turn) {
        const ssize_t got = ::recv(fd, out + have, n - have, 0);
        if (got > 0) {
            have += static_cast<std::size_t>(got);
        } else if (got == 0 || errno != EINTR) {
            return false;
        }
    }
    return have == n;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t n)
{
    return ::send(fd, data, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

} // namespace

int RunRawServer(int durationS)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 4) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("raw server");
        return 1;
    }
    std::printf("port %u\n", static_cast<unsigned>(ntohs(addr.sin_port)));
    std::fflush(stdout);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(durationS);
    unsigned char reply[kPingReplyBytes] = {0, 0, 0, 0, 0, 5, 0, 2, 2, 0, 0};
    unsigned char request[kPingRequestBytes];
    for (int clients = 0; clients < 1000 && std::chrono::steady_clock::now() < deadline; ++clients) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) {
            continue;
        }
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // Serve this client until it leaves or the duration ends; reads wait at most 1 s.
        timeval tv{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        for (long served = 0; served < 100000000L; ++served) {
            if (!ReadExactly(fd, request, sizeof request)) {
                if ((errno == EAGAIN || errno == EWOULDBLOCK) && std::chrono::steady_clock::now() < deadline) {
                    errno = 0;
                    continue; // idle client: keep it while the duration lasts
                }
                break;
            }
            reply[0] = request[0];
            reply[1] = request[1];
            if (!WriteAll(fd, reply, sizeof reply)) {
                break;
            }
        }
        ::close(fd);
    }
    ::close(listener);
    return 0;
}

RawPingPongClient::RawPingPongClient(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

RawPingPongClient::~RawPingPongClient()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool RawPingPongClient::RoundTrip()
{
    static const unsigned char request[kPingRequestBytes] = {0, 1, 0, 0, 0, 6, 0, 2, 0, 0, 0, 12};
    unsigned char reply[kPingReplyBytes];
    return m_fd >= 0 && WriteAll(m_fd, request, sizeof request) && ReadExactly(m_fd, reply, sizeof reply);
}

} // namespace bench
