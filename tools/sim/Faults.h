#pragma once
// Fault injection of the simulated I/O box: the switches, and how they shape one reply.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace iobox::sim {

class ReplyBuilder;

// The switches for one request, read once before it is counted.
struct FaultSnapshot {
    bool silent = false;
    bool garbage = false;
    std::uint8_t exceptionCode = 0;
    bool truncate = false;
    bool oversize = false;
    long long stallMs = 0;
};

// Written by any thread, read by the server thread.
struct FaultSwitches {
    std::atomic<long long> stallMs{0};
    std::atomic<bool> garbage{false};
    std::atomic<std::uint8_t> exceptionCode{0};
    std::atomic<bool> truncate{false};
    std::atomic<bool> oversize{false};
    std::atomic<int> maxClients{0};
    std::atomic<bool> silent{false};
    std::atomic<bool> refusing{false};

    FaultSnapshot Snapshot() const;
};

// What goes back for one request.
struct FaultyReply {
    std::vector<std::uint8_t> bytes;   // empty: nothing is sent
    bool closeAfter = false;           // close once the bytes are out, serve nothing more
    std::string error;                 // why no reply could be built
};

// False when a fault replaces the device's own reply (which then need not be built).
bool NeedsNormalReply(const FaultSnapshot& faults);

// The reply to one whole frame (`length` bytes, MBAP head included) under `faults`; `normal` is
// the device's own reply when NeedsNormalReply().
FaultyReply ShapeReply(const FaultSnapshot& faults, const std::uint8_t* frame, std::size_t length,
                       ReplyBuilder& builder, std::vector<std::uint8_t> normal, std::mt19937& rng);

} // namespace iobox::sim
