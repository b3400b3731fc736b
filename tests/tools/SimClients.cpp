#include "SimClients.h"

#include <boost/asio/write.hpp>

#include <algorithm>

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
    boost::system::error_code ignored;
    socket_.connect({boost::asio::ip::address_v4::loopback(), port}, connectError_);
    // Small writes must leave at once, so split frames really arrive split.
    socket_.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
    if (connectError_) {
        socket_.close(ignored);
    }
}

RawClient::~RawClient() = default;

bool RawClient::Send(const std::vector<std::uint8_t>& bytes)
{
    boost::system::error_code error;
    return Connected() && boost::asio::write(socket_, boost::asio::buffer(bytes), error) == bytes.size() && !error;
}

std::vector<std::uint8_t> RawClient::Read(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Every round reads, sees the end, or ends with the time-out (a zero time-out still looks once:
    // a read that finds data completes even when it is cancelled at once).
    for (int round = 0; round < 10000 && Connected() && out.size() < count && !eof_; ++round) {
        std::uint8_t buf[512];
        std::size_t got = 0;
        bool done = false;
        socket_.async_read_some(boost::asio::buffer(buf, std::min(sizeof(buf), count - out.size())),
                                [&](const boost::system::error_code& error, std::size_t n) {
                                    done = true;
                                    got = n;
                                    eof_ = error && error != boost::asio::error::operation_aborted;
                                });
        io_.restart();
        io_.run_until(deadline);
        const bool inTime = done;
        if (!inTime) {
            socket_.cancel();
            io_.run();
        }
        out.insert(out.end(), buf, buf + got);
        if (!inTime) {
            break;
        }
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
