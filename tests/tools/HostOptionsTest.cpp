// iobox-host's command line in-process: the boundaries that a run of the command does not reach.

#include "HostOptions.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

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

} // namespace
