#pragma once
// Loopback clients for talking to the simulated I/O box in tests.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <modbus/modbus.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace simtest {

// One 12-byte Modbus TCP request as the plug-in builds it.
std::vector<std::uint8_t> Request(std::uint16_t tid, std::uint8_t function, std::uint16_t address,
                                  std::uint16_t value, std::uint8_t unit = 0);

// A plain blocking TCP client on 127.0.0.1 with bounded reads.
class RawClient {
public:
    explicit RawClient(std::uint16_t port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return socket_.is_open(); }
    boost::system::error_code ConnectError() const { return connectError_; }
    bool Send(const std::vector<std::uint8_t>& bytes);
    // Reads until `count` bytes arrived, the peer closed or the time-out passed.
    std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout);
    // One whole reply: the 6-byte head and the length it gives (short on end or time-out).
    std::vector<std::uint8_t> ReadFrame(std::chrono::milliseconds timeout);
    // True once the peer's end of stream has arrived.
    bool Closed() const { return eof_; }
    bool WaitClosed(std::chrono::milliseconds timeout);

private:
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_{io_};
    boost::system::error_code connectError_;
    bool eof_ = false;
};

// libmodbus's own client, connected to 127.0.0.1:port with a one-second response time-out.
class ModbusClient {
public:
    explicit ModbusClient(std::uint16_t port);
    ~ModbusClient();
    ModbusClient(const ModbusClient&) = delete;
    ModbusClient& operator=(const ModbusClient&) = delete;
    bool Connected() const { return connected_; }
    modbus_t* Get() const { return ctx_; }

private:
    modbus_t* ctx_ = nullptr;
    bool connected_ = false;
};

} // namespace simtest
