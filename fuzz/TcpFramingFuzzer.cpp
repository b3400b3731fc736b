// The TCP client's framed reads (head-length and end-flag), its plain read and its receive
// drain, against a peer socket that writes the fuzzer's bytes. The client connects itself to
// an address and port, so the pair is a loopback TCP connection to a listener on 127.0.0.1
// that lives for the whole run; it is re-opened only after a run in which the peer closed.
//
// Every run is bounded: the peer's bytes are in the client's socket before it reads (or the
// peer shuts its side), and reads that wait for more give up after the receive time-out.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusFrame.h"
#include "FuzzSupport.h"

namespace {

using Marl::Net::CTCPClient;
using Marl::Net::StickyParam;

// A descriptor closed with its owner.
class CFd {
public:
    explicit CFd(int fd = -1) : m_fd(fd) {}
    ~CFd() { Reset(); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd = -1)
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd;
};

// Everything the peer writes goes into the loopback socket's buffer at once, or not at all.
bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    for (int attempt = 0; attempt < 64 && done < bytes.size(); ++attempt) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
}

// Reads exactly n bytes, giving up at the deadline.
std::string ReadExactly(int fd, std::size_t n, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    while (out.size() < n && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, n - out.size()), MSG_DONTWAIT);
        if (got <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

// A client connected to a peer descriptor through a listener on 127.0.0.1.
class CLoopbackLink {
public:
    explicit CLoopbackLink(uint32_t receiveTimeoutMs)
    {
        m_listener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener.Get() < 0 || ::bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listener.Get(), 4) != 0 ||
            ::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("loopback listener");
            std::abort();
        }
        Marl::Net::TcpConnectParam param;
        param.ip = "127.0.0.1";
        param.port = ntohs(address.sin_port);
        param.tls = false;
        param.connectTimeoutMs = 1000;
        param.sendTimeoutMs = 1000;
        param.receiveTimeoutMs = receiveTimeoutMs;
        m_client = std::make_unique<CTCPClient>(param);
    }

    // Connected (again, when the last run closed the peer). False when the loopback failed.
    bool Ready()
    {
        if (m_peer.Get() >= 0) {
            return true;
        }
        m_client->Disconnect();
        if (m_client->Connect() != 0) {
            return false;
        }
        pollfd p{m_listener.Get(), POLLIN, 0};
        if (::poll(&p, 1, 1000) != 1) {
            return false;
        }
        m_peer.Reset(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        return m_peer.Get() >= 0;
    }

    // The next run starts with a fresh connection.
    void Drop() { m_peer.Reset(); }

    CTCPClient& Client() { return *m_client; }
    int Peer() const { return m_peer.Get(); }

private:
    CFd m_listener;
    CFd m_peer;
    std::unique_ptr<CTCPClient> m_client;
};

// The client's connections: one with short reads for peers that stay silent, one with a long
// reply wait for exchanges whose request the peer reads before it answers (and then closes).
CLoopbackLink* g_quick = nullptr;
CLoopbackLink* g_answering = nullptr;

// A Read Discrete Inputs request, as the poll sends it.
const std::string kRequest("\x00\x01\x00\x00\x00\x06\x00\x02\x00\x00\x00\x0C", 12);

// Body lengths as a head can give them: its last two bytes unsigned, the same signed (so
// negative lengths turn up), its first byte, and the Modbus reply's length field.
int LastTwoUnsigned(const std::string& head)
{
    if (head.size() < 2) {
        return head.empty() ? 0 : static_cast<uint8_t>(head[0]);
    }
    return (static_cast<uint8_t>(head[head.size() - 2]) << 8) | static_cast<uint8_t>(head.back());
}
int LastTwoSigned(const std::string& head) { return static_cast<int16_t>(LastTwoUnsigned(head)); }
int FirstByte(const std::string& head) { return head.empty() ? 0 : static_cast<uint8_t>(head[0]); }

