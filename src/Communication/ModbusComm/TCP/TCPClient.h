#pragma once
// A blocking TCP client towards one device, optionally over TLS 1.2, with a connect deadline
// and three exchange modes. Every operation runs on the calling thread, returns 0 on success
// and -1 on failure (after logging why) and never throws.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Common/Timing.h"

namespace Marl { namespace Net {

struct TcpConnectParam {
    std::string ip;                                            // host name or address text
    uint16_t port = 0;
    bool tls = true;                                           // all traffic through TLS 1.2
    uint32_t connectTimeoutMs = iobox::kDefaultNetworkTimeoutMs; // deadline of one connect attempt
    uint32_t sendTimeoutMs = iobox::kDefaultNetworkTimeoutMs;    // bound of one blocking write
    // Bound of one blocking read; in whole seconds also the wait for a reply's first byte.
    uint32_t receiveTimeoutMs = iobox::kDefaultNetworkTimeoutMs;
};

// Body length of a head-length framed reply, computed from its head.
using BodyLengthFunc = int (*)(const std::string& head);

constexpr uint32_t kStickyByHead = 0; // head of fixed length, then a body the head sizes
constexpr uint32_t kStickyByEnd = 1;  // everything up to and including an end flag

// How one reply is framed, and where it lands.
struct StickyParam {
    uint32_t mode = kStickyByHead;
    int32_t headLength = 0;
    BodyLengthFunc bodyLength = nullptr;
    std::string head;
    std::string body;
    std::string endFlag;
    std::string endData; // the reply up to and including the end flag
};

struct CTCPClientData;

class CTCPClient {
public:
    explicit CTCPClient(const TcpConnectParam& param);
    ~CTCPClient();
    CTCPClient(const CTCPClient&) = delete;
    CTCPClient& operator=(const CTCPClient&) = delete;

    // 0 connected; -1 failed (refused, deadline passed, TLS handshake failed, ...).
    int Connect();
    // Closes the sockets of a connected client (after an exchange in progress); always 0.
    int Disconnect();
    // Set by a successful Connect, cleared only by Disconnect (not by a peer's close).
    bool IsConnected() const;

    int SendDataNoReceive(const std::string& data, bool drainFirst);
    int SendDataByHeadSticky(StickyParam& sticky, const std::string& data);
    int SendDataByEndSticky(StickyParam& sticky, const std::string& data);
    // Reads until out holds n bytes; n, or -1.
    int ReadData(std::string& out, int n);
    // Discards what is waiting on the socket, at most kDrainLimit bytes; 0xFFFFFFFF waits the
    // receive time-out per chunk.
    void ClearRecvBuffer(uint32_t seconds);
    // From any thread, without the exchange lock: ends at once whatever the client waits for
    // (connect, drain, reply, read, write) and makes every later operation fail. For a client
    // that is about to be removed.
    void Abort();
    // Whether Abort was called: what fails after it is not the device's doing.
    bool Aborted() const;

    // What a drain discards at most. A Modbus TCP reply is at most 260 bytes; what the drain
    // legitimately meets are replies left unread by send-only requests (12 bytes each) or
    // late ones, a few dozen at most. A peer that sends more is not answering requests: the
    // exchange after the drain takes what follows as its reply and stands or falls by it,
    // instead of the drain reading for ever.
    static constexpr std::size_t kDrainLimit = 16 * 1024;

private:
    // Runs body under the exchange lock; a client whose creation failed, or an exception,
    // gives -1 with a log line naming func.
    template <class Body>
    int Serialised(const char* func, Body&& body);

    // Connect, Disconnect and every exchange run one at a time, so that a poll thread and a
    // host thread sharing the client never interleave their frames. Abort does not take it.
    std::mutex m_exchangeMutex;
    std::unique_ptr<CTCPClientData> m_data; // empty only when its creation failed
    std::string m_createError;
};

}} // namespace Marl::Net
