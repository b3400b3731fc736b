#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "proto/RapidJsonProto.h"

namespace {

using proto::CRapidJsonProto;

// Independent check that a text is one valid JSON document, returned in canonical form.
std::string Canonical(const std::string& text)
{
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    if (doc.HasParseError()) {
        return "<invalid JSON>";
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    return buffer.GetString();
}

TEST(Proto, GettersGiveTheDefaultForAbsentPathsAndOtherTypes)
{
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(R"({"s":"text","i":42,"big":4294967295,"over":2147483648,"i64":8589934592,)"
                            R"("d":1.5,"t":true,"n":null,"o":{"inner":{"x":5}},"a":[1,2,3],"numstr":"12"})"));
    const struct {
        const char* path;
        int expected;
    } ints[] = {
        {"/i", 42},         {"/big", -1},       {"/over", INT_MIN}, {"/i64", 99},     {"/d", 99},
        {"/t", 99},         {"/n", 99},         {"/numstr", 99},    {"/o", 99},       {"/missing", 99},
        {"/a/1", 2},        {"/a/3", 99},       {"/i/x", 99},       {"/o/inner/x", 5}, {"o//inner/x/", 5},
    };
    for (const auto& c : ints) {
        EXPECT_EQ(doc.get_int_v(c.path, 99), c.expected) << c.path;
    }
    EXPECT_EQ(doc.get_v("/s", "def"), "text");
    for (const char* path : {"/i", "/n", "/o", "/missing/k"}) {
        EXPECT_EQ(doc.get_v(path, "def"), "def") << path;
    }
    EXPECT_EQ(doc.get_cnt("/o"), 1);
    EXPECT_EQ(doc.get_cnt("/a"), 3);
    EXPECT_EQ(doc.get_cnt("/s"), 0);
}

TEST(Proto, SettersCreateNestedObjectsAndReplaceInPlaceAsOneCompactLine)
{
    CRapidJsonProto doc;
    EXPECT_EQ(doc.get_str(0), "{}");
    const std::string name = "T\xC3\xBCr \xE9\x97\xA8 \"q\" \\ line\nbreak";
    EXPECT_TRUE(doc.set_v("/a", 1));
    EXPECT_TRUE(doc.set_v("/Event/BasicInfo/EventType", 5030));
    EXPECT_TRUE(doc.set_v("/Event//BasicInfo/TimeInfo/TimeZone/TimeZoneBias", -60));
    EXPECT_TRUE(doc.set_v("/c", 3));
    EXPECT_TRUE(doc.set_v("/a", name)); // another type, same place
    EXPECT_NE(doc.add_v(nullptr, "c", std::string("three")), nullptr); // add_v on an existing key replaces too
    EXPECT_FALSE(doc.set_v("/", 1));

    const std::string text = doc.get_str(0);
    EXPECT_EQ(text, "{\"a\":\"T\xC3\xBCr \xE9\x97\xA8 \\\"q\\\" \\\\ line\\nbreak\","
                    R"("Event":{"BasicInfo":{"EventType":5030,"TimeInfo":{"TimeZone":{"TimeZoneBias":-60}}}},)"
                    R"("c":"three"})");
    EXPECT_EQ(Canonical(text), text);
    CRapidJsonProto again;
    ASSERT_TRUE(again.set_str(text));
    EXPECT_EQ(again.get_v("/a", ""), name);
}

TEST(Proto, WritingBelowAScalarMakesItAnObjectButArraysTakeNoMembers)
{
    CRapidJsonProto doc;
    void* base = doc.add_v(nullptr, "BaseInfo", "");
    ASSERT_NE(base, nullptr);
    void* id = doc.add_v(base, "ID", 7);
    ASSERT_NE(id, nullptr);
    EXPECT_NE(doc.add_v(id, "nested", std::string("x")), nullptr);
    void* empty = doc.add_object(nullptr, "Empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(doc.add_object(doc.add_object(nullptr, "Outer"), "Inner"), nullptr);
    EXPECT_EQ(doc.get_str(0), R"({"BaseInfo":{"ID":{"nested":"x"}},"Empty":{},"Outer":{"Inner":{}}})");

    ASSERT_TRUE(doc.set_a("/arr", std::vector<int>{1}));
    void* arr = doc.get_node("/arr");
    ASSERT_NE(arr, nullptr);
    EXPECT_EQ(doc.add_v(arr, "k", 1), nullptr);
    EXPECT_FALSE(doc.set_v("/arr/name", 1));
    EXPECT_FALSE(doc.set_v("/arr/5", 1));
    EXPECT_EQ(doc.get_node_str(arr), "[1]");
}

TEST(Proto, ListElementsAndOtherHandlesStayValidWhileTheirContainersGrow)
{
    CRapidJsonProto doc;
    void* list = doc.add_v(nullptr, "AlarmInputList", "");
    void* first = doc.add_list_v(list, "AlarmInput", "");
    void* early = doc.add_v(list, "early", "");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(early, nullptr);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_NE(doc.add_list_v(list, "AlarmInput", i), nullptr);
        ASSERT_NE(doc.add_v(list, "k" + std::to_string(i), i), nullptr);
        ASSERT_NE(doc.add_v(nullptr, "top" + std::to_string(i), i), nullptr);
    }
    EXPECT_NE(doc.add_v(first, "ID", 1), nullptr);
    EXPECT_NE(doc.add_v(early, "x", 2), nullptr);
    EXPECT_EQ(doc.get_int_v("/AlarmInputList/AlarmInput/0/ID", 0), 1);
    EXPECT_EQ(doc.get_int_v("/AlarmInputList/AlarmInput/3000", 0), 2999);
    EXPECT_EQ(doc.get_int_v("/AlarmInputList/early/x", 0), 2);
    EXPECT_EQ(doc.get_cnt("/AlarmInputList/AlarmInput"), 3001);
    EXPECT_EQ(Canonical(doc.get_str(0)), doc.get_str(0));
}

TEST(Proto, ArraysReadAndWrite)
{
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(R"({"first":"x","mixed":[1,"two",true,4294967295],"o":{}})"));
    ASSERT_TRUE(doc.set_a("/deep/texts", std::vector<std::string>{"a", ""}));
    ASSERT_TRUE(doc.set_a("/first", std::vector<int>{3, -1})); // replaces in place
    EXPECT_EQ(doc.get_str(0), R"({"first":[3,-1],"mixed":[1,"two",true,4294967295],"o":{},"deep":{"texts":["a",""]}})");

