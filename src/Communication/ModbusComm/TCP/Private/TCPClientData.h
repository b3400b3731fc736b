#pragma once
// What one client holds: its parameters, its own I/O service, the TLS stream and the plain
// socket, and the state of the connect attempt in progress.
#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/system/error_code.hpp>

#include <atomic>
#include <memory>
#include <mutex>

#include "Communication/ModbusComm/TCP/Private/TimedSocket.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"

namespace Marl { namespace Net {

using TlsStream = boost::asio::ssl::stream<CTimedSocket>;
// The seam's handle, not Asio's native_handle_type: on Windows that is a wrapper class.
using NativeSocket = iobox::platform::SocketHandle;
constexpr NativeSocket kNoSocket = static_cast<NativeSocket>(-1);

struct CTCPClientData {
    explicit CTCPClientData(const TcpConnectParam& connectParam);

    // The socket that carries the traffic: the TLS stream's when TLS is on, else the plain one.
    CTimedSocket::lowest_layer_type& GetSocket();

    TcpConnectParam param;
    std::atomic<bool> connected{false};
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;
    std::unique_ptr<TlsStream> tls; // created by the first Connect
    CTimedSocket plain;
    boost::asio::deadline_timer deadline;
    boost::system::error_code connectResult;
    bool timedOut = false;
    // Handlers of an earlier attempt still queued in the I/O service ignore themselves.
    unsigned attempt = 0;
    // A TLS session cannot be started twice on one stream; a later Connect makes a new one.
    bool tlsUsed = false;

    // Set by Abort from any thread; every operation started afterwards fails at once.
    std::atomic<bool> aborted{false};
    // The descriptor Abort may shut down: published while the socket is connected, withdrawn
    // under the mutex before the socket can be closed, so that a shutdown from another thread
    // never reaches a descriptor that is closed, or reused by another connection.
    std::mutex abortMutex;
    NativeSocket liveSocket = kNoSocket; // guarded by abortMutex
};

}} // namespace Marl::Net
