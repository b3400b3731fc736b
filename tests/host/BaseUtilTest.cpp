#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <set>
#include <string>

#include "Marl/Base/GuidUtil.h"
#include "Marl/Base/StringUtil.h"
#include "Marl/Base/TimeUtil.h"

namespace {

namespace StringUtil = Marl::Base::StringUtil;
namespace TimeUtil = Marl::Base::TimeUtil;

TEST(StringUtil, LengthCountsUtf8CharactersOnlyForTheUtf8Type)
{
    const struct {
        std::string text;
        int utf8;
        int bytes;
    } cases[] = {
        {"", 0, 0},
        {"abc", 3, 3},
        {"T\xC3\xBCr", 3, 4},                    // Tür
        {"\xE9\x97\xA8", 1, 3},                  // 门
        {"a\xF0\x9F\x9A\xAA" "b", 3, 6},         // a, door emoji, b
        {std::string("a\0b", 3), 3, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StringUtil::str_len(c.text, Marl::Base::STR_TYPE_UTF8), c.utf8) << c.text;
        EXPECT_EQ(StringUtil::str_len(c.text, Marl::Base::STR_TYPE_BYTES), c.bytes) << c.text;
        EXPECT_EQ(StringUtil::str_len(c.text, 936), c.bytes) << c.text;
    }
}

TEST(StringUtil, IllegalCharacters)
{
    const struct {
        std::string text;
        bool illegal;
    } cases[] = {
        {"", false},
        {"Alarm box 1", false},
        {"T\xC3\xBCr-\xE9\x97\xA8_(1).,;'", false},
        {"door \xF0\x9F\x9A\xAA", false},
        {"\xF4\x8F\xBF\xBF", false}, // U+10FFFF, the last code point
        {"a\\b", true},
        {"a/b", true},
        {"a:b", true},
        {"a*b", true},
        {"a?b", true},
        {"a\"b", true},
        {"a<b", true},
        {"a>b", true},
        {"a|b", true},
        {"tab\there", true},
        {std::string("nul\0", 4), true},
        {"del\x7F", true},
        {"\xC3", true},             // truncated sequence
        {"\xC3(", true},            // bad continuation byte
        {"\x80", true},             // stray continuation byte
        {"\xC0\xAF", true},         // overlong "/"
        {"\xE0\x80\xAF", true},     // overlong, three bytes
        {"\xED\xA0\x80", true},     // UTF-16 surrogate
        {"\xF4\x90\x80\x80", true}, // beyond U+10FFFF
        {"\xFF", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StringUtil::ContainsIllegalCharacters(c.text), c.illegal) << c.text;
    }
}

TEST(StringUtil, FormatsAnyLength)
{
    EXPECT_EQ(StringUtil::str_fmt("%s-%d-%05.1f", "box", 7, 2.25), "box-7-002.2");
    EXPECT_EQ(StringUtil::str_fmt("%s", ""), "");
    const std::string longText(5000, 'x');
    EXPECT_EQ(StringUtil::str_fmt("[%s]", longText.c_str()), "[" + longText + "]");
}

TEST(TimeUtil, UtcText)
{
    EXPECT_EQ(TimeUtil::TimeT2StrUTCDatetime(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(TimeUtil::TimeT2StrUTCDatetime(1700000000), "2023-11-14T22:13:20Z");
    EXPECT_EQ(TimeUtil::TimeT2StrUTCDatetime(951782400), "2000-02-29T00:00:00Z");
}

TEST(TimeUtil, LocalTextAndBiasFollowTheTimeZone)
{
    // Each test case runs in its own process, so changing the zone here affects nothing else.
    const struct {
        const char* zone;
        time_t when;
        const char* text;
        int bias;
    } cases[] = {
        {"UTC0", 1700000000, "2023-11-14 22:13:20", 0},
        {"CST-8", 1700000000, "2023-11-15 06:13:20", 480},
        {"NST3:30", 1700000000, "2023-11-14 18:43:20", -210},
        {"EST5EDT,M3.2.0,M11.1.0", 1688212800, "2023-07-01 08:00:00", -240}, // summer time
        {"EST5EDT,M3.2.0,M11.1.0", 1700000000, "2023-11-14 17:13:20", -300},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(setenv("TZ", c.zone, 1), 0);
        tzset();
        std::string text;
        int bias = 12345;
        ASSERT_TRUE(TimeUtil::TimeT2LocalTime(text, bias, c.when)) << c.zone;
        EXPECT_EQ(text, c.text) << c.zone;
        EXPECT_EQ(bias, c.bias) << c.zone;
    }
}

// "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX": upper-case hexadecimal, version 4, variant 8..B.
bool IsVersionFourGuid(const std::string& guid)
{
    if (guid.size() != 36 || guid[14] != '4' || std::string("89AB").find(guid[19]) == std::string::npos) {
        return false;
    }
    for (std::size_t i = 0; i < guid.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = guid[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

TEST(GuidUtil, VersionFourFormatAndUnique)
{
    for (const char* bad : {"", "0123456789ABCDEF", "01234567-89AB-3DEF-8123-456789ABCDEF",
                            "01234567-89AB-4DEF-7123-456789ABCDEF", "01234567-89ab-4def-8123-456789abcdef"}) {
        EXPECT_FALSE(IsVersionFourGuid(bad)) << bad;
    }
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string guid = Marl::Base::GuidUtil::CreateGuid();
        ASSERT_TRUE(IsVersionFourGuid(guid)) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 2000u);
}

} // namespace