const Marl::Net::BodyLengthFunc kBodyLengths[] = {LastTwoUnsigned, LastTwoSigned, FirstByte,
                                                  iobox::modbus::BodyLengthFromHead};
constexpr std::size_t kBodyLengthCount = sizeof kBodyLengths / sizeof kBodyLengths[0];

enum Operation { kHead = 0, kEnd = 1, kRead = 2, kDrain = 3 };

struct Run {
    Operation op = kHead;
    bool peerCloses = false;
    bool withRequest = false; // only for framed exchanges: stale bytes, request, then reply
    bool wrongMode = false;
    Marl::Net::BodyLengthFunc bodyLength = nullptr;
    int headLength = 0;
    std::string endFlag;
    int readCount = 0;
    std::string prefill;
    std::string stale;
    std::string payload;
};

Run Decode(fuzzsupport::CByteReader& in)
{
    Run run;
    const uint8_t flags = in.Byte();
    run.op = static_cast<Operation>(flags & 3);
    run.peerCloses = (flags & 4) != 0;
    run.withRequest = (flags & 8) != 0 && (run.op == kHead || run.op == kEnd);
    run.wrongMode = (flags & 16) != 0;
    run.bodyLength = kBodyLengths[((flags >> 5) & 3) % kBodyLengthCount];
    switch (run.op) {
    case kHead: run.headLength = static_cast<int>(in.Byte() % 20) - 1; break;
    case kEnd: run.endFlag = in.Bytes(in.Byte() % 5); break;
    case kRead:
        run.readCount = static_cast<int>(in.Uint16() % 4098) - 1;
        run.prefill = std::string(in.Byte() % 8, 'p');
        break;
    case kDrain: break;
    }
    if (run.withRequest) {
        const std::string piece = in.Bytes(in.Byte());
        for (int i = 0; i < 8; ++i) {
            run.stale += piece; // up to 2040 bytes: the drain needs several chunks
        }
    }
    run.payload = in.Rest();
    return run;
}

// What the client must deliver from the payload, worked out from the bytes alone.
struct Expected {
    int result = -1;
    std::string head;
    std::string body;
    std::string endData;
    std::string out;
};

Expected Expect(const Run& run)
{
    Expected e;
    const std::string& p = run.payload;
    switch (run.op) {
    case kHead: {
        if (run.wrongMode || run.headLength < 1 || p.size() < static_cast<std::size_t>(run.headLength)) {
            return e;
        }
        const std::string head = p.substr(0, static_cast<std::size_t>(run.headLength));
        const int length = run.bodyLength(head);
        const std::size_t need = length > 0 ? static_cast<std::size_t>(length) : 0;
        if (p.size() - head.size() >= need) {
            e.result = 0;
            e.head = head;
            e.body = p.substr(head.size(), need);
        }
        return e;
    }
    case kEnd: {
        const std::size_t at = run.endFlag.empty() ? std::string::npos : p.find(run.endFlag);
        if (!run.wrongMode && at != std::string::npos) {
            e.result = 0;
            e.endData = p.substr(0, at + run.endFlag.size());
        }
        return e;
    }
    case kRead: {
        const int have = static_cast<int>(run.prefill.size());
        const std::size_t missing = run.readCount > have ? static_cast<std::size_t>(run.readCount - have) : 0;
        if (p.size() >= missing) {
            e.result = run.readCount;
            e.out = run.prefill + p.substr(0, missing);
        }
        return e;
    }
    case kDrain: return e;
    }
    return e;
}

StickyParam Framing(const Run& run)
{
    StickyParam sticky;
    const bool head = run.op == kHead;
    sticky.mode = (head != run.wrongMode) ? Marl::Net::kStickyByHead : Marl::Net::kStickyByEnd;
    sticky.headLength = run.headLength;
    sticky.bodyLength = run.bodyLength;
    sticky.endFlag = run.endFlag;
    return sticky;
}

