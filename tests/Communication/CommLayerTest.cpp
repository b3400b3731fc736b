#include <gtest/gtest.h>

#include "Access/CommonHelper/CommonHelper.h"
#include "Communication/DeviceCommManager.h"
#include "Communication/ModbusComm/ModbusComm.h"
#include "Marl/Base/Error.h"
#include "support/IOBoxDevice.h"
#include "support/LogCapture.h"

namespace {

using Marl::Base::Error::ErrorCode;
using Marl::Base::Error::GetLastError;
using Marl::Base::Error::SetLastError;
using testsupport::IOBoxSetup;
using testsupport::LogCapture;
using testsupport::MakeIOBox;

// The base as a protocol without its own requests would leave it.
struct PlainComm final : iobox::CCommunicationBase {
};

TEST(CommunicationBase, RefusesEveryRequestWithTheSdkError)
{
    auto comm = std::make_shared<PlainComm>();
    auto device = MakeIOBox(IOBoxSetup{});
    auto loginData = std::make_shared<dam::CDeviceLoginData>();
    std::shared_ptr<dam::CBaseLoginParam> param = device->GetDeviceLoginParam();
    std::vector<std::shared_ptr<dam::CAlarmInputObj>> inputs;
    std::vector<std::shared_ptr<dam::CAlarmOutputObj>> outputs;
    iobox::AlarmOutStateMap states;
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"Request_loginData", [&] { return comm->Request_loginData(loginData, param, device); }},
        {"Request_Logout", [&] { return comm->Request_Logout(device); }},
        {"Request_GetAlarmInputs", [&] { return comm->Request_GetAlarmInputs(inputs, device); }},
        {"Request_GetAlarmOutputs", [&] { return comm->Request_GetAlarmOutputs(outputs, device); }},
        {"Request_GetAlarmOutState", [&] { return comm->Request_GetAlarmOutState(states, device); }},
        {"Request_SetAlarmOutState", [&] { return comm->Request_SetAlarmOutState(1, 1, device); }},
    };
    int sdkError = 40;
    for (const auto& c : cases) {
        LogCapture log;
        SetLastError(ErrorCode(9, 9));
        Quovix_SetLastError(++sdkError);
        EXPECT_FALSE(c.second()) << c.first;
        EXPECT_EQ(GetLastError(), ErrorCode(0, 10004)) << c.first;
        const auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u) << log.Dump();
        EXPECT_EQ(lines[0].level, 5);
        EXPECT_EQ(lines[0].module, "iobox");
        EXPECT_EQ(lines[0].format,
                  "[%s]Communication error,error info=%s, error mode = %d,error code=%d,quovix_last_err:%d [%s(%d)]");
        EXPECT_TRUE(testsupport::MatchesLine(lines[0].text,
                                             std::string("[iobox::CCommunicationBase::") + c.first +
                                                 "]Communication error,error info=Operation Not Support, error mode = "
                                                 "0,error code=10004,quovix_last_err:" + std::to_string(sdkError) + " ",
                                             "src/Communication/CommunicationBase.h"))
            << lines[0].text;
    }
}

TEST(ModbusComm, LoginWithoutAConnectionAndRequestsOfADeviceWithoutOne)
{
    LogCapture log;
    iobox::CModubsComm comm;
    auto device = MakeIOBox(IOBoxSetup{1, "G1", "a", "c", 2005, 101, "", 502});
    auto loginData = std::make_shared<dam::CDeviceLoginData>();
    std::shared_ptr<dam::CBaseLoginParam> param = device->GetDeviceLoginParam();
    EXPECT_FALSE(comm.Request_loginData(loginData, param, device));
    EXPECT_EQ(GetLastError(), ErrorCode(0, 4));
    EXPECT_EQ(loginData->GetVal_device_handle(), -1);
    EXPECT_EQ(device->GetDeviceHandle(), -1);
    EXPECT_TRUE(log.HasLine(5, "[iobox::CTCPConnMgr::RequestLogin]RequestLogin network,param err, ip[], port[502]",
                            "src/Communication/ModbusComm/TCPConnManager/TCPConnMgr.cpp"))
        << log.Dump();
    // Parameters of another kind are refused without a word and without an error.
    SetLastError(ErrorCode(3, 33));
    param = std::make_shared<dam::CBaseLoginParam>();
    EXPECT_FALSE(comm.Request_loginData(loginData, param, device));
    EXPECT_EQ(GetLastError(), ErrorCode(3, 33));

    std::vector<std::shared_ptr<dam::CAlarmInputObj>> inputs;
    std::vector<std::shared_ptr<dam::CAlarmOutputObj>> outputs;
    iobox::AlarmOutStateMap states;
    const std::function<bool()> requests[] = {
        [&] { return comm.Request_GetAlarmInputs(inputs, device); },
        [&] { return comm.Request_GetAlarmOutputs(outputs, device); },
        [&] { return comm.Request_GetAlarmOutState(states, device); },
        [&] { return comm.Request_SetAlarmOutState(1, 3, device); },
    };
    // Handle -1: not logged in. Handle 5: logged in once, but no connection under it now.
    for (const auto& expected : {std::make_pair(-1, 907), std::make_pair(5, 2)}) {
        device->SetDeviceHandle(expected.first);
        for (const auto& request : requests) {
            SetLastError(ErrorCode(7, 7));
            EXPECT_FALSE(request());
            EXPECT_EQ(GetLastError(), ErrorCode(0, expected.second)) << "handle " << expected.first;
        }
    }
    EXPECT_TRUE(inputs.empty() && outputs.empty() && states.empty());
    EXPECT_TRUE(comm.Request_Logout(device)); // whatever the handle, and it resets it
    EXPECT_EQ(device->GetDeviceHandle(), -1);
}

