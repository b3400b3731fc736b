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

// The command with stdout and stderr on pipes; killed by pid if it outlives the test.
class Child : public testsupport::ChildProcess {
public:
    explicit Child(const std::vector<std::string>& args) : ChildProcess(IOBOX_SIM_COMMAND, args) {}
};

std::uint16_t PortFrom(const std::string& line)
{
    if (line.rfind("port ", 0) != 0) {
        return 0;
    }
    return static_cast<std::uint16_t>(std::stoi(line.substr(5)));
}

} // namespace

TEST(IOBoxSimCommandTest, ServesLogsRequestsAndStopsOnSigterm)
{
    Child child({"--inputs", "4", "--outputs", "2", "--company", "15", "--pattern", "fixed:0101"});
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
        ASSERT_EQ(modbus_read_bits(client.Get(), 16, 2, bits), 2);
        EXPECT_EQ(bits[1], 1);
    }
    const std::string first = child.ReadLine(milliseconds(1000));
    EXPECT_NE(first.find("fc=0x02 addr=0 value=0x0004"), std::string::npos) << first;
    EXPECT_NE(child.ReadLine(milliseconds(1000)).find("fc=0x05 addr=17 value=0xFF00"), std::string::npos);
    EXPECT_NE(child.ReadLine(milliseconds(1000)).find("fc=0x01 addr=16 value=0x0002"), std::string::npos);
    ASSERT_EQ(::kill(child.Pid(), SIGTERM), 0);
    EXPECT_EQ(child.Wait(milliseconds(2000)), 0);
}

TEST(IOBoxSimCommandTest, DurationEndsTheRunQuietly)
{
    Child child({"--duration", "1", "--quiet", "--host", "127.0.0.2"});
    const auto port = PortFrom(child.ReadLine(milliseconds(2000)));
    ASSERT_NE(port, 0);
    EXPECT_EQ(child.Wait(milliseconds(2500)), 0);
    EXPECT_EQ(child.ReadLine(milliseconds(100)), "") << "nothing after the port line";
    EXPECT_EQ(child.ReadAllErr(milliseconds(100)), "");
}

TEST(IOBoxSimCommandTest, BadOptionsGiveOneLineAndExitCode2)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--host", "10.0.0.1"},
        {"--host", "::"},
        {"--bogus"},
        {"--port", "70000"},
        {"--port", "-1"},
        {"--company", "3"},
        {"--inputs"},
        {"--inputs", "many"},
        {"--duration", "0"},
        {"--pattern", "file:/nonexistent/iobox_sim_pattern"},
        {"--pattern", "toggle:1:x"},
    };
    for (const auto& args : cases) {
        Child child(args);
        EXPECT_EQ(child.Wait(milliseconds(2000)), 2) << args[0];
        const std::string err = child.ReadAllErr(milliseconds(500));
        EXPECT_EQ(err.rfind("iobox-sim: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(child.ReadLine(milliseconds(50)), "") << "no port line for " << args[0];
    }
}

TEST(IOBoxSimCommandTest, HelpDocumentsThePatternFormats)
{
    Child child({"--help"});
    std::string text;
    for (int i = 0; i < 100; ++i) {
        const std::string line = child.ReadLine(milliseconds(1000));
        if (line.empty() && i > 0 && text.find("Exit codes") != std::string::npos) {
            break;
        }
        text += line + "\n";
    }
    EXPECT_EQ(child.Wait(milliseconds(2000)), 0);
    for (const char* needle : {"fixed:BITS", "toggle:INPUTS:PERIOD_MS", "file:PATH", "<milliseconds> <BITS>", "--duration"}) {
        EXPECT_NE(text.find(needle), std::string::npos) << needle;
    }
}
