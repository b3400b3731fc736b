#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EventManager/Event/DamEventMsg.h"
#include "EventManager/EventNotifyMgr.h"
#include "proto/RapidJsonProto.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"

namespace {

using iobox::CSPDamEventMsg;
using iobox::CSPEventNotifyMgr;

const char* const kSource = "src/EventManager/EventNotifyMgr.cpp";
const char* const kProduceLine = "[%s]Produce Event %d, picture event %d, time stamp %s[%s(%d)]";

std::shared_ptr<CSPDamEventMsg> Message(int eventId, unsigned int sourceId, bool withPicture = false)
{
    auto document = std::make_shared<proto::CRapidJsonProto>();
    document->set_v(std::string("/Event/BasicInfo/EventID"), eventId);
    auto message = std::make_shared<CSPDamEventMsg>(document);
    message->SetEventType(5030);
    message->SetSourceType(1003);
    message->SetSourceID(sourceId);
    if (withPicture) {
        message->AddPicture(std::make_shared<std::string>("jpeg"));
    }
    return message;
}

class EventNotifyMgrTest : public ::testing::Test {
protected:
    testsupport::HostEnvironment host;
    testsupport::LogCapture log;
};

TEST_F(EventNotifyMgrTest, DeliversEachMessageInOrderWithItsNumbersOriginAndContent)
{
    auto first = Message(7, 4242, true);
    const std::string json = first->GetProto()->get_str(0);
    CSPEventNotifyMgr::Notify(first);
    CSPEventNotifyMgr::Notify(std::shared_ptr<CSPDamEventMsg>());
    CSPEventNotifyMgr::Notify(std::vector<std::shared_ptr<CSPDamEventMsg>>{Message(1, 11), nullptr, Message(2, 12)});

    const auto events = host.capacityManager->Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].eventType, 5030u);
    EXPECT_EQ(events[0].sourceType, 1003u);
    EXPECT_EQ(events[0].sourceId, 4242u);
    EXPECT_EQ(events[0].origin, "platform");
    EXPECT_EQ(events[0].user, 0xFFFFFFFFu);
    EXPECT_EQ(events[0].content, json + std::string(1, '\0') + "jpeg");
    EXPECT_EQ(events[1].sourceId, 11u);
    EXPECT_EQ(events[2].sourceId, 12u);
    EXPECT_TRUE(log.HasLine(2, "[iobox::CSPEventNotifyMgr::Notify]Send event message " + json, kSource)) << log.Dump();
    EXPECT_EQ(log.Lines().size(), 3u) << "an empty message is skipped silently";
}

TEST_F(EventNotifyMgrTest, EveryFiveThousandthMessageWritesTheSummaryAndRestartsTheCounts)
{
    host.capacityManager->SetKeepEvents(false);
    const std::string head = "[iobox::CSPEventNotifyMgr::Notify]Produce Event 5000, picture event ";
    auto lines = [&] { return log.WithFormat(kProduceLine); };

    // Three of the first 5000 carry pictures; empty entries count for nothing.
    for (int i = 1; i < 5000; ++i) {
        CSPEventNotifyMgr::Notify(Message(i, 1, i == 10 || i == 20 || i == 4999));
        if (i == 2500) {
            CSPEventNotifyMgr::Notify(std::shared_ptr<CSPDamEventMsg>());
        }
    }
    EXPECT_TRUE(lines().empty()) << "the 4999th writes nothing";
    CSPEventNotifyMgr::Notify(Message(5000, 1));
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0].level, 3);
    EXPECT_EQ(lines()[0].text.rfind(head + "3, time stamp ", 0), 0u) << lines()[0].text;

    // Both counts start again from 0.
    for (int i = 1; i < 5000; ++i) {
        CSPEventNotifyMgr::Notify(Message(i, 1));
    }
    EXPECT_EQ(lines().size(), 1u);
    CSPEventNotifyMgr::Notify(Message(5000, 1));
    ASSERT_EQ(lines().size(), 2u);
    EXPECT_EQ(lines()[1].text.rfind(head + "0, time stamp ", 0), 0u) << lines()[1].text;
    EXPECT_EQ(host.capacityManager->EventCount(), 10000u);
}

} // namespace
