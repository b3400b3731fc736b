#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Marl/Base/ThreadManager.h"
#include "support/Process.h"

namespace {

using Marl::Base::CThreadManager;
using Marl::Base::CTMTask;

class FunctionTask : public CTMTask {
public:
    FunctionTask(const std::string& thread, std::function<void()> work) : CTMTask(thread), m_work(std::move(work)) {}
    void Run() override { m_work(); }

private:
    std::function<void()> m_work;
};

std::shared_ptr<CTMTask> Task(const std::string& thread, std::function<void()> work)
{
    return std::make_shared<FunctionTask>(thread, std::move(work));
}

TEST(ThreadManager, TasksRunOneAtATimeInOrderOnTheNamedThreadAndReleaseFinishesTheQueue)
{
    CThreadManager manager;
    ASSERT_NE(manager.GetAvailableThread("t.order"), 0u);
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::string> names;
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    // The first task holds the worker so that the others are still queued at release.
    ASSERT_TRUE(manager.PostTask(Task("t.order", [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }),
                                 false));
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(manager.PostTask(Task("t.order",
                                          [&, i] {
                                              if (running.fetch_add(1) != 0) {
                                                  ++overlaps;
                                              }
                                              {
                                                  std::lock_guard<std::mutex> lock(mutex);
                                                  order.push_back(i);
                                                  names.push_back(CThreadManager::CurrentThreadName());
                                              }
                                              running.fetch_sub(1);
                                          }),
                                     false));
    }
    ASSERT_TRUE(manager.ReleaseThread("t.order", false));
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(names[i], "t.order");
    }
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(CThreadManager::CurrentThreadName(), "");
}

TEST(ThreadManager, PostingNeedsAReservedThreadAndTheLimitRefusesNewNames)
{
    CThreadManager manager;
    std::atomic<int> ran{0};
    EXPECT_FALSE(manager.PostTask(Task("t.none", [&] { ++ran; }), false));
    EXPECT_FALSE(manager.PostTask(nullptr, false));
    EXPECT_FALSE(manager.ReleaseThread("t.none", false));

    const unsigned int first = manager.GetAvailableThread("t.a");
    ASSERT_NE(first, 0u);
    EXPECT_EQ(manager.GetAvailableThread("t.a"), first);
    EXPECT_EQ(manager.GetAvailableThread(""), 0u);
    EXPECT_FALSE(manager.PostTask(Task("t.other", [&] { ++ran; }), false));
    EXPECT_TRUE(manager.PostTask(Task("t.a", [&] { ++ran; }), true));

    manager.SetThreadLimit(0);
    EXPECT_EQ(manager.GetAvailableThread("t.b"), 0u);
    EXPECT_EQ(manager.GetAvailableThread("t.a"), first); // an existing reservation is still given

    EXPECT_TRUE(manager.ReleaseThread("t.a", true));
    EXPECT_EQ(ran.load(), 1);
    EXPECT_FALSE(manager.PostTask(Task("t.a", [&] { ++ran; }), false));
    EXPECT_EQ(manager.ReservedCount(), 0u);
}

TEST(ThreadManager, ATaskMayReleaseItsOwnThread)
{
    CThreadManager manager;
    ASSERT_NE(manager.GetAvailableThread("t.self"), 0u);
    std::atomic<bool> secondQueued{false};
    std::atomic<bool> released{false};
    std::atomic<int> after{0};
    ASSERT_TRUE(manager.PostTask(Task("t.self",
                                      [&] {
                                          testsupport::WaitFor([&] { return secondQueued.load(); },
                                                               std::chrono::seconds(5));
                                          released = manager.ReleaseThread("t.self", false);
                                      }),
                                 false));
    ASSERT_TRUE(manager.PostTask(Task("t.self", [&] { ++after; }), false));
    secondQueued = true;
    // The detached worker still runs what was queued before it ends.
    EXPECT_TRUE(testsupport::WaitFor([&] { return after.load() == 1; }, std::chrono::seconds(5)));
    EXPECT_TRUE(released.load());
    EXPECT_EQ(manager.ReservedCount(), 0u);

    // The name can be reserved again and works.
    ASSERT_NE(manager.GetAvailableThread("t.self"), 0u);
    ASSERT_TRUE(manager.PostTask(Task("t.self", [&] { ++after; }), false));
    ASSERT_TRUE(manager.ReleaseThread("t.self", false));
    EXPECT_EQ(after.load(), 2);
}

} // namespace
