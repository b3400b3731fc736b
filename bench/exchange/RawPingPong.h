#pragma once
// The floor of a Modbus exchange on loopback: a plain TCP client that writes a request of the
// same size as a Read Discrete Inputs request and reads a reply of the same size as its answer,
// against a server that does nothing but answer.
#include <cstddef>
#include <cstdint>

namespace bench {

constexpr std::size_t kPingRequestBytes = 12; // MBAP head + Read Discrete Inputs PDU
constexpr std::size_t kPingReplyBytes = 11;   // MBAP head + function, byte count, two data bytes

// Listens on 127.0.0.1 (kernel-chosen port), prints "port <n>" on stdout, then answers every
// 12-byte request with 11 bytes, one client at a time, until durationS seconds have passed.
// Returns the process exit code.
int RunRawServer(int durationS);

class RawPingPongClient {
public:
    explicit RawPingPongClient(uint16_t port);
    ~RawPingPongClient();
    RawPingPongClient(const RawPingPongClient&) = delete;
    RawPingPongClient& operator=(const RawPingPongClient&) = delete;

    bool Connected() const { return m_fd >= 0; }
    // One request out, one whole reply in; false on any error.
    bool RoundTrip();

private:
    int m_fd = -1;
};

} // namespace bench
