#include "IOBoxSimulator.h"
#include "SimClients.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using iobox::sim::IOBoxSimulator;
using iobox::sim::InputPattern;
using iobox::sim::RequestInfo;
using iobox::sim::SimulatorConfig;
using simtest::ModbusClient;
using simtest::RawClient;
using simtest::Request;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds kWait{1500};
constexpr std::uint8_t kReadCoils = 0x01;
constexpr std::uint8_t kReadInputs = 0x02;
constexpr std::uint8_t kWriteCoil = 0x05;

SimulatorConfig Config(int companyType = 0, int inputs = 12, int outputs = 6)
{
    SimulatorConfig c;
    c.inputs = inputs;
    c.outputs = outputs;
    c.companyType = companyType;
    return c;
}

std::unique_ptr<IOBoxSimulator> Started(SimulatorConfig config = Config())
{
    auto sim = std::make_unique<IOBoxSimulator>(std::move(config));
    EXPECT_TRUE(sim->Start()) << sim->LastError();
    EXPECT_NE(sim->Port(), 0);
    return sim;
}

std::uint16_t MbapLength(const std::vector<std::uint8_t>& f) { return static_cast<std::uint16_t>((f[4] << 8) | f[5]); }

} // namespace

TEST(IOBoxSimulatorTest, LoopbackCheckAcceptsOnlyLoopbackLiterals)
{
    const struct {
        const char* host;
        bool loopback;
    } cases[] = {
        {"127.0.0.1", true}, {"127.1.2.3", true}, {"::1", true}, {"localhost", true},
        {"10.0.0.1", false}, {"0.0.0.0", false}, {"::", false}, {"128.0.0.1", false},
        {"::ffff:127.0.0.1", false}, {"box.example", false}, {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iobox::sim::IsLoopbackHost(c.host), c.loopback) << c.host;
    }
}

TEST(IOBoxSimulatorTest, StartRefusesBadConfiguration)
{
    const struct {
        SimulatorConfig config;
        const char* needle;
    } cases[] = {
        {[] { auto c = Config(); c.host = "10.0.0.1"; return c; }(), "loopback"},
        {Config(3), "company type"},
        {Config(0, -1), "input count"},
        {Config(15, 12, 65530), "output count"},
    };
    for (const auto& c : cases) {
        IOBoxSimulator sim(c.config);
        EXPECT_FALSE(sim.Start()) << c.needle;
        EXPECT_FALSE(sim.Running());
        EXPECT_NE(sim.LastError().find(c.needle), std::string::npos) << sim.LastError();
    }
}

TEST(IOBoxSimulatorTest, ListensOnOtherLoopbackAddresses)
{
    for (const char* host : {"127.0.0.2", "::1"}) {
        auto config = Config();
        config.host = host;
        auto sim = Started(config);
        sim->SetInput(2, true);
        modbus_t* ctx = modbus_new_tcp_pi(host, std::to_string(sim->Port()).c_str());
        ASSERT_NE(ctx, nullptr);
        std::uint8_t bits[2] = {};
        EXPECT_EQ(modbus_connect(ctx), 0) << host;
        EXPECT_EQ(modbus_read_input_bits(ctx, 0, 2, bits), 2) << host;
        EXPECT_EQ(bits[1], 1) << host;
        modbus_close(ctx);
        modbus_free(ctx);
    }
}

TEST(IOBoxSimulatorTest, ServesInputsAndCoilsForEachCompanyType)
{
    for (int company : {0, 15}) {
        SCOPED_TRACE(company);
        auto sim = Started(Config(company));
        const int base = company == 15 ? 16 : 0;
        EXPECT_EQ(sim->CoilBase(), base);
        sim->SetInputs(0b1000'0000'0101ull);
        sim->SetOutput(2, true);

        ModbusClient client(sim->Port());
        ASSERT_TRUE(client.Connected());
        std::uint8_t bits[16] = {};
        ASSERT_EQ(modbus_read_input_bits(client.Get(), 0, 12, bits), 12);
        EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 12),
                  (std::vector<std::uint8_t>{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
        ASSERT_EQ(modbus_read_bits(client.Get(), base, 6, bits), 6);
        EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 6), (std::vector<std::uint8_t>{0, 1, 0, 0, 0, 0}));

        // Outside the model: the device answers "illegal data address".
        EXPECT_EQ(modbus_read_input_bits(client.Get(), 0, 13, bits), -1);
        EXPECT_EQ(errno, EMBXILADD);
        EXPECT_EQ(modbus_read_bits(client.Get(), base == 0 ? 16 : 0, 6, bits), -1);
        EXPECT_EQ(errno, EMBXILADD);

        // A written coil really changes, seen through the API and on the wire.
        ASSERT_EQ(modbus_write_bit(client.Get(), base + 4, 1), 1);
        EXPECT_TRUE(sim->GetOutput(5));
        ASSERT_EQ(modbus_write_bit(client.Get(), base + 1, 0), 1);
        EXPECT_EQ(sim->GetOutputs(), (std::vector<bool>{false, false, false, false, true, false}));
        ASSERT_EQ(modbus_read_bits(client.Get(), base, 6, bits), 6);
        EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 6), (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 0}));

        EXPECT_EQ(sim->RequestCount(kReadInputs), 2u);
        EXPECT_EQ(sim->RequestCount(kReadCoils), 3u);
        EXPECT_EQ(sim->RequestCount(kWriteCoil), 2u);
        EXPECT_EQ(sim->TotalRequests(), 7u);
    }
}