    std::vector<int> ints;
    std::vector<std::string> texts;
    EXPECT_TRUE(doc.get_a("/deep/texts", texts));
    EXPECT_EQ(texts, (std::vector<std::string>{"a", ""}));
    // Elements of another type read as the default so that positions line up.
    EXPECT_TRUE(doc.get_int_a("/mixed", ints));
    EXPECT_EQ(ints, (std::vector<int>{1, 0, 0, -1}));
    for (const char* path : {"/missing", "/o"}) {
        std::vector<int> untouched{5};
        EXPECT_FALSE(doc.get_int_a(path, untouched)) << path;
        EXPECT_EQ(untouched, std::vector<int>{5});
    }
}

TEST(Proto, FailedParseKeepsTheDocumentAndNestingIsBounded)
{
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(R"({"keep":1})"));
    for (const char* bad : {"", "{", R"({"a":1} x)", R"({'a':1})"}) {
        EXPECT_FALSE(doc.set_str(bad)) << bad;
    }
    // A hostile text cannot exhaust the stack; brackets inside strings do not count.
    EXPECT_FALSE(doc.set_str(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_EQ(doc.get_str(0), R"({"keep":1})");
    const std::string fine = std::string(200, '[') + "\"" + std::string(400, '[') + "\"" + std::string(200, ']');
    ASSERT_TRUE(doc.set_str(fine));
    EXPECT_EQ(doc.get_str(0), fine);
}

// Every accepted text can be written back as JSON: numbers beyond a double are refused,
// also those whose digits carry them past the largest double under an allowed exponent.
TEST(Proto, NumbersBeyondADoubleAreRefusedWhereverTheyStand)
{
    for (const char* number : {"1e400", "-1e309", "77770000000000000000001e300"}) {
        for (const char* layout : {"%s", "[1,%s]", R"({"a":{"b":[%s]}})"}) {
            char text[128];
            std::snprintf(text, sizeof text, layout, number);
            CRapidJsonProto doc;
            ASSERT_TRUE(doc.set_str(R"({"keep":1})"));
            EXPECT_FALSE(doc.set_str(text)) << text;
            EXPECT_EQ(doc.get_str(0), R"({"keep":1})") << text;
        }
    }
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(R"({"max":1.7976931348623157e308,"big":77770000000000000000001e280})"));
    CRapidJsonProto again;
    EXPECT_TRUE(again.set_str(doc.get_str(0))) << doc.get_str(0);
}

} // namespace
