#include <boost/asio/error.hpp>
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
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
using transporttest::AnswerOnce;
using transporttest::ClientParams;
using transporttest::HeadFramed;
using transporttest::HeadSticky;
using transporttest::LoopbackServer;
using transporttest::Peer;
using Clock = std::chrono::steady_clock;

const char* const kSource = "src/Communication/ModbusComm/TCP/Private/TCPClient.cpp";

std::string In(const char* operation) { return std::string("[Marl::Net::CTCPClient::") + operation + "]"; }

StickyParam ByEnd()
{
    StickyParam sticky;
    sticky.mode = Marl::Net::kStickyByEnd;
    sticky.endFlag = "\r\n";
    return sticky;
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool Ready(std::promise<void>& promise)
{
    return promise.get_future().wait_for(std::chrono::seconds(5)) == std::future_status::ready;
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
    // The system's own code: ECONNREFUSED here, WSAECONNREFUSED on Windows.
    const int refused = boost::asio::error::connection_refused;
    EXPECT_TRUE(log.HasLine(5, In("Connect") + "adam conn_err, error code:" + std::to_string(refused), kSource))
        << log.Dump();
}

TEST(TcpClient, UnansweredConnectEndsAtItsDeadlineAndTheClientCanTryAgain)
{
    transporttest::UnansweredListener listener;
    ASSERT_TRUE(listener.Full()) << "could not fill the listener's backlog";
    testsupport::LogCapture log;
    auto param = ClientParams(listener.Port());
    param.connectTimeoutMs = 300;
    CTCPClient client(param);

    const auto start = Clock::now();
    EXPECT_EQ(client.Connect(), -1);
    EXPECT_GE(MsSince(start), 300);
    EXPECT_TRUE(log.HasLine(5, In("Connect") + "adam conn_err, error code:10035", kSource)) << log.Dump();
    EXPECT_EQ(log.CountFormat("[%s]Connect err %s[%s(%d)]"), 0U) << log.Dump();

    listener.Release();
    EXPECT_EQ(client.Connect(), 0) << log.Dump();
}

// ---- framed exchanges ------------------------------------------------------------------

TEST(TcpClient, ReceivesTheWholeFramedReplyWholeSplitOrLate)
{
    enum class Delivery { Whole, ByteByByte, Late };
    for (const bool head : {true, false}) {
        for (const Delivery delivery : {Delivery::Whole, Delivery::ByteByByte, Delivery::Late}) {
            SCOPED_TRACE(std::string(head ? "head" : "end") + " framing, delivery " +
                         std::to_string(static_cast<int>(delivery)));
            // End-framed replies carry bytes after the end flag that belong to no one.
            LoopbackServer server([&](Peer& peer) {
                std::string request;
                if (!peer.ReadExact(request, 5)) {
                    return;
                }
                const std::string reply = head ? HeadFramed("reply to " + request) : "reply to " + request + "\r\nafter";
                if (delivery == Delivery::Late) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                }
                delivery == Delivery::ByteByByte ? peer.WriteSlowly(reply) : peer.Write(reply);
                peer.WaitClosed();
            });
            testsupport::LogCapture log;
            CTCPClient client(ClientParams(server.Port()));
            ASSERT_EQ(client.Connect(), 0) << log.Dump();
            StickyParam sticky = head ? HeadSticky() : ByEnd();
            if (head) {
                ASSERT_EQ(client.SendDataByHeadSticky(sticky, "PING1"), 0) << log.Dump();
                EXPECT_EQ(sticky.head, std::string("\0\016", 2));
                EXPECT_EQ(sticky.body, "reply to PING1");
            } else {
                ASSERT_EQ(client.SendDataByEndSticky(sticky, "PING1"), 0) << log.Dump();
                EXPECT_EQ(sticky.endData, "reply to PING1\r\n");
            }
            EXPECT_EQ(client.Disconnect(), 0);
        }
    }
}

TEST(TcpClient, ReplyLeftBySendOnlyRequestIsDrainedBeforeNextExchange)
{
    auto tlsContext = transporttest::MakeServerTlsContext(TLS1_2_VERSION, TLS1_2_VERSION);
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
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
                if (peer.ReadExact(received, 5)) {
                    peer.Write(HeadFramed("fresh"));
                }
                peer.WaitClosed();
            },
            1, tls ? tlsContext.get() : nullptr);
        testsupport::LogCapture log;
        CTCPClient client(ClientParams(server.Port(), 1500, tls));
        ASSERT_EQ(client.Connect(), 0) << log.Dump();

        // Empty data writes nothing: the server's first two bytes are those of the next send.
        EXPECT_EQ(client.SendDataNoReceive("", true), 0);
        ASSERT_EQ(client.SendDataNoReceive("SO", false), 0);
        ASSERT_TRUE(Ready(leftoverDelivered));
        StickyParam sticky = HeadSticky();
        ASSERT_EQ(client.SendDataByHeadSticky(sticky, "HELLO"), 0) << log.Dump();
        EXPECT_EQ(sticky.body, "fresh");
        EXPECT_EQ(received, "HELLO");
    }
}

