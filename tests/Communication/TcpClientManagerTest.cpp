#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Communication/ModbusComm/TCP/TcpClientManager.h"
#include "LoopbackServer.h"
#include "support/LogCapture.h"
#include "support/Process.h"

namespace {

using Marl::Net::CTcpClientManager;
using Marl::Net::StickyParam;
using Marl::Net::TcpConnectParam;
using transporttest::ClientParams;
using transporttest::HeadFramed;
using transporttest::HeadSticky;
using transporttest::LoopbackServer;
using transporttest::Peer;

const char* const kSource = "src/Communication/ModbusComm/TCP/Private/TcpClientManager.cpp";
const char* const kManager = "[Marl::Net::CTcpClientManager::Connect]";

// Each test's server lives in the fixture, so that the clients the test leaves in the
// process-wide table are removed (and the server's sessions end) before the server goes.
class TcpClientManager : public ::testing::Test {
protected:
    LoopbackServer& Serve(int connections = 1);
    void TearDown() override
    {
        for (int id = 1; id <= 8; ++id) {
            CTcpClientManager::Instance()->Disconnect(id);
        }
        m_server.reset();
    }

    std::unique_ptr<LoopbackServer> m_server;
};

// Answers 5-byte requests until the client goes: "E..." end-framed, anything else head-framed.
void Answer(Peer& peer)
{
    for (int i = 0; i < 8; ++i) {
        std::string request;
        if (!peer.ReadExact(request, 5)) {
            return;
        }
        peer.Write(request[0] == 'E' ? "end " + request + "|" : HeadFramed("head " + request));
    }
}

void ExpectEveryOperationFails(int id)
{
    CTcpClientManager* manager = CTcpClientManager::Instance();
    StickyParam sticky = HeadSticky();
    EXPECT_FALSE(manager->IsConnected(id));
    EXPECT_FALSE(manager->Reconnect(id));
    EXPECT_FALSE(manager->Close(id));
    EXPECT_FALSE(manager->Disconnect(id));
    EXPECT_EQ(manager->SendData(sticky, "HPING", id), -1);
    EXPECT_EQ(manager->SendDataNoReceive("HPING", id), -1);
}

LoopbackServer& TcpClientManager::Serve(int connections)
{
    m_server = std::make_unique<LoopbackServer>(Answer, connections);
    return *m_server;
}

TEST_F(TcpClientManager, IdsStartAtOneAndAFailedConnectConsumesOne)
{
    LoopbackServer& server = Serve(2);
    transporttest::RefusingPort closed;
    testsupport::LogCapture log;
    CTcpClientManager* manager = CTcpClientManager::Instance();
    ASSERT_EQ(manager, CTcpClientManager::Instance());

    EXPECT_EQ(manager->Connect(ClientParams(server.Port())), 1);
    EXPECT_EQ(manager->Connect(ClientParams(closed.Port())), -1);
    EXPECT_TRUE(log.HasLine(4, std::string(kManager) + "network,connect err,ip[127.0.0.1], port[" +
                                   std::to_string(closed.Port()) + "]",
                            kSource))
        << log.Dump();
    EXPECT_EQ(manager->Connect(ClientParams(server.Port())), 3);
    EXPECT_TRUE(manager->IsConnected(1));
    EXPECT_FALSE(manager->IsConnected(2));
    EXPECT_TRUE(manager->IsConnected(3));
}

struct BadParamCase {
    const char* name;
    const char* ip;
    uint16_t port;
    const char* expected;
};

void PrintTo(const BadParamCase& c, std::ostream* os) { *os << c.name; }

class TcpClientManagerBadParams : public TcpClientManager, public ::testing::WithParamInterface<BadParamCase> {};

TEST_P(TcpClientManagerBadParams, AreRefusedWithoutConsumingAnId)
{
    const BadParamCase c = GetParam();
    LoopbackServer& server = Serve();
    testsupport::LogCapture log;
    TcpConnectParam param = ClientParams(c.port);
    param.ip = c.ip;

    EXPECT_EQ(CTcpClientManager::Instance()->Connect(param), -1);
    EXPECT_TRUE(log.HasLine(4, std::string(kManager) + c.expected, kSource)) << log.Dump();
    EXPECT_EQ(server.Accepted(), 0);
    EXPECT_EQ(CTcpClientManager::Instance()->Connect(ClientParams(server.Port())), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, TcpClientManagerBadParams,
    ::testing::Values(BadParamCase{"PortZero", "127.0.0.1", 0, "network,param err, ip[127.0.0.1], port[0]"},
                      BadParamCase{"EmptyIp", "", 502, "network,param err, ip[], port[502]"},
                      BadParamCase{"Both", "", 0, "network,param err, ip[], port[0]"}),
    [](const ::testing::TestParamInfo<BadParamCase>& info) { return std::string(info.param.name); });

TEST_F(TcpClientManager, SendDataPicksTheFramingByMode)
{
    LoopbackServer& server = Serve();
    CTcpClientManager* manager = CTcpClientManager::Instance();
    const int id = manager->Connect(ClientParams(server.Port()));
    ASSERT_EQ(id, 1);

    StickyParam head = HeadSticky();
    EXPECT_EQ(manager->SendData(head, "HPING", id), 0);
    EXPECT_EQ(head.body, "head HPING");

    StickyParam end;
    end.mode = Marl::Net::kStickyByEnd;
    end.endFlag = "|";
    EXPECT_EQ(manager->SendData(end, "EPING", id), 0);
    EXPECT_EQ(end.endData, "end EPING|");

    // Any mode other than end-flag framing is head-length framing.
    StickyParam other = HeadSticky();
    other.mode = 7;
    EXPECT_EQ(manager->SendData(other, "HNEXT", id), -1);
}

TEST_F(TcpClientManager, CloseKeepsTheClientForReconnect)
{
    LoopbackServer& server = Serve(2);
    testsupport::LogCapture log;
    CTcpClientManager* manager = CTcpClientManager::Instance();
    const int id = manager->Connect(ClientParams(server.Port()));
    ASSERT_EQ(id, 1);

    EXPECT_TRUE(manager->Close(id));
    EXPECT_FALSE(manager->IsConnected(id));
    StickyParam closed = HeadSticky();
    EXPECT_EQ(manager->SendData(closed, "HPING", id), -1);
    EXPECT_TRUE(log.HasLine(4, "[Marl::Net::CTCPClient::SendDataNoReceive]network,tcp hasn't open",
                            "src/Communication/ModbusComm/TCP/Private/TCPClient.cpp"))
        << log.Dump();

    EXPECT_TRUE(manager->Reconnect(id));
    EXPECT_TRUE(manager->IsConnected(id));
    ASSERT_TRUE(testsupport::WaitFor([&]() { return server.Accepted() == 2; }, std::chrono::seconds(5)));
    StickyParam again = HeadSticky();
    EXPECT_EQ(manager->SendData(again, "HPING", id), 0);
    EXPECT_EQ(again.body, "head HPING");
}

TEST_F(TcpClientManager, ReconnectOfAClientWhosePeerIsGoneFails)
{
    CTcpClientManager* manager = CTcpClientManager::Instance();
    const int id = manager->Connect(ClientParams(Serve().Port()));
    ASSERT_EQ(id, 1);
    EXPECT_TRUE(manager->Close(id));
    // With the listener gone, its port refuses.
    m_server.reset();
    testsupport::LogCapture log;
    EXPECT_FALSE(manager->Reconnect(id));
    EXPECT_EQ(log.CountFormat("[%s]adam conn_err, error code:%d[%s(%d)]"), 1U) << log.Dump();
    EXPECT_FALSE(manager->IsConnected(id));
}

TEST_F(TcpClientManager, DisconnectRemovesTheClient)
{
    LoopbackServer& server = Serve();
    CTcpClientManager* manager = CTcpClientManager::Instance();
    const int id = manager->Connect(ClientParams(server.Port()));
    ASSERT_EQ(id, 1);

    EXPECT_TRUE(manager->Disconnect(id));
    ExpectEveryOperationFails(id);
    // The peer sees the connection go.
    ASSERT_TRUE(testsupport::WaitFor([&]() { return server.Served() == 1; }, std::chrono::seconds(5)));
}

TEST_F(TcpClientManager, ClientsThatGoLeaveNoDescriptorsBehind)
{
    LoopbackServer& server = Serve(10);
    transporttest::RefusingPort closed;
    CTcpClientManager* manager = CTcpClientManager::Instance();
    // Warm-up: the first client creates the shared TLS context.
    ASSERT_EQ(manager->Connect(ClientParams(closed.Port())), -1);
    const int before = testsupport::OpenDescriptorCount();

    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(manager->Connect(ClientParams(closed.Port())), -1);
        const int id = manager->Connect(ClientParams(server.Port()));
        ASSERT_GT(id, 0);
        EXPECT_TRUE(manager->Close(id));
        EXPECT_TRUE(manager->Reconnect(id));
        EXPECT_TRUE(manager->Disconnect(id));
    }
    // Every server session has ended, so only the clients' descriptors could remain.
    ASSERT_TRUE(testsupport::WaitFor([&]() { return server.Served() == 10; }, std::chrono::seconds(5)));
    EXPECT_EQ(testsupport::OpenDescriptorCount(), before);
}

TEST_F(TcpClientManager, UnknownIdsFailEveryOperation)
{
    LoopbackServer& server = Serve();
    CTcpClientManager* manager = CTcpClientManager::Instance();
    ASSERT_EQ(manager->Connect(ClientParams(server.Port())), 1);
    for (int id : {-1, 0, 2, 42}) {
        SCOPED_TRACE(id);
        ExpectEveryOperationFails(id);
    }
    EXPECT_TRUE(manager->IsConnected(1));
}

} // namespace
