// Where iobox-host looks for the plug-in when it is not told.

#include "HostOptions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(HostOptionsTest, PluginPathIsTheFirstCandidateFoundBesideTheExecutable)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() /
        ("iobox_host_path_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    const fs::path exeDir = root / "bin";
    fs::create_directories(exeDir);
    fs::create_directories(root / "lib" / "iobox.d");
    const std::vector<std::string> candidates = {"../../iobox.d.so", "../lib/iobox.d/iobox.d.so", "iobox.d.so"};
    const auto choose = [&] { return fs::path(iobox::host::ChoosePluginPath(candidates, exeDir.string())); };

    EXPECT_EQ(choose(), (root / ".." / "iobox.d.so").lexically_normal()) << "nothing found: the first, as is";
    std::ofstream((exeDir / "iobox.d.so").string()) << "x";
    EXPECT_EQ(choose(), exeDir / "iobox.d.so") << "beside the executable";
    std::ofstream((root / "lib" / "iobox.d" / "iobox.d.so").string()) << "x";
    EXPECT_EQ(choose(), root / "lib" / "iobox.d" / "iobox.d.so") << "the installed tree before beside";
    fs::remove_all(root);
}

} // namespace