TEST(TcpClient, DrainEndsAtItsLimitThoughMoreIsWaiting)
{
    std::promise<void> delivered;
    LoopbackServer server([&](Peer& peer) {
        if (peer.Write(std::string(3 * CTCPClient::kDrainLimit, 'F')) && peer.WaitDelivered()) {
            delivered.set_value();
            peer.WaitClosed();
        }
    });
    CTCPClient client(ClientParams(server.Port()));
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_TRUE(Ready(delivered));
    client.ClearRecvBuffer(0);
    std::string rest;
    EXPECT_EQ(client.ReadData(rest, 1), 1); // a peer sending without end would not hold it
    EXPECT_EQ(rest, "F");
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
    EXPECT_EQ(client.SendDataNoReceive("PING2", false), -1);
    EXPECT_TRUE(log.HasLine(4, In("SendDataNoReceive") + "network,tcp hasn't open", kSource)) << log.Dump();
}

TEST(TcpClient, WriteToAResetConnectionFailsWithoutASignal)
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

    // Writes meet a socket the peer has reset: they fail; a raised SIGPIPE would end the test.
    EXPECT_EQ(client.SendDataNoReceive("PING1", false), -1);
    EXPECT_EQ(client.SendDataNoReceive("PING1", false), -1);
    const auto lines = log.WithFormat("[%s]network,[%s],len[%d],writenlen[%d][%s(%d)]");
    ASSERT_EQ(lines.size(), 2U) << log.Dump();
    EXPECT_EQ(lines[0].level, 4);
    EXPECT_NE(lines[0].text.find("],len[5],writenlen[0]"), std::string::npos) << lines[0].text;
}

TEST(TcpClient, ReceiveTimeoutBelowOneSecondOnlyTakesAReplyThatIsAlreadyThere)
{
    std::promise<void> replyDelivered;
    LoopbackServer server([&](Peer& peer) {
        // The first reply is there before the client asks; the next comes 100 ms late.
        if (peer.Write(HeadFramed("early")) && peer.WaitDelivered()) {
            replyDelivered.set_value();
        }
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
    ASSERT_TRUE(Ready(replyDelivered));

    // No request bytes: nothing is drained, and the waiting reply is taken at once.
    StickyParam early = HeadSticky();
    EXPECT_EQ(client.SendDataByHeadSticky(early, ""), 0) << log.Dump();
    EXPECT_EQ(early.body, "early");
    StickyParam late = HeadSticky();
    EXPECT_EQ(client.SendDataByHeadSticky(late, "PING1"), -1);
    EXPECT_TRUE(log.HasLine(4, In("SendDataByHeadSticky") + "network,read timeout", kSource)) << log.Dump();
}

// ---- TLS -------------------------------------------------------------------------------

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
            std::string second;
            if (peer.ReadExact(second, 5)) {
                peer.WriteSlowly("end " + second + "\r\n");
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
    auto worker = [&](char tag) {
        for (int i = 0; i < kPerThread; ++i) {
            char request[8];
            std::snprintf(request, sizeof request, "%c%05d", tag, i);
            StickyParam sticky = HeadSticky();
            if (client.SendDataByHeadSticky(sticky, request) != 0 || sticky.body != std::string("echo ") + request) {
                ++wrong;
            }
        }
    };
    std::thread a(worker, 'A');
    std::thread b(worker, 'B');
    a.join();
    b.join();
    EXPECT_EQ(wrong, 0) << log.Dump();
}

TEST(TcpClient, ExchangeWorksOnDescriptorsAbove1024)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no descriptor numbers nor their limit: a socket handle may have any value";
#else
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
    // dup hands out the lowest free number: once it reaches the floor, all below are taken.
    std::vector<int> fill{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    for (int i = 0; i < kFloor + 10 && fill.back() >= 0 && fill.back() < kFloor; ++i) {
        fill.push_back(::dup(fill.front()));
    }
    ASSERT_GE(fill.back(), kFloor);
    {
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
    for (int fd : fill) {
        ::close(fd);
    }
#endif
}

} // namespace
