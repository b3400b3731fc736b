#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <unistd.h>

#include "Common/LazySingleton.h"

namespace {

std::atomic<bool> g_innerAlive{false};

// Outer comes first in this file, so its statics are set up before Inner's: the order of
// destruction must follow creation, not the order of the statics.
class Outer {
public:
    static Outer* Instance() { return iobox::LazySingleton<Outer>::Instance(); }
    ~Outer()
    {
        if (!g_innerAlive) {
            _exit(3); // what Outer relies on died first
        }
    }

private:
    friend class iobox::LazySingleton<Outer>;
    Outer();
};

// Created by Outer's constructor; must still exist when Outer goes at exit.
class Inner {
public:
    static Inner* Instance() { return iobox::LazySingleton<Inner>::Instance(); }
    ~Inner() { g_innerAlive = false; }

private:
    friend class iobox::LazySingleton<Inner>;
    Inner() { g_innerAlive = true; }
};

Outer::Outer() { Inner::Instance(); }

TEST(LazySingleton, ASingletonCreatedInAConstructorOutlivesItsCreator)
{
    EXPECT_EXIT(
        {
            Outer::Instance();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
