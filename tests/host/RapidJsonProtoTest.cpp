#include <gtest/gtest.h>

#include <climits>
#include <cmath>
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

const char* const kSample = R"({"s":"text","i":42,"neg":-7,"big":4294967295,"over":2147483648,)"
                            R"("i64":8589934592,"negbig":-2147483649,"d":1.5,"whole":3.0,"t":true,"n":null,)"
                            R"("o":{"k":"v","inner":{"x":5}},"a":[1,2,3],"sa":["x","y"],"numstr":"12"})";

class ProtoSample : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(doc.set_str(kSample)); }
    CRapidJsonProto doc;
};

TEST_F(ProtoSample, IntegerGetterAcceptsOnly32BitIntegers)
{
    const struct {
        const char* path;
        int expected;
    } cases[] = {
        {"/i", 42},        {"/neg", -7},       {"/big", -1},      {"/over", INT_MIN}, {"/i64", 99},
        {"/negbig", 99},   {"/d", 99},         {"/whole", 99},    {"/t", 99},         {"/n", 99},
        {"/s", 99},        {"/numstr", 99},    {"/o", 99},        {"/a", 99},         {"/missing", 99},
        {"/a/1", 2},       {"/a/3", 99},       {"/a/x", 99},      {"/i/x", 99},       {"/o/inner/x", 5},
        {"o/inner/x", 5},  {"//o//inner/x/", 5}, {"/o/inner/x/y", 99},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(doc.get_int_v(c.path, 99), c.expected) << c.path;
    }
}

TEST_F(ProtoSample, TextFloatAndBoolGettersRejectOtherTypes)
{
    const struct {
        const char* path;
        const char* expected;
    } texts[] = {
        {"/s", "text"}, {"/o/k", "v"}, {"/sa/1", "y"}, {"/numstr", "12"}, {"/i", "def"},
        {"/t", "def"},  {"/n", "def"}, {"/o", "def"},  {"/sa/2", "def"},  {"/nothing/k", "def"},
    };
    for (const auto& c : texts) {
        EXPECT_EQ(doc.get_v(c.path, "def"), c.expected) << c.path;
    }

    const struct {
        const char* path;
        double expected;
    } numbers[] = {
        {"/d", 1.5}, {"/i", 42.0}, {"/whole", 3.0}, {"/big", 4294967295.0}, {"/i64", 8589934592.0},
        {"/s", -0.25}, {"/numstr", -0.25}, {"/t", -0.25}, {"/missing", -0.25},
    };
    for (const auto& c : numbers) {
        EXPECT_DOUBLE_EQ(doc.get_float_v(c.path, -0.25), c.expected) << c.path;
    }

    EXPECT_TRUE(doc.get_bool_v("/t", false));
    for (const char* path : {"/i", "/s", "/n", "/missing"}) {
        EXPECT_TRUE(doc.get_bool_v(path, true)) << path;
        EXPECT_FALSE(doc.get_bool_v(path, false)) << path;
    }
}

TEST_F(ProtoSample, CountsMembersAndElementsOnly)
{
    EXPECT_EQ(doc.get_cnt("/o"), 2);
    EXPECT_EQ(doc.get_cnt("/a"), 3);
    EXPECT_EQ(doc.get_cnt("/s"), 0);
    EXPECT_EQ(doc.get_cnt("/i"), 0);
    EXPECT_EQ(doc.get_cnt("/missing"), 0);
    EXPECT_EQ(doc.get_cnt("/"), 15);
}