TEST(IOBoxSimulatorTest, AnswersThePluginFramesByteForByte)
{
    auto sim = Started(Config(15));
    sim->SetInputs(0b1111'0000'0001ull);
    RawClient raw(sim->Port());
    ASSERT_TRUE(raw.Connected());

    ASSERT_TRUE(raw.Send(Request(0x0000, kReadInputs, 0x0000, 12)));
    EXPECT_EQ(raw.ReadFrame(kWait), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 5, 0, 0x02, 2, 0x01, 0x0F}));

    // Switching output 3 on for company type 15 addresses coil 0x0012; the device echoes it.
    const auto write = Request(0x0100, kWriteCoil, 0x0012, 0xFF00);
    ASSERT_TRUE(raw.Send(write));
    EXPECT_EQ(raw.ReadFrame(kWait), write);
    EXPECT_TRUE(sim->GetOutput(3));

    ASSERT_TRUE(raw.Send(Request(0x0101, kReadCoils, 0x0010, 6)));
    EXPECT_EQ(raw.ReadFrame(kWait), (std::vector<std::uint8_t>{0x01, 0x01, 0, 0, 0, 4, 0, 0x01, 1, 0x04}));
}

TEST(IOBoxSimulatorTest, FramesSplitAcrossReadsAndSeveralInOneRead)
{
    auto sim = Started();
    RawClient raw(sim->Port());
    ASSERT_TRUE(raw.Connected());
    auto two = Request(1, kReadInputs, 0, 12);
    const auto second = Request(2, kReadCoils, 0, 6);
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(raw.Send(two));
    EXPECT_EQ(raw.ReadFrame(kWait)[1], 1);
    EXPECT_EQ(raw.ReadFrame(kWait)[1], 2);

    const auto third = Request(3, kReadInputs, 0, 12);
    for (std::size_t i = 0; i + 1 < third.size(); ++i) {
        ASSERT_TRUE(raw.Send({third[i]}));
        ASSERT_TRUE(raw.Read(1, milliseconds(5)).empty()) << "no reply before the frame is whole";
    }
    ASSERT_TRUE(raw.Send({third.back()}));
    const auto reply = raw.ReadFrame(kWait);
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(reply[1], 3);
    EXPECT_EQ(sim->TotalRequests(), 3u);
}

TEST(IOBoxSimulatorTest, MalformedHeadClosesTheConnection)
{
    auto sim = Started();
    for (const auto& frame : {std::vector<std::uint8_t>{0, 1, 0, 7, 0, 6, 0, 2, 0, 0, 0, 12},
                              std::vector<std::uint8_t>{0, 1, 0, 0, 0, 1, 0},
                              std::vector<std::uint8_t>{0, 1, 0, 0, 1, 0, 0, 2}}) {
        RawClient raw(sim->Port());
        ASSERT_TRUE(raw.Connected());
        ASSERT_TRUE(raw.Send(frame));
        EXPECT_TRUE(raw.WaitClosed(kWait));
    }
    EXPECT_EQ(sim->MalformedFrames(), 3u);
    EXPECT_EQ(sim->TotalRequests(), 0u);
    EXPECT_TRUE(sim->WaitForConnections(0, kWait));
}

