// iobox-host's command line and interactive commands, parsed in-process.

#include "Commands.h"
#include "HostOptions.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using iobox::host::Command;
using iobox::host::HostOptions;
using iobox::host::ParseHostOptions;

TEST(HostOptionsTest, DefaultsRunTheTourAgainstTheSimulator)
{
    HostOptions o;
    std::string error;
    ASSERT_TRUE(ParseHostOptions({}, o, error)) << error;
    EXPECT_FALSE(o.hasDevice);
    EXPECT_FALSE(o.json);
    EXPECT_FALSE(o.interactive);
    EXPECT_EQ(o.durationS, 0);
    EXPECT_EQ(o.logLevel, 4);
    EXPECT_EQ(o.inputs, 12);
    EXPECT_EQ(o.outputs, 6);
    EXPECT_EQ(o.inputType, 1);
    EXPECT_EQ(o.companyType, 0);
    EXPECT_TRUE(o.pluginPath.empty());
}

TEST(HostOptionsTest, ARealBoxWithItsDescription)
{
    HostOptions o;
    std::string error;
    ASSERT_TRUE(ParseHostOptions({"--device", "192.168.1.20:502", "--inputs=8", "--outputs", "4", "--input-type", "0",
                                  "--company", "15", "--json", "--interactive", "--duration", "90", "--log-level=2"},
                                 o, error))
        << error;
    EXPECT_TRUE(o.hasDevice);
    EXPECT_EQ(o.device.host, "192.168.1.20");
    EXPECT_EQ(o.device.port, 502);
    EXPECT_EQ(o.inputs, 8);
    EXPECT_EQ(o.outputs, 4);
    EXPECT_EQ(o.inputType, 0);
    EXPECT_EQ(o.companyType, 15);
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.interactive);
    EXPECT_EQ(o.durationS, 90);
    EXPECT_EQ(o.logLevel, 2);
}

TEST(HostOptionsTest, BadOptionsAreRefusedWithTheirReason)
{
    struct Case {
        std::vector<std::string> args;
        const char* reason;   // part of the one-line error
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"leftover"}, "unexpected argument 'leftover'"},
        {{"--duration"}, "--duration needs a value"},
        {{"--duration", "0"}, "bad --duration '0'"},
        {{"--duration", "86401"}, "bad --duration"},
        {{"--duration", "5s"}, "bad --duration '5s'"},
        {{"--log-level", "1"}, "bad --log-level"},
        {{"--log-level", "7"}, "bad --log-level"},
        {{"--json=yes"}, "--json takes no value"},
        {{"--plugin", "/nonexistent/iobox.d.so"}, "no such file"},
        {{"--device", "10.0.0.1"}, "HOST:PORT"},
        {{"--device", ":502"}, "HOST:PORT"},
        {{"--device", "10.0.0.1:0"}, "bad port '0'"},
        {{"--device", "10.0.0.1:65536"}, "bad port"},
        {{"--device", "10.0.0.1:x"}, "bad port 'x'"},
        {{"--device", "::1:502"}, "brackets"},
        {{"--device", "[::1:502"}, "bad bracketed address"},
        {{"--device", "10.0.0.1:502", "--inputs", "2001"}, "bad --inputs"},
        {{"--device", "10.0.0.1:502", "--outputs", "-1"}, "bad --outputs"},
        {{"--device", "10.0.0.1:502", "--input-type", "2"}, "bad --input-type"},
        {{"--device", "10.0.0.1:502", "--company", "65536"}, "bad --company"},
        {{"--inputs", "8"}, "--inputs describes a real box and needs --device"},
        {{"--company", "15", "--json"}, "--company describes a real box and needs --device"},
    };
    for (const auto& c : cases) {
        HostOptions o;
        o.durationS = 77;
        std::string error;
        EXPECT_FALSE(ParseHostOptions(c.args, o, error)) << c.args[0];
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.args[0] << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(o.durationS, 77) << "options untouched on failure";
    }
}

TEST(HostOptionsTest, DeviceAddressForms)
{
    struct Case {
        const char* text;
        const char* host;
        int port;
    };
    const std::vector<Case> cases = {
        {"127.0.0.1:1502", "127.0.0.1", 1502},
        {"[::1]:502", "::1", 502},
        {"localhost:65535", "localhost", 65535},
        {"box-7.example:1", "box-7.example", 1},
    };
    for (const auto& c : cases) {
        iobox::host::DeviceAddress address;
        std::string error;
        ASSERT_TRUE(iobox::host::ParseDeviceAddress(c.text, address, error)) << c.text << ": " << error;
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
    }
}

