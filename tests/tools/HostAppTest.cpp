// iobox-host run as a child process against the built plug-in, on loopback only.

#include "IOBoxSimulator.h"
#include "support/Command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Result = testsupport::CommandResult;

Result RunHost(std::vector<std::string> args, const std::string& input, int timeoutS)
{
    // Every run names the built plug-in, so the test does not depend on where the command looks.
    args.insert(args.begin(), {"--plugin", IOBOX_MODULE_PATH});
    return testsupport::RunCommand(IOBOX_HOST_COMMAND, args, input, timeoutS);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(HostAppTest, BadOptionsGiveOneLineAndExitCode2)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},       {"--duration", "0"}, {"--device", "127.0.0.1:70000"}, {"--device", "::1:502"},
        {"--inputs", "4"}, {"--interactive=1"}, {"--company", "15", "--json"}, {"leftover"},
    };
    for (const auto& args : cases) {
        const Result r = RunHost(args, "", 5);
        EXPECT_EQ(r.exitCode, 2) << args[0];
        EXPECT_EQ(r.err.rfind("iobox-host: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "") << args[0];
    }
    const Result help = RunHost({"--help"}, "", 5);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: iobox-host", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
}

TEST(HostAppTest, InteractiveThroughAPipeSwitchesAnOutputOfTheBoxAndReadsItBack)
{
    iobox::sim::SimulatorConfig config;
    config.companyType = 15;
    iobox::sim::IOBoxSimulator box(config);
    ASSERT_TRUE(box.Start()) << box.LastError();
    const Result r =
        RunHost({"--device", "127.0.0.1:" + std::to_string(box.Port()), "--company", "15", "--interactive",
                 "--duration", "40"},
                "outputs\nset 2 on\noutputs\nset 9 on\nswitch 1\nquit\n", 40);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<std::string> states;
    std::size_t at = 0;
    for (int i = 0; i < 10 && (at = r.out.find("outputs: ", at)) != std::string::npos; ++i) {
        at += 9;
        states.push_back(r.out.substr(at, r.out.find('\n', at) - at));
    }
    ASSERT_EQ(states.size(), 2u) << r.out;
    EXPECT_EQ(states[0], "1 off  2 off  3 off  4 off  5 off  6 off");
    EXPECT_EQ(states[1], "1 off  2 on  3 off  4 off  5 off  6 off");
    EXPECT_EQ(box.GetOutputs(), (std::vector<bool>{false, true, false, false, false, false}));
    EXPECT_EQ(box.RequestCount(0x05), 1u);
    EXPECT_TRUE(Has(r.out, "> set 2 on")) << "commands from a pipe are echoed";
    EXPECT_TRUE(Has(r.out, "the device has no output 9")) << r.out;
    EXPECT_TRUE(Has(r.out, "unknown command 'switch' (type help)")) << r.out;
    // The clean shutdown, in order.
    at = 0;
    for (const char* step : {"Stop returned true", "Unit returned true; drivers still registered: 0", "dlclose returned 0"}) {
        at = r.out.find(step, at);
        ASSERT_NE(at, std::string::npos) << step << "\n" << r.out;
    }
}

} // namespace
