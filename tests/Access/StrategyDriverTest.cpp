#include <gtest/gtest.h>

#include "Access/Driver/SPDriverInterface.h"
#include "Access/Strategy/IOBoxStrategy.h"
#include "Communication/DeviceCommManager.h"
#include "Marl/Base/Error.h"
#include "support/IOBoxDevice.h"
#include "support/LogCapture.h"

namespace {

using testsupport::IOBoxSpec;
using testsupport::LogCapture;
using testsupport::MakeIOBox;

const char* const kStrategySource = "src/Access/Strategy/IOBoxStrategy.cpp";

std::shared_ptr<dam::CCommonFeature> CommonFeature(const std::shared_ptr<dam::IDevice>& device)
{
    return std::dynamic_pointer_cast<dam::CCommonFeature>(device->GetFeature(1));
}

// A device object the host's feature store does not hold: features cannot be added through
// it, and the test may force the sub-category it reports.
class UnlistedDevice : public dam::IDevice {
public:
    explicit UnlistedDevice(std::shared_ptr<dam::CDevice> inner) : m(std::move(inner)) {}
    std::shared_ptr<dam::CFeature> GetFeature(int type) override { return m->GetFeature(type); }
    int GetAccessProtocol() override { return m->GetAccessProtocol(); }
    int GetDeviceCategory() override { return m->GetDeviceCategory(); }
    std::shared_ptr<dam::CBaseLoginParam> GetDeviceLoginParam() override { return m->GetDeviceLoginParam(); }
    std::string GetSearchText() override { return m->GetSearchText(); }
    int GetPasswordStrength() override { return m->GetPasswordStrength(); }
    std::string GetDeviceCode() override { return m->GetDeviceCode(); }
    int MapLoginHandle(int handle) override { return m->MapLoginHandle(handle); }
    int GetDeviceHandle() override { return m->GetDeviceHandle(); }
    void ResetDeviceHandle() override { m->ResetDeviceHandle(); }
    std::string GetDeviceGuid() override { return m->GetDeviceGuid(); }
    int GetDeviceID() override { return m->GetDeviceID(); }
    std::string GetDeviceName() override { return m->GetDeviceName(); }
    std::string GetSerialNumber() override { return m->GetSerialNumber(); }
    bool IsOnline() override { return m->IsOnline(); }
    bool IsActive() override { return m->IsActive(); }
    int GetSubCategory() override { return forcedSubCategory >= 0 ? forcedSubCategory : m->GetSubCategory(); }
    void SetSubCategory(int value) override { m->SetSubCategory(value); }
    int GetDeviceType() override { return m->GetDeviceType(); }
    int GetManufacturer() override { return m->GetManufacturer(); }
    std::vector<std::shared_ptr<dam::CChannel>> GetChannels(int type) override { return m->GetChannels(type); }
    std::shared_ptr<dam::CChannel> GetChannelByID(unsigned int id, int type) override { return m->GetChannelByID(id, type); }
    Marl::Base::Error::ErrorCode GetOfflineError() override { return m->GetOfflineError(); }
    Marl::Base::Error::ErrorCode GetOnlineError() override { return m->GetOnlineError(); }
    std::string GetVersion() override { return m->GetVersion(); }
    void SetDeviceHandle(int handle) override { m->SetDeviceHandle(handle); }
    void SetLoginMode(int mode) override { m->SetLoginMode(mode); }

