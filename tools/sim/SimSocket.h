#pragma once
// Socket helpers of the simulated I/O box: loopback-only endpoints, the listener, and a
// connected socket pair. The few differences between operating systems live here and in
// SimSocket.cpp.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/local/stream_protocol.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace iobox::sim {

// The endpoint for a literal 127.0.0.0/8 or ::1 address, or "localhost"; false with a one-line
// reason for anything else (names are never resolved).
bool LoopbackEndpoint(const std::string& host, std::uint16_t port, boost::asio::ip::tcp::endpoint& out,
                      std::string& error);

// Opens, binds and listens; the same port can be bound again at once after the acceptor closes.
bool OpenListener(boost::asio::ip::tcp::acceptor& acceptor, const boost::asio::ip::tcp::endpoint& at,
                  std::string& error);

// Two connected sockets: libmodbus writes its replies into one end (it writes to nothing but a
// socket), and they are read back from the other at once. A local socket pair where there is
// one; loopback TCP on Windows.
class SocketPair {
public:
    explicit SocketPair(boost::asio::io_context& io) : writer_(io), reader_(io) {}
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    bool Open(std::string& error);
    // The writing end's handle as libmodbus keeps it: an int (holding a SOCKET on Windows).
    int WriterHandle();
    // Reads exactly `n` bytes already written at the other end; false on a socket error.
    bool ReadExactly(std::uint8_t* data, std::size_t n);
    // Discards whatever is readable now, so a failed capture leaves nothing behind.
    void Drain();

private:
#if defined(BOOST_ASIO_HAS_LOCAL_SOCKETS) && !defined(_WIN32)
    using Protocol = boost::asio::local::stream_protocol;
#else
    using Protocol = boost::asio::ip::tcp;
#endif
    Protocol::socket writer_;
    Protocol::socket reader_;
};

} // namespace iobox::sim
