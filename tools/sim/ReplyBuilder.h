#pragma once
// Replies built by libmodbus from the data model, captured as bytes so that the event loop (and
// the fault modes) decide when and how they leave.

#include <modbus/modbus.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace iobox::sim {

class SocketPair;

class ReplyBuilder {
public:
    ReplyBuilder();
    ~ReplyBuilder();
    ReplyBuilder(const ReplyBuilder&) = delete;
    ReplyBuilder& operator=(const ReplyBuilder&) = delete;

    // Empty when the libmodbus context exists.
    const std::string& Error() const { return error_; }
    // libmodbus writes into this pair from now on (nullptr: nowhere, every build fails).
    void Attach(SocketPair* pair);

    // The device's reply to one whole frame (`length` bytes, MBAP head included).
    bool Normal(const std::uint8_t* frame, std::size_t length, modbus_mapping_t* mapping,
                std::vector<std::uint8_t>& reply);
    // An exception reply; false for codes libmodbus does not name.
    bool Exception(const std::uint8_t* frame, std::size_t length, std::uint8_t code,
                   std::vector<std::uint8_t>& reply);

private:
    // Copies the frame into a full-size buffer, lets send write the reply into the pair and reads it back.
    bool Build(const std::uint8_t* frame, std::size_t length, std::vector<std::uint8_t>& reply,
               const std::function<int(std::uint8_t* request)>& send);

    modbus_t* ctx_ = nullptr;
    SocketPair* pair_ = nullptr;
    std::string error_;
};

} // namespace iobox::sim
