#include <gtest/gtest.h>

#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <future>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "LoopbackServer.h"
#include "support/LogCapture.h"
#include "support/Process.h"

namespace {

using Marl::Net::CTCPClient;
using Marl::Net::StickyParam;
using Marl::Net::TcpConnectParam;
using transporttest::AnswerOnce;
using transporttest::ClientParams;
using transporttest::HeadSticky;
using transporttest::HeadFramed;
using transporttest::LoopbackServer;
using transporttest::Peer;
using Clock = std::chrono::steady_clock;

const char* const kSource = "src/Communication/ModbusComm/TCP/Private/TCPClient.cpp";

std::string In(const char* operation) { return std::string("[Marl::Net::CTCPClient::") + operation + "]"; }

StickyParam ByEnd(const std::string& flag = "\r\n")
{
    StickyParam sticky;
    sticky.mode = Marl::Net::kStickyByEnd;
    sticky.endFlag = flag;
    return sticky;
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// ---- connecting ------------------------------------------------------------------------

TEST(TcpClient, ConnectToClosedPortIsRefused)
{
    testsupport::LogCapture log;
    transporttest::RefusingPort closed;
    CTCPClient client(ClientParams(closed.Port()));

    EXPECT_EQ(client.Connect(), -1);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(log.HasLine(4, In("OnConnect") + "Connect err Connection refused", kSource)) << log.Dump();
    EXPECT_TRUE(log.HasLine(5, In("Connect") + "adam conn_err, error code:" + std::to_string(ECONNREFUSED), kSource))
        << log.Dump();
    // Not connected: Disconnect has nothing to do.
    EXPECT_EQ(client.Disconnect(), 0);
}

TEST(TcpClient, UnansweredConnectEndsAtItsDeadlineAndTheClientCanTryAgain)
{
    transporttest::UnansweredListener listener;
    ASSERT_TRUE(listener.Full()) << "could not fill the listener's backlog";
    testsupport::LogCapture log;
    TcpConnectParam param = ClientParams(listener.Port());
    param.connectTimeoutMs = 300;
    CTCPClient client(param);

    const auto start = Clock::now();
    EXPECT_EQ(client.Connect(), -1);
    EXPECT_GE(MsSince(start), 300);
    EXPECT_TRUE(log.HasLine(5, In("Connect") + "adam conn_err, error code:10035", kSource)) << log.Dump();
    EXPECT_EQ(log.CountFormat("[%s]Connect err %s[%s(%d)]"), 0U) << log.Dump();
    EXPECT_FALSE(client.IsConnected());

    // Once the listener has room again, the same client connects.
    listener.Release();
    EXPECT_EQ(client.Connect(), 0) << log.Dump();
    EXPECT_TRUE(client.IsConnected());
}

// ---- framed exchanges ------------------------------------------------------------------

enum class Delivery { Whole, ByteByByte, Late };

struct ExchangeCase {
    const char* name;
    uint32_t mode;
    Delivery delivery;
};

void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.name; }

class TcpClientExchange : public ::testing::TestWithParam<ExchangeCase> {};

// Replies "reply to <request>" framed by the case's mode; end-framed replies carry bytes
// after the end flag that belong to no one.
void ReplyOnce(Peer& peer, const ExchangeCase& c)
{
    std::string request;
    if (!peer.ReadExact(request, 5)) {
        return;
    }
    const std::string body = "reply to " + request;
    const std::string reply = c.mode == Marl::Net::kStickyByHead ? HeadFramed(body) : body + "\r\nafter";
    switch (c.delivery) {
    case Delivery::Whole:
        peer.Write(reply);
        break;
    case Delivery::ByteByByte:
        peer.WriteSlowly(reply, 1);
        break;
    case Delivery::Late:
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        peer.Write(reply);
        break;
    }
    peer.WaitClosed();
}

TEST_P(TcpClientExchange, ReceivesTheWholeFramedReply)
{
    const ExchangeCase c = GetParam();
    LoopbackServer server([&](Peer& peer) { ReplyOnce(peer, c); });
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port()));
    ASSERT_EQ(client.Connect(), 0) << log.Dump();

    if (c.mode == Marl::Net::kStickyByHead) {
        StickyParam sticky = HeadSticky();
        ASSERT_EQ(client.SendDataByHeadSticky(sticky, "PING1"), 0) << log.Dump();
        EXPECT_EQ(sticky.head, std::string("\0\016", 2));
        EXPECT_EQ(sticky.body, "reply to PING1");
    } else {
        StickyParam sticky = ByEnd();
        ASSERT_EQ(client.SendDataByEndSticky(sticky, "PING1"), 0) << log.Dump();
        EXPECT_EQ(sticky.endData, "reply to PING1\r\n");
    }
    EXPECT_EQ(client.Disconnect(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, TcpClientExchange,
    ::testing::Values(ExchangeCase{"HeadWhole", Marl::Net::kStickyByHead, Delivery::Whole},
                      ExchangeCase{"HeadByteByByte", Marl::Net::kStickyByHead, Delivery::ByteByByte},
                      ExchangeCase{"HeadLate", Marl::Net::kStickyByHead, Delivery::Late},
                      ExchangeCase{"EndWhole", Marl::Net::kStickyByEnd, Delivery::Whole},
                      ExchangeCase{"EndByteByByte", Marl::Net::kStickyByEnd, Delivery::ByteByByte},
                      ExchangeCase{"EndLate", Marl::Net::kStickyByEnd, Delivery::Late}),
    [](const ::testing::TestParamInfo<ExchangeCase>& info) { return std::string(info.param.name); });

class TcpClientDrain : public ::testing::TestWithParam<bool> {};

TEST_P(TcpClientDrain, ReplyLeftBySendOnlyRequestIsDrainedBeforeNextExchange)
{
    const bool tls = GetParam();
    auto tlsContext = transporttest::MakeServerTlsContext(TLS1_2_VERSION, TLS1_2_VERSION);
    std::promise<void> leftoverDelivered;
    std::string received;
    LoopbackServer server(
        [&](Peer& peer) {
            // Several 1024-byte chunks of an answer nobody reads, in two writes (over TLS two
            // records, the second of which the client's TLS layer may hold unprocessed).
            std::string request;
            if (!peer.ReadExact(request, 2) || !peer.Write(std::string(2500, 'Z')) ||
                !peer.Write(std::string(2500, 'Y')) || !peer.WaitDelivered()) {
                return;
            }
            leftoverDelivered.set_value();
            if (!peer.ReadExact(received, 5)) {
                return;
            }
            peer.Write(HeadFramed("fresh"));
            peer.WaitClosed();
        },
        1, tls ? tlsContext.get() : nullptr);
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port(), 1500, tls));
    ASSERT_EQ(client.Connect(), 0) << log.Dump();

    // Empty data writes nothing: the server's first two bytes are those of the next send.
    EXPECT_EQ(client.SendDataNoReceive("", true), 0);
    ASSERT_EQ(client.SendDataNoReceive("SO", false), 0);
    ASSERT_EQ(leftoverDelivered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);

    StickyParam sticky = HeadSticky();
    ASSERT_EQ(client.SendDataByHeadSticky(sticky, "HELLO"), 0) << log.Dump();
    EXPECT_EQ(sticky.body, "fresh");
    EXPECT_EQ(received, "HELLO");
}

