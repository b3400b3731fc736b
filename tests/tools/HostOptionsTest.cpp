// Where iobox-host looks for the plug-in when it is not told.

#include "HostOptions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(HostOptionsTest, PluginPathFallsBackToTheModuleNextToTheBuild)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() /
        ("iobox_host_path_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
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