TEST(Proto, SettersBuildNestedObjectsAsCompactText)
{
    CRapidJsonProto doc;
    EXPECT_EQ(doc.get_str(0), "{}");
    const std::string base = "/Event/BasicInfo/";
    EXPECT_TRUE(doc.set_v(base + "EventType", 5030));
    EXPECT_TRUE(doc.set_v(base + "SourceName", std::string("In 1")));
    EXPECT_TRUE(doc.set_v(base + "TimeInfo/" + "TimeZone/TimeZoneBias", -60));
    EXPECT_TRUE(doc.set_v(base + "/TimeInfo//TimeZone/DaylightDate", std::string("")));
    EXPECT_TRUE(doc.set_bool_v("/Flag", true));
    EXPECT_TRUE(doc.set_float_v("/Ratio", 0.5));

    const std::string text = doc.get_str(0);
    EXPECT_EQ(text, R"({"Event":{"BasicInfo":{"EventType":5030,"SourceName":"In 1","TimeInfo":{"TimeZone":)"
                    R"({"TimeZoneBias":-60,"DaylightDate":""}}}},"Flag":true,"Ratio":0.5})");
    EXPECT_EQ(Canonical(text), text);
    EXPECT_EQ(doc.get_int_v("/Event/BasicInfo/TimeInfo/TimeZone/TimeZoneBias", 0), -60);
    EXPECT_TRUE(doc.get_bool_v("/Flag", false));
    EXPECT_DOUBLE_EQ(doc.get_float_v("/Ratio", 0), 0.5);
}

TEST(Proto, PathSetterRefusesTheRootArraysOutOfRangeAndNonFiniteNumbers)
{
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_a("/list", std::vector<int>{1, 2}));
    EXPECT_FALSE(doc.set_v("/", 1));
    EXPECT_FALSE(doc.set_v("", std::string("x")));
    EXPECT_FALSE(doc.set_v("/list/5", 1));
    EXPECT_FALSE(doc.set_v("/list/name", 1));
    EXPECT_FALSE(doc.set_float_v("/f", std::nan("")));
    EXPECT_FALSE(doc.set_float_v("/f", INFINITY));
    EXPECT_EQ(doc.get_str(0), R"({"list":[1,2]})");

    EXPECT_TRUE(doc.set_v("/list/1", 7)); // an existing element is replaced
    EXPECT_EQ(doc.get_str(0), R"({"list":[1,7]})");
}

TEST(Proto, ReplacingAValueKeepsItsPlaceAmongTheMembers)
{
    CRapidJsonProto doc;
    doc.set_v("/a", 1);
    doc.set_v("/b/inner", 2);
    doc.set_v("/c", 3);
    doc.set_v("/b", std::string("two"));
    doc.set_v("/a", 10);
    EXPECT_EQ(doc.get_str(0), R"({"a":10,"b":"two","c":3})");

    void* node = doc.add_v(nullptr, "c", std::string("three")); // add_v on an existing key replaces too
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(doc.get_str(0), R"({"a":10,"b":"two","c":"three"})");
}

TEST(Proto, WritingBelowAScalarTurnsItIntoAnObject)
{
    CRapidJsonProto doc;
    void* base = doc.add_v(nullptr, "BaseInfo", "");
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(doc.get_str(0), R"({"BaseInfo":""})");
    void* id = doc.add_v(base, "ID", 7);
    ASSERT_NE(id, nullptr);
    void* box = doc.add_v(base, "IOBox", "");
    EXPECT_TRUE(doc.set_v(box, "AlarmInputCount", 8));
    EXPECT_TRUE(doc.set_p(id, "nested", std::string("x"))); // the integer node becomes an object
    doc.set_v("/scalar", 1);
    doc.set_v("/scalar/below", 2);
    EXPECT_EQ(doc.get_str(0),
              R"({"BaseInfo":{"ID":{"nested":"x"},"IOBox":{"AlarmInputCount":8}},"scalar":{"below":2}})");

    // An array is not a scalar: members cannot be written into it.
    ASSERT_TRUE(doc.set_a("/arr", std::vector<int>{1}));
    void* arr = doc.get_node("/arr");
    ASSERT_NE(arr, nullptr);
    EXPECT_EQ(doc.add_v(arr, "k", 1), nullptr);
    EXPECT_FALSE(doc.set_v(arr, "k", 1));
    EXPECT_EQ(doc.get_node_str(arr), "[1]");
}