INSTANTIATE_TEST_SUITE_P(Transports, TcpClientDrain, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Tls" : "Plain"; });

TEST(TcpClient, WriteToAResetConnectionFails)
{
    LoopbackServer server([](Peer& peer) {
        std::string request;
        peer.ReadExact(request, 1);
        peer.ResetOnClose();
    });
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port()));
    ASSERT_EQ(client.Connect(), 0) << log.Dump();
    ASSERT_EQ(client.SendDataNoReceive("P", false), 0);
    ASSERT_TRUE(testsupport::WaitFor([&]() { return server.Served() == 1; }, std::chrono::seconds(5)));

    // The second write meets a socket the peer has reset: it must fail, never raise a signal.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(client.SendDataNoReceive("PING1", false), -1) << "write " << i;
    }
    const auto lines = log.WithFormat("[%s]network,[%s],len[%d],writenlen[%d][%s(%d)]");
    ASSERT_EQ(lines.size(), 2U) << log.Dump();
    EXPECT_EQ(lines[0].level, 4);
    EXPECT_NE(lines[0].text.find("],len[5],writenlen[0]"), std::string::npos) << lines[0].text;
    EXPECT_TRUE(client.IsConnected());
}

TEST(TcpClient, PeerClosingInTheMiddleOfABodyFailsTheExchangeButNotTheConnectedFlag)
{
    LoopbackServer server(AnswerOnce(HeadFramed("0123456789").substr(0, 6), true));
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port()));
    ASSERT_EQ(client.Connect(), 0);

    StickyParam sticky = HeadSticky();
    EXPECT_EQ(client.SendDataByHeadSticky(sticky, "PING1"), -1);
    EXPECT_TRUE(log.HasLine(4, In("ReadData") + "network,read len = 0", kSource)) << log.Dump();
    EXPECT_EQ(sticky.body, "0123");
    EXPECT_TRUE(client.IsConnected());

    EXPECT_EQ(client.Disconnect(), 0);
    EXPECT_FALSE(client.IsConnected());
    log.Clear();
    EXPECT_EQ(client.SendDataNoReceive("PING2", false), -1);
    EXPECT_TRUE(log.HasLine(4, In("SendDataNoReceive") + "network,tcp hasn't open", kSource)) << log.Dump();
}