TEST(IOBoxSimulatorTest, ObserverSeesEveryRequest)
{
    std::mutex m;
    std::vector<RequestInfo> seen;
    auto config = Config();
    config.onRequest = [&](const RequestInfo& r) {
        std::lock_guard<std::mutex> lock(m);
        seen.push_back(r);
    };
    auto sim = Started(config);
    RawClient raw(sim->Port());
    ASSERT_TRUE(raw.Send(Request(0x1234, kWriteCoil, 5, 0xFF00, 7)));
    ASSERT_EQ(raw.ReadFrame(kWait).size(), 12u);
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].connectionId, 1u);
    EXPECT_EQ(seen[0].transaction, 0x1234);
    EXPECT_EQ(seen[0].unit, 7);
    EXPECT_EQ(seen[0].function, kWriteCoil);
    EXPECT_EQ(seen[0].address, 5);
    EXPECT_EQ(seen[0].value, 0xFF00);
    EXPECT_EQ(seen[0].length, 12u);
}

TEST(IOBoxSimulatorTest, ServesManyClientsAtOnce)
{
    auto sim = Started();
    sim->SetInput(7, true);
    constexpr int kClients = 200;
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<RawClient>(sim->Port()));
        ASSERT_TRUE(clients.back()->Connected()) << i;
    }
    ASSERT_TRUE(sim->WaitForConnections(kClients, kWait)) << sim->ConnectionCount();
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(clients[static_cast<std::size_t>(i)]->Send(Request(static_cast<std::uint16_t>(i), kReadInputs, 0, 12)));
    }
    for (int i = 0; i < kClients; ++i) {
        const auto reply = clients[static_cast<std::size_t>(i)]->ReadFrame(kWait);
        ASSERT_EQ(reply.size(), 11u) << i;
        EXPECT_EQ(reply[1], static_cast<std::uint8_t>(i));
        EXPECT_EQ(reply[9], 0x40);
    }
    EXPECT_TRUE(sim->WaitForRequests(kReadInputs, kClients, kWait));
    EXPECT_EQ(sim->TotalConnections(), static_cast<std::uint64_t>(kClients));
    clients.clear();
    EXPECT_TRUE(sim->WaitForConnections(0, kWait)) << sim->ConnectionCount();
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
    sim->DropAll();
    EXPECT_EQ(sim->ConnectionCount(), 0);
    EXPECT_TRUE(clients.back()->WaitClosed(kWait));
}

TEST(IOBoxSimulatorTest, StopClosesEverythingAndRestartKeepsThePort)
{
    const int before = testsupport::OpenDescriptorCount();
    auto sim = std::make_unique<IOBoxSimulator>(Config());
    ASSERT_TRUE(sim->Start());
    const auto port = sim->Port();
    {
        RawClient a(port);
        RawClient b(port);
        ASSERT_TRUE(sim->WaitForConnections(2, kWait));
        sim->Stop();
        EXPECT_FALSE(sim->Running());
        EXPECT_TRUE(a.WaitClosed(kWait));
        EXPECT_TRUE(b.WaitClosed(kWait));
        EXPECT_EQ(RawClient(port).ConnectError(), ECONNREFUSED);
    }
    EXPECT_EQ(testsupport::OpenDescriptorCount(), before);
    sim->SetOutput(1, true);
    ASSERT_TRUE(sim->Start()) << sim->LastError();
    EXPECT_EQ(sim->Port(), port);
    ModbusClient client(port);
    std::uint8_t bits[6] = {};
    ASSERT_EQ(modbus_read_bits(client.Get(), 0, 6, bits), 6);
    EXPECT_EQ(bits[0], 1) << "the data model outlives a restart";
    sim.reset();
    EXPECT_EQ(testsupport::OpenDescriptorCount(), before + 1) << "only the libmodbus client is left";
}

TEST(IOBoxSimulatorTest, ScriptedPatternsDriveTheInputs)
{
    auto sim = Started();
    sim->SetPattern(InputPattern::Toggle({2}, milliseconds(30)));
    ModbusClient client(sim->Port());
    bool sawOn = false;
    bool sawOff = false;
    std::uint8_t bits[12] = {};
    for (int i = 0; i < 200 && !(sawOn && sawOff); ++i) {
        ASSERT_EQ(modbus_read_input_bits(client.Get(), 0, 12, bits), 12);
        EXPECT_EQ(bits[0], 0);
        (bits[1] != 0 ? sawOn : sawOff) = true;
        std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_TRUE(sawOn);
    EXPECT_TRUE(sawOff);

    sim->SetPattern(InputPattern::Fixed({false, false, true}));
    std::vector<bool> expected(12, false);
    expected[2] = true;
    EXPECT_EQ(sim->GetInputs(), expected);
    // Setting an input by hand ends the script and keeps its last bits.
    sim->SetInput(1, true);
    ASSERT_EQ(modbus_read_input_bits(client.Get(), 0, 3, bits), 3);
    EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 3), (std::vector<std::uint8_t>{1, 0, 1}));
    EXPECT_FALSE(sim->GetInput(0));
    EXPECT_FALSE(sim->GetInput(13));
}

