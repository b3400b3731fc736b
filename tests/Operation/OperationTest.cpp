#include <gtest/gtest.h>

#include "Access/Strategy/IOBoxStrategy.h"
#include "Communication/DeviceCommManager.h"
#include "Operation/Impl/IOBoxCommonOperationImp.h"
#include "support/IOBoxDevice.h"
#include "support/LogCapture.h"

namespace {

using testsupport::IOBoxSetup;
using testsupport::LogCapture;
using testsupport::MakeIOBox;

const char* const kSource = "src/Operation/Impl/IOBoxCommonOperationImp.cpp";

// A device whose host channels exist as after a login: inputs 1..12, outputs 1..6.
std::shared_ptr<dam::CDevice> LoggedInBox(int outputs = 6)
{
    IOBoxSetup setup;
    setup.outputs = outputs;
    auto device = MakeIOBox(setup);
    iobox::CIOBoxStrategy strategy(device, false);
    EXPECT_TRUE(strategy.AfterLogin(std::make_shared<dam::CDeviceLoginData>()));
    return device;
}

std::shared_ptr<dam::CAlarmOutState> State(unsigned int value)
{
    auto state = std::make_shared<dam::CAlarmOutState>();
    state->SetVal_u_alarmout_state(value);
    return state;
}

unsigned int OutputId(const std::shared_ptr<dam::CDevice>& device, int no)
{
    for (const auto& channel : device->GetChannels(1004)) {
        if (channel->GetNo() == no) {
            return channel->GetID();
        }
    }
    ADD_FAILURE() << "no output " << no;
    return 0;
}

TEST(Operations, OutputStatesAreMappedToHostChannelIdsInOutputOrder)
{
    LogCapture log;
    auto device = LoggedInBox();
    iobox::AlarmOutStateMap states;
    for (unsigned int no : {6u, 2u, 1u, 3u, 5u, 4u}) {
        states[no] = State(no % 2);
    }
    states[9] = State(1); // the device reports more outputs than the host has channels for
    std::vector<dam::AlarmOutputStatus> records;
    iobox::CIOBoxOperationImp::Instance()->MakeAlarmOutputStatus(records, states, 1004, device);
    ASSERT_EQ(records.size(), 6u);
    for (int no = 1; no <= 6; ++no) {
        EXPECT_EQ(records[no - 1].alarm_output_id, OutputId(device, no));
        EXPECT_EQ(records[no - 1].status, static_cast<unsigned int>(no % 2));
    }
    EXPECT_EQ(log.CountFormat("[%s]MakeAlarmOutputStatus ao id:%d, ao status = %d[%s(%d)]"), 6u);
    EXPECT_TRUE(log.HasLine(3,
                            "[iobox::CIOBoxOperationImp::MakeAlarmOutputStatus]MakeAlarmOutputStatus ao id:" +
                                std::to_string(OutputId(device, 1)) + ", ao status = 1",
                            kSource))
        << log.Dump();

    // Inputs with the numbers of outputs never stand in for them.
    std::vector<dam::AlarmOutputStatus> none;
    iobox::CIOBoxOperationImp::Instance()->MakeAlarmOutputStatus(none, states, 1004, LoggedInBox(0));
    EXPECT_TRUE(none.empty());
}

TEST(Operations, RefusalsOfTheStatusRead)
{
    LogCapture log;
    iobox::CIOBoxCommonOperaion operation;
    // Earlier elements stay whatever happens.
    std::vector<std::shared_ptr<dam::CAlarmOutputStatus>> statuses{
        std::make_shared<dam::CAlarmOutputStatus>(dam::AlarmOutputStatus{77, 1})};
    const std::string f = "[iobox::CIOBoxOperationImp::GetAlarmOutputStatus]";

    EXPECT_FALSE(operation.GetAlarmOutputStatus(statuses, nullptr));
    EXPECT_TRUE(log.HasLine(5, f + "Device is not Login.", kSource));

    // No proxy: the communication manager has not started.
    EXPECT_FALSE(operation.GetAlarmOutputStatus(statuses, LoggedInBox()));
    EXPECT_TRUE(log.HasLine(5, f + "proxy_ptr null, device id = 1", kSource));

    ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
    EXPECT_FALSE(operation.GetAlarmOutputStatus(statuses, MakeIOBox(IOBoxSetup{})));
    EXPECT_TRUE(log.HasLine(5, f + "common feature null, device id = 1", kSource));

    // A device without connection: the request fails, yet the answer is true with nothing added.
    EXPECT_TRUE(operation.GetAlarmOutputStatus(statuses, LoggedInBox()));
    EXPECT_TRUE(log.HasLine(5, f + "request alarmoutput status failed, id=1 error=0+907", kSource)) << log.Dump();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0]->GetAlarmOutputID(), 77u);
}

TEST(Operations, SwitchingByHostChannelId)
{
    ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
    LogCapture log;
    auto device = LoggedInBox();
    iobox::CIOBoxCommonOperaion operation;
    const std::string f = "[iobox::CIOBoxOperationImp::SetAlarmOutStatus]";

    EXPECT_FALSE(operation.SetAlarmOutStatus(1, 1, nullptr));
    EXPECT_TRUE(log.HasLine(5, f + "Device is not Login.", kSource));

    // An input's channel id, and an id nobody has, are not alarm outputs.
    const unsigned int inputId = device->GetChannels(1003).front()->GetID();
    for (unsigned int id : {inputId, 999999u}) {
        EXPECT_FALSE(operation.SetAlarmOutStatus(id, 1, device));
        EXPECT_TRUE(log.HasLine(4, f + "Alarm out can not find, id:" + std::to_string(id) + ", device guid:GUID-0001",
                                kSource))
            << log.Dump();
    }

    // A real output of a device without connection: the request fails.
    EXPECT_FALSE(operation.SetAlarmOutStatus(OutputId(device, 3), 1, device));
    EXPECT_TRUE(log.HasLine(5, f + "Request_SetAlarmOutState failed.", kSource));
    EXPECT_EQ(Marl::Base::Error::GetLastError(), Marl::Base::Error::ErrorCode(0, 907));

    iobox::CDeviceCommManager::Instance()->UnInit();
    EXPECT_FALSE(operation.SetAlarmOutStatus(OutputId(device, 3), 1, device));
    EXPECT_TRUE(log.HasLine(5, f + "proxy_ptr null, device id = 1", kSource));
}

} // namespace
