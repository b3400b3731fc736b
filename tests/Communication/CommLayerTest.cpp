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
using testsupport::IOBoxSpec;
using testsupport::LogCapture;
using testsupport::MakeIOBox;

// The base as a protocol without its own requests would leave it.
struct PlainComm final : iobox::CCommunicationBase {
};

TEST(CommunicationBase, RefusesEveryRequestWithTheSdkError)
{
    auto comm = std::make_shared<PlainComm>();
    auto device = MakeIOBox(IOBoxSpec{});
    auto loginData = std::make_shared<dam::CDeviceLoginData>();
    std::shared_ptr<dam::CBaseLoginParam> param = device->GetDeviceLoginParam();
    std::vector<std::shared_ptr<dam::CAlarmInputObj>> inputs;
    std::vector<std::shared_ptr<dam::CAlarmOutputObj>> outputs;
    iobox::AlarmOutStateMap states;

    struct Case {
        const char* name;
        std::function<bool()> call;
    };
    const Case cases[] = {
        {"Request_loginData", [&] { return comm->Request_loginData(loginData, param, device); }},
        {"Request_Logout", [&] { return comm->Request_Logout(device); }},
        {"Request_GetAlarmInputs", [&] { return comm->Request_GetAlarmInputs(inputs, device); }},
        {"Request_GetAlarmOutputs", [&] { return comm->Request_GetAlarmOutputs(outputs, device); }},
        {"Request_GetAlarmOutState", [&] { return comm->Request_GetAlarmOutState(states, device); }},
        {"Request_SetAlarmOutState", [&] { return comm->Request_SetAlarmOutState(1, 1, device); }},
    };
    int sdkError = 40;
    for (const Case& c : cases) {
        LogCapture log;
        SetLastError(ErrorCode(9, 9));
        Quovix_SetLastError(++sdkError);
        EXPECT_FALSE(c.call()) << c.name;
        EXPECT_EQ(GetLastError(), ErrorCode(0, 10004)) << c.name;
        const auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u) << log.Dump();
        EXPECT_EQ(lines[0].level, 5);
        EXPECT_EQ(lines[0].module, "iobox");
        EXPECT_EQ(lines[0].format,
                  "[%s]Communication error,error info=%s, error mode = %d,error code=%d,quovix_last_err:%d [%s(%d)]");
        EXPECT_TRUE(testsupport::MatchesLine(lines[0].text,
                                             std::string("[iobox::CCommunicationBase::") + c.name +
                                                 "]Communication error,error info=Operation Not Support, error mode = "
                                                 "0,error code=10004,quovix_last_err:" +
                                                 std::to_string(sdkError) + " ",
                                             "src/Communication/CommunicationBase.h"))
            << lines[0].text;
    }
    EXPECT_TRUE(loginData->GetVal_device_handle() == -1 && inputs.empty() && outputs.empty() && states.empty());
}