// ---- time-outs -------------------------------------------------------------------------

TEST(TcpClient, ReceiveTimeoutBelowOneSecondOnlyTakesAReplyThatIsAlreadyThere)
{
    std::promise<void> replyDelivered;
    LoopbackServer server([&](Peer& peer) {
        // First connection: the reply is there before the client asks.
        if (peer.Write(HeadFramed("early")) && peer.WaitDelivered()) {
            replyDelivered.set_value();
        }
        // Then a request whose reply comes 100 ms later.
        std::string request;
        if (peer.ReadExact(request, 5)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            peer.Write(HeadFramed("late"));
        }
        peer.WaitClosed();
    });
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port(), 500));
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(replyDelivered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);

    // No request bytes: nothing is drained, and the waiting reply is taken at once.
    StickyParam early = HeadSticky();
    EXPECT_EQ(client.SendDataByHeadSticky(early, ""), 0) << log.Dump();
    EXPECT_EQ(early.body, "early");

    StickyParam late = HeadSticky();
    EXPECT_EQ(client.SendDataByHeadSticky(late, "PING1"), -1);
    EXPECT_TRUE(log.HasLine(4, In("SendDataByHeadSticky") + "network,read timeout", kSource)) << log.Dump();
}

// ---- framing descriptors and TLS -------------------------------------------------------

TEST(TcpClient, UnusableFramingIsRefusedAfterTheRequestWasSent)
{
    StickyParam noCallback = HeadSticky();
    noCallback.bodyLength = nullptr;
    StickyParam headZero = HeadSticky();
    headZero.headLength = 0;
    const struct {
        StickyParam sticky;
        bool endFraming;
        const char* expected;
    } cases[] = {
        {headZero, false, "SendDataByHeadSticky]network,headlen[0]"},
        {noCallback, false, "SendDataByHeadSticky]network,headlen[2]"},
        {ByEnd(""), true, "SendDataByEndSticky]network,endflag[]"},
    };
    for (const auto& c : cases) {
        std::string received;
        LoopbackServer server([&](Peer& peer) {
            peer.ReadExact(received, 5);
            peer.WaitClosed();
        });
        testsupport::LogCapture log;
        CTCPClient client(ClientParams(server.Port()));
        ASSERT_EQ(client.Connect(), 0);
        StickyParam sticky = c.sticky;
        EXPECT_EQ(c.endFraming ? client.SendDataByEndSticky(sticky, "PING1") : client.SendDataByHeadSticky(sticky, "PING1"),
                  -1);
        EXPECT_TRUE(log.HasLine(4, std::string("[Marl::Net::CTCPClient::") + c.expected, kSource)) << log.Dump();
        EXPECT_EQ(client.Disconnect(), 0);
        ASSERT_TRUE(testsupport::WaitFor([&]() { return server.Served() == 1; }, std::chrono::seconds(5)));
        EXPECT_EQ(received, "PING1");
    }
}

