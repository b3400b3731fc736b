// iobox-host --json against its simulated box, with the production poll period: what the first
// two polls show.

#include "support/ChildProcess.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;

TEST(HostAppJsonTest, EveryEventIsOneJsonLineOnStdout)
{
    // The first poll comes with the login and finds nothing; the tour then puts input 3 into
    // alarm, which the second poll, 5 s later, reports.
    testsupport::ChildProcess child(IOBOX_HOST_COMMAND, {"--plugin", IOBOX_MODULE_PATH, "--json", "--duration", "9"});
    ASSERT_GT(child.Pid(), 0);
    const auto r = child.Finish(milliseconds(30000));
    ASSERT_EQ(r.exitCode, 0) << r.err;

    std::vector<std::string> lines;
    std::size_t from = 0;
    for (int i = 0; i < 1000 && from < r.out.size(); ++i) {
        const auto nl = r.out.find('\n', from);
        ASSERT_NE(nl, std::string::npos) << "every line ends: " << r.out;
        lines.push_back(r.out.substr(from, nl - from));
        from = nl + 1;
    }
    ASSERT_GE(lines.size(), 1u) << r.err;
    long long lastId = 0;
    for (const auto& line : lines) {
        rapidjson::Document doc;
        ASSERT_FALSE(doc.Parse(line.c_str()).HasParseError()) << line;
        const auto& basic = doc["Event"]["BasicInfo"];
        EXPECT_EQ(basic["EventType"].GetInt(), 5030);
        EXPECT_EQ(basic["SourceType"].GetInt(), 1003);
        EXPECT_STREQ(basic["SourceName"].GetString(), "AlarmInput 03");
        EXPECT_EQ(basic["DeviceID"].GetInt(), 41);
        EXPECT_STREQ(basic["DeviceName"].GetString(), "Lobby box");
        EXPECT_GT(basic["EventID"].GetInt64(), lastId);
        lastId = basic["EventID"].GetInt64();
        EXPECT_TRUE(basic["TimeInfo"]["OccurrenceTime"].IsString());
    }
    // Everything else went to stderr: the narration and its summary.
    EXPECT_NE(r.err.find("the box: input 3 goes into alarm"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("stopping: the run's 9 s are over"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("summary: " + std::to_string(lines.size()) + " events received"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dlclose returned 0"), std::string::npos) << r.err;
}

} // namespace
