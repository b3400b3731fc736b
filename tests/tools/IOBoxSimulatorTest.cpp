#include "IOBoxSimulator.h"
#include "SimClients.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>

using iobox::sim::IOBoxSimulator;
using iobox::sim::SimulatorConfig;
using simtest::ModbusClient;
using simtest::RawClient;
using simtest::Request;
using std::chrono::milliseconds;
using Frame = std::vector<std::uint8_t>;

namespace {

constexpr milliseconds kWait{1500};
constexpr std::uint8_t kReadCoils = 0x01;
constexpr std::uint8_t kReadInputs = 0x02;
constexpr std::uint8_t kWriteCoil = 0x05;

std::unique_ptr<IOBoxSimulator> Started(int companyType = 0, int inputs = 12)
{
    SimulatorConfig config;
    config.companyType = companyType;
    config.inputs = inputs;
    auto sim = std::make_unique<IOBoxSimulator>(std::move(config));
    EXPECT_TRUE(sim->Start()) << sim->LastError();
    return sim;
}

} // namespace

TEST(IOBoxSimulatorTest, ServesInputsAndCoilsForEachCompanyType)
{
    for (int company : {0, 15}) {
        SCOPED_TRACE(company);
        auto sim = Started(company);
        const int base = company == 15 ? 16 : 0;
        sim->SetInputs(0b1000'0000'0101ull);
        sim->SetOutput(2, true);

        ModbusClient client(sim->Port());
        ASSERT_TRUE(client.Connected());
        std::uint8_t bits[16] = {};
        ASSERT_EQ(modbus_read_input_bits(client.Get(), 0, 12, bits), 12);
        EXPECT_EQ(Frame(bits, bits + 12), (Frame{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
        ASSERT_EQ(modbus_read_bits(client.Get(), base, 6, bits), 6);
        EXPECT_EQ(Frame(bits, bits + 6), (Frame{0, 1, 0, 0, 0, 0}));
        // Outside the model: "illegal data address".
        EXPECT_EQ(modbus_read_input_bits(client.Get(), 0, 13, bits), -1);
        EXPECT_EQ(errno, EMBXILADD);
        EXPECT_EQ(modbus_read_bits(client.Get(), base == 0 ? 16 : 0, 6, bits), -1);
        EXPECT_EQ(errno, EMBXILADD);

        ASSERT_EQ(modbus_write_bit(client.Get(), base + 4, 1), 1);
        ASSERT_EQ(modbus_write_bit(client.Get(), base + 1, 0), 1);
        EXPECT_EQ(sim->GetOutputs(), (std::vector<bool>{false, false, false, false, true, false}));
        ASSERT_EQ(modbus_read_bits(client.Get(), base, 6, bits), 6);
        EXPECT_EQ(Frame(bits, bits + 6), (Frame{0, 0, 0, 0, 1, 0}));

        EXPECT_EQ(sim->RequestCount(kReadInputs), 2u);
        EXPECT_EQ(sim->RequestCount(kReadCoils), 3u);
        EXPECT_EQ(sim->RequestCount(kWriteCoil), 2u);
        EXPECT_EQ(sim->TotalRequests(), 7u);
    }
}

TEST(IOBoxSimulatorTest, ServesDescriptorsBeyondSelectLimit)
{
    // Client and server ends together push the server's descriptors well past 1024.
    constexpr int kClients = 1100;
    if (iobox::sim::RaiseOpenFileLimit() < 2 * kClients + 100) {
        GTEST_SKIP() << "descriptor limit too low";
    }
    auto sim = Started();
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<RawClient>(sim->Port()));
        ASSERT_TRUE(clients.back()->Connected()) << i;
    }
    ASSERT_TRUE(sim->WaitForConnections(kClients, milliseconds(3000))) << sim->ConnectionCount();
    for (std::size_t i : {std::size_t{0}, clients.size() / 2, clients.size() - 1}) {
        ASSERT_TRUE(clients[i]->Send(Request(static_cast<std::uint16_t>(i), kReadCoils, 0, 6)));
        EXPECT_EQ(clients[i]->ReadFrame(kWait).size(), 10u) << i;
    }
    EXPECT_EQ(sim->TotalConnections(), static_cast<std::uint64_t>(kClients));
    sim->DropAll();
    EXPECT_EQ(sim->ConnectionCount(), 0);
    EXPECT_TRUE(clients.back()->WaitClosed(kWait));
}

// ---- faults ---------------------------------------------------------------------------------

TEST(IOBoxSimulatorFaultTest, DropAllAndRefuseNew)
{
    auto sim = Started();
    const auto port = sim->Port();
    RawClient dropped(port);
    ASSERT_TRUE(sim->WaitForConnections(1, kWait));
    sim->DropAll();
    EXPECT_TRUE(dropped.WaitClosed(kWait));

    RawClient kept(port);
    ASSERT_TRUE(sim->WaitForConnections(1, kWait));
    ASSERT_TRUE(sim->RefuseNew(true));
    EXPECT_EQ(RawClient(port).ConnectError(), boost::asio::error::connection_refused);
    ASSERT_TRUE(kept.Send(Request(1, kReadInputs, 0, 12)));
    EXPECT_EQ(kept.ReadFrame(kWait).size(), 11u) << "connected clients stay served";

    ASSERT_TRUE(sim->RefuseNew(false)) << sim->LastError();
    EXPECT_EQ(sim->Port(), port);
    EXPECT_TRUE(ModbusClient(port).Connected());
}

TEST(IOBoxSimulatorFaultTest, DropSomeClosesThatManyAndServesTheRest)
{
    auto sim = Started();
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<RawClient>(sim->Port()));
    }
    ASSERT_TRUE(sim->WaitForConnections(4, kWait));
    EXPECT_EQ(sim->DropSome(3), 3u);
    EXPECT_EQ(sim->ConnectionCount(), 1);
    RawClient* kept = nullptr;
    int closed = 0;
    for (auto& client : clients) {
        // The dropped ones are closed when DropSome returns; the short wait is for the one kept.
        if (client->WaitClosed(milliseconds(200))) {
            ++closed;
        } else {
            kept = client.get();
        }
    }
    EXPECT_EQ(closed, 3);
    ASSERT_NE(kept, nullptr);
    ASSERT_TRUE(kept->Send(Request(1, kReadInputs, 0, 12)));
    EXPECT_EQ(kept->ReadFrame(kWait).size(), 11u) << "the client kept is still served";
    EXPECT_EQ(sim->DropSome(5), 1u) << "no more than are connected";
    EXPECT_EQ(sim->ConnectionCount(), 0);
}