TEST(ModbusComm, LoginRefusesNonModbusParametersSilently)
{
    LogCapture log;
    iobox::CModubsComm comm;
    auto device = MakeIOBox(IOBoxSpec{});
    auto loginData = std::make_shared<dam::CDeviceLoginData>();
    std::shared_ptr<dam::CBaseLoginParam> param = std::make_shared<dam::CBaseLoginParam>();
    param->SetVal_login_address("127.0.0.1");
    param->SetVal_login_port(502);
    SetLastError(ErrorCode(3, 33));
    EXPECT_FALSE(comm.Request_loginData(loginData, param, device));
    EXPECT_EQ(GetLastError(), ErrorCode(3, 33));
    EXPECT_EQ(loginData->GetVal_device_handle(), -1);
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

TEST(ModbusComm, LoginThatOpensNoConnectionSetsError4AndFillsNothing)
{
    iobox::CModubsComm comm;
    for (const IOBoxSpec& spec : {IOBoxSpec{1, "G1", "a", "c", 2005, 101, "", 502}, IOBoxSpec{2, "G2", "b", "c", 2005, 101, "127.0.0.1", 0}}) {
        auto device = MakeIOBox(spec);
        auto loginData = std::make_shared<dam::CDeviceLoginData>();
        std::shared_ptr<dam::CBaseLoginParam> param = device->GetDeviceLoginParam();
        EXPECT_FALSE(comm.Request_loginData(loginData, param, device)) << spec.guid;
        EXPECT_EQ(GetLastError(), ErrorCode(0, 4)) << spec.guid;
        EXPECT_EQ(loginData->GetVal_device_handle(), -1);
        EXPECT_EQ(loginData->GetVal_str_ip_address(), "");
        EXPECT_EQ(device->GetDeviceHandle(), -1);
    }
}

TEST(ModbusComm, RequestsOfADeviceWithoutConnection)
{
    iobox::CModubsComm comm;
    auto device = MakeIOBox(IOBoxSpec{});
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

    // Logout does not look at the handle's sign and always resets it.
    device->SetDeviceHandle(-1);
    EXPECT_TRUE(comm.Request_Logout(device));
    device->SetDeviceHandle(5);
    EXPECT_TRUE(comm.Request_Logout(device));
    EXPECT_EQ(device->GetDeviceHandle(), -1);
}

TEST(DeviceCommManager, OneSharedProxyForEveryModbusDevice)
{
    auto* manager = iobox::CDeviceCommManager::Instance();
    ASSERT_TRUE(manager->Init());
    std::shared_ptr<iobox::CSPDeviceCommProxy> first;
    std::shared_ptr<iobox::CSPDeviceCommProxy> second;
    EXPECT_TRUE(manager->GetDeviceCommByDevice(first, MakeIOBox(IOBoxSpec{1, "G1"})));
    EXPECT_TRUE(iobox::CCommonHelper::GetCommPtr(second, MakeIOBox(IOBoxSpec{2, "G2"})));
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(first->HasComm());

    // A second Init keeps the proxy the first one made.
    ASSERT_TRUE(manager->Init());
    std::shared_ptr<iobox::CSPDeviceCommProxy> again;
    EXPECT_TRUE(manager->GetDeviceCommByDevice(again, MakeIOBox(IOBoxSpec{})));
    EXPECT_EQ(again, first);
}

TEST(DeviceCommManager, AnotherProtocolIsRefusedWithBothLines)
{
    LogCapture log;
    ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
    IOBoxSpec spec;
    spec.protocol = 100;
    std::shared_ptr<iobox::CSPDeviceCommProxy> proxy;
    EXPECT_FALSE(iobox::CCommonHelper::GetCommPtr(proxy, MakeIOBox(spec)));
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
}

TEST(DeviceCommManager, AfterUnInitTheLookupAnswersWithoutAProxy)
{
    auto* manager = iobox::CDeviceCommManager::Instance();
    ASSERT_TRUE(manager->Init());
    ASSERT_TRUE(manager->UnInit());
    LogCapture log;
    std::shared_ptr<iobox::CSPDeviceCommProxy> proxy;
    EXPECT_TRUE(manager->GetDeviceCommByDevice(proxy, MakeIOBox(IOBoxSpec{})));
    EXPECT_FALSE(proxy);
    EXPECT_FALSE(iobox::CCommonHelper::GetCommPtr(proxy, MakeIOBox(IOBoxSpec{})));
    EXPECT_EQ(log.CountFormat("[%s]GetDeviceCommByDevice of protocal type = %d failed![%s(%d)]"), 1u);

    // Init after UnInit serves again.
    ASSERT_TRUE(manager->Init());
    EXPECT_TRUE(iobox::CCommonHelper::GetCommPtr(proxy, MakeIOBox(IOBoxSpec{})));
    EXPECT_TRUE(proxy);
}

TEST(DeviceCommManager, EmptyDeviceAndUnknownProtocolProxy)
{
    LogCapture log;
    std::shared_ptr<iobox::CSPDeviceCommProxy> proxy;
    EXPECT_FALSE(iobox::CDeviceCommManager::Instance()->GetDeviceCommByDevice(proxy, nullptr));
    EXPECT_EQ(log.CountFormat("[%s]device ptr is null[%s(%d)]"), 1u);

    iobox::CSPDeviceCommProxy other(7);
    EXPECT_FALSE(other.HasComm());
    EXPECT_TRUE(log.HasLine(5, "[iobox::CSPDeviceCommProxy::CSPDeviceCommProxy]int:7 error!",
                            "src/Communication/DeviceCommProxy.cpp"))
        << log.Dump();
    auto device = MakeIOBox(IOBoxSpec{});
    EXPECT_FALSE(other.Request_Logout(device));
}

} // namespace