TEST(Proto, ListElementsAreNodesThatCanBeFilledLater)
{
    CRapidJsonProto doc;
    void* list = doc.add_v(nullptr, "AlarmInputList", "");
    void* first = doc.add_list_v(list, "AlarmInput", "");
    void* second = doc.add_list_v(list, "AlarmInput", "");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    doc.add_v(second, "ID", 2);
    doc.add_v(first, "ID", 1);
    void* area = doc.add_v(first, "Area", "");
    doc.add_v(area, "AreaID", -1);
    doc.add_list_v("/Numbers/Set", "n", 3);
    doc.add_list_v("/Numbers/Set", "n", std::string("four"));

    EXPECT_EQ(doc.get_str(0), R"({"AlarmInputList":{"AlarmInput":[{"ID":1,"Area":{"AreaID":-1}},{"ID":2}]},)"
                              R"("Numbers":{"Set":{"n":[3,"four"]}}})");
    EXPECT_EQ(doc.get_cnt("/AlarmInputList/AlarmInput"), 2);
    EXPECT_EQ(doc.get_int_v("/AlarmInputList/AlarmInput/1/ID", 0), 2);
    EXPECT_EQ(doc.get_node_str(second), R"({"ID":2})");
}

TEST(Proto, EmptyObjectsSerialiseAsBraces)
{
    CRapidJsonProto doc;
    void* object = doc.add_object(nullptr, "Empty");
    ASSERT_NE(object, nullptr);
    void* inner = doc.add_object(doc.add_object(nullptr, "Outer"), "Inner");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(doc.get_str(0), R"({"Empty":{},"Outer":{"Inner":{}}})");
    EXPECT_EQ(doc.get_node_str(object), "{}");
    EXPECT_EQ(doc.get_cnt("/Empty"), 0);
    EXPECT_NE(doc.get_node("/Empty"), nullptr);
}

TEST(Proto, NodeHandlesSurviveGrowthOfTheirContainers)
{
    CRapidJsonProto doc;
    void* parent = doc.add_v(nullptr, "Parent", "");
    void* early = doc.add_v(parent, "early", "");
    void* element = doc.add_list_v(parent, "list", "");
    for (int i = 0; i < 3000; ++i) {
        ASSERT_NE(doc.add_v(parent, "k" + std::to_string(i), i), nullptr);
        ASSERT_NE(doc.add_list_v(parent, "list", i), nullptr);
        ASSERT_NE(doc.add_v(nullptr, "top" + std::to_string(i), i), nullptr);
    }
    EXPECT_NE(doc.add_v(early, "x", 1), nullptr);
    EXPECT_NE(doc.add_v(element, "y", 2), nullptr);
    EXPECT_EQ(doc.get_int_v("/Parent/early/x", 0), 1);
    EXPECT_EQ(doc.get_int_v("/Parent/list/0/y", 0), 2);
    EXPECT_EQ(doc.get_int_v("/Parent/list/3000", 0), 2999);
    EXPECT_EQ(doc.get_cnt("/Parent"), 3002);
    EXPECT_EQ(doc.get_int_p(parent, "k2999", 0), 2999);
    EXPECT_EQ(Canonical(doc.get_str(0)), doc.get_str(0));
}

