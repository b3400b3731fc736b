#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "OstraPlatform/HostManagers.h"
#include "dam/Device.h"
#include "dam/Feature.h"

namespace {

using OstraPlatform::CDeviceManager;
using OstraPlatform::CUserSessionManager;

constexpr int kInputType = 1003;
constexpr int kOutputType = 1004;

std::shared_ptr<dam::CDevice> MakeDevice(int id, int handle)
{
    dam::DeviceInfo info;
    info.id = id;
    info.category = 2005;
    info.protocol = 101;
    info.name = "Box " + std::to_string(id);
    auto device = std::make_shared<dam::CDevice>(info);
    device->SetDeviceHandle(handle);
    return device;
}

std::shared_ptr<dam::CDevice> MakeBox(int id, const std::string& guid)
{
    dam::DeviceInfo info;
    info.id = id;
    info.guid = guid;
    info.category = 2005;
    info.protocol = 101;
    return std::make_shared<dam::CDevice>(info);
}

TEST(DeviceManager, GuidLookupFollowsAddsAndDeletesAndPrefersTheFirstAdded)
{
    CDeviceManager manager;
    auto a = MakeBox(1, "GUID-A");
    auto b = MakeBox(2, "GUID-B");
    auto twin = MakeBox(3, "GUID-A"); // same guid, added later
    manager.AddDevice(a);
    manager.AddDevice(b);
    manager.AddDevice(twin);
    manager.AddDevice(nullptr);

    const struct {
        const char* step;
        std::function<void()> act;
        std::shared_ptr<dam::IDevice> forA;
        std::shared_ptr<dam::IDevice> forB;
    } steps[] = {
        {"all added", [] {}, a, b},
        {"unknown id deleted", [&] { EXPECT_FALSE(manager.DeleteDeviceByID(9, 2005)); }, a, b},
        {"wrong category", [&] { EXPECT_FALSE(manager.DeleteDeviceByID(1, 1000)); }, a, b},
        {"first of the twins deleted", [&] { EXPECT_TRUE(manager.DeleteDeviceByID(1, 2005)); }, twin, b},
        {"b deleted", [&] { EXPECT_TRUE(manager.DeleteDeviceByID(2, 2005)); }, twin, nullptr},
        {"last twin deleted", [&] { EXPECT_TRUE(manager.DeleteDeviceByID(3, 2005)); }, nullptr, nullptr},
        {"a added again", [&] { manager.AddDevice(a); }, a, nullptr},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(manager.GetDeviceByGuid("GUID-A"), step.forA) << step.step;
        EXPECT_EQ(manager.GetDeviceByGuid("GUID-B"), step.forB) << step.step;
        EXPECT_EQ(manager.GetDeviceByGuid(""), nullptr) << step.step;
        EXPECT_EQ(manager.GetDeviceByGuid("guid-a"), nullptr) << step.step;
    }
}

TEST(UserSessionManager, EncryptionRoundTripsOnlyWithTheSameSession)
{
    CUserSessionManager sessions;
    const std::string plains[] = {"secret-password", "", "p\xC3\xA4ss w\xC3\xB6rd", std::string(100, 'a')};
    for (const std::string& plain : plains) {
        std::string encrypted;
        ASSERT_TRUE(sessions.EncryptBySession(encrypted, plain, "session-1", false)) << plain;
        EXPECT_FALSE(encrypted.empty());
        if (!plain.empty()) {
            EXPECT_EQ(encrypted.find(plain), std::string::npos) << plain;
        }
        EXPECT_EQ(encrypted.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                  std::string::npos);

        std::string decrypted = "untouched";
        ASSERT_TRUE(sessions.DecryptBySession(decrypted, encrypted, "session-1")) << plain;
        EXPECT_EQ(decrypted, plain);

        // A wrong key almost always breaks the padding; when it does not, the text is garbage.
        std::string wrong;
        if (sessions.DecryptBySession(wrong, encrypted, "session-2")) {
            EXPECT_NE(wrong, plain);
        }
    }

    std::string first;
    std::string second;
    ASSERT_TRUE(sessions.EncryptBySession(first, "same", "s", true));
    ASSERT_TRUE(sessions.EncryptBySession(second, "same", "s", true));
    EXPECT_NE(first, second); // a fresh IV each time

    std::string out = "untouched";
    EXPECT_FALSE(sessions.EncryptBySession(out, "x", "", false));
    EXPECT_FALSE(sessions.DecryptBySession(out, first, ""));
    EXPECT_FALSE(sessions.DecryptBySession(out, "not base64!", "s"));
    EXPECT_FALSE(sessions.DecryptBySession(out, "QUJD", "s")); // shorter than an IV
    EXPECT_EQ(out, "untouched");
}

TEST(DeviceManager, StatusNotificationsAreRecordedAndFlipTheDevice)
{
    CDeviceManager manager;
    auto box = MakeDevice(5, 17);
    auto other = MakeDevice(6, 18);
    other->SetOnline(true);
    manager.AddDevice(box);
    manager.AddDevice(other);
    std::vector<CDeviceManager::StatusRecord> observed;
    manager.SetStatusObserver([&](const CDeviceManager::StatusRecord& r) { observed.push_back(r); });

    OstraPlatform::DeviceStatusInfo status;
    status.device_id = 17;
    status.status_code = 0x8017;
    ASSERT_TRUE(manager.NotifyDeviceStatus(OstraPlatform::DEVICE_STATUS_MSG_TYPE, &status));
    EXPECT_TRUE(box->IsOnline());

    status.status_code = 0x8000;
    ASSERT_TRUE(manager.NotifyDeviceStatus(OstraPlatform::DEVICE_STATUS_MSG_TYPE, &status));
    EXPECT_FALSE(box->IsOnline());
    EXPECT_NE(box->GetOfflineError(), Marl::Base::Error::ErrorCode());
    EXPECT_TRUE(other->IsOnline());

    status.device_id = 99; // no such device: still recorded
    ASSERT_TRUE(manager.NotifyDeviceStatus(OstraPlatform::DEVICE_STATUS_MSG_TYPE, &status));
    EXPECT_FALSE(manager.NotifyDeviceStatus(OstraPlatform::DEVICE_STATUS_MSG_TYPE + 1, &status));
    EXPECT_FALSE(manager.NotifyDeviceStatus(OstraPlatform::DEVICE_STATUS_MSG_TYPE, nullptr));

    const auto records = manager.StatusNotifications();
    ASSERT_EQ(records.size(), 3u);
    const int expected[][2] = {{17, 0x8017}, {17, 0x8000}, {99, 0x8000}};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].msgType, OstraPlatform::DEVICE_STATUS_MSG_TYPE);
        EXPECT_EQ(records[i].deviceId, expected[i][0]);
        EXPECT_EQ(records[i].statusCode, expected[i][1]);
    }
    EXPECT_EQ(observed.size(), 3u);
}

