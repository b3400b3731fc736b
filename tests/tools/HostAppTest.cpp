// iobox-host run as a child process against the built plug-in, on loopback only.

#include "IOBoxSimulator.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Result = testsupport::ChildProcess::Result;

// Every run names the built plug-in, so the test does not depend on where the command looks.
std::vector<std::string> WithPlugin(std::vector<std::string> args)
{
    args.insert(args.begin(), {"--plugin", IOBOX_MODULE_PATH});
    return args;
}

Result RunHost(const std::vector<std::string>& args, const std::string& input, milliseconds timeout)
{
    testsupport::ChildProcess child(IOBOX_HOST_COMMAND, args);
    EXPECT_GT(child.Pid(), 0);
    if (!input.empty()) {
        EXPECT_TRUE(child.WriteStdin(input));
    }
    return child.Finish(timeout);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (int i = 0; i < 100000 && from < text.size(); ++i) {
        const auto nl = text.find('\n', from);
        lines.push_back(text.substr(from, nl == std::string::npos ? std::string::npos : nl - from));
        from = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Wrapped prose joined again: every line break with the indentation after it becomes a blank.
std::string Flat(const std::string& text)
{
    std::string flat;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            flat += text[i];
            continue;
        }
        flat += ' ';
        for (int n = 0; n < 1000 && i + 1 < text.size() && text[i + 1] == ' '; ++n) {
            ++i;
        }
    }
    return flat;
}

// The lines of the host's clean shutdown, in order.
void ExpectCleanShutdown(const std::string& narration)
{
    const std::vector<std::string> steps = {"Stop returned true", "Unit returned true; drivers still registered: 0",
                                            "dlclose returned 0"};
    std::size_t at = 0;
    for (const auto& step : steps) {
        const auto found = narration.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << "\n" << narration;
        at = found;
    }
}

TEST(HostAppTest, BadOptionsGiveOneLineAndExitCode2)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--duration", "0"},
        {"--duration"},
        {"--log-level", "x"},
        {"--device", "127.0.0.1"},
        {"--device", "127.0.0.1:70000"},
        {"--inputs", "4"},
        {"--device", "127.0.0.1:1502", "--input-type", "3"},
        {"--plugin", "/nonexistent/iobox.d.so"},
        {"--interactive=1"},
        {"stray"},
    };
    for (const auto& args : cases) {
        const Result r = RunHost(args, "", milliseconds(5000));
        EXPECT_EQ(r.exitCode, 2) << args[0];
        EXPECT_EQ(r.err.rfind("iobox-host: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "") << args[0];
    }
}

TEST(HostAppTest, HelpPrintsTheUsageOnly)
{
    const Result r = RunHost({"--help"}, "", milliseconds(5000));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("usage: iobox-host", 0), 0u) << r.out;
    EXPECT_TRUE(Has(r.out, "--interactive")) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(HostAppTest, ACheckedOutAddressIsThePluginsRefusal)
{
    // The address check refuses a multicast address before anything connects.
    const Result r = RunHost(WithPlugin({"--device", "224.0.0.1:502"}), "", milliseconds(10000));
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "the plug-in refused the add request: error (0, 947): not a valid device address")) << r.out;
    EXPECT_FALSE(Has(r.out, "Login returned")) << r.out;
    EXPECT_TRUE(Has(r.err, "[iobox::ProcessLoginParam]Check login param failed.")) << r.err;
    ExpectCleanShutdown(r.out);
}

TEST(HostAppTest, AnUnreachableBoxGivesThePluginsErrorCodeNotACrash)
{
    iobox::sim::IOBoxSimulator box;
    ASSERT_TRUE(box.Start()) << box.LastError();
    ASSERT_TRUE(box.RefuseNew(true));
    const Result r = RunHost(WithPlugin({"--device", "127.0.0.1:" + std::to_string(box.Port()), "--duration", "20"}),
                             "", milliseconds(20000));
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "login failed: error (0, 4)")) << r.out;
    EXPECT_TRUE(Has(r.err, "[iobox::CIOBoxStrategy::Login]Request_loginData failed!, device_name[Bench box]")) << r.err;
    EXPECT_TRUE(Has(r.out, "DeleteDevice returned true")) << r.out;
    ExpectCleanShutdown(r.out);
    EXPECT_TRUE(Has(r.out, "summary: 0 events received")) << r.out;
}

