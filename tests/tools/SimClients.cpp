#include "SimClients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace simtest {

std::vector<std::uint8_t> Request(std::uint16_t tid, std::uint8_t function, std::uint16_t address,
                                  std::uint16_t value, std::uint8_t unit)
{
    return {static_cast<std::uint8_t>(tid >> 8), static_cast<std::uint8_t>(tid & 0xFF), 0, 0, 0, 6, unit,
            function, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
}

RawClient::RawClient(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Small writes must leave at once, so split frames really arrive split.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        connectErrno_ = errno;
        ::close(fd);
        return;
    }
    fd_ = fd;
}

RawClient::~RawClient()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool RawClient::Send(const std::vector<std::uint8_t>& bytes)
{
    return fd_ >= 0 &&
        ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

std::vector<std::uint8_t> RawClient::Read(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Every round reads, sees the end, or ends with the time-out (a zero time-out still looks once).
    for (int round = 0; round < 10000 && fd_ >= 0 && out.size() < count && !eof_; ++round) {
        const auto left = std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count());
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        std::uint8_t buf[512];
        const std::size_t want = std::min(sizeof(buf), count - out.size());
        const ssize_t n = ::recv(fd_, buf, want, 0);
        if (n <= 0) {
            eof_ = true;
            break;
        }
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::vector<std::uint8_t> RawClient::ReadFrame(std::chrono::milliseconds timeout)
{
    const auto start = std::chrono::steady_clock::now();
    auto frame = Read(6, timeout);
    if (frame.size() < 6) {
        return frame;
    }
    const std::size_t length = static_cast<std::size_t>((frame[4] << 8) | frame[5]);
    const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const auto body = Read(length, timeout > used ? timeout - used : std::chrono::milliseconds(1));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

bool RawClient::WaitClosed(std::chrono::milliseconds timeout)
{
    Read(1 << 20, timeout);
    return eof_;
}

ModbusClient::ModbusClient(std::uint16_t port) : ctx_(modbus_new_tcp("127.0.0.1", port))
{
    connected_ = ctx_ != nullptr && modbus_set_response_timeout(ctx_, 1, 0) == 0 && modbus_connect(ctx_) == 0;
}

ModbusClient::~ModbusClient()
{
    if (ctx_ != nullptr) {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
}

} // namespace simtest