template <class Obj>
void AddObjects(dam::CChannelCache& cache, const std::vector<int>& numbers, int type, const std::string& prefix)
{
    for (int no : numbers) {
        auto obj = std::make_shared<Obj>();
        obj->SetVal_no(no);
        obj->SetVal_channel_type(type);
        obj->SetVal_name(prefix + std::to_string(no));
        cache.Add(obj);
    }
}

std::shared_ptr<dam::CChannelCache> Cache(const std::vector<int>& inputs, const std::vector<int>& outputs)
{
    auto cache = std::make_shared<dam::CChannelCache>();
    AddObjects<dam::CAlarmInputObj>(*cache, inputs, kInputType, "In ");
    AddObjects<dam::CAlarmOutputObj>(*cache, outputs, kOutputType, "Out ");
    return cache;
}

unsigned int IdOf(const std::shared_ptr<dam::CDevice>& device, int type, int no)
{
    for (const auto& channel : device->GetChannels(type)) {
        if (channel->GetNo() == no) {
            return channel->GetID();
        }
    }
    return 0;
}

TEST(Feature, ChannelIdsStayTheSameAcrossRefreshes)
{
    auto box = MakeDevice(41, 1);
    auto feature = dam::CFeatureFactory::CreateFeature(dam::FEATURE_TYPE_COMMON, box, Cache({1, 2}, {1}));
    ASSERT_NE(std::dynamic_pointer_cast<dam::CCommonFeature>(feature), nullptr);
    ASSERT_EQ(box->GetAllChannels().size(), 3u);
    const unsigned int in1 = IdOf(box, kInputType, 1);
    const unsigned int in2 = IdOf(box, kInputType, 2);
    const unsigned int out1 = IdOf(box, kOutputType, 1);
    EXPECT_EQ(std::set<unsigned int>({0u, in1, in2, out1}).size(), 4u);
    EXPECT_NE(std::dynamic_pointer_cast<dam::CAlarmInput>(box->GetChannelByID(in1, kInputType)), nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<dam::CAlarmOutput>(box->GetChannelByID(out1, kOutputType)), nullptr);
    const std::string guid1 = box->GetChannelByID(in1, kInputType)->GetGuid();

    // Refresh of the inputs only, reordered and with one more: outputs are kept.
    ASSERT_TRUE(feature->ApplyChannels(Cache({3, 2, 1}, {}), true));
    EXPECT_EQ(box->GetAllChannels().size(), 4u);
    EXPECT_EQ(IdOf(box, kInputType, 1), in1);
    EXPECT_EQ(IdOf(box, kInputType, 2), in2);
    EXPECT_EQ(IdOf(box, kOutputType, 1), out1);
    EXPECT_EQ(box->GetChannelByID(in1, kInputType)->GetGuid(), guid1);
    const unsigned int in3 = IdOf(box, kInputType, 3);
    EXPECT_EQ(std::set<unsigned int>({0u, in1, in2, in3, out1}).size(), 5u);

    // Without keepOthers the cache is the whole set.
    ASSERT_TRUE(feature->ApplyChannels(Cache({2}, {}), false));
    ASSERT_EQ(box->GetAllChannels().size(), 1u);
    EXPECT_EQ(IdOf(box, kInputType, 2), in2);
    ASSERT_TRUE(feature->ApplyChannels(Cache({1}, {1}), false));
    EXPECT_EQ(IdOf(box, kInputType, 1), in1);
    EXPECT_EQ(IdOf(box, kOutputType, 1), out1);

    // Another device gets ids of its own for the same numbers.
    auto second = MakeDevice(42, 2);
    dam::CFeatureFactory::CreateFeature(dam::FEATURE_TYPE_COMMON, second, Cache({1}, {}));
    const unsigned int otherIn1 = IdOf(second, kInputType, 1);
    EXPECT_NE(otherIn1, 0u);
    EXPECT_NE(otherIn1, in1);

    EXPECT_FALSE(feature->ApplyChannels(nullptr, true));
}

} // namespace