TEST(Proto, NodeMemberAccessors)
{
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(R"({"dev":{"name":"Box","port":502,"big":4294967294}})"));
    void* dev = doc.get_node("/dev");
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(doc.get_node("/dev/none"), nullptr);
    EXPECT_EQ(doc.get_p(dev, "name", "def"), "Box");
    EXPECT_EQ(doc.get_p(dev, "port", "def"), "def");
    EXPECT_EQ(doc.get_int_p(dev, "port", 0), 502);
    EXPECT_EQ(doc.get_int_p(dev, "big", 0), -2);
    EXPECT_EQ(doc.get_int_p(dev, "name", -9), -9);
    EXPECT_EQ(doc.get_int_p(dev, "absent", -9), -9);
    EXPECT_TRUE(doc.set_p(dev, "port", 503));
    EXPECT_TRUE(doc.set_p(dev, "name", std::string("Box 2")));
    EXPECT_EQ(doc.get_str(0), R"({"dev":{"name":"Box 2","port":503,"big":4294967294}})");

    void* root = doc.get_node("/");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(doc.get_node_str(root), doc.get_str(0));
    EXPECT_EQ(doc.get_node_str(nullptr), doc.get_str(0));
    EXPECT_EQ(doc.get_int_p(nullptr, "dev", -1), -1);
    void* f = doc.add_float_v(dev, "ratio", 2.25);
    EXPECT_EQ(doc.get_node_str(f), "2.25");
    EXPECT_EQ(doc.add_float_v(dev, "bad", NAN), nullptr);

    // A handle whose value was replaced by another type reads as absent.
    doc.set_v("/dev", 1);
    EXPECT_EQ(doc.get_p(dev, "name", "gone"), "gone");
    EXPECT_EQ(doc.get_node_str(f), "");
}

TEST(Proto, ArraysReadAndWrite)
{
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(R"({"first":"x","mixed":[1,"two",true,4294967295,1.5],"o":{}})"));
    ASSERT_TRUE(doc.set_a("/nums", std::vector<int>{3, -1, 7}));
    ASSERT_TRUE(doc.set_a("/deep/texts", std::vector<std::string>{"a", "", "ü"}));
    ASSERT_TRUE(doc.set_a("/first", std::vector<int>{})); // replaces in place

    std::vector<int> ints{42};
    std::vector<std::string> texts{"keep"};
    EXPECT_TRUE(doc.get_int_a("/nums", ints));
    EXPECT_EQ(ints, (std::vector<int>{3, -1, 7}));
    EXPECT_TRUE(doc.get_a("/deep/texts", texts));
    EXPECT_EQ(texts, (std::vector<std::string>{"a", "", "ü"}));
    // Elements of another type read as the default so that positions line up.
    EXPECT_TRUE(doc.get_int_a("/mixed", ints));
    EXPECT_EQ(ints, (std::vector<int>{1, 0, 0, -1, 0}));
    EXPECT_TRUE(doc.get_a("/mixed", texts));
    EXPECT_EQ(texts, (std::vector<std::string>{"", "two", "", "", ""}));

    for (const char* path : {"/missing", "/o", "/deep"}) {
        std::vector<int> untouchedInts{5};
        std::vector<std::string> untouchedTexts{"u"};
        EXPECT_FALSE(doc.get_int_a(path, untouchedInts)) << path;
        EXPECT_FALSE(doc.get_a(path, untouchedTexts)) << path;
        EXPECT_EQ(untouchedInts, std::vector<int>{5});
        EXPECT_EQ(untouchedTexts, std::vector<std::string>{"u"});
    }
    EXPECT_EQ(doc.get_str(0).substr(0, 12), R"({"first":[],)");
}

TEST(Proto, FailedParseKeepsTheDocument)
{
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(R"({"keep":1})"));
    void* keep = doc.get_node("/keep");
    const char* const badTexts[] = {"",         " ",   "{",          R"({"a":})", "[1,2",
                                     R"({"a":1} x)", "nul", R"({'a':1})", "{\"a\":\"\x01\"}"};
    for (const char* bad : badTexts) {
        EXPECT_FALSE(doc.set_str(bad)) << bad;
        EXPECT_EQ(doc.get_str(0), R"({"keep":1})") << bad;
    }
    EXPECT_EQ(doc.get_node_str(keep), "1"); // handles outlive a failed parse

    // Nesting is bounded so that a hostile text cannot exhaust the stack; brackets inside
    // strings do not count.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(doc.set_str(deep));
    EXPECT_EQ(doc.get_str(0), R"({"keep":1})");
    const std::string fine = std::string(200, '[') + "\"" + std::string(400, '[') + "\\\"{{\"" + std::string(200, ']');
    ASSERT_TRUE(doc.set_str(fine));
    EXPECT_EQ(doc.get_str(0), fine);

    ASSERT_TRUE(doc.set_str(" [1, 2, {\"k\": 3}]\n"));
    EXPECT_EQ(doc.get_cnt("/"), 3);
    EXPECT_EQ(doc.get_int_v("/2/k", 0), 3);
    EXPECT_EQ(doc.get_str(0), R"([1,2,{"k":3}])");
}