TEST(IOBoxSimulatorFaultTest, StallDelaysOneClientWithoutBlockingOthers)
{
    constexpr milliseconds kStall{800};
    auto sim = Started();
    RawClient slow(sim->Port());
    sim->Stall(kStall);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(slow.Send(Request(1, kReadInputs, 0, 12)));
    ASSERT_TRUE(sim->WaitForRequests(kReadInputs, 1, kWait));
    sim->Stall(milliseconds(0));

    RawClient fast(sim->Port());
    ASSERT_TRUE(fast.Send(Request(2, kReadInputs, 0, 12)));
    EXPECT_EQ(fast.ReadFrame(kWait).size(), 11u);
    const auto reply = slow.ReadFrame(milliseconds(3000));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, kStall);
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(reply[1], 1);
}

TEST(IOBoxSimulatorFaultTest, EachReplyFaultShowsOnTheWireUntilCleared)
{
    struct Case {
        const char* name;
        std::function<void(IOBoxSimulator&)> on;
        std::function<void(RawClient&)> check; // after one input read of 40 inputs
    };
    const Case cases[] = {
        {"garbage", [](IOBoxSimulator& s) { s.Garbage(true); },
         [](RawClient& raw) {
             const auto head = raw.Read(8, kWait);
             ASSERT_EQ(head.size(), 8u);
             EXPECT_NE(head[2] | head[3], 0) << "protocol identifier must not be 0";
             raw.Read(1 << 16, milliseconds(50)); // the rest of the random bytes
         }},
        {"exception", [](IOBoxSimulator& s) { s.Exception(0x0B); },
         [](RawClient& raw) { EXPECT_EQ(raw.ReadFrame(kWait), (Frame{0, 1, 0, 0, 0, 3, 0, 0x82, 0x0B})); }},
        {"truncated", [](IOBoxSimulator& s) { s.TruncateReply(true); },
         [](RawClient& raw) {
             const auto reply = raw.ReadFrame(kWait);
             ASSERT_GT(reply.size(), 6u) << "part of the body arrives";
             EXPECT_EQ(reply[5], 8);
             EXPECT_LT(reply.size(), 14u);
             EXPECT_TRUE(raw.Closed());
         }},
        {"oversized byte count", [](IOBoxSimulator& s) { s.OversizedByteCount(true); },
         [](RawClient& raw) {
             const auto reply = raw.ReadFrame(kWait);
             ASSERT_EQ(reply.size(), 14u) << "the MBAP length stays truthful";
             EXPECT_GT(reply[8], 5);
         }},
        {"silent", [](IOBoxSimulator& s) { s.Silent(true); },
         [](RawClient& raw) {
             EXPECT_TRUE(raw.Read(1, milliseconds(150)).empty());
             EXPECT_FALSE(raw.Closed());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto sim = Started(0, 40);
        c.on(*sim);
        RawClient raw(sim->Port());
        ASSERT_TRUE(raw.Send(Request(1, kReadInputs, 0, 40)));
        c.check(raw);
        EXPECT_TRUE(sim->WaitForRequests(kReadInputs, 1, kWait));

        sim->ClearFaults();
        RawClient again(sim->Port());
        ASSERT_TRUE(again.Send(Request(2, kReadInputs, 0, 40)));
        const auto reply = again.ReadFrame(kWait);
        ASSERT_EQ(reply.size(), 14u);
        EXPECT_EQ(reply[1], 2);
    }
}

TEST(IOBoxSimulatorFaultTest, MaxClientsClosesFurtherClientsAtOnce)
{
    auto sim = Started();
    sim->MaxClients(1);
    auto first = std::make_unique<RawClient>(sim->Port());
    ASSERT_TRUE(sim->WaitForConnections(1, kWait));
    RawClient second(sim->Port());
    ASSERT_TRUE(second.Connected()) << "the kernel completes the handshake";
    EXPECT_TRUE(second.WaitClosed(kWait));
    EXPECT_EQ(sim->RejectedConnections(), 1u);

    first.reset();
    ASSERT_TRUE(sim->WaitForConnections(0, kWait));
    RawClient third(sim->Port());
    ASSERT_TRUE(third.Send(Request(2, kReadInputs, 0, 12)));
    EXPECT_EQ(third.ReadFrame(kWait).size(), 11u) << "a free slot takes the next client";
    EXPECT_EQ(sim->TotalConnections(), 3u);
}
