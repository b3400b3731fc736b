// Faults of the device, one test each, against the plug-in as the host drives it. After each
// fault the same connection under the same handle polls again, events reach the host for
// exactly the inputs in alarm, outputs read and switch, and no thread or descriptor is left
// behind. The long rows, a flapping device and login churn, are in FaultMatrixSlowTest.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "LoopbackServer.h"
#include "ModbusTestSupport.h"
#include "Marl/Base/Error.h"
#include "support/Process.h"

namespace {

using iobox::CTCPConnMgr;
using modbustest::Box;
using modbustest::kInputExchangeFailed;
using modbustest::kOutputExchangeFailed;
using modbustest::kReadCoils;
using modbustest::kReadInputs;
using modbustest::kWait;
using modbustest::kWriteCoil;
using modbustest::OnlyPoints;
using modbustest::RepeatsFromFirst;
using modbustest::Resources;
using std::chrono::milliseconds;
using testsupport::WaitFor;
using States = std::map<unsigned int, unsigned int>;

// Whatever the fault, every line of the run is "[function]text[source(line)]" under the module
// tag "iobox.d"; only the communication base's refusal is tagged "iobox".
bool IsWord(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// "[ns::Class::Function]" (a destructor's "~" allowed), as the log frame opens.
bool IsFunctionFrame(const std::string& s)
{
    if (s.size() < 2 || s.front() != '[' || s.back() != ']') {
        return false;
    }
    int parts = 0;
    for (std::size_t i = 1, end = s.size() - 1; i < end; ++parts) {
        if (parts > 0) {
            if (s.compare(i, 2, "::") != 0) {
                return false;
            }
            i += (i + 2 < end && s[i + 2] == '~') ? 3 : 2;
        }
        const std::size_t start = i;
        while (i < end && IsWord(s[i])) {
            ++i;
        }
        if (i == start) {
            return false;
        }
    }
    return parts >= 2;
}

// "[src/dir/File.cpp(123)]" (or ".h"), as the log frame closes.
bool IsSourceFrame(const std::string& s)
{
    const std::size_t open = s.rfind('(');
    if (s.rfind("[src/", 0) != 0 || open == std::string::npos || s.size() < open + 4 || s.compare(s.size() - 2, 2, ")]") != 0) {
        return false;
    }
    const std::string path = s.substr(5, open - 5);
    const std::string line = s.substr(open + 1, s.size() - open - 3);
    const bool pathOk = std::all_of(path.begin(), path.end(), [](char c) { return IsWord(c) || c == '/' || c == '.'; });
    const auto endsWith = [&path](const std::string& end) {
        return path.size() > end.size() && path.compare(path.size() - end.size(), end.size(), end) == 0;
    };
    const bool extOk = endsWith(".cpp") || endsWith(".h");
    return pathOk && extOk && !line.empty() &&
           std::all_of(line.begin(), line.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

class FaultMatrixTest : public modbustest::PluginFixture {
protected:
    void TearDown() override
    {
        PluginFixture::TearDown();
        for (const auto& line : m_log.Lines()) {
            const std::string& t = line.text;
            const std::size_t head = t.find(']') + 1;
            const std::size_t tail = t.rfind('[');
            ASSERT_TRUE(head > 0 && tail != std::string::npos && head <= tail) << t;
            EXPECT_TRUE(IsFunctionFrame(t.substr(0, head)) && IsSourceFrame(t.substr(tail))) << t;
            EXPECT_EQ(line.module, t.rfind("[iobox::CCommunicationBase::", 0) == 0 ? "iobox" : "iobox.d") << t;
        }
    }
};

const char* const kReadTimeout = "[%s]network,read timeout[%s(%d)]";
const char* const kPeerClosed = "[%s]network,read len = 0[%s(%d)]";

int LastErrorCode() { return Marl::Base::Error::GetLastError().GetCode(); }

long long MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(FaultMatrixTest, DeviceRefusingAtLoginIsLoggedInOnceItAccepts)
{
    Box& box = AddBox();
    box.sim->SetInput(3, true);
    ASSERT_TRUE(box.sim->RefuseNew(true));
    const Resources before;

    Marl::Base::Error::SetLastError(Marl::Base::Error::ErrorCode(0, 0));
    EXPECT_FALSE(Login(box));
    EXPECT_EQ(LastErrorCode(), 4);
    EXPECT_EQ(Handle(box), -1);
    EXPECT_FALSE(CTCPConnMgr::Instance()->GetConn(1));
    EXPECT_EQ(m_log.CountFormat("[%s]RequestLogin network,Init err,ip[%s], port[%d][%s(%d)]"), 1u) << m_log.Dump();
    EXPECT_EQ(m_log.CountContaining("Request_loginData failed!, device_name[box], device_code[code-1], error[0, 4]"), 1u);
    EXPECT_TRUE(before.Regained());
    EXPECT_TRUE(box.device->GetChannels(1003).empty());

    ASSERT_TRUE(box.sim->RefuseNew(false));
    ASSERT_TRUE(Login(box)) << m_log.Dump();
    EXPECT_EQ(Handle(box), 1); // the refused login used no handle
    ExpectServedAgain(box, {3});
    EXPECT_TRUE(StatusCodes(box).empty());
}

TEST_F(FaultMatrixTest, DeviceDroppingInTheMiddleOfAReplyIsReconnectedAndServedAgain)
{
    Box& box = AddBox();
    box.sim->SetInputs(std::vector<bool>{false, false, false, false, true, false, false, false, true});
    box.sim->SetOutput(2, true);
    ASSERT_TRUE(Login(box));
    ASSERT_TRUE(WaitForEvents(box, 2));
    const Resources before;

    // Every reply ends after its head and half its body, and the device closes.
    box.sim->TruncateReply(true);
    ASSERT_TRUE(WaitForLines(kInputExchangeFailed, 2)) << m_log.Dump();
    EXPECT_TRUE(Outputs(box).empty()); // the host's read meets the same fault
    const std::size_t events = EventPoints(box).size();
    ASSERT_TRUE(WaitForLines(kInputExchangeFailed, 4));
    EXPECT_EQ(EventPoints(box).size(), events);
    EXPECT_GE(m_log.CountFormat(kPeerClosed), 4u);

    box.sim->TruncateReply(false);
    ExpectServedAgain(box, {5, 9});
    EXPECT_TRUE(OnlyPoints(EventPoints(box), {5, 9}));
    EXPECT_EQ(Outputs(box), (States{{1, 0}, {2, 1}, {3, 0}, {4, 0}, {5, 0}, {6, 1}}));
    // Every check after a failed exchange connected again: never offline.
    EXPECT_TRUE(StatusCodes(box).empty());
    EXPECT_GE(box.sim->TotalConnections(), 4u);
    EXPECT_TRUE(before.Regained());
}

TEST_F(FaultMatrixTest, DeviceStallingPastTheReceiveTimeoutIsServedAgainWithoutStaleReplies)
{
    Box& box = AddBox();
    box.sim->SetInputs(std::vector<bool>{false, true, false, false, false, false, true});
    box.sim->SetOutput(1, true);
    ASSERT_TRUE(LoginWithShortTimeouts(box)); // replies are awaited for one second
    ASSERT_TRUE(WaitForEvents(box, 2));
    const Resources before;

    // Replies leave 1.5 s after their request: every exchange runs into its time-out. The
    // host's read goes first, on the open connection, which its failure leaves open; its
    // reply arrives half a second later, while the next exchange is waiting for its own.
    box.sim->Stall(milliseconds(1500));
    EXPECT_TRUE(Outputs(box).empty());
    EXPECT_EQ(m_log.CountFormat(kOutputExchangeFailed), 1u) << m_log.Dump();
    box.sim->SetOutput(4, true); // the late reply shows output 4 off, any reply after it on
    // A poll that took another request's reply would succeed here, one reply behind.
    EXPECT_TRUE(WaitForLines(kInputExchangeFailed, 2));
    EXPECT_GE(m_log.CountFormat(kReadTimeout), 2u);

    box.sim->Stall(milliseconds(0));
    // A read that gets an answer gets its own. Reads fail until the poll has connected again
    // the socket that its last failure closed.
    States states;
    WaitFor([&] { return !(states = Outputs(box)).empty(); }, kWait);
    EXPECT_EQ(states, (States{{1, 1}, {2, 0}, {3, 0}, {4, 1}, {5, 0}, {6, 0}}));
    ExpectServedAgain(box, {2, 7});
    // No poll took the late coil reply for its own: no event for input 1.
    EXPECT_TRUE(OnlyPoints(EventPoints(box), {2, 7}));
    EXPECT_TRUE(StatusCodes(box).empty());
    EXPECT_TRUE(before.Regained());
}

TEST_F(FaultMatrixTest, StalledBoxHoldsNeitherAHostRequestPastOneReceiveTimeoutNorTheLogout)
{
    // Replies are awaited for one second. The quiet box is polled only at login, so host
    // reads have it to themselves.
    auto timing = modbustest::ShortTiming();
    timing.pollPeriodMs = 60000;
    CTCPConnMgr::Instance()->SetTiming(timing);
    Box& quiet = AddBox();
    ASSERT_TRUE(LoginWithShortTimeouts(quiet));
    CTCPConnMgr::Instance()->SetTiming(modbustest::ShortTiming());
    Box& box = AddBox();
    ASSERT_TRUE(LoginWithShortTimeouts(box));
    ASSERT_TRUE(WaitForPolls(box, 2));
    ASSERT_TRUE(quiet.sim->WaitForRequests(kReadInputs, 1, kWait));

    // Requests are read and never answered, on connections that stay open. A host read
    // issued while another exchange waits fails when that wait ends, without one of its own:
    // it waits less than one receive time-out in all.
    quiet.sim->Silent(true);
    auto first = std::async(std::launch::async, [&] { return Outputs(quiet).empty(); });
    ASSERT_TRUE(quiet.sim->WaitForRequests(kReadCoils, 1, kWait));
    std::this_thread::sleep_for(milliseconds(400));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Outputs(quiet).empty() && first.get());
    EXPECT_LT(MsSince(start), 1000);
    box.sim->Silent(true);
    ASSERT_TRUE(WaitForPolls(box, 1)); // the poll waits for its reply now
    std::this_thread::sleep_for(milliseconds(400));
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Outputs(box).empty());
    EXPECT_LT(MsSince(start), 1000);

    ASSERT_TRUE(WaitForPolls(box, 1)); // the next poll waits, on a connection made anew
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Logout(box));
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(box.sim->WaitForConnections(0, kWait));
    EXPECT_EQ(m_log.CountFormat(kInputExchangeFailed), 1u) << m_log.Dump(); // the cut poll logs nothing
}

TEST_F(FaultMatrixTest, FloodingBoxHoldsNeitherThePollNorTheLogout)
{
    std::atomic<std::size_t> received{0}; // 0xFF without end from the moment it accepts
    transporttest::LoopbackServer box([&](transporttest::Peer& peer) { peer.Flood('\xFF', received); });
    auto* manager = CTCPConnMgr::Instance();
    const int handle = manager->RequestLogin(modbustest::Loopback(box.Port()), 12, 6, 1, 0);
    ASSERT_GT(handle, 0);
    // Every poll sends its 12-byte request: the drains before them end.
    EXPECT_TRUE(WaitFor([&] { return received >= 3 * 12; }, kWait)) << m_log.Dump();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(manager->Logout(handle));
    EXPECT_LT(MsSince(start), 500);
}

TEST_F(FaultMatrixTest, GarbageRepliesFailTheExchangeAndTheBoxIsServedAgain)
{
    Box& box = AddBox();
    box.sim->SetInput(4, true);
    // Garbage claims a body length of its own, mostly longer than what follows; only the
    // receive time-out ends the wait for the rest.
    ASSERT_TRUE(LoginWithShortTimeouts(box));
    ASSERT_TRUE(WaitForEvents(box, 2));
    const Resources before;

    box.sim->Garbage(true);
    ASSERT_TRUE(WaitForLines(kInputExchangeFailed, 3)) << m_log.Dump();
    const uint64_t connections = box.sim->TotalConnections();
    EXPECT_GE(connections, 3u); // each failed poll closed its socket; each check connected again

    box.sim->Garbage(false);
    ExpectServedAgain(box, {4});
    EXPECT_TRUE(StatusCodes(box).empty());
    EXPECT_TRUE(before.Regained());
}

TEST_F(FaultMatrixTest, ExceptionRepliesYieldNoStatesAndTheBoxIsServedAgain)
{
    Box& box = AddBox();
    box.sim->SetInput(6, true);
    box.sim->SetOutput(2, true);
    ASSERT_TRUE(Login(box));
    ASSERT_TRUE(WaitForEvents(box, 2));
    const Resources before;

    // The exception code stands where the byte count would, and no bit data follows it.
    for (const uint8_t code : {0x01, 0x0B}) {
        SCOPED_TRACE("exception code " + std::to_string(code));
        box.sim->Exception(code);
        ASSERT_TRUE(WaitForPolls(box, 2));
        const std::size_t events = EventPoints(box).size();
        ASSERT_TRUE(WaitForPolls(box, 3));
        EXPECT_EQ(EventPoints(box).size(), events);
        EXPECT_TRUE(Outputs(box).empty());
        // A switch is sent; the device refuses it, and its exception reply is passed over.
        EXPECT_TRUE(Switch(box, 3, 1));
        EXPECT_TRUE(Outputs(box).empty());
        EXPECT_FALSE(box.sim->GetOutput(3));

        box.sim->Exception(0);
        ExpectServedAgain(box, {6});
    }
    // The exchanges themselves succeeded: nothing failed, nothing was reconnected.
    EXPECT_EQ(m_log.CountFormat(kInputExchangeFailed), 0u) << m_log.Dump();
    EXPECT_EQ(m_log.CountFormat(kOutputExchangeFailed), 0u);
    EXPECT_EQ(box.sim->TotalConnections(), 1u);
    EXPECT_TRUE(OnlyPoints(EventPoints(box), {6}));
    EXPECT_TRUE(StatusCodes(box).empty());
    EXPECT_TRUE(before.Regained());
}

TEST_F(FaultMatrixTest, ByteCountLargerThanTheDataYieldsRecordsForTheBytesReceivedOnly)
{
    Box& box = AddBox();
    box.sim->SetInputs(std::vector<bool>{true, false, false, false, false, false, false, false, true, false, false, true});
    box.sim->SetOutput(3, true);
    ASSERT_TRUE(Login(box));
    ASSERT_TRUE(WaitForEvents(box, 3));

    // Replies claim four bytes more than they carry; the head's length is true.
    box.sim->OversizedByteCount(true);
    ASSERT_TRUE(WaitForPolls(box, 4));
    EXPECT_EQ(Outputs(box), (States{{1, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}}));
    const std::size_t events = EventPoints(box).size();
    ASSERT_TRUE(WaitForEvents(box, events + 6));
    box.sim->OversizedByteCount(false);

    // Every poll, with the claim or without, reported the same three inputs and no more.
    EXPECT_TRUE(RepeatsFromFirst(EventPoints(box), {1, 9, 12}));
    EXPECT_EQ(m_log.CountFormat(kInputExchangeFailed), 0u) << m_log.Dump();
    EXPECT_EQ(box.sim->TotalConnections(), 1u);
    ExpectServedAgain(box, {1, 9, 12});
}

TEST_F(FaultMatrixTest, DeviceAcceptingOneConnectionServesTheFirstAndTheSecondOnceItIsFree)
{
    Box& first = AddBox();
    first.sim->MaxClients(1);
    first.sim->SetInput(8, true);
    Box& second = AddDevice(first.sim); // a second host device for the same box
    ASSERT_TRUE(Login(first));
    ASSERT_TRUE(WaitForEvents(first, 2));

    // The box accepts the second connection and closes it at once: the connect succeeds, so
    // the login does, and then no exchange does; each check connects again.
    ASSERT_TRUE(Login(second));
    ASSERT_TRUE(WaitFor([&] { return first.sim->RejectedConnections() >= 3; }, kWait)) << m_log.Dump();
    const Resources during;
    EXPECT_TRUE(Outputs(second).empty());
    ASSERT_TRUE(WaitFor([&] { return first.sim->RejectedConnections() >= 8; }, kWait));
    EXPECT_TRUE(during.Regained()); // connecting again and again leaves nothing behind
    EXPECT_TRUE(EventPoints(second).empty());

    // The first is served throughout, on its one connection.
    ExpectServedAgain(first, {8});
    EXPECT_EQ(first.sim->ConnectionCount(), 1);

    // Once the first leaves, the second's next check gets the connection and keeps it.
    ASSERT_TRUE(Logout(first));
    ExpectServedAgain(second, {8});
    EXPECT_TRUE(OnlyPoints(EventPoints(second), {8}));
    EXPECT_TRUE(StatusCodes(first).empty());
    EXPECT_TRUE(StatusCodes(second).empty());
}

TEST_F(FaultMatrixTest, AfterTheHandlesWrapEveryDeviceKeepsItsOwnEventsOutputsAndRecord)
{
    // Box k has input k in alarm, so an event names the box it came from.
    std::vector<Box*> boxes;
    for (int k = 1; k <= 5; ++k) {
        boxes.push_back(&AddBox());
        boxes.back()->sim->SetInput(k, true);
    }
    Box& a = *boxes[0];
    Box& b = *boxes[1];
    Box& c = *boxes[2];
    Box& d = *boxes[3];
    Box& e = *boxes[4];
    ASSERT_TRUE(Login(a));
    ASSERT_TRUE(Login(b));
    ASSERT_TRUE(Login(c));
    EXPECT_EQ(Handle(c), 3);
    ASSERT_TRUE(WaitForEvents(b, 1));
    ASSERT_TRUE(Logout(b)); // handle 2 is free again; 1 and 3 stay in use

    CTCPConnMgr::Instance()->SetLastHandleForTest(1000000);
    ASSERT_TRUE(Login(d));
    EXPECT_EQ(Handle(d), 1000001);
    ASSERT_TRUE(Login(e)); // after 1000001 the count starts again at 1, which is taken
    EXPECT_EQ(Handle(e), 2);
    ASSERT_TRUE(Login(b)); // 3 is taken as well
    EXPECT_EQ(Handle(b), 4);

    for (std::size_t k = 0; k < boxes.size(); ++k) {
        SCOPED_TRACE("box " + std::to_string(k + 1));
        ExpectServedAgain(*boxes[k], {static_cast<int>(k) + 1});
    }
    // e took the handle b had: none of b's events went to e, none of e's to b.
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        EXPECT_TRUE(OnlyPoints(EventPoints(*boxes[k]), {static_cast<int>(k) + 1})) << "box " << k + 1;
    }

