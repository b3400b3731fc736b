#include "Communication/ModbusComm/TCP/TCPClient.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <exception>
#include <string>

#include "Common/Log.h"
#include "Common/Platform.h"
#include "Communication/ModbusComm/TCP/Private/TCPClientData.h"
#include "Communication/ModbusComm/TCP/Private/TlsClientContext.h"

namespace Marl { namespace Net {

namespace {

using boost::system::error_code;
using tcp = boost::asio::ip::tcp;

constexpr std::size_t kDrainChunk = 1024;
constexpr uint32_t kWaitReceiveTimeout = 0xFFFFFFFFU;

error_code NotFinished()
{
    return error_code(iobox::platform::kConnectNotFinished, boost::system::system_category());
}

// Runs the operation on the stream that carries the traffic.
template <class Operation>
auto OnStream(CTCPClientData& d, Operation&& operation)
{
    if (d.param.tls && d.tls) {
        return operation(*d.tls);
    }
    return operation(d.plain);
}

// The peer closed the connection: reported as a read of no bytes.
bool IsPeerClosed(const error_code& ec)
{
    return ec == boost::asio::error::eof || ec == boost::asio::ssl::error::stream_truncated;
}

// Bytes the TLS layer has already taken off the socket: decrypted and not yet read, or
// records still waiting in its input buffer.
bool TlsHoldsInput(CTCPClientData& d)
{
    if (!d.param.tls || !d.tls) {
        return false;
    }
    SSL* ssl = d.tls->native_handle();
    return SSL_pending(ssl) > 0 || BIO_ctrl_pending(SSL_get_rbio(ssl)) > 0;
}

// Readable within the whole seconds (0: just test), counting what the TLS layer holds.
bool Readable(CTCPClientData& d, unsigned int seconds)
{
    if (TlsHoldsInput(d)) {
        return true;
    }
    return iobox::platform::WaitReadable(d.GetSocket().native_handle(), seconds);
}

// Offers the connected socket to Abort, or withdraws it before the socket may be closed.
void Publish(CTCPClientData& d, bool connected)
{
    std::lock_guard<std::mutex> lock(d.abortMutex);
    d.liveSocket = connected ? static_cast<NativeSocket>(d.GetSocket().native_handle()) : kNoSocket;
}

void OnDeadline(CTCPClientData& d, unsigned attempt, const error_code& ec)
{
    if (attempt != d.attempt || ec) {
        return;
    }
    if (d.deadline.expires_at() <= boost::asio::deadline_timer::traits_type::now()) {
        error_code ignored;
        d.GetSocket().close(ignored);
        d.timedOut = true;
    }
    d.deadline.expires_at(boost::posix_time::pos_infin);
}

void OnConnect(CTCPClientData& d, unsigned attempt, const error_code& ec)
{
    if (attempt != d.attempt) {
        return;
    }
    d.io.stop();
    d.connectResult = ec;
    auto& socket = d.GetSocket();
    if (!socket.is_open()) {
        d.timedOut = true;
        return;
    }
    error_code ignored;
    if (ec) {
        IOBOX_LOG(4, "Marl::Net::CTCPClient::OnConnect", "Connect err %s", ec.message().c_str());
        socket.close(ignored);
        return;
    }
    if (!d.param.tls) {
        return;
    }
    Publish(d, true); // an Abort ends a handshake that waits for a stalled peer
    try {
        error_code handshake;
        d.tls->handshake(boost::asio::ssl::stream_base::client, handshake);
        if (handshake) {
            IOBOX_LOG(4, "Marl::Net::CTCPClient::OnConnect", "handshake faild %s", handshake.message().c_str());
            Publish(d, false);
            socket.close(ignored);
        }
    } catch (const std::exception& e) {
        IOBOX_LOG(4, "Marl::Net::CTCPClient::OnConnect", "handshake faild %s", e.what());
        Publish(d, false);
        socket.close(ignored);
    }
}

void NewTlsStream(CTCPClientData& d)
{
    d.tls.reset();
    d.tls = std::make_unique<TlsStream>(d.io, CTlsClientContext::Get());
    d.tls->next_layer().SetTimeouts(d.param.sendTimeoutMs, d.param.receiveTimeoutMs);
    d.tls->set_verify_mode(boost::asio::ssl::verify_peer);
    d.tls->set_verify_callback([](bool, boost::asio::ssl::verify_context&) { return true; });
    d.tlsUsed = false;
}

int ConnectImpl(CTCPClientData& d)
{
    // The socket may be closed from here on (a new stream, the connect's own close).
    Publish(d, false);
    if (d.aborted) {
        return -1;
    }
    // Handlers of an earlier attempt that ran into its deadline are still queued. They run
    // now, while the socket they refer to still exists, and ignore themselves.
    const unsigned attempt = ++d.attempt;
    d.io.restart();
    d.io.poll();

    // Only a TLS connection gets a stream: an unused one would still hold two record-sized
    // buffers and an SSL object for every client.
    if (d.param.tls && (!d.tls || d.tlsUsed)) {
        NewTlsStream(d);
    }

    error_code ec;
    tcp::resolver resolver(d.io);
    const auto endpoints = resolver.resolve(d.param.ip, std::to_string(d.param.port), ec);
    if (ec || endpoints.empty()) {
        return -1;
    }

    d.timedOut = false;
    d.tlsUsed = d.param.tls;
    d.deadline.expires_from_now(boost::posix_time::milliseconds(d.param.connectTimeoutMs));
    d.deadline.async_wait([&d, attempt](const error_code& e) { OnDeadline(d, attempt, e); });
    d.connectResult = NotFinished();
    boost::asio::async_connect(d.GetSocket(), endpoints,
                               [&d, attempt](const error_code& e, const tcp::endpoint&) { OnConnect(d, attempt, e); });

    // Ends with the connect's completion or with the deadline, whichever comes first, or with
    // an Abort (which posts a handler, so that run_one returns).
    while (d.connectResult == NotFinished() && !d.timedOut && !d.aborted) {
        if (d.io.stopped()) {
            d.io.restart();
        }
        d.io.run_one();
    }

    if (d.aborted) {
        return -1; // the client is being removed: not a failure of the device
    }
    if (!d.connectResult && !d.timedOut) {
        d.deadline.expires_at(boost::posix_time::pos_infin);
        auto& socket = d.GetSocket();
        socket.set_option(boost::asio::socket_base::linger(true, 0));
        socket.set_option(boost::asio::socket_base::keep_alive(true));
        iobox::platform::SetSocketTimeouts(socket.native_handle(), d.param.sendTimeoutMs, d.param.receiveTimeoutMs);
        Publish(d, true);
        // Set last, so that a client whose sockets failed above does not claim a connection.
        d.connected = true;
        return 0;
    }
    IOBOX_LOG(5, "Marl::Net::CTCPClient::Connect", "adam conn_err, error code:%d", d.connectResult.value());
    return -1;
}

void ClearRecvBufferImpl(CTCPClientData& d, uint32_t seconds)
{
    if (seconds >= kWaitReceiveTimeout) {
        seconds = d.param.receiveTimeoutMs / 1000;
    }
    if (!d.GetSocket().is_open()) {
        return;
    }
    char scratch[kDrainChunk];
    // Bounded, so that a peer sending without end cannot keep the caller here.
    for (std::size_t drained = 0; drained < CTCPClient::kDrainLimit && !d.aborted;) {
        if (!Readable(d, seconds)) {
            return;
        }
        error_code ec;
        const std::size_t n = OnStream(d, [&](auto& stream) { return stream.read_some(boost::asio::buffer(scratch), ec); });
        if (ec || n == 0) {
            return;
        }
        drained += n;
    }
}

int SendDataNoReceiveImpl(CTCPClientData& d, const std::string& data, bool drainFirst)
{
    try {
        if (d.aborted) {
            return -1;
        }
        if (!d.GetSocket().is_open()) {
            IOBOX_LOG(4, "Marl::Net::CTCPClient::SendDataNoReceive", "network,tcp hasn't open");
            return -1;
        }
        if (data.empty()) {
            return 0;
        }
        if (drainFirst) {
            ClearRecvBufferImpl(d, 0);
        }
        error_code ec;
        const std::size_t written =
            OnStream(d, [&](auto& stream) { return boost::asio::write(stream, boost::asio::buffer(data), ec); });
        if (!ec && written == data.size()) {
            return 0;
        }
        if (d.aborted) {
            return -1; // cut short by Abort, as a read is: the device is not at fault
        }
        IOBOX_LOG(4, "Marl::Net::CTCPClient::SendDataNoReceive", "network,[%s],len[%d],writenlen[%d]",
                  ec.message().c_str(), static_cast<int>(data.size()), static_cast<int>(written));
    } catch (const std::exception& e) {
        IOBOX_LOG(4, "Marl::Net::CTCPClient::SendDataNoReceive", "network,socket error[%s]", e.what());
    }
    return -1;
}

int ReadDataImpl(CTCPClientData& d, std::string& out, int n)
{
    while (static_cast<long long>(out.size()) < n) {
        const std::size_t have = out.size();
        const std::size_t missing = static_cast<std::size_t>(n) - have;
        out.resize(have + missing);
        error_code ec;
        const std::size_t got =
            OnStream(d, [&](auto& stream) { return stream.read_some(boost::asio::buffer(&out[have], missing), ec); });
        out.resize(have + (ec ? 0 : got));
        if (d.aborted) {
            return -1; // cut short by Abort: the device is not at fault
        }
        if (IsPeerClosed(ec) || (!ec && got == 0)) {
            IOBOX_LOG(4, "Marl::Net::CTCPClient::ReadData", "network,read len = 0");
            return -1;
        }
        if (ec) {
            IOBOX_LOG(4, "Marl::Net::CTCPClient::ReadData", "network,[%s]", ec.message().c_str());
            return -1;
        }
    }
    return n;
}

// Waits for the first byte of the reply, at most the receive time-out in whole seconds.
bool WaitReply(CTCPClientData& d, const char* func)
{
    if (Readable(d, d.param.receiveTimeoutMs / 1000)) {
        return true;
    }
    IOBOX_LOG(4, func, "network,read timeout");
    return false;
}

int SendDataByHeadStickyImpl(CTCPClientData& d, StickyParam& sticky, const std::string& data)
{
    static const char* const kFunc = "Marl::Net::CTCPClient::SendDataByHeadSticky";
    try {
        if (SendDataNoReceiveImpl(d, data, true) != 0) {
            return -1;
        }
        if (sticky.headLength < 1 || sticky.bodyLength == nullptr || sticky.mode != kStickyByHead) {
            IOBOX_LOG(4, kFunc, "network,headlen[%d]", sticky.headLength);
            return -1;
        }
        if (!WaitReply(d, kFunc)) {
            return -1;
        }
        if (ReadDataImpl(d, sticky.head, sticky.headLength) != sticky.headLength) {
            return -1;
        }
        const int bodyLength = sticky.bodyLength(sticky.head);
        return ReadDataImpl(d, sticky.body, bodyLength) == bodyLength ? 0 : -1;
    } catch (const std::exception& e) {
        IOBOX_LOG(4, kFunc, "network,socket error[%s]", e.what());
    }
    return -1;
}

int SendDataByEndStickyImpl(CTCPClientData& d, StickyParam& sticky, const std::string& data)
{
    static const char* const kFunc = "Marl::Net::CTCPClient::SendDataByEndSticky";
    try {
        if (SendDataNoReceiveImpl(d, data, true) != 0) {
            return -1;
        }
        if (sticky.endFlag.empty() || sticky.mode != kStickyByEnd) {
            IOBOX_LOG(4, kFunc, "network,endflag[%s]", sticky.endFlag.c_str());
            return -1;
        }
        if (!WaitReply(d, kFunc)) {
            return -1;
        }
        boost::asio::streambuf buffer;
        error_code ec;
        const std::size_t n =
            OnStream(d, [&](auto& stream) { return boost::asio::read_until(stream, buffer, sticky.endFlag, ec); });
        if (ec && !IsPeerClosed(ec)) {
            IOBOX_LOG(4, kFunc, "network,[%s]", ec.message().c_str());
            return -1;
        }
        if (ec || n == 0) {
            IOBOX_LOG(4, kFunc, "network,read len = 0");
            return -1;
        }
        // What came after the end flag belongs to no one and goes with the buffer.
        const auto begin = boost::asio::buffers_begin(buffer.data());
        sticky.endData.append(begin, begin + static_cast<std::ptrdiff_t>(n));
        return 0;
    } catch (const std::exception& e) {
        IOBOX_LOG(4, kFunc, "network,socket error[%s]", e.what());
    }
    return -1;
}

} // namespace

CTCPClientData::CTCPClientData(const TcpConnectParam& connectParam)
    : param(connectParam), work(boost::asio::make_work_guard(io)), plain(io), deadline(io)
{
    plain.SetTimeouts(param.sendTimeoutMs, param.receiveTimeoutMs);
}

CTimedSocket::lowest_layer_type& CTCPClientData::GetSocket()
{
    try {
        if (param.tls && tls) {
            return tls->lowest_layer();
        }
    } catch (const std::exception& e) {
        IOBOX_LOG(4, "Marl::Net::CTCPClientData::GetSocket", "%s", e.what());
    }
    return plain.lowest_layer();
}

CTCPClient::CTCPClient(const TcpConnectParam& param)
{
    try {
        m_data = std::make_unique<CTCPClientData>(param);
    } catch (const std::exception& e) {
        // Usually the process ran out of descriptors; the client then fails every operation.
        m_createError = e.what();
        IOBOX_LOG(4, "Marl::Net::CTCPClient::CTCPClient", "network,socket error[%s]", e.what());
    }
}

CTCPClient::~CTCPClient() = default;

template <class Body>
int CTCPClient::Serialised(const char* func, Body&& body)
{
    try {
        std::lock_guard<std::mutex> lock(m_exchangeMutex);
        if (!m_data) {
            IOBOX_LOG(4, func, "network,socket error[%s]", m_createError.c_str());
            return -1;
        }
        return body(*m_data);
    } catch (const std::exception& e) {
        IOBOX_LOG(4, func, "network,socket error[%s]", e.what());
    } catch (...) {
        IOBOX_LOG(4, func, "network,socket error[%s]", "unknown exception");
    }
    return -1;
}

int CTCPClient::Connect()
{
    return Serialised("Marl::Net::CTCPClient::Connect", [](CTCPClientData& d) { return ConnectImpl(d); });
}

int CTCPClient::Disconnect()
{
    if (!m_data) {
        return 0;
    }
    Serialised("Marl::Net::CTCPClient::Disconnect", [](CTCPClientData& d) {
        if (!d.connected) {
            return 0;
        }
        try {
            Publish(d, false);
            d.plain.lowest_layer().close();
            if (d.tls) {
                d.tls->lowest_layer().close();
            }
            d.io.stop();
        } catch (const std::exception& e) {
            IOBOX_LOG(4, "Marl::Net::CTCPClient::Disconnect", "close faild %s", e.what());
        }
        d.connected = false;
        return 0;
    });
    return 0;
}

void CTCPClient::Abort()
{
    if (!m_data) {
        return;
    }
    CTCPClientData& d = *m_data;
    d.aborted = true;
    {
        std::lock_guard<std::mutex> lock(d.abortMutex);
        if (d.liveSocket != kNoSocket) {
            iobox::platform::ShutdownSocket(d.liveSocket);
        }
    }
    try {
        boost::asio::post(d.io, []() {});
    } catch (const std::exception&) {
        // Out of memory: a connect in progress then ends at its deadline.
    }
}

bool CTCPClient::IsConnected() const { return m_data && m_data->connected; }

bool CTCPClient::Aborted() const { return m_data && m_data->aborted; }

int CTCPClient::SendDataNoReceive(const std::string& data, bool drainFirst)
{
    return Serialised("Marl::Net::CTCPClient::SendDataNoReceive",
                      [&](CTCPClientData& d) { return SendDataNoReceiveImpl(d, data, drainFirst); });
}

int CTCPClient::SendDataByHeadSticky(StickyParam& sticky, const std::string& data)
{
    return Serialised("Marl::Net::CTCPClient::SendDataByHeadSticky",
                      [&](CTCPClientData& d) { return SendDataByHeadStickyImpl(d, sticky, data); });
}

int CTCPClient::SendDataByEndSticky(StickyParam& sticky, const std::string& data)
{
    return Serialised("Marl::Net::CTCPClient::SendDataByEndSticky",
                      [&](CTCPClientData& d) { return SendDataByEndStickyImpl(d, sticky, data); });
}

int CTCPClient::ReadData(std::string& out, int n)
{
    return Serialised("Marl::Net::CTCPClient::ReadData", [&](CTCPClientData& d) { return ReadDataImpl(d, out, n); });
}

void CTCPClient::ClearRecvBuffer(uint32_t seconds)
{
    if (!m_data) {
        return;
    }
    Serialised("Marl::Net::CTCPClient::ClearRecvBuffer", [&](CTCPClientData& d) {
        ClearRecvBufferImpl(d, seconds);
        return 0;
    });
}

}} // namespace Marl::Net