TEST(HostOptionsTest, HelpIsAFlagAndTheUsageNamesEveryOption)
{
    HostOptions o;
    std::string error;
    ASSERT_TRUE(ParseHostOptions({"--help"}, o, error));
    EXPECT_TRUE(o.help);
    for (const char* option : {"--plugin", "--device", "--inputs", "--outputs", "--input-type", "--company",
                               "--json", "--interactive", "--duration", "--log-level", "--help"}) {
        EXPECT_NE(std::string(iobox::host::kHostUsage).find(option), std::string::npos) << option;
    }
}

TEST(HostOptionsTest, PluginPathFallsBackToTheModuleNextToTheBuild)
{
    namespace fs = std::filesystem;
    char dirTemplate[] = "/tmp/iobox_host_pathXXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const fs::path root = dirTemplate;
    const std::string exeDir = (root / "tools" / "host").string();
    fs::create_directories(exeDir);
    const std::string missing = (root / "elsewhere" / "iobox.d.so").string();

    EXPECT_EQ(iobox::host::ChoosePluginPath(missing, exeDir), missing) << "nothing found: the built path as is";
    std::ofstream(exeDir + "/iobox.d.so") << "x";
    EXPECT_EQ(iobox::host::ChoosePluginPath(missing, exeDir), exeDir + "/iobox.d.so") << "installed side by side";
    std::ofstream((root / "iobox.d.so").string()) << "x";
    EXPECT_EQ(iobox::host::ChoosePluginPath(missing, exeDir), exeDir + "/../../iobox.d.so") << "the build tree first";
    const std::string built = (root / "iobox.d.so").string();
    EXPECT_EQ(iobox::host::ChoosePluginPath(built, exeDir), built) << "the built module wins when it exists";

    fs::remove_all(root);
}

TEST(HostCommandsTest, CommandsAndTheirArguments)
{
    struct Case {
        const char* line;
        Command::Kind kind;
        int output;
        bool on;
        int seconds;
    };
    const std::vector<Case> cases = {
        {"", Command::Kind::Empty, 0, false, 0},
        {"   ", Command::Kind::Empty, 0, false, 0},
        {"# a comment", Command::Kind::Empty, 0, false, 0},
        {"help", Command::Kind::Help, 0, false, 0},
        {"outputs", Command::Kind::Outputs, 0, false, 0},
        {"  set 2 on ", Command::Kind::Set, 2, true, 0},
        {"set 6 off", Command::Kind::Set, 6, false, 0},
        {"set 2000 on", Command::Kind::Set, 2000, true, 0},
        {"status", Command::Kind::Status, 0, false, 0},
        {"wait 7", Command::Kind::Wait, 0, false, 7},
        {"quit", Command::Kind::Quit, 0, false, 0},
        {"exit", Command::Kind::Quit, 0, false, 0},
    };
    for (const auto& c : cases) {
        Command command;
        command.output = -5;
        std::string error;
        ASSERT_TRUE(iobox::host::ParseCommand(c.line, command, error)) << c.line << ": " << error;
        EXPECT_EQ(command.kind, c.kind) << c.line;
        EXPECT_EQ(command.output, c.output) << c.line;
        EXPECT_EQ(command.on, c.on) << c.line;
        EXPECT_EQ(command.seconds, c.seconds) << c.line;
    }
}

TEST(HostCommandsTest, BadCommandsSayWhatIsExpected)
{
    struct Case {
        const char* line;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"switch 2 on", "unknown command 'switch'"},
        {"set 0 on", "usage: set N on|off"},
        {"set 2001 on", "usage: set N on|off"},
        {"set 2 maybe", "usage: set N on|off"},
        {"set 2", "usage: set N on|off"},
        {"set two on", "usage: set N on|off"},
        {"wait", "usage: wait SECONDS"},
        {"wait 0", "usage: wait SECONDS"},
        {"wait 3601", "usage: wait SECONDS"},
        {"outputs 3", "outputs takes no argument"},
        {"quit now", "quit takes no argument"},
    };
    for (const auto& c : cases) {
        Command command;
        command.kind = Command::Kind::Status;
        std::string error;
        EXPECT_FALSE(iobox::host::ParseCommand(c.line, command, error)) << c.line;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.line << ": " << error;
        EXPECT_EQ(command.kind, Command::Kind::Status) << "command untouched on failure: " << c.line;
    }
}

} // namespace