// ---- faults ---------------------------------------------------------------------------------

TEST(IOBoxSimulatorFaultTest, DropAllClosesEveryClient)
{
    auto sim = Started();
    RawClient a(sim->Port());
    RawClient b(sim->Port());
    ASSERT_TRUE(sim->WaitForConnections(2, kWait));
    sim->DropAll();
    EXPECT_EQ(sim->ConnectionCount(), 0);
    EXPECT_TRUE(a.WaitClosed(kWait));
    EXPECT_TRUE(b.WaitClosed(kWait));
    RawClient c(sim->Port());
    ASSERT_TRUE(c.Send(Request(1, kReadInputs, 0, 12)));
    EXPECT_EQ(c.ReadFrame(kWait).size(), 11u) << "new clients are still served";
}

TEST(IOBoxSimulatorFaultTest, RefuseNewClosesTheListenerUntilSwitchedOff)
{
    auto sim = Started();
    const auto port = sim->Port();
    RawClient kept(port);
    ASSERT_TRUE(sim->WaitForConnections(1, kWait));
    ASSERT_TRUE(sim->RefuseNew(true));
    EXPECT_TRUE(sim->RefusingNew());
    EXPECT_EQ(RawClient(port).ConnectError(), ECONNREFUSED);
    ASSERT_TRUE(kept.Send(Request(1, kReadInputs, 0, 12)));
    EXPECT_EQ(kept.ReadFrame(kWait).size(), 11u) << "connected clients stay served";

    ASSERT_TRUE(sim->RefuseNew(false)) << sim->LastError();
    EXPECT_EQ(sim->Port(), port);
    ModbusClient client(port);
    EXPECT_TRUE(client.Connected());
}

TEST(IOBoxSimulatorFaultTest, StallDelaysOneClientWithoutBlockingOthers)
{
    constexpr milliseconds kStall{800};
    auto sim = Started();
    RawClient slow(sim->Port());
    ASSERT_TRUE(sim->WaitForConnections(1, kWait));
    sim->Stall(kStall);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(slow.Send(Request(1, kReadInputs, 0, 12)));
    ASSERT_TRUE(sim->WaitForRequests(kReadInputs, 1, kWait));
    sim->Stall(milliseconds(0));

    RawClient fast(sim->Port());
    ASSERT_TRUE(fast.Send(Request(2, kReadInputs, 0, 12)));
    EXPECT_EQ(fast.ReadFrame(kWait).size(), 11u);
    if (std::chrono::steady_clock::now() - sent < kStall) {
        EXPECT_TRUE(slow.Read(1, milliseconds(0)).empty()) << "the stalled reply is not out yet";
    }
    const auto reply = slow.ReadFrame(milliseconds(3000));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, kStall);
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(reply[1], 1);
}

TEST(IOBoxSimulatorFaultTest, GarbageIsNoModbusFrame)
{
    auto sim = Started();
    sim->Garbage(true);
    RawClient raw(sim->Port());
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(raw.Send(Request(static_cast<std::uint16_t>(i), kReadInputs, 0, 12)));
        const auto reply = raw.Read(8, kWait);
        ASSERT_EQ(reply.size(), 8u);
        EXPECT_NE(reply[2] | reply[3], 0) << "protocol identifier must not be 0";
        raw.Read(64, milliseconds(20));   // rest of the random bytes
    }
    sim->Garbage(false);
    ASSERT_TRUE(raw.Send(Request(9, kReadInputs, 0, 12)));
    const auto reply = raw.ReadFrame(kWait);
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(reply[1], 9);
}

