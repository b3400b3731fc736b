#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "Access/Driver/SPDriverInterface.h"
#include "Access/Strategy/IOBoxStrategy.h"
#include "Access/TesselDetach/DeviceTesselDetach.h"
#include "Communication/DeviceCommManager.h"
#include "Communication/ModbusComm/ModbusComm.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "LoopbackServer.h"
#include "Marl/Base/Error.h"
#include "support/IOBoxDevice.h"
#include "support/LogCapture.h"
#include "support/Process.h"

namespace {

using testsupport::IOBoxSetup;
using testsupport::LogCapture;
using testsupport::MakeIOBox;

const char* const kStrategySource = "src/Access/Strategy/IOBoxStrategy.cpp";

std::shared_ptr<dam::CCommonFeature> CommonFeature(const std::shared_ptr<dam::IDevice>& device)
{
    return std::dynamic_pointer_cast<dam::CCommonFeature>(device->GetFeature(1));
}

// A host device that can report another sub-category than it was given, or hide its features.
class SkewedDevice : public dam::CDevice {
public:
    explicit SkewedDevice(int subCategory, bool hideFeatures)
        : CDevice(Info()), m_subCategory(subCategory), m_hideFeatures(hideFeatures)
    {
    }
    int GetSubCategory() override { return m_subCategory; }
    std::shared_ptr<dam::CFeature> GetFeature(int type) override
    {
        return m_hideFeatures ? nullptr : CDevice::GetFeature(type);
    }

private:
    static dam::DeviceInfo Info()
    {
        dam::DeviceInfo info;
        info.category = 2005;
        info.protocol = 101;
        info.loginParam = testsupport::ModbusParams(IOBoxSetup{});
        return info;
    }
    int m_subCategory;
    bool m_hideFeatures;
};

TEST(Driver, CreatesStrategiesAndLoginParametersForIOBoxesOnly)
{
    LogCapture log;
    iobox::CSPDriverInterface driver;
    EXPECT_TRUE(driver.GetSupportAccessProtocols(2004).empty());
    IOBoxSetup other;
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
    auto full = MakeIOBox(IOBoxSetup{});
    EXPECT_TRUE(std::dynamic_pointer_cast<iobox::CIOBoxStrategy>(driver.CreateStrategy(full)));
    EXPECT_TRUE(CommonFeature(full));
    auto bare = MakeIOBox(IOBoxSetup{});
    ASSERT_TRUE(driver.CreateBareStrategy(bare));
    EXPECT_FALSE(bare->GetFeature(1));

    iobox::CIOBoxLoginParamFactory factory;
    EXPECT_NE(factory.CreateLoginParam(2005, 101), factory.CreateLoginParam(2005, 101));
    EXPECT_FALSE(factory.CreateLoginParam(101, 2005));
    EXPECT_FALSE(factory.CreateLoginParam(2005, 100));
}

// What the host reads without the box being asked. A dropped override would fall back to the
// base's answer unnoticed.
TEST(Access, ConstantAnswersOfStrategyHandlerAndDriver)
{
    auto device = MakeIOBox(IOBoxSetup{});
    iobox::CIOBoxStrategy strategy(device, true);
    iobox::CSPDriverInterface driver;
    struct Handler : iobox::CModbusTesselDetach {
        using CModbusTesselDetach::m_mapOperationLogType;
    } handler;
    using Flags = std::vector<bool>;
    EXPECT_EQ(strategy.GetStrategyVersion(), "2.1.0");
    EXPECT_EQ(strategy.GetModuleName(), "iobox.d");
    EXPECT_EQ(strategy.GetLoginType(), 0);
    EXPECT_EQ((Flags{strategy.IsNeedSyncTime(), strategy.IsSupportTalk(), strategy.IsSupportChannelRefresh(),
                     strategy.IsSupportPlayback(), strategy.IsAllowAutoLogin(), strategy.CheckDeviceStatus(),
                     strategy.OnChannelChanged(1003, 1)}),
              (Flags{false, false, true, false, true, true, true}));
    EXPECT_EQ((Flags{handler.AfterDeviceAdded("s", device), handler.AfterDeviceModified("s", nullptr, nullptr, device),
                     handler.IsSupportBatchAdd(), handler.BeforeDeleteDevice({1}), driver.IsDriverReady()}),
              Flags(5, true));
    EXPECT_EQ(handler.m_mapOperationLogType,
              (std::map<std::string, unsigned int>{{"device_add", 2910}, {"device_delete", 2912}, {"device_modify", 2911}}));
    EXPECT_EQ(driver.GetDriverName(), "iobox.d");
    EXPECT_EQ(driver.GetSupportDeviceCategories(), std::vector<int32_t>{2005});
    EXPECT_EQ(driver.GetSupportAccessProtocols(2005), std::vector<int32_t>{101});
    EXPECT_EQ(driver.GetAllAccessProtocols(), std::vector<int32_t>{101});
}

// A successful login names the connection and the address in the login data, and the
// connection speaks plain Modbus from its first byte.
TEST(ModbusComm, LoginDataOfASuccessfulLoginOverPlainTcp)
{
    iobox::ModbusTiming timing;
    timing.connectSettleMs = 10;
    iobox::CTCPConnMgr::Instance()->SetTiming(timing);
    std::string first;
    std::atomic<bool> received{false};
    transporttest::LoopbackServer box([&](transporttest::Peer& peer) { received = peer.ReadExact(first, 12); });
    IOBoxSetup setup;
    setup.port = box.Port();
    auto device = MakeIOBox(setup);
    auto loginData = std::make_shared<dam::CDeviceLoginData>();
    auto params = device->GetDeviceLoginParam();
    iobox::CModubsComm comm;
    ASSERT_TRUE(comm.Request_loginData(loginData, params, device));
    EXPECT_TRUE(iobox::CTCPConnMgr::Instance()->GetConn(loginData->GetVal_device_handle()));
    EXPECT_EQ(loginData->GetVal_str_ip_address(), "127.0.0.1");
    EXPECT_EQ(loginData->GetVal_u_port(), setup.port);
    ASSERT_TRUE(testsupport::WaitFor([&] { return received.load(); }, std::chrono::seconds(5)));
    EXPECT_EQ(first.substr(6, 2), std::string("\x00\x02", 2)) << "unit 0, Read Discrete Inputs";
    device->SetDeviceHandle(loginData->GetVal_device_handle());
    EXPECT_TRUE(comm.Request_Logout(device));
}

TEST(Strategy, KeepsAnExistingCommonFeatureAndReportsAFailedAdd)
{
    LogCapture log;
    auto device = MakeIOBox(IOBoxSetup{});
    auto feature = dam::CFeatureFactory::CreateFeature(1, device, nullptr);
    ASSERT_TRUE(device->AddFeature(feature));
    iobox::CIOBoxStrategy keeps(device, false);
    EXPECT_EQ(device->GetFeature(1), feature);
    EXPECT_TRUE(log.Lines().empty());

    // The host refuses the feature: the device already holds one it does not show.
    auto hiding = std::make_shared<SkewedDevice>(0, true);
    ASSERT_TRUE(hiding->AddFeature(dam::CFeatureFactory::CreateFeature(1, hiding, nullptr)));
    iobox::CIOBoxStrategy refused(hiding, false);
    EXPECT_TRUE(log.HasLine(5, "[iobox::CIOBoxStrategy::CIOBoxStrategy]AddFeature:Common failed!", kStrategySource))
        << log.Dump();
}

TEST(Strategy, AfterInitFromDBCopiesTheStoredCountsOrSaysWhatIsMissing)
{
    LogCapture log;
    IOBoxSetup setup;
    setup.inputs = 0;
    setup.outputs = 0;
    auto device = MakeIOBox(setup);
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
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();

    EXPECT_FALSE(iobox::CIOBoxStrategy(MakeIOBox(IOBoxSetup{}), true).AfterInitFromDB()); // bare: no feature
    auto noParams = MakeIOBox(IOBoxSetup{});
    noParams->SetDeviceLoginParam(nullptr);
    EXPECT_FALSE(iobox::CIOBoxStrategy(noParams, false).AfterInitFromDB());
    auto other = MakeIOBox(IOBoxSetup{});
    auto plain = std::make_shared<dam::CBaseLoginParam>();
    other->SetDeviceLoginParam(plain);
    EXPECT_FALSE(iobox::CIOBoxStrategy(other, false).AfterInitFromDB());
    EXPECT_EQ(plain->GetSubCategory(), 0) << "parameters of another protocol stay untouched";
    EXPECT_FALSE(iobox::CIOBoxStrategy(nullptr, true).AfterInitFromDB());

    const std::string f = "[iobox::CIOBoxStrategy::AfterInitFromDB]";
    for (const char* text : {"common feature ptr is null!", "login param ptr is null!",
                             " modbus login param ptr is null!", "Device ptr is null!"}) {
        EXPECT_EQ(log.CountLine(5, f + text, kStrategySource), 1u) << text << "\n" << log.Dump();
    }
}

TEST(Strategy, AfterLoginBuildsTheChannelsTheHostRegisters)
{
    IOBoxSetup setup;
    setup.inputs = 0;
    setup.outputs = 2;
    auto device = MakeIOBox(setup);
    iobox::CIOBoxStrategy strategy(device, false);
    auto loginData = std::make_shared<dam::CDeviceLoginData>();
    loginData->SetVal_str_ip_address("127.0.0.9");
    loginData->SetVal_u_port(70000); // kept to 16 bits
    ASSERT_TRUE(strategy.AfterLogin(loginData));

    auto feature = CommonFeature(device);
    EXPECT_EQ(feature->GetResolvedIP(), "127.0.0.9");
    EXPECT_EQ(feature->GetResolvedPort(), 70000 % 65536);
    EXPECT_EQ(device->GetSubCategory(), 207);
    EXPECT_TRUE(device->GetChannels(1003).empty());
    const auto outputs = device->GetChannels(1004);
    ASSERT_EQ(outputs.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(outputs[i]->GetNo(), i + 1);
        EXPECT_EQ(outputs[i]->GetName(), "Alarmoutput 0" + std::to_string(i + 1));
        EXPECT_TRUE(std::dynamic_pointer_cast<dam::CAlarmOutput>(outputs[i]));
    }

    // Three digits when the number needs them.
    setup.inputs = 100;
    setup.outputs = 0;
    auto big = MakeIOBox(setup);
    iobox::CIOBoxStrategy bigStrategy(big, false);
    ASSERT_TRUE(bigStrategy.AfterLogin(loginData));
    const auto inputs = big->GetChannels(1003);
    ASSERT_EQ(inputs.size(), 100u);
    EXPECT_EQ(inputs.front()->GetName(), "AlarmInput 01");
    EXPECT_EQ(inputs.back()->GetName(), "AlarmInput 100");
    EXPECT_TRUE(std::dynamic_pointer_cast<dam::CAlarmInput>(inputs.back()));
}

TEST(Strategy, WithoutSubCategory207NoChannelListsAreBuilt)
{
    auto device = std::make_shared<SkewedDevice>(220, false);
    iobox::CIOBoxStrategy strategy(device, false);
    ASSERT_TRUE(strategy.AfterLogin(std::make_shared<dam::CDeviceLoginData>()));
    EXPECT_TRUE(CommonFeature(device)->GetAlarmInputObj().empty());
    EXPECT_EQ(CommonFeature(device)->GetAlarmInputCount(), 12);
    EXPECT_TRUE(device->GetChannels(1003).empty());
}

TEST(Strategy, LoginAndLogoutRefusedWithoutDeviceProxyParametersOrConnection)
{
    LogCapture log;
    IOBoxSetup setup;
    setup.name = "hall";
    setup.code = "HX-7";
    setup.port = 0; // the connection manager refuses to open anything
    auto device = MakeIOBox(setup);
    device->SetDeviceHandle(33);
    // The communication manager was never started: no proxy.
    iobox::CIOBoxStrategy strategy(device, false);
    EXPECT_FALSE(strategy.Login());
    EXPECT_FALSE(strategy.Logout());
    iobox::CIOBoxStrategy empty(nullptr, true);
    EXPECT_FALSE(empty.Login());
    EXPECT_FALSE(empty.Logout());
    EXPECT_FALSE(empty.RefreshChannel());

    ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
    EXPECT_FALSE(strategy.Login());
    EXPECT_EQ(device->GetDeviceHandle(), 33);
    EXPECT_EQ(Marl::Base::Error::GetLastError(), Marl::Base::Error::ErrorCode(0, 4));
    device->SetDeviceLoginParam(nullptr);
    EXPECT_FALSE(strategy.Login());

    for (const char* line : {"[iobox::CIOBoxStrategy::Login]ptr_comm_proxy is null!",
                             "[iobox::CIOBoxStrategy::Logout]ptr_comm_proxy is null!",
                             "[iobox::CIOBoxStrategy::Login]Device ptr is null!",
                             "[iobox::CIOBoxStrategy::Logout]Device ptr is null!",
                             "[iobox::CIOBoxStrategy::RefreshChannel]Device ptr is null!",
                             "[iobox::CIOBoxStrategy::Login]Request_loginData failed!, device_name[hall], "
                             "device_code[HX-7], error[0, 4]",
                             "[iobox::CIOBoxStrategy::Login]Login parm is nullptr!"}) {
        EXPECT_EQ(log.CountLine(5, line, kStrategySource), 1u) << line << "\n" << log.Dump();
    }
}

} // namespace
