#pragma once
// A TCP socket whose blocking reads and writes end after the connection's time-outs.
//
// Asio turns a receive time-out of the kernel (SO_RCVTIMEO) into a wait without limit on this
// platform, and the socket is non-blocking anyway once an asynchronous connect has run on it.
// So the time-outs are applied here: the socket is made non-blocking and every read or write
// waits for readiness with poll, at most the time-out, before it gives up with timed_out.
// It is also the layer under the TLS stream, so handshakes and TLS records are bounded alike.
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <climits>
#include <cstdint>
#include <type_traits>

#include "Common/Platform.h"

namespace Marl { namespace Net {

// The socket's handle reaches the platform seam as it is: a 64-bit SOCKET on Windows (where
// Asio's native handle is a small class that converts to its socket type).
static_assert(std::is_same<boost::asio::detail::socket_type, iobox::platform::SocketHandle>::value,
              "the platform's socket handle type must be Asio's");

class CTimedSocket {
public:
    using lowest_layer_type = boost::asio::ip::tcp::socket::lowest_layer_type;
    using executor_type = lowest_layer_type::executor_type;

    explicit CTimedSocket(boost::asio::io_context& io) : m_socket(io) {}

    // 0 waits without limit, as the kernel's socket time-outs do.
    void SetTimeouts(uint32_t sendTimeoutMs, uint32_t receiveTimeoutMs)
    {
        m_sendTimeoutMs = sendTimeoutMs;
        m_receiveTimeoutMs = receiveTimeoutMs;
    }

    lowest_layer_type& lowest_layer() { return m_socket; }
    const lowest_layer_type& lowest_layer() const { return m_socket; }
    executor_type get_executor() { return m_socket.get_executor(); }

    template <class MutableBuffers>
    std::size_t read_some(const MutableBuffers& buffers, boost::system::error_code& ec)
    {
        return Transfer([&]() { return m_socket.read_some(buffers, ec); }, false, m_receiveTimeoutMs, ec);
    }

    template <class ConstBuffers>
    std::size_t write_some(const ConstBuffers& buffers, boost::system::error_code& ec)
    {
        return Transfer([&]() { return m_socket.write_some(buffers, ec); }, true, m_sendTimeoutMs, ec);
    }

private:
    template <class Operation>
    std::size_t Transfer(Operation operation, bool forWrite, uint32_t timeoutMs, boost::system::error_code& ec)
    {
        if (!m_socket.non_blocking()) {
            m_socket.non_blocking(true, ec);
            if (ec) {
                return 0;
            }
        }
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const std::size_t n = operation();
            if (ec != boost::asio::error::would_block && ec != boost::asio::error::try_again) {
                return n;
            }
            int waitMs = -1;
            if (timeoutMs != 0) {
                const auto now = Clock::now();
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
                if (deadline <= now) {
                    ec = boost::asio::error::timed_out;
                    return 0;
                }
                waitMs = left > INT_MAX ? INT_MAX : static_cast<int>(left);
            }
            iobox::platform::WaitReadyMs(m_socket.native_handle(), forWrite, waitMs);
        }
    }

    boost::asio::ip::tcp::socket m_socket;
    uint32_t m_sendTimeoutMs = 0;
    uint32_t m_receiveTimeoutMs = 0;
};

}} // namespace Marl::Net
