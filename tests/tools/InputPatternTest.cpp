#include "InputPattern.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using iobox::sim::InputPattern;
using std::chrono::milliseconds;

namespace {

std::vector<bool> B(const std::string& s)
{
    std::vector<bool> v;
    for (char c : s) {
        v.push_back(c == '1');
    }
    return v;
}

// A file of its own in the temporary directory (mkstemp is POSIX only), removed at scope end.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& content)
    {
        const std::string name = "iobox_sim_pattern_" + std::to_string(std::random_device{}());
        path = (std::filesystem::temp_directory_path() / name).string();
        std::ofstream(path) << content;
    }
    ~TempFile() { std::remove(path.c_str()); }
};

} // namespace

TEST(InputPatternTest, BitsAndInputLists)
{
    const struct {
        const char* text;
        const char* bits; // nullptr: refused
    } bits[] = {
        {"1_0_0_1", "1001"}, {"0x5", "101"}, {"0X80", "00000001"}, {"0x0", ""}, {"", nullptr},
        {"102", nullptr},    {"0x", nullptr}, {"0x11112222333344445", nullptr},
    };
    for (const auto& c : bits) {
        std::vector<bool> out{true};
        std::string error;
        EXPECT_EQ(InputPattern::ParseBits(c.text, out, error), c.bits != nullptr) << c.text;
        EXPECT_EQ(out, B(c.bits != nullptr ? c.bits : "1")) << c.text << ": output untouched on failure";
        EXPECT_EQ(error.empty(), c.bits != nullptr) << c.text;
    }
    std::vector<bool> out;
    std::string error;
    EXPECT_TRUE(InputPattern::ParseBits(std::string(2000, '1'), out, error));
    EXPECT_FALSE(InputPattern::ParseBits(std::string(2001, '1'), out, error));

    std::vector<int> inputs;
    ASSERT_TRUE(InputPattern::ParseInputList("1,3,5-7,2000", inputs, error)) << error;
    EXPECT_EQ(inputs, (std::vector<int>{1, 3, 5, 6, 7, 2000}));
    for (const char* text : {"", "0", "2001", "3-1", "1,", "1--3"}) {
        EXPECT_FALSE(InputPattern::ParseInputList(text, inputs, error)) << text;
    }
}

TEST(InputPatternTest, EachKindCyclesThroughItsSteps)
{
    TempFile file("# two steps\n\n100 10\n  50 0x2  \n");
    InputPattern p;
    std::string error;
    ASSERT_TRUE(InputPattern::Parse("file:" + file.path, p, error)) << error;
    EXPECT_EQ(p.CycleLength(), milliseconds(150));
    const struct {
        int ms;
        const char* bits;
    } at[] = {{0, "10"}, {99, "10"}, {100, "01"}, {149, "01"}, {150, "10"}, {260, "01"}};
    for (const auto& a : at) {
        EXPECT_EQ(p.BitsAt(milliseconds(a.ms)), B(a.bits)) << a.ms << " ms";
    }

    ASSERT_TRUE(InputPattern::Parse("toggle:2,4:40", p, error)) << error;
    EXPECT_EQ(p.BitsAt(milliseconds(39)), B("0101"));
    EXPECT_EQ(p.BitsAt(milliseconds(40)), B("0000"));
    ASSERT_TRUE(InputPattern::Parse("fixed:0x3", p, error)) << error;
    EXPECT_EQ(p.BitsAt(milliseconds(123456)), B("11"));
}

TEST(InputPatternTest, BadSpecsNameTheirReasonOnOneLine)
{
    TempFile bad("100 1\n100 x\n");
    const struct {
        std::string pattern;
        std::string needle;
    } cases[] = {
        {"nope", "bad pattern"},
        {"fixed:12", "bad bits"},
        {"toggle:1:0", "bad toggle period"},
        {"toggle:0:10", "bad input list"},
        {"file:/nonexistent/iobox_sim_pattern", "cannot read"},
        {"file:" + bad.path, "line 2"},
        {"blink:1", "unknown pattern kind"},
    };
    for (const auto& c : cases) {
        InputPattern p = InputPattern::Fixed(B("1"));
        std::string error;
        EXPECT_FALSE(InputPattern::Parse(c.pattern, p, error)) << c.pattern;
        EXPECT_NE(error.find(c.needle), std::string::npos) << c.pattern << ": '" << error << "'";
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(p.BitsAt(milliseconds(0)), B("1")) << "pattern untouched on failure: " << c.pattern;
    }
    for (const char* text : {"0 1\n", "100 1 1\n", "# nothing\n\n"}) {
        InputPattern p;
        std::string error;
        EXPECT_FALSE(InputPattern::ParseSteps(text, p, error)) << text;
    }
}
