// The stand-in device manager's guid index: every alarm finds its device through it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "OstraPlatform/HostManagers.h"
#include "dam/Device.h"

namespace {

using OstraPlatform::CDeviceManager;

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

} // namespace