// Every accepted text can be written back as JSON: numbers beyond a double are refused,
// also those whose digits carry them past the largest double under an allowed exponent.
TEST(Proto, NumbersBeyondADoubleAreRefusedWhereverTheyStand)
{
    const char* const tooLarge[] = {
        "1e400",
        "-1e309",
        "77770000000000000000001e300",
        "-77770000000000000000001e300",
    };
    const char* const layouts[] = {"%s", "[1,%s]", R"({"a":{"b":[%s]}})"};
    for (const char* number : tooLarge) {
        for (const char* layout : layouts) {
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
    EXPECT_DOUBLE_EQ(again.get_float_v("/max", 0), 1.7976931348623157e308);
    EXPECT_DOUBLE_EQ(again.get_float_v("/big", 0), 7.777e302);
}

TEST(Proto, ClearAndCopy)
{
    CRapidJsonProto source;
    source.set_v("/a/b", 1);
    source.add_list_v("/a", "l", std::string("x"));

    CRapidJsonProto target;
    target.set_v("/old", 1);
    ASSERT_TRUE(target.copy(&source));
    EXPECT_EQ(target.get_str(0), R"({"a":{"b":1,"l":["x"]}})");
    source.set_v("/a/b", 2); // the copy is deep
    EXPECT_EQ(target.get_int_v("/a/b", 0), 1);
    EXPECT_TRUE(target.copy(&target));
    EXPECT_FALSE(target.copy(nullptr));
    EXPECT_EQ(target.get_str(0), R"({"a":{"b":1,"l":["x"]}})");

    target.clear();
    EXPECT_EQ(target.get_str(0), "{}");
    EXPECT_EQ(target.get_int_v("/a/b", -1), -1);
    EXPECT_EQ(target.get_node("/a"), nullptr);
    // The document is usable again after clear, many times over.
    for (int round = 0; round < 50; ++round) {
        void* n = target.add_v(nullptr, "n", std::string(200, 'z'));
        ASSERT_NE(n, nullptr);
        target.clear();
    }
    target.set_v("/again", 1);
    EXPECT_EQ(target.get_str(0), R"({"again":1})");
}

TEST(Proto, TextIsEscapedAndUtf8PassesThrough)
{
    const std::string texts[] = {
        "Tür 门 \xF0\x9F\x9A\xAA",
        "quote \" backslash \\ slash /",
        "line\nbreak\ttab\r",
        std::string("nul\0inside", 10),
        "",
    };
    for (const std::string& text : texts) {
        CRapidJsonProto doc;
        ASSERT_TRUE(doc.set_v("/name", text));
        const std::string json = doc.get_str(0);
        EXPECT_EQ(json.find('\n'), std::string::npos);
        EXPECT_EQ(Canonical(json), json);
        CRapidJsonProto again;
        ASSERT_TRUE(again.set_str(json)) << json;
        EXPECT_EQ(again.get_v("/name", "def"), text);
    }
    CRapidJsonProto doc;
    doc.set_v("/name", texts[0]);
    EXPECT_EQ(doc.get_str(0), "{\"name\":\"" + texts[0] + "\"}"); // no \u escapes for non-ASCII
}

TEST(Proto, IndentedOutputHoldsTheSameDocument)
{
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(kSample));
    const std::string pretty = doc.get_str(1);
    EXPECT_NE(pretty.find('\n'), std::string::npos);
    EXPECT_EQ(Canonical(pretty), doc.get_str(0));
}

} // namespace