TEST(DeviceCommManager, OneSharedProxyForModbusAndNoneForAnotherProtocolOrAfterUnInit)
{
    auto* manager = iobox::CDeviceCommManager::Instance();
    ASSERT_TRUE(manager->Init());
    std::shared_ptr<iobox::CSPDeviceCommProxy> first;
    std::shared_ptr<iobox::CSPDeviceCommProxy> second;
    EXPECT_TRUE(manager->GetDeviceCommByDevice(first, MakeIOBox(IOBoxSetup{1, "G1"})));
    ASSERT_TRUE(manager->Init()); // a second Init keeps the proxy
    EXPECT_TRUE(iobox::CCommonHelper::GetCommPtr(second, MakeIOBox(IOBoxSetup{2, "G2"})));
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);

    LogCapture log;
    IOBoxSetup other;
    other.protocol = 100;
    std::shared_ptr<iobox::CSPDeviceCommProxy> proxy;
    EXPECT_FALSE(iobox::CCommonHelper::GetCommPtr(proxy, MakeIOBox(other)));
    EXPECT_FALSE(proxy);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u) << log.Dump();
    EXPECT_TRUE(testsupport::MatchesLine(lines[0].text,
                                         "[iobox::CDeviceCommManager::GetDeviceCommByDevice]Access Protocol Type is 100",
                                         "src/Communication/DeviceCommManager.cpp"));
    EXPECT_TRUE(testsupport::MatchesLine(
        lines[1].text, "[iobox::CCommonHelper::GetCommPtr]GetDeviceCommByDevice of protocal type = 100 failed!",
        "src/Access/CommonHelper/CommonHelper.cpp"));
    EXPECT_EQ(lines[0].level, 5);
    EXPECT_EQ(lines[1].level, 5);
    EXPECT_FALSE(manager->GetDeviceCommByDevice(proxy, nullptr));
    EXPECT_EQ(log.CountFormat("[%s]device ptr is null[%s(%d)]"), 1u);

    // After UnInit the lookup answers, without a proxy; Init serves again.
    ASSERT_TRUE(manager->UnInit());
    EXPECT_TRUE(manager->GetDeviceCommByDevice(proxy, MakeIOBox(IOBoxSetup{})));
    EXPECT_FALSE(proxy);
    EXPECT_FALSE(iobox::CCommonHelper::GetCommPtr(proxy, MakeIOBox(IOBoxSetup{})));
    ASSERT_TRUE(manager->Init());
    EXPECT_TRUE(iobox::CCommonHelper::GetCommPtr(proxy, MakeIOBox(IOBoxSetup{})));
    EXPECT_TRUE(proxy && proxy->HasComm());

    iobox::CSPDeviceCommProxy unknown(7);
    EXPECT_FALSE(unknown.HasComm());
    EXPECT_FALSE(unknown.Request_Logout(MakeIOBox(IOBoxSetup{})));
    EXPECT_TRUE(log.HasLine(5, "[iobox::CSPDeviceCommProxy::CSPDeviceCommProxy]int:7 error!",
                            "src/Communication/DeviceCommProxy.cpp"))
        << log.Dump();
}

} // namespace