void CheckFramed(const Run& run, const Expected& e, int result, const StickyParam& sticky)
{
    FUZZ_CHECK(result == e.result);
    if (result == 0) {
        FUZZ_CHECK(sticky.head == e.head);
        FUZZ_CHECK(sticky.body == e.body);
        FUZZ_CHECK(sticky.endData == e.endData);
    }
    if (run.op == kEnd) {
        FUZZ_CHECK(sticky.head.empty() && sticky.body.empty());
    } else {
        FUZZ_CHECK(sticky.endData.empty());
    }
}

// Stale bytes wait on the socket, the client sends the request, the peer reads it and answers
// with the payload, then closes its side.
void RunWithRequest(const Run& run)
{
    CLoopbackLink& link = *g_answering;
    if (!link.Ready() || !WriteAll(link.Peer(), run.stale)) {
        link.Drop();
        return;
    }
    std::string received;
    bool answered = false;
    const int peer = link.Peer();
    std::thread answer([&]() {
        received = ReadExactly(peer, kRequest.size(), 5000);
        answered = received == kRequest && WriteAll(peer, run.payload);
        ::shutdown(peer, SHUT_WR);
    });
    StickyParam sticky = Framing(run);
    const int result = run.op == kHead ? link.Client().SendDataByHeadSticky(sticky, kRequest)
                                       : link.Client().SendDataByEndSticky(sticky, kRequest);
    answer.join();
    link.Drop();
    FUZZ_CHECK(received == kRequest);
    if (answered) {
        // The stale bytes were drained before the request went out: the reply alone counts.
        CheckFramed(run, Expect(run), result, sticky);
    }
}

// The payload waits on the socket before the client reads; an empty request skips the drain.
void RunOnWaitingBytes(const Run& run)
{
    CLoopbackLink& link = *g_quick;
    if (!link.Ready() || !WriteAll(link.Peer(), run.payload)) {
        link.Drop();
        return;
    }
    if (run.peerCloses) {
        ::shutdown(link.Peer(), SHUT_WR);
    }
    const Expected e = Expect(run);
    CTCPClient& client = link.Client();
    switch (run.op) {
    case kHead:
    case kEnd: {
        StickyParam sticky = Framing(run);
        const int result = run.op == kHead ? client.SendDataByHeadSticky(sticky, "")
                                           : client.SendDataByEndSticky(sticky, "");
        CheckFramed(run, e, result, sticky);
        break;
    }
    case kRead: {
        std::string out = run.prefill;
        const int result = client.ReadData(out, run.readCount);
        FUZZ_CHECK(result == e.result);
        if (result >= 0) {
            FUZZ_CHECK(out == e.out);
        }
        break;
    }
    case kDrain: break;
    }

    if (run.peerCloses) {
        link.Drop();
        return;
    }
    // Whatever the exchange left is drained, and nothing more: a marker written afterwards is
    // the next byte the client reads.
    client.ClearRecvBuffer(0);
    const std::string marker("\x5A", 1);
    FUZZ_CHECK(WriteAll(link.Peer(), marker));
    std::string next;
    FUZZ_CHECK(client.ReadData(next, 1) == 1);
    FUZZ_CHECK(next == marker);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::InstallDropLogSink();
    std::signal(SIGPIPE, SIG_IGN);
    // A 1 ms receive time-out makes the reply wait a mere test and a short payload cost 1 ms.
    g_quick = new CLoopbackLink(1);
    g_answering = new CLoopbackLink(5000);
    return 0;
}

// Input: a flags byte (bits 0-1 operation, 2 peer closes, 3 request first, 4 wrong framing
// mode, 5-6 body length rule), the operation's parameters, stale bytes when a request goes
// first, then what the peer sends.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzzsupport::CByteReader in(data, size);
    const Run run = Decode(in);
    if (run.withRequest) {
        RunWithRequest(run);
    } else {
        RunOnWaitingBytes(run);
    }
    return 0;
}
