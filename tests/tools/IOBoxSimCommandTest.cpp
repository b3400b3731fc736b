// The iobox-sim command, run as a child process.

#include "SimClients.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/Command.h"

namespace {

using testsupport::CommandResult;
using testsupport::RunCommand;

CommandResult RunSim(const std::vector<std::string>& args, const std::string& outPath = "")
{
    return RunCommand(IOBOX_SIM_COMMAND, args, "", 10, outPath);
}

} // namespace

TEST(IOBoxSimCommandTest, PrintsItsPortServesLogsRequestsAndEndsAfterItsDuration)
{
    const std::string outPath = "/tmp/iobox_sim_command_" + std::to_string(::getpid());
    CommandResult result;
    std::thread run([&] {
        result = RunSim({"--inputs", "4", "--outputs", "2", "--company", "15", "--pattern", "fixed:0101", "--duration",
                         "2"},
                        outPath);
    });
    int port = 0;
    for (int i = 0; i < 200 && port == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::sscanf(testsupport::ReadFile(outPath).c_str(), "port %d\n", &port);
    }
    if (port != 0) {
        simtest::ModbusClient client(static_cast<std::uint16_t>(port));
        EXPECT_TRUE(client.Connected());
        std::uint8_t bits[4] = {};
        EXPECT_EQ(modbus_read_input_bits(client.Get(), 0, 4, bits), 4);
        EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 4), (std::vector<std::uint8_t>{0, 1, 0, 1}));
        EXPECT_EQ(modbus_write_bit(client.Get(), 17, 1), 1);
    }
    run.join();
    std::remove(outPath.c_str());
    ASSERT_NE(port, 0) << result.out << result.err;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("fc=0x02 addr=0 value=0x0004"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("fc=0x05 addr=17 value=0xFF00"), std::string::npos) << result.out;

    // Quiet: the port line and nothing else.
    const auto quiet = RunSim({"--duration", "1", "--quiet", "--host", "127.0.0.2"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out.rfind("port ", 0), 0u) << quiet.out;
    EXPECT_EQ(std::count(quiet.out.begin(), quiet.out.end(), '\n'), 1) << quiet.out;
    EXPECT_EQ(quiet.err, "");
}

TEST(IOBoxSimCommandTest, BadOptionsGiveOneLineAndExitCode2)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--host", "10.0.0.1"}, {"--bogus"}, {"--port", "70000"}, {"--company", "3"},
        {"--inputs"},           {"--duration", "0"}, {"--pattern", "toggle:1:x"},
    };
    for (const auto& args : cases) {
        const auto r = RunSim(args);
        EXPECT_EQ(r.exitCode, 2) << args[0];
        EXPECT_EQ(r.err.rfind("iobox-sim: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "") << "no port line for " << args[0];
    }
}