    // The device records stayed with their handles: only c is reported offline.
    ASSERT_TRUE(c.sim->RefuseNew(true));
    c.sim->DropAll();
    ASSERT_TRUE(WaitFor([&] { return !StatusCodes(c).empty(); }, kWait)) << m_log.Dump();
    ASSERT_TRUE(WaitForPolls(a, 3));
    EXPECT_EQ(StatusCodes(c), std::vector<int>{0x8000});
    EXPECT_EQ(m_host.deviceManager->StatusNotifications().size(), 1u);
}

TEST_F(FaultMatrixTest, FourHostThreadsSwitchingOutputsWhileThePollRunsEachGetTheirOwnReplies)
{
    auto timing = modbustest::ShortTiming();
    timing.pollPeriodMs = 1; // polls back to back
    CTCPConnMgr::Instance()->SetTiming(timing);
    Box& box = AddBox();
    // Inputs and coils differ and so do the lengths of their replies.
    box.sim->SetInputs(std::vector<bool>{false, true, false, true, true, false, false, false, false, true});
    box.sim->SetOutput(5, true);
    ASSERT_TRUE(Login(box));
    ASSERT_TRUE(WaitForEvents(box, 4));

    // Thread k switches output k + 1, then sets output 5 on as it already is (so that several
    // unread write replies precede a read), then reads every output: its own as it last set
    // it, 5 on, 6 off. A reply handed to the wrong request shows.
    constexpr int kThreads = 4;
    constexpr int kIterations = 100;
    std::atomic<int> readsOk{0};
    std::atomic<int> writesFailed{0};
    std::mutex wrongMutex;
    std::string firstWrong;
    const uint64_t pollsBefore = box.sim->RequestCount(kReadInputs);
    auto host = [&](unsigned int own) {
        for (int i = 0; i < kIterations; ++i) {
            if (i % 10 == 0) { // keep polls interleaved however the threads are scheduled
                box.sim->WaitForRequests(kReadInputs, pollsBefore + static_cast<uint64_t>(i / 10), kWait);
            }
            const unsigned int state = static_cast<unsigned int>(i % 2);
            if (!Switch(box, static_cast<int>(own), state) || !Switch(box, 5, 1)) {
                ++writesFailed;
            }
            const States read = Outputs(box);
            bool right = read.size() == 6 && read.at(own) == state && read.at(5) == 1 && read.at(6) == 0;
            for (const auto& entry : read) {
                right = right && entry.second <= 1;
            }
            if (right) {
                ++readsOk;
            } else {
                std::lock_guard<std::mutex> lock(wrongMutex);
                if (firstWrong.empty()) {
                    firstWrong = "output " + std::to_string(own) + " set to " + std::to_string(state) + ", read";
                    for (const auto& entry : read) {
                        firstWrong += " " + std::to_string(entry.first) + "=" + std::to_string(entry.second);
                    }
                }
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned int k = 1; k <= kThreads; ++k) {
        threads.emplace_back(host, k);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(box.sim->WaitForRequests(kWriteCoil, 2 * kThreads * kIterations, kWait));

    EXPECT_EQ(readsOk, kThreads * kIterations) << firstWrong;
    EXPECT_EQ(writesFailed, 0);
    EXPECT_EQ(box.sim->RequestCount(kWriteCoil), 800u);
    // The last switch of each thread (iteration 99) turned its output on.
    EXPECT_EQ(box.sim->GetOutputs(), (std::vector<bool>{true, true, true, true, true, false}));
    EXPECT_GE(box.sim->RequestCount(kReadInputs), pollsBefore + 9);
    EXPECT_TRUE(RepeatsFromFirst(EventPoints(box), {2, 4, 5, 10}));
    EXPECT_EQ(m_log.CountFormat(kInputExchangeFailed), 0u) << m_log.Dump();
    EXPECT_EQ(m_log.CountFormat(kOutputExchangeFailed), 0u);
}

// Counts Logout calls and refuses the channel refresh, as a host that refuses the channels.
class RefusingChannels : public iobox::CIOBoxStrategy {
public:
    using iobox::CIOBoxStrategy::CIOBoxStrategy;
    bool Logout() override
    {
        ++logouts;
        return iobox::CIOBoxStrategy::Logout();
    }
    bool RefreshChannel() override { return false; }
    int logouts = 0;
};

TEST_F(FaultMatrixTest, FailedAfterLoginLogsOutOnceAndLeavesHandleMinusOne)
{
    Box& box = AddBox();
    RefusingChannels strategy(box.device, false);
    const Resources before;
    EXPECT_FALSE(strategy.Login());
    EXPECT_EQ(strategy.logouts, 1);
    EXPECT_EQ(Handle(box), -1);
    EXPECT_TRUE(m_log.HasLine(5, "[iobox::CIOBoxStrategy::AfterLogin]RefreshChannel failed.",
                              "src/Access/Strategy/IOBoxStrategy.cpp"))
        << m_log.Dump();
    // The connection is gone: its handle has none and the box sees no more polls.
    EXPECT_FALSE(CTCPConnMgr::Instance()->GetConn(1));
    EXPECT_TRUE(box.sim->WaitForConnections(0, kWait));
    EXPECT_TRUE(before.Regained());
    const auto polls = box.sim->RequestCount(kReadInputs);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(box.sim->RequestCount(kReadInputs), polls);
}

} // namespace
