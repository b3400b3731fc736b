#include <gtest/gtest.h>

#include <dlfcn.h>

#include "dam/DriverInterface.h"

namespace {

TEST(ModuleLoad, ResolvesTheFiveEntryPointsByName)
{
    void* module = dlopen(IOBOX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    for (const char* name : {"Init", "SetProductVersion", "Start", "Stop", "Unit"}) {
        EXPECT_NE(dlsym(module, name), nullptr) << name;
    }
    // Plug-in internals stay hidden.
    EXPECT_EQ(dlsym(module, "_ZN5iobox20ModuleUnInitRegistryEv"), nullptr);

    using SetProductVersionFn = bool (*)(void*, uint32_t);
    using InitFn = bool (*)(dam::IDriverInterfaceOperate*);
    auto setProductVersion = reinterpret_cast<SetProductVersionFn>(dlsym(module, "SetProductVersion"));
    auto init = reinterpret_cast<InitFn>(dlsym(module, "Init"));
    ASSERT_NE(setProductVersion, nullptr);
    ASSERT_NE(init, nullptr);
    EXPECT_TRUE(setProductVersion(nullptr, 0));
    EXPECT_FALSE(init(nullptr));
    EXPECT_EQ(dlclose(module), 0);
}

} // namespace
