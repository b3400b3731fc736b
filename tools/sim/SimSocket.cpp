#include "SimSocket.h"
#include "IOBoxSimulator.h"

#include <boost/asio/local/connect_pair.hpp>
#include <boost/asio/read.hpp>

#include <array>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace iobox::sim {

using boost::asio::ip::tcp;

long RaiseOpenFileLimit()
{
#ifdef _WIN32
    // Windows sockets are not counted against a descriptor table of a fixed size.
    return 1L << 30;
#else
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) {
        return -1;
    }
    if (lim.rlim_cur < lim.rlim_max) {
        rlimit raised = lim;
        raised.rlim_cur = lim.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            lim = raised;
        }
    }
    return lim.rlim_cur == RLIM_INFINITY ? 1L << 30 : static_cast<long>(lim.rlim_cur);
#endif
}

bool LoopbackEndpoint(const std::string& host, std::uint16_t port, tcp::endpoint& out, std::string& error)
{
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(host == "localhost" ? "127.0.0.1" : host, ec);
    if (ec) {
        error = "host " + host + " is not a literal loopback address";
        return false;
    }
    if (!address.is_loopback()) {
        error = "host " + host + " is not a loopback address";
        return false;
    }
    out = tcp::endpoint(address, port);
    return true;
}

bool IsLoopbackHost(const std::string& host)
{
    tcp::endpoint endpoint;
    std::string error;
    return LoopbackEndpoint(host, 0, endpoint, error);
}

bool OpenListener(tcp::acceptor& acceptor, const tcp::endpoint& at, std::string& error)
{
    boost::system::error_code ec;
    const char* step = "socket";
    acceptor.open(at.protocol(), ec);
    if (!ec) {
#ifndef _WIN32
        // Rebinding right after RefuseNew or Stop. Windows needs nothing for that, and there the
        // option would let a second listener take a port already in use.
        step = "setsockopt";
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
    }
    if (!ec) {
        step = "bind";
        acceptor.bind(at, ec);
    }
    if (!ec) {
        step = "listen";
        acceptor.listen(tcp::socket::max_listen_connections, ec);
    }
    if (ec) {
        error = std::string(step) + ": " + ec.message();
        boost::system::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    return true;
}

bool SocketPair::Open(std::string& error)
{
    boost::system::error_code ec;
#if defined(BOOST_ASIO_HAS_LOCAL_SOCKETS) && !defined(_WIN32)
    boost::asio::local::connect_pair(writer_, reader_, ec);
#else
    tcp::acceptor acceptor(writer_.get_executor());
    if (!OpenListener(acceptor, tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0), error)) {
        error = "reply socket pair: " + error;
        return false;
    }
    const auto at = acceptor.local_endpoint(ec);
    if (!ec) {
        writer_.connect(at, ec);
    }
    const auto mine = writer_.local_endpoint(ec);
    // Another local process may connect first; only our own connection is taken.
    for (int i = 0; i < 8 && !ec && !reader_.is_open(); ++i) {
        tcp::socket peer(writer_.get_executor());
        acceptor.accept(peer, ec);
        boost::system::error_code peerEc;
        if (!ec && peer.remote_endpoint(peerEc) == mine && !peerEc) {
            reader_ = std::move(peer);
        }
    }
    if (!ec) {
        // A reply must not wait for the acknowledgement of the previous one.
        writer_.set_option(tcp::no_delay(true), ec);
    }
#endif
    if (ec || !reader_.is_open()) {
        error = "reply socket pair: " + (ec ? ec.message() : std::string("no connection of our own"));
        writer_.close(ec);
        reader_.close(ec);
        return false;
    }
    return true;
}

int SocketPair::WriterHandle()
{
    return static_cast<int>(writer_.native_handle());
}

bool SocketPair::ReadExactly(std::uint8_t* data, std::size_t n)
{
    boost::system::error_code ec;
    boost::asio::read(reader_, boost::asio::buffer(data, n), ec);
    return !ec;
}

void SocketPair::Drain()
{
    std::array<std::uint8_t, 512> sink{};
    boost::system::error_code ec;
    for (int i = 0; i < 8; ++i) {
        const std::size_t n = reader_.available(ec);
        if (ec || n == 0) {
            return;
        }
        reader_.read_some(boost::asio::buffer(sink), ec);
    }
}

} // namespace iobox::sim
