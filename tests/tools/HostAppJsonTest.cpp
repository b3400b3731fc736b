// iobox-host --json against its simulated box, with the production poll period: the first poll
// comes with the login and finds nothing; the tour then puts input 3 into alarm, which the
// second poll, 5 s later, reports.

#include "support/Command.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <sstream>
#include <string>

TEST(HostAppJsonTest, EveryEventIsOneJsonLineOnStdout)
{
    const auto r = testsupport::RunCommand(IOBOX_HOST_COMMAND, {"--plugin", IOBOX_MODULE_PATH, "--json", "--duration", "9"},
                                           "", 30);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(r.out.empty() ? '\n' : r.out.back(), '\n') << r.out;

    std::istringstream lines(r.out);
    std::string line;
    int count = 0;
    long long lastId = 0;
    while (count < 1000 && std::getline(lines, line)) {
        ++count;
        rapidjson::Document doc;
        ASSERT_FALSE(doc.Parse(line.c_str()).HasParseError()) << line;
        const auto& basic = doc["Event"]["BasicInfo"];
        EXPECT_EQ(basic["EventType"].GetInt(), 5030);
        EXPECT_EQ(basic["SourceType"].GetInt(), 1003);
        EXPECT_STREQ(basic["SourceName"].GetString(), "AlarmInput 03");
        EXPECT_EQ(basic["DeviceID"].GetInt(), 41);
        EXPECT_GT(basic["EventID"].GetInt64(), lastId);
        lastId = basic["EventID"].GetInt64();
    }
    ASSERT_GE(count, 1) << r.err;
    // Everything else went to stderr: the narration and its summary.
    EXPECT_NE(r.err.find("stopping: the run's 9 s are over"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("summary: " + std::to_string(count) + " events received"), std::string::npos) << r.err;
}
