// iobox-host's command line, interactive commands and texts, in-process: the boundaries that
// a run of the command does not reach.

#include "Commands.h"
#include "HostOptions.h"
#include "HostText.h"

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

TEST(HostOptionsTest, OptionsAndTheirReasonsForRefusal)
{
    HostOptions o;
    std::string error;
    ASSERT_TRUE(ParseHostOptions({"--device", "[::1]:502", "--inputs=8", "--input-type", "0", "--log-level=2"}, o, error))
        << error;
    EXPECT_EQ(o.device.host, "::1");
    EXPECT_EQ(o.device.port, 502);
    EXPECT_EQ(o.inputs, 8);
    EXPECT_EQ(o.inputType, 0);
    EXPECT_EQ(o.logLevel, 2);

    const std::vector<std::pair<std::vector<std::string>, const char*>> cases = {
        {{"leftover"}, "unexpected argument 'leftover'"},
        {{"--duration"}, "--duration needs a value"},
        {{"--duration", "86401"}, "bad --duration"},
        {{"--log-level", "7"}, "bad --log-level"},
        {{"--json=yes"}, "--json takes no value"},
        {{"--device", "10.0.0.1:0"}, "bad port '0'"},
        {{"--device", "::1:502"}, "brackets"},
        {{"--device", "10.0.0.1:502", "--inputs", "2001"}, "bad --inputs"},
        {{"--device", "10.0.0.1:502", "--input-type", "2"}, "bad --input-type"},
        {{"--company", "15", "--json"}, "--company describes a real box and needs --device"},
    };
    for (const auto& c : cases) {
        HostOptions untouched;
        untouched.durationS = 77;
        EXPECT_FALSE(ParseHostOptions(c.first, untouched, error)) << c.first[0];
        EXPECT_NE(error.find(c.second), std::string::npos) << c.first[0] << ": " << error;
        EXPECT_EQ(untouched.durationS, 77) << "options untouched on failure";
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
    fs::remove_all(root);
}

TEST(HostCommandsTest, CommandsAtTheirBoundaries)
{
    const struct {
        const char* line;
        bool ok;
        Command::Kind kind;
        int output;
        int seconds;
    } cases[] = {
        {"# a comment", true, Command::Kind::Empty, 0, 0},   {"  set 2000 on ", true, Command::Kind::Set, 2000, 0},
        {"wait 3600", true, Command::Kind::Wait, 0, 3600},   {"exit", true, Command::Kind::Quit, 0, 0},
        {"set 0 on", false, Command::Kind::Status, -5, 0},   {"set 2001 on", false, Command::Kind::Status, -5, 0},
        {"set 2 maybe", false, Command::Kind::Status, -5, 0}, {"wait 0", false, Command::Kind::Status, -5, 0},
        {"quit now", false, Command::Kind::Status, -5, 0},
    };
    for (const auto& c : cases) {
        Command command;
        command.kind = Command::Kind::Status;
        command.output = -5;
        std::string error;
        EXPECT_EQ(iobox::host::ParseCommand(c.line, command, error), c.ok) << c.line << ": " << error;
        EXPECT_EQ(command.kind, c.kind) << c.line;
        EXPECT_EQ(command.output, c.output) << c.line;
        EXPECT_EQ(command.seconds, c.seconds) << c.line;
    }
}

TEST(HostTextTest, EventsAndLongChannelLists)
{
    using namespace iobox::host;
    EXPECT_EQ(ReadableEvent(R"({"Event":{"BasicInfo":{"DeviceName":"B","SourceName":"AlarmInput 100","EventID":3,)"
                            R"("TimeInfo":{"OccurrenceTime":"2026-12-05T14:52:31Z"}}}})"),
              "event  2026-12-05T14:52:31Z  B  AlarmInput 100  id 3");
    EXPECT_EQ(ReadableEvent(R"({"Event":{}})").rfind("event  (content is not an event document", 0), 0u);
    EXPECT_LT(ReadableEvent(std::string(200, 'x')).size(), 120u) << "long content is cut";

    std::vector<ChannelEntry> many;
    for (int no = 1; no <= 100; ++no) {
        many.push_back({no, static_cast<unsigned>(no), "In " + std::to_string(no)});
    }
    const auto lines = ChannelLines(many);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "In 7 = id 7   In 8 = id 8   ... 88 more ...");
    EXPECT_EQ(lines[4], "In 100 = id 100");
    many.resize(24); // shown whole up to here
    EXPECT_EQ(ChannelLines(many).size(), 8u);
    EXPECT_EQ(WrapText("  aa bb cc dd", 8), (std::vector<std::string>{"  aa bb", "  cc dd"}));
    EXPECT_EQ(WrapText("averyveryverylongword and", 8), (std::vector<std::string>{"averyveryverylongword", "and"}));
}

} // namespace
