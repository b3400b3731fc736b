// The iobox-sim command, run as a child process.

#include "SimClients.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace {

using std::chrono::milliseconds;
using testsupport::ChildProcess;

std::uint16_t PortFrom(const std::string& line)
{
    return line.rfind("port ", 0) == 0 ? static_cast<std::uint16_t>(std::stoi(line.substr(5))) : 0;
}

} // namespace

TEST(IOBoxSimCommandTest, ServesLogsRequestsAndStopsOnSigterm)
{
    ChildProcess child(IOBOX_SIM_COMMAND, {"--inputs", "4", "--outputs", "2", "--company", "15", "--pattern", "fixed:0101"});
    ASSERT_GT(child.Pid(), 0);
    const auto port = PortFrom(child.ReadLine(milliseconds(2000)));
    ASSERT_NE(port, 0);
    {
        simtest::ModbusClient client(port);
        ASSERT_TRUE(client.Connected());
        std::uint8_t bits[4] = {};
        ASSERT_EQ(modbus_read_input_bits(client.Get(), 0, 4, bits), 4);
        EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 4), (std::vector<std::uint8_t>{0, 1, 0, 1}));
        ASSERT_EQ(modbus_write_bit(client.Get(), 17, 1), 1);
    }
    EXPECT_NE(child.ReadLine(milliseconds(1000)).find("fc=0x02 addr=0 value=0x0004"), std::string::npos);
    EXPECT_NE(child.ReadLine(milliseconds(1000)).find("fc=0x05 addr=17 value=0xFF00"), std::string::npos);
    ASSERT_TRUE(child.Signal(SIGTERM));
    EXPECT_EQ(child.Finish(milliseconds(2000)).exitCode, 0);
}

TEST(IOBoxSimCommandTest, DurationEndsTheRunQuietly)
{
    ChildProcess child(IOBOX_SIM_COMMAND, {"--duration", "1", "--quiet", "--host", "127.0.0.2"});
    ASSERT_NE(PortFrom(child.ReadLine(milliseconds(2000))), 0);
    const auto r = child.Finish(milliseconds(2500));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "") << "nothing after the port line";
    EXPECT_EQ(r.err, "");
}

TEST(IOBoxSimCommandTest, BadOptionsGiveOneLineAndExitCode2)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--host", "10.0.0.1"}, {"--bogus"}, {"--port", "70000"}, {"--company", "3"},
        {"--inputs"},           {"--duration", "0"}, {"--pattern", "toggle:1:x"},
    };
    for (const auto& args : cases) {
        ChildProcess child(IOBOX_SIM_COMMAND, args);
        const auto r = child.Finish(milliseconds(2000));
        EXPECT_EQ(r.exitCode, 2) << args[0];
        EXPECT_EQ(r.err.rfind("iobox-sim: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "") << "no port line for " << args[0];
    }
}