TEST(IOBoxSimulatorFaultTest, ExceptionAnswersWithTheGivenCode)
{
    auto sim = Started();
    RawClient raw(sim->Port());
    const struct {
        std::uint8_t function;
        std::uint8_t code;
    } cases[] = {{kReadInputs, 2}, {kReadCoils, 4}, {kWriteCoil, 6}, {kReadInputs, 0x0B}, {kReadCoils, 0x40}};
    std::uint16_t tid = 0;
    for (const auto& c : cases) {
        sim->Exception(c.code);
        ASSERT_TRUE(raw.Send(Request(++tid, c.function, 0, c.function == kWriteCoil ? 0xFF00 : 1)));
        EXPECT_EQ(raw.ReadFrame(kWait),
                  (std::vector<std::uint8_t>{0, static_cast<std::uint8_t>(tid), 0, 0, 0, 3, 0,
                                             static_cast<std::uint8_t>(c.function | 0x80), c.code}));
    }
    EXPECT_FALSE(sim->GetOutput(1)) << "a refused write changes nothing";
    sim->Exception(0);
    ASSERT_TRUE(raw.Send(Request(++tid, kReadInputs, 0, 12)));
    EXPECT_EQ(raw.ReadFrame(kWait).size(), 11u);
}

TEST(IOBoxSimulatorFaultTest, TruncateReplyDropsMidBody)
{
    auto sim = Started(Config(0, 40));
    sim->TruncateReply(true);
    RawClient raw(sim->Port());
    ASSERT_TRUE(raw.Send(Request(1, kReadInputs, 0, 40)));
    const auto reply = raw.ReadFrame(kWait);
    ASSERT_GE(reply.size(), 6u);
    EXPECT_EQ(MbapLength(reply), 8);
    EXPECT_LT(reply.size(), 6u + MbapLength(reply));
    EXPECT_GT(reply.size(), 6u) << "part of the body arrives";
    EXPECT_TRUE(raw.Closed());
    sim->TruncateReply(false);
    RawClient again(sim->Port());
    ASSERT_TRUE(again.Send(Request(2, kReadInputs, 0, 40)));
    EXPECT_EQ(again.ReadFrame(kWait).size(), 14u);
}

TEST(IOBoxSimulatorFaultTest, OversizedByteCountClaimsMoreThanFollows)
{
    auto sim = Started();
    sim->OversizedByteCount(true);
    RawClient raw(sim->Port());
    for (std::uint8_t fc : {kReadInputs, kReadCoils}) {
        ASSERT_TRUE(raw.Send(Request(1, fc, 0, 6)));
        const auto reply = raw.ReadFrame(kWait);
        ASSERT_EQ(reply.size(), 10u);
        EXPECT_EQ(MbapLength(reply), reply.size() - 6) << "the MBAP length stays truthful";
        EXPECT_GT(reply[8], reply.size() - 9);
    }
    const auto write = Request(2, kWriteCoil, 0, 0xFF00);
    ASSERT_TRUE(raw.Send(write));
    EXPECT_EQ(raw.ReadFrame(kWait), write) << "replies without a byte count are left alone";
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
    ASSERT_TRUE(first->Send(Request(1, kReadInputs, 0, 12)));
    EXPECT_EQ(first->ReadFrame(kWait).size(), 11u);

    first.reset();
    ASSERT_TRUE(sim->WaitForConnections(0, kWait));
    RawClient third(sim->Port());
    ASSERT_TRUE(third.Send(Request(2, kReadInputs, 0, 12)));
    EXPECT_EQ(third.ReadFrame(kWait).size(), 11u) << "a free slot takes the next client";
    EXPECT_EQ(sim->TotalConnections(), 3u);
}

TEST(IOBoxSimulatorFaultTest, SilentCountsButNeverAnswers)
{
    auto sim = Started();
    sim->Silent(true);
    RawClient raw(sim->Port());
    ASSERT_TRUE(raw.Send(Request(1, kReadInputs, 0, 12)));
    ASSERT_TRUE(sim->WaitForRequests(kReadInputs, 1, kWait));
    EXPECT_TRUE(raw.Read(1, milliseconds(150)).empty());
    EXPECT_FALSE(raw.Closed());
    sim->ClearFaults();
    ASSERT_TRUE(raw.Send(Request(2, kReadInputs, 0, 12)));
    const auto reply = raw.ReadFrame(kWait);
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(reply[1], 2) << "the unanswered request stays unanswered";
}

TEST(IOBoxSimulatorFaultTest, ClearFaultsListensAgain)
{
    auto sim = Started();
    ASSERT_TRUE(sim->RefuseNew(true));
    sim->Stall(milliseconds(5000));
    sim->ClearFaults();
    EXPECT_FALSE(sim->RefusingNew());
    RawClient raw(sim->Port());
    ASSERT_TRUE(raw.Send(Request(1, kReadInputs, 0, 12)));
    EXPECT_EQ(raw.ReadFrame(milliseconds(500)).size(), 11u);
}
