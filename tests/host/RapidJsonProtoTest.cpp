// The stand-in's JSON document as far as the plug-in relies on it: reads that fall back to the
// default, and nodes and list elements that stay valid while the document grows.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "proto/RapidJsonProto.h"

namespace {

using proto::CRapidJsonProto;

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
}

TEST(Proto, NodesAndListElementsStayValidWhileTheirContainersGrow)
{
    CRapidJsonProto doc;
    void* base = doc.add_v(nullptr, "BaseInfo", "");
    ASSERT_NE(base, nullptr);
    EXPECT_NE(doc.add_v(doc.add_v(base, "ID", 7), "nested", std::string("x")), nullptr); // a scalar becomes an object
    EXPECT_NE(doc.add_object(doc.add_object(nullptr, "Outer"), "Inner"), nullptr);
    EXPECT_EQ(doc.get_str(0), R"({"BaseInfo":{"ID":{"nested":"x"}},"Outer":{"Inner":{}}})");

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
}

} // namespace
