#include "ReplyBuilder.h"
#include "SimSocket.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace iobox::sim {

ReplyBuilder::ReplyBuilder()
{
    // Only the reply builders are used; this context never connects anywhere.
    ctx_ = modbus_new_tcp("127.0.0.1", 502);
    if (ctx_ == nullptr) {
        error_ = std::string("modbus_new_tcp: ") + std::strerror(errno);
        return;
    }
    // Some exception replies make libmodbus wait one response time-out and flush its socket
    // first; keep that wait negligible (the flush finds nothing: the pair's far end never writes).
    modbus_set_response_timeout(ctx_, 0, 1);
}

ReplyBuilder::~ReplyBuilder()
{
    if (ctx_ != nullptr) {
        modbus_free(ctx_);
    }
}

void ReplyBuilder::Attach(SocketPair* pair)
{
    pair_ = pair;
    if (ctx_ != nullptr) {
        modbus_set_socket(ctx_, pair != nullptr ? pair->WriterHandle() : -1);
    }
}

bool ReplyBuilder::Normal(const std::uint8_t* frame, std::size_t length, modbus_mapping_t* mapping,
                          std::vector<std::uint8_t>& reply)
{
    return Build(frame, length, reply, [&](std::uint8_t* request) {
        return modbus_reply(ctx_, request, static_cast<int>(length), mapping);
    });
}

bool ReplyBuilder::Exception(const std::uint8_t* frame, std::size_t length, std::uint8_t code,
                             std::vector<std::uint8_t>& reply)
{
    return Build(frame, length, reply,
                 [&](std::uint8_t* request) { return modbus_reply_exception(ctx_, request, code); });
}

bool ReplyBuilder::Build(const std::uint8_t* frame, std::size_t length, std::vector<std::uint8_t>& reply,
                         const std::function<int(std::uint8_t* request)>& send)
{
    reply.clear();
    if (ctx_ == nullptr || pair_ == nullptr || length > MODBUS_TCP_MAX_ADU_LENGTH) {
        return false;
    }
    // libmodbus may read a few bytes past a short frame; give it a full-size zeroed buffer.
    std::array<std::uint8_t, MODBUS_TCP_MAX_ADU_LENGTH> request{};
    std::memcpy(request.data(), frame, length);
    const int sent = send(request.data());
    if (sent <= 0 || sent > MODBUS_TCP_MAX_ADU_LENGTH) {
        // A failed send may still have left part of a frame in the pair.
        pair_->Drain();
        return false;
    }
    reply.resize(static_cast<std::size_t>(sent));
    if (!pair_->ReadExactly(reply.data(), reply.size())) {
        reply.clear();
        return false;
    }
    return true;
}

} // namespace iobox::sim
