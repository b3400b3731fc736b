#include "Faults.h"
#include "ReplyBuilder.h"

#include <modbus/modbus.h>

#include <algorithm>

namespace iobox::sim {
namespace {

std::vector<std::uint8_t> Garbage(std::mt19937& rng)
{
    std::uniform_int_distribution<int> size(8, 24);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size(rng)));
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(rng));
    }
    bytes[2] |= 0x80;   // a non-zero protocol identifier is never a Modbus TCP frame
    return bytes;
}

} // namespace

FaultSnapshot FaultSwitches::Snapshot() const
{
    FaultSnapshot s;
    s.silent = silent.load();
    s.garbage = garbage.load();
    s.exceptionCode = exceptionCode.load();
    s.truncate = truncate.load();
    s.oversize = oversize.load();
    s.stallMs = stallMs.load();
    return s;
}

bool NeedsNormalReply(const FaultSnapshot& faults)
{
    return !faults.silent && !faults.garbage && faults.exceptionCode == 0;
}

FaultyReply ShapeReply(const FaultSnapshot& faults, const std::uint8_t* frame, std::size_t length,
                       ReplyBuilder& builder, std::vector<std::uint8_t> normal, std::mt19937& rng)
{
    FaultyReply out;
    if (faults.silent) {
        return out;
    }
    if (faults.garbage) {
        out.bytes = Garbage(rng);
        return out;
    }
    auto& reply = out.bytes;
    const std::uint8_t code = faults.exceptionCode;
    if (code != 0) {
        if (!builder.Exception(frame, length, code, reply)) {
            // libmodbus refuses codes beyond the ones it names; a device may still send them.
            reply = {frame[0], frame[1], 0, 0, 0, 3, frame[6], static_cast<std::uint8_t>(frame[7] | 0x80), code};
        }
    } else {
        reply = std::move(normal);
    }
    if (reply.size() < 9) {
        reply.clear();
        out.error = "libmodbus built no reply";
        return out;
    }
    const std::uint8_t fc = reply[7];
    if (code == 0 && faults.oversize && (fc == MODBUS_FC_READ_COILS || fc == MODBUS_FC_READ_DISCRETE_INPUTS)) {
        reply[8] = static_cast<std::uint8_t>(std::min(255, reply[8] + 4));
    }
    if (faults.truncate) {
        // Keep the head and about half of the body; at least one body byte is always missing.
        const std::size_t body = reply.size() - 6;
        reply.resize(6 + body / 2);
        out.closeAfter = true;
    }
    return out;
}

} // namespace iobox::sim
