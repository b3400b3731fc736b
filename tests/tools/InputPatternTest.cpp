#include "InputPattern.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

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

// A file removed at scope end.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& content)
    {
        char name[] = "/tmp/iobox_sim_patternXXXXXX";
        const int fd = ::mkstemp(name);
        ::close(fd);
        path = name;
        std::ofstream(path) << content;
    }
    ~TempFile() { std::remove(path.c_str()); }
};

} // namespace

TEST(InputPatternTest, ParseBitsAcceptsBinaryAndHex)
{
    const struct {
        const char* text;
        const char* bits;
    } cases[] = {
        {"101", "101"},
        {"1_0_0_1", "1001"},
        {"0", "0"},
        {"0x5", "101"},
        {"0x0", ""},
        {"0X80", "00000001"},
        {"0x101", "100000001"},
    };
    for (const auto& c : cases) {
        std::vector<bool> bits;
        std::string error;
        ASSERT_TRUE(InputPattern::ParseBits(c.text, bits, error)) << c.text << ": " << error;
        EXPECT_EQ(bits, B(c.bits)) << c.text;
    }
}

TEST(InputPatternTest, ParseBitsRejectsMalformedText)
{
    for (const char* text : {"", "102", "1 0", "0x", "0xG1", "0x11112222333344445", "__"}) {
        std::vector<bool> bits{true};
        std::string error;
        EXPECT_FALSE(InputPattern::ParseBits(text, bits, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(bits, B("1")) << "output untouched on failure: " << text;
    }
    std::string error;
    std::vector<bool> bits;
    EXPECT_TRUE(InputPattern::ParseBits(std::string(2000, '1'), bits, error));
    EXPECT_FALSE(InputPattern::ParseBits(std::string(2001, '1'), bits, error));
}

TEST(InputPatternTest, ParseInputListExpandsRangesAndRejectsBadItems)
{
    std::vector<int> inputs;
    std::string error;
    ASSERT_TRUE(InputPattern::ParseInputList("1,3,5-7", inputs, error)) << error;
    EXPECT_EQ(inputs, (std::vector<int>{1, 3, 5, 6, 7}));
    ASSERT_TRUE(InputPattern::ParseInputList("2000", inputs, error));
    EXPECT_EQ(inputs, (std::vector<int>{2000}));
    for (const char* text : {"", "0", "2001", "3-1", "1,", ",1", "a", "1-", "-2", "1--3", "+1"}) {
        EXPECT_FALSE(InputPattern::ParseInputList(text, inputs, error)) << text;
    }
}

TEST(InputPatternTest, StepsCycleThroughTheirHoldTimes)
{
    InputPattern p;
    std::string error;
    ASSERT_TRUE(InputPattern::ParseSteps("# two steps\n\n100 10\n  50 0x2  \n", p, error)) << error;
    ASSERT_EQ(p.Steps().size(), 2u);
    EXPECT_EQ(p.CycleLength(), milliseconds(150));
    const struct {
        int ms;
        const char* bits;
    } at[] = {{0, "10"}, {99, "10"}, {100, "01"}, {149, "01"}, {150, "10"}, {260, "01"}, {310, "10"}, {-5, "10"}};
    for (const auto& a : at) {
        EXPECT_EQ(p.BitsAt(milliseconds(a.ms)), B(a.bits)) << a.ms << " ms";
    }
}

TEST(InputPatternTest, ParseStepsNamesTheFailingLine)
{
    const struct {
        const char* text;
        const char* needle;
    } cases[] = {
        {"100 1\nabc 1\n", "line 2"},
        {"0 1\n", "line 1: bad milliseconds"},
        {"100\n", "line 1: expected"},
        {"100 1 1\n", "line 1: expected"},
        {"# comment\n\n100 1\n100 12\n", "line 4"},
        {"# nothing\n\n", "no steps"},
        {"", "no steps"},
    };
    for (const auto& c : cases) {
        InputPattern p;
        std::string error;
        EXPECT_FALSE(InputPattern::ParseSteps(c.text, p, error)) << c.text;
        EXPECT_NE(error.find(c.needle), std::string::npos) << "'" << error << "' lacks '" << c.needle << "'";
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
}

TEST(InputPatternTest, ParseBuildsEachKind)
{
    TempFile file("20 1\n30 01\n");
    InputPattern p;
    std::string error;

    ASSERT_TRUE(InputPattern::Parse("fixed:0x3", p, error)) << error;
    EXPECT_EQ(p.BitsAt(milliseconds(0)), B("11"));
    EXPECT_EQ(p.BitsAt(milliseconds(123456)), B("11"));

    ASSERT_TRUE(InputPattern::Parse("toggle:2,4:40", p, error)) << error;
    EXPECT_EQ(p.BitsAt(milliseconds(0)), B("0101"));
    EXPECT_EQ(p.BitsAt(milliseconds(39)), B("0101"));
    EXPECT_EQ(p.BitsAt(milliseconds(40)), B("0000"));
    EXPECT_EQ(p.BitsAt(milliseconds(80)), B("0101"));

    ASSERT_TRUE(InputPattern::Parse("file:" + file.path, p, error)) << error;
    EXPECT_EQ(p.CycleLength(), milliseconds(50));
    EXPECT_EQ(p.BitsAt(milliseconds(25)), B("01"));
}

TEST(InputPatternTest, ParseRejectsBadSpecs)
{
    TempFile bad("100 1\n100 x\n");
    const struct {
        std::string spec;
        std::string needle;
    } cases[] = {
        {"nope", "bad pattern"},
        {"fixed:", "empty bits"},
        {"fixed:12", "bad bits"},
        {"toggle:1", "bad toggle pattern"},
        {"toggle:1:0", "bad toggle period"},
        {"toggle:0:10", "bad input list"},
        {"file:/nonexistent/iobox_sim_pattern", "cannot read"},
        {"file:", "cannot read"},
        {"file:" + bad.path, "line 2"},
        {"blink:1", "unknown pattern kind"},
    };
    for (const auto& c : cases) {
        InputPattern p = InputPattern::Fixed(B("1"));
        std::string error;
        EXPECT_FALSE(InputPattern::Parse(c.spec, p, error)) << c.spec;
        EXPECT_NE(error.find(c.needle), std::string::npos) << c.spec << ": '" << error << "'";
        EXPECT_EQ(p.BitsAt(milliseconds(0)), B("1")) << "pattern untouched on failure: " << c.spec;
    }
}

TEST(InputPatternTest, EmptyPatternHasNoBits)
{
    InputPattern p;
    EXPECT_TRUE(p.Empty());
    EXPECT_TRUE(p.BitsAt(milliseconds(10)).empty());
    EXPECT_EQ(InputPattern::FromSteps({{milliseconds(0), B("1")}}).CycleLength(), milliseconds(1));
}