TEST(HostAppTest, InteractiveThroughAPipeSwitchesAnOutputAndReadsItBack)
{
    const Result r = RunHost(WithPlugin({"--interactive", "--duration", "40"}),
                             "outputs\nset 2 on\noutputs\nset 9 on\nswitch 1\nstatus\nquit\n", milliseconds(40000));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const auto lines = Lines(r.out);
    std::vector<std::string> states;
    for (const auto& line : lines) {
        if (Has(line, "outputs: ")) {
            states.push_back(line.substr(line.find("outputs: ") + 9));
        }
    }
    ASSERT_EQ(states.size(), 2u) << r.out;
    EXPECT_EQ(states[0], "1 off  2 off  3 off  4 off  5 off  6 off");
    EXPECT_EQ(states[1], "1 off  2 on  3 off  4 off  5 off  6 off");
    EXPECT_TRUE(Has(r.out, "> set 2 on")) << "commands from a pipe are echoed";
    EXPECT_TRUE(Has(r.out, "output 2 (host channel id ")) << r.out;
    EXPECT_TRUE(Has(r.out, "the device has no output 9")) << r.out;
    EXPECT_TRUE(Has(r.out, "unknown command 'switch' (type help)")) << r.out;
    EXPECT_TRUE(Has(r.out, "\"Lobby box\": online, handle 1; ")) << r.out;
    ExpectCleanShutdown(r.out);
    EXPECT_TRUE(Has(r.out, "1 outputs switched")) << r.out;
}

TEST(HostAppTest, ARealBoxOnLoopbackIsSwitchedByItsCompanyType)
{
    for (const int company : {0, 15}) {
        iobox::sim::SimulatorConfig config;
        config.inputs = 8;
        config.outputs = 4;
        config.companyType = company;
        iobox::sim::IOBoxSimulator box(config);
        ASSERT_TRUE(box.Start()) << box.LastError();
        const Result r = RunHost(WithPlugin({"--device", "127.0.0.1:" + std::to_string(box.Port()), "--inputs", "8",
                                             "--outputs", "4", "--company", std::to_string(company),
                                             "--interactive", "--duration", "40"}),
                                 "set 3 on\noutputs\nquit\n", milliseconds(40000));
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(box.GetOutput(3)) << "company type " << company;
        EXPECT_FALSE(box.GetOutput(2));
        EXPECT_TRUE(Has(r.out, "outputs: 1 off  2 off  3 on  4 off")) << r.out;
        EXPECT_TRUE(Has(r.out, "8 alarm inputs (channel type 1003)")) << r.out;
        EXPECT_TRUE(Has(Flat(r.out), "the host now puts 127.0.0.1 into the validated parameters")) << r.out;
        EXPECT_TRUE(Has(r.out, "validated login parameters: alias \"Bench box\", address 192.0.2.10, port " +
                                   std::to_string(box.Port()) + ", 8 inputs, 4 outputs, input type 1, company type " +
                                   std::to_string(company)))
            << r.out;
    }
}

TEST(HostAppTest, WatchingABoxEndsWithTheDuration)
{
    iobox::sim::IOBoxSimulator box;
    ASSERT_TRUE(box.Start()) << box.LastError();
    box.SetOutput(5, true);
    const Result r = RunHost(WithPlugin({"--device", "localhost:" + std::to_string(box.Port()), "--duration", "3"}),
                             "", milliseconds(20000));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "outputs: 1 off  2 off  3 off  4 off  5 on  6 off")) << r.out;
    EXPECT_TRUE(Has(r.out, "stopping: the run's 3 s are over")) << r.out;
    ExpectCleanShutdown(r.out);
}

TEST(HostAppTest, CtrlCShutsDownThroughStopAndUnit)
{
    testsupport::ChildProcess child(IOBOX_HOST_COMMAND, WithPlugin({"--interactive", "--duration", "60"}));
    ASSERT_GT(child.Pid(), 0);
    std::string seen;
    ASSERT_TRUE(child.ReadUntil("reading commands from stdin", milliseconds(15000), seen)) << seen;
    ASSERT_TRUE(child.Signal(SIGINT));
    const Result r = child.Finish(milliseconds(15000));
    EXPECT_EQ(r.exitCode, 0) << seen << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "stopping: interrupted")) << r.out;
    EXPECT_TRUE(Has(r.out, "Logout returned true")) << r.out;
    ExpectCleanShutdown(r.out);
}

} // namespace
