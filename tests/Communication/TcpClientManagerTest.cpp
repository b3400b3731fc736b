#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "Communication/ModbusComm/TCP/TcpClientManager.h"
#include "LoopbackServer.h"
#include "support/LogCapture.h"
#include "support/Process.h"

namespace {

using Marl::Net::CTcpClientManager;
using Marl::Net::StickyParam;
using transporttest::ClientParams;
using transporttest::HeadFramed;
using transporttest::HeadSticky;
using transporttest::LoopbackServer;
using transporttest::Peer;

const char* const kSource = "src/Communication/ModbusComm/TCP/Private/TcpClientManager.cpp";

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

// The server outlives the clients the test leaves in the process-wide table.
class TcpClientManager : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (int id = 1; id <= 12; ++id) {
            CTcpClientManager::Instance()->Disconnect(id);
        }
        m_server.reset();
    }
    std::unique_ptr<LoopbackServer> m_server;
};

TEST_F(TcpClientManager, IdsStartAtOneAFailedConnectConsumesOneAndBadParametersNone)
{
    m_server = std::make_unique<LoopbackServer>(Answer, 2);
    transporttest::RefusingPort closed;
    testsupport::LogCapture log;
    CTcpClientManager* manager = CTcpClientManager::Instance();

    auto noIp = ClientParams(m_server->Port());
    noIp.ip = "";
    EXPECT_EQ(manager->Connect(noIp), -1);
    EXPECT_EQ(manager->Connect(ClientParams(0)), -1);
    EXPECT_TRUE(log.HasLine(4, "[Marl::Net::CTcpClientManager::Connect]network,param err, ip[], port[" +
                                   std::to_string(m_server->Port()) + "]", kSource)) << log.Dump();
    EXPECT_TRUE(log.HasLine(4, "[Marl::Net::CTcpClientManager::Connect]network,param err, ip[127.0.0.1], port[0]",
                            kSource));
    EXPECT_EQ(manager->Connect(ClientParams(m_server->Port())), 1);
    EXPECT_EQ(manager->Connect(ClientParams(closed.Port())), -1);
    EXPECT_TRUE(log.HasLine(4, "[Marl::Net::CTcpClientManager::Connect]network,connect err,ip[127.0.0.1], port[" +
                                   std::to_string(closed.Port()) + "]", kSource)) << log.Dump();
    EXPECT_EQ(manager->Connect(ClientParams(m_server->Port())), 3);
    EXPECT_TRUE(manager->IsConnected(1));
    EXPECT_TRUE(manager->IsConnected(3));

    // Unknown ids fail every operation and leave the others alone.
    for (int id : {-1, 0, 2, 42}) {
        StickyParam sticky = HeadSticky();
        EXPECT_FALSE(manager->IsConnected(id)) << id;
        EXPECT_FALSE(manager->Reconnect(id)) << id;
        EXPECT_FALSE(manager->Close(id)) << id;
        EXPECT_FALSE(manager->Disconnect(id)) << id;
        EXPECT_EQ(manager->SendData(sticky, "HPING", id), -1) << id;
        EXPECT_EQ(manager->SendDataNoReceive("HPING", id), -1) << id;
    }
    EXPECT_TRUE(manager->IsConnected(1));
}

TEST_F(TcpClientManager, CloseKeepsTheClientForReconnectAndDisconnectRemovesIt)
{
    m_server = std::make_unique<LoopbackServer>(Answer, 10);
    CTcpClientManager* manager = CTcpClientManager::Instance();
    const int id = manager->Connect(ClientParams(m_server->Port()));
    ASSERT_EQ(id, 1);

    StickyParam head = HeadSticky();
    EXPECT_EQ(manager->SendData(head, "HPING", id), 0);
    EXPECT_EQ(head.body, "head HPING");
    StickyParam end;
    end.mode = Marl::Net::kStickyByEnd;
    end.endFlag = "|";
    EXPECT_EQ(manager->SendData(end, "EPING", id), 0);
    EXPECT_EQ(end.endData, "end EPING|");

    EXPECT_TRUE(manager->Close(id));
    EXPECT_FALSE(manager->IsConnected(id));
    StickyParam closed = HeadSticky();
    EXPECT_EQ(manager->SendData(closed, "HPING", id), -1);
    EXPECT_TRUE(manager->Reconnect(id));
    StickyParam again = HeadSticky();
    EXPECT_EQ(manager->SendData(again, "HPING", id), 0);
    EXPECT_EQ(again.body, "head HPING");
    EXPECT_TRUE(manager->Disconnect(id));
    EXPECT_FALSE(manager->Reconnect(id));

    // Clients that come and go leave no descriptor behind (the first made the TLS context).
    ASSERT_TRUE(testsupport::WaitFor([&]() { return m_server->Served() == 2; }, std::chrono::seconds(5)));
    const int before = testsupport::OpenDescriptorCount();
    for (int i = 0; i < 4; ++i) {
        const int next = manager->Connect(ClientParams(m_server->Port()));
        ASSERT_GT(next, 0);
        EXPECT_TRUE(manager->Close(next));
        EXPECT_TRUE(manager->Reconnect(next));
        EXPECT_TRUE(manager->Disconnect(next));
    }
    ASSERT_TRUE(testsupport::WaitFor([&]() { return m_server->Served() == 10; }, std::chrono::seconds(5)));
    EXPECT_EQ(testsupport::OpenDescriptorCount(), before);

    // A closed client whose device has gone does not come back.
    auto gone = std::make_unique<LoopbackServer>(Answer, 1);
    const int orphan = manager->Connect(ClientParams(gone->Port()));
    EXPECT_TRUE(manager->Close(orphan));
    gone.reset();
    EXPECT_FALSE(manager->Reconnect(orphan));
}

} // namespace