    int forcedSubCategory = -1;

private:
    std::shared_ptr<dam::CDevice> m;
};

TEST(Driver, AnswersForTheIOBoxOnly)
{
    iobox::CSPDriverInterface driver;
    EXPECT_EQ(driver.GetDriverName(), "iobox.d");
    EXPECT_EQ(driver.GetSupportDeviceCategories(), std::vector<int32_t>{2005});
    EXPECT_EQ(driver.GetSupportAccessProtocols(2005), std::vector<int32_t>{101});
    EXPECT_TRUE(driver.GetSupportAccessProtocols(2004).empty());
    EXPECT_EQ(driver.GetAllAccessProtocols(), std::vector<int32_t>{101});
    EXPECT_TRUE(driver.IsDriverReady());

    iobox::CIOBoxLoginParamFactory factory;
    auto first = factory.CreateLoginParam(2005, 101);
    auto second = factory.CreateLoginParam(2005, 101);
    EXPECT_TRUE(std::dynamic_pointer_cast<dam::CModbusLoginParam>(first));
    EXPECT_NE(first, second);
    EXPECT_FALSE(factory.CreateLoginParam(101, 2005));
    EXPECT_FALSE(factory.CreateLoginParam(2005, 100));
}

TEST(Driver, CreatesStrategiesForIOBoxesOnly)
{
    LogCapture log;
    iobox::CSPDriverInterface driver;
    IOBoxSpec other;
    other.protocol = 100;
    EXPECT_FALSE(driver.CreateStrategy(MakeIOBox(other)));
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();

    EXPECT_FALSE(driver.CreateStrategy(nullptr));
    EXPECT_FALSE(driver.CreateBareStrategy(nullptr));
    EXPECT_EQ(log.CountLine(5, "[iobox::CSPDriverInterface::CreateStrategyByDevice]Device point is null!",
                            "src/Access/Driver/SPDriverInterface.cpp"),
              2u)
        << log.Dump();

    // A full strategy makes sure the device has its common feature; a bare one does not.
    auto full = MakeIOBox(IOBoxSpec{});
    auto strategy = driver.CreateStrategy(full);
    ASSERT_TRUE(std::dynamic_pointer_cast<iobox::CIOBoxStrategy>(strategy));
    EXPECT_TRUE(CommonFeature(full));
    auto bare = MakeIOBox(IOBoxSpec{});
    ASSERT_TRUE(driver.CreateBareStrategy(bare));
    EXPECT_FALSE(bare->GetFeature(1));
}

TEST(Strategy, ConstantAnswers)
{
    iobox::CIOBoxStrategy strategy(MakeIOBox(IOBoxSpec{}), true);
    dam::CBaseStrategy& base = strategy;
    EXPECT_EQ(base.GetStrategyVersion(), "2.1.0");
    EXPECT_EQ(base.GetLoginType(), 0);
    EXPECT_EQ(base.GetModuleName(), "iobox.d");
    EXPECT_FALSE(base.IsNeedSyncTime());
    EXPECT_FALSE(base.IsSupportTalk());
    EXPECT_TRUE(base.IsSupportChannelRefresh());
    EXPECT_FALSE(base.IsSupportPlayback());
    EXPECT_TRUE(base.IsAllowAutoLogin());
    EXPECT_TRUE(base.CheckDeviceStatus());
    EXPECT_TRUE(base.OnChannelChanged(1, 2));
}

TEST(Strategy, KeepsAnExistingCommonFeatureAndReportsAFailedAdd)
{
    auto device = MakeIOBox(IOBoxSpec{});
    auto feature = dam::CFeatureFactory::CreateFeature(1, device, nullptr);
    ASSERT_TRUE(device->AddFeature(feature));
    {
        LogCapture log;
        iobox::CIOBoxStrategy strategy(device, false);
        EXPECT_EQ(device->GetFeature(1), feature);
        EXPECT_TRUE(log.Lines().empty());
    }
    // The host refuses the feature (a device its feature store does not hold).
    LogCapture log;
    auto unlisted = std::make_shared<UnlistedDevice>(MakeIOBox(IOBoxSpec{}));
    iobox::CIOBoxStrategy strategy(unlisted, false);
    EXPECT_TRUE(log.HasLine(5, "[iobox::CIOBoxStrategy::CIOBoxStrategy]AddFeature:Common failed!", kStrategySource))
        << log.Dump();
}

TEST(Strategy, AfterInitFromDBCopiesTheStoredCounts)
{
    IOBoxSpec spec;
    spec.inputs = 0;
    spec.outputs = 0;
    auto device = MakeIOBox(spec);
    iobox::CIOBoxStrategy strategy(device, false);
    auto feature = CommonFeature(device);
    feature->SetAlarmInputCount(16);
    feature->SetAlarmOutputCount(4);
    feature->SetDeviceType(1);
    ASSERT_TRUE(strategy.AfterInitFromDB());
    auto param = std::dynamic_pointer_cast<dam::CModbusLoginParam>(device->GetDeviceLoginParam());
    EXPECT_EQ(param->GetVal_input_num(), 16);
    EXPECT_EQ(param->GetVal_output_num(), 4);
    EXPECT_EQ(param->GetVal_input_type(), 1);
    EXPECT_EQ(param->GetSubCategory(), 209);
}

TEST(Strategy, AfterInitFromDBFailures)
{
    LogCapture log;
    // No feature (bare strategy).
    iobox::CIOBoxStrategy noFeature(MakeIOBox(IOBoxSpec{}), true);
    EXPECT_FALSE(noFeature.AfterInitFromDB());
    // No login parameters.
    auto noParams = MakeIOBox(IOBoxSpec{});
    noParams->SetDeviceLoginParam(nullptr);
    EXPECT_FALSE(iobox::CIOBoxStrategy(noParams, false).AfterInitFromDB());
    // Parameters of another protocol stay untouched.
    auto other = MakeIOBox(IOBoxSpec{});
    auto plain = std::make_shared<dam::CBaseLoginParam>();
    other->SetDeviceLoginParam(plain);
    EXPECT_FALSE(iobox::CIOBoxStrategy(other, false).AfterInitFromDB());
    EXPECT_EQ(plain->GetSubCategory(), 0);
    // No device at all.
    EXPECT_FALSE(iobox::CIOBoxStrategy(nullptr, true).AfterInitFromDB());

    const std::string f = "[iobox::CIOBoxStrategy::AfterInitFromDB]";
    EXPECT_TRUE(log.HasLine(5, f + "common feature ptr is null!", kStrategySource));
    EXPECT_TRUE(log.HasLine(5, f + "login param ptr is null!", kStrategySource));
    EXPECT_TRUE(log.HasLine(5, f + " modbus login param ptr is null!", kStrategySource));
    EXPECT_TRUE(log.HasLine(5, f + "Device ptr is null!", kStrategySource)) << log.Dump();
}

TEST(Strategy, AfterLoginBuildsTheChannelsTheHostRegisters)
{
    IOBoxSpec spec;
    spec.inputs = 0;
    spec.outputs = 2;
    auto device = MakeIOBox(spec);
    iobox::CIOBoxStrategy strategy(device, false);
    auto loginData = std::make_shared<dam::CDeviceLoginData>();
    loginData->SetVal_str_ip_address("127.0.0.9");
    loginData->SetVal_u_port(70000); // kept to 16 bits
    ASSERT_TRUE(strategy.AfterLogin(loginData));

    auto feature = CommonFeature(device);
    EXPECT_EQ(feature->GetResolvedIP(), "127.0.0.9");
    EXPECT_EQ(feature->GetResolvedPort(), 70000 % 65536);
    EXPECT_EQ(device->GetSubCategory(), 207);
    EXPECT_TRUE(feature->GetAlarmInputObj().empty());
    EXPECT_TRUE(device->GetChannels(1003).empty());
    const auto outputs = device->GetChannels(1004);
    ASSERT_EQ(outputs.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(outputs[i]->GetNo(), i + 1);
        EXPECT_EQ(outputs[i]->GetName(), "Alarmoutput 0" + std::to_string(i + 1));
        EXPECT_TRUE(std::dynamic_pointer_cast<dam::CAlarmOutput>(outputs[i]));
    }

    // Three digits when the number needs them.
    auto big = MakeIOBox(IOBoxSpec{2, "G2", "big", "c", 2005, 101, "127.0.0.1", 502, 100, 0});
    iobox::CIOBoxStrategy bigStrategy(big, false);
    ASSERT_TRUE(bigStrategy.AfterLogin(loginData));
    const auto inputs = big->GetChannels(1003);
    ASSERT_EQ(inputs.size(), 100u);
    EXPECT_EQ(inputs.front()->GetName(), "AlarmInput 01");
    EXPECT_EQ(inputs.back()->GetName(), "AlarmInput 100");
    EXPECT_TRUE(std::dynamic_pointer_cast<dam::CAlarmInput>(inputs.back()));
}

TEST(Strategy, WithoutSubCategory207NoChannelListsAreWrittenButRefreshDecides)
{
    auto inner = MakeIOBox(IOBoxSpec{});
    auto device = std::make_shared<UnlistedDevice>(inner);
    device->forcedSubCategory = 220;
    // The host keeps the feature on its own device object.
    ASSERT_TRUE(inner->AddFeature(dam::CFeatureFactory::CreateFeature(1, inner, nullptr)));
    iobox::CIOBoxStrategy strategy(device, false);
    ASSERT_TRUE(strategy.AfterLogin(std::make_shared<dam::CDeviceLoginData>()));
    EXPECT_TRUE(CommonFeature(device)->GetAlarmInputObj().empty());
    EXPECT_EQ(CommonFeature(device)->GetAlarmInputCount(), 12);
    EXPECT_TRUE(inner->GetChannels(1003).empty());
}

TEST(Strategy, LoginWithoutConnectionReportsTheLastError)
{
    ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
    LogCapture log;
    IOBoxSpec spec;
    spec.name = "hall";
    spec.code = "HX-7";
    spec.port = 0; // the connection manager refuses to open anything
    auto device = MakeIOBox(spec);
    device->SetDeviceHandle(33);
    iobox::CIOBoxStrategy strategy(device, false);
    EXPECT_FALSE(strategy.Login());
    EXPECT_TRUE(log.HasLine(5,
                            "[iobox::CIOBoxStrategy::Login]Request_loginData failed!, device_name[hall], "
                            "device_code[HX-7], error[0, 4]",
                            kStrategySource))
        << log.Dump();
    EXPECT_EQ(device->GetDeviceHandle(), 33);
    EXPECT_EQ(Marl::Base::Error::GetLastError(), Marl::Base::Error::ErrorCode(0, 4));
}

TEST(Strategy, LoginAndLogoutWithoutProxyOrDevice)
{
    LogCapture log;
    // The communication manager was never started: no proxy.
    iobox::CIOBoxStrategy strategy(MakeIOBox(IOBoxSpec{}), false);
    EXPECT_FALSE(strategy.Login());
    EXPECT_FALSE(strategy.Logout());
    EXPECT_EQ(log.CountLine(5, "[iobox::CIOBoxStrategy::Login]ptr_comm_proxy is null!", kStrategySource), 1u);
    EXPECT_EQ(log.CountLine(5, "[iobox::CIOBoxStrategy::Logout]ptr_comm_proxy is null!", kStrategySource), 1u);

    iobox::CIOBoxStrategy empty(nullptr, true);
    EXPECT_FALSE(empty.Login());
    EXPECT_FALSE(empty.Logout());
    EXPECT_FALSE(empty.RefreshChannel());
    EXPECT_TRUE(log.HasLine(5, "[iobox::CIOBoxStrategy::Login]Device ptr is null!", kStrategySource));
    EXPECT_TRUE(log.HasLine(5, "[iobox::CIOBoxStrategy::Logout]Device ptr is null!", kStrategySource));
    EXPECT_TRUE(log.HasLine(5, "[iobox::CIOBoxStrategy::RefreshChannel]Device ptr is null!", kStrategySource));

    // Login parameters missing.
    ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
    auto device = MakeIOBox(IOBoxSpec{});
    device->SetDeviceLoginParam(nullptr);
    EXPECT_FALSE(iobox::CIOBoxStrategy(device, false).Login());
    EXPECT_TRUE(log.HasLine(5, "[iobox::CIOBoxStrategy::Login]Login parm is nullptr!", kStrategySource)) << log.Dump();
}

} // namespace
