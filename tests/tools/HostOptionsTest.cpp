// Where iobox-host looks for the plug-in when it is not told.

#include "HostOptions.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

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