TEST(TcpClient, TlsTwelveWorksWithASelfSignedCertificate)
{
    auto tls = transporttest::MakeServerTlsContext(TLS1_2_VERSION, TLS1_3_VERSION);
    int version = 0;
    LoopbackServer server(
        [&](Peer& peer) {
            version = peer.TlsVersion();
            std::string request;
            if (peer.ReadExact(request, 5)) {
                peer.Write(HeadFramed("secret " + request));
            }
            request.clear();
            if (peer.ReadExact(request, 5)) {
                peer.WriteSlowly("end " + request + "\r\n", 1);
            }
            peer.WaitClosed();
        },
        1, tls.get());
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port(), 1500, true));
    ASSERT_EQ(client.Connect(), 0) << log.Dump();
    StickyParam head = HeadSticky();
    EXPECT_EQ(client.SendDataByHeadSticky(head, "PING1"), 0) << log.Dump();
    EXPECT_EQ(head.body, "secret PING1");
    StickyParam end = ByEnd();
    EXPECT_EQ(client.SendDataByEndSticky(end, "PING2"), 0) << log.Dump();
    EXPECT_EQ(end.endData, "end PING2\r\n");
    EXPECT_EQ(client.Disconnect(), 0);
    ASSERT_TRUE(testsupport::WaitFor([&]() { return server.Served() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(version, TLS1_2_VERSION);
}

TEST(TcpClient, TlsHandshakeWithAServerThatOnlySpeaksTlsThirteenFails)
{
    auto tls = transporttest::MakeServerTlsContext(TLS1_3_VERSION, TLS1_3_VERSION);
    LoopbackServer server([](Peer&) {}, 1, tls.get());
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port(), 1500, true));

    EXPECT_EQ(client.Connect(), -1);
    EXPECT_FALSE(client.IsConnected());
    const auto lines = log.WithFormat("[%s]handshake faild %s[%s(%d)]");
    ASSERT_EQ(lines.size(), 1U) << log.Dump();
    EXPECT_EQ(lines[0].level, 4);
    EXPECT_EQ(lines[0].text.rfind(In("OnConnect") + "handshake faild ", 0), 0U) << lines[0].text;
}

// ---- sharing and scale -----------------------------------------------------------------

TEST(TcpClient, TwoThreadsExchangingOnOneClientEachReceiveTheirOwnReplies)
{
    constexpr int kPerThread = 40;
    LoopbackServer server([](Peer& peer) {
        // Echo every 6-byte request, head and body in separate segments.
        for (int i = 0; i < 2 * kPerThread; ++i) {
            std::string request;
            if (!peer.ReadExact(request, 6)) {
                return;
            }
            const std::string reply = HeadFramed("echo " + request);
            peer.Write(reply.substr(0, 2));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            peer.Write(reply.substr(2));
        }
        peer.WaitClosed();
    });
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port()));
    ASSERT_EQ(client.Connect(), 0);

    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    auto worker = [&](char tag) {
        for (int i = 0; i < kPerThread; ++i) {
            char request[8];
            std::snprintf(request, sizeof request, "%c%05d", tag, i);
            StickyParam sticky = HeadSticky();
            if (client.SendDataByHeadSticky(sticky, request) != 0) {
                ++failed;
            } else if (sticky.body != std::string("echo ") + request) {
                ++wrong;
            }
        }
    };
    std::thread a(worker, 'A');
    std::thread b(worker, 'B');
    a.join();
    b.join();
    EXPECT_EQ(failed, 0) << log.Dump();
    EXPECT_EQ(wrong, 0);
}

// Descriptors held open to push new ones above a number.
struct DescriptorFill {
    std::vector<int> fds;
    ~DescriptorFill()
    {
        for (int fd : fds) {
            ::close(fd);
        }
    }
};

TEST(TcpClient, ExchangeWorksOnDescriptorsAbove1024)
{
    constexpr int kFloor = 1100;
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < kFloor + 200) {
        GTEST_SKIP() << "hard descriptor limit " << limit.rlim_max << " is too low to reach " << kFloor;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur < kFloor + 200) {
        limit.rlim_cur = kFloor + 200;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    DescriptorFill fill;
    const int base = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(base, 0);
    fill.fds.push_back(base);
    // dup hands out the lowest free number: once it reaches the floor, all below are taken.
    for (int i = 0; i < kFloor + 10 && fill.fds.back() < kFloor; ++i) {
        const int fd = ::dup(base);
        ASSERT_GE(fd, 0);
        fill.fds.push_back(fd);
    }
    ASSERT_GE(fill.fds.back(), kFloor);

    LoopbackServer server(AnswerOnce(HeadFramed("high PING1")));
    testsupport::LogCapture log;
    CTCPClient client(ClientParams(server.Port()));
    ASSERT_EQ(client.Connect(), 0) << log.Dump();
    StickyParam sticky = HeadSticky();
    EXPECT_EQ(client.SendDataByHeadSticky(sticky, "PING1"), 0) << log.Dump();
    EXPECT_EQ(sticky.body, "high PING1");
    client.ClearRecvBuffer(0);
    EXPECT_EQ(client.Disconnect(), 0);
}

} // namespace
