#include "Common/Timer.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <utility>
#include <vector>

#include "Common/Log.h"

namespace iobox {

namespace {
constexpr uint32_t kNoPeriod = 0xFFFFFFFFU;

// Threads of timers stopped from within their own callback, or that outlived their stop's
// deadline, waiting to be joined.
struct SelfStopped {
    std::mutex mutex;
    std::vector<boost::thread> threads;
    // Runs when the module goes, perhaps under the loader lock or after the process's other
    // threads were killed: it only lets go of the handles, never joins, and never waits for the
    // lock (a killed thread may hold it: the list is then left as it is). Unit has joined every
    // thread before.
    ~SelfStopped()
    {
        if (!mutex.try_lock()) {
            new std::vector<boost::thread>(std::move(threads)); // left alone, see above
            return;
        }
        for (auto& thread : threads) {
            thread.detach();
        }
        threads.clear();
        mutex.unlock();
    }
};
SelfStopped g_selfStopped;

void HandOn(boost::thread thread)
{
    std::lock_guard<std::mutex> lock(g_selfStopped.mutex);
    try {
        g_selfStopped.threads.push_back(std::move(thread));
    } catch (const std::exception&) {
        thread.detach(); // out of memory: it ends by itself all the same
    }
}
} // namespace

struct CTimer::State {
    explicit State(std::function<void()> work) : callback(std::move(work)) {}

    std::atomic<bool> stop{false};
    uint32_t periodMs = 1000;
    bool runFirst = true;
    std::function<void()> callback;
    boost::mutex mutex;
    boost::condition_variable wake;

    void RunCallback()
    {
        if (!callback) {
            return;
        }
        try {
            callback();
        } catch (const std::exception& e) {
            IOBOX_LOG(5, "iobox::CTimer::Run", "timer callback failed: %s", e.what());
        } catch (...) {
            IOBOX_LOG(5, "iobox::CTimer::Run", "timer callback failed: %s", "unknown exception");
        }
    }

    void RequestStop()
    {
        {
            // Under the mutex, so the flag cannot change between the waiter's test and its wait.
            boost::lock_guard<boost::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_all();
    }
};

CTimer::CTimer(std::function<void()> callback) : m_state(std::make_shared<State>(std::move(callback))) {}

CTimer::~CTimer()
{
    try {
        Stop();
    } catch (const std::exception&) {
        // Only the lock can throw here; the thread then ends by itself on the stop flag.
    }
}

void CTimer::Start(uint32_t periodMs, bool runFirst)
{
    if (periodMs == 0 || periodMs == kNoPeriod) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_threadMutex);
    if (m_thread.joinable()) {
        return;
    }
    m_state->stop = false;
    m_state->periodMs = periodMs;
    m_state->runFirst = runFirst;
    try {
        std::shared_ptr<State> state = m_state;
        m_thread = boost::thread([state]() { Run(state); });
    } catch (const std::exception& e) {
        IOBOX_LOG(5, "iobox::CTimer::Start", "timer thread not started: %s", e.what());
    }
}

bool CTimer::Stop(uint32_t deadlineMs)
{
    RequestStop();
    if (Join(deadlineMs)) {
        return true;
    }
    IOBOX_LOG(5, "iobox::CTimer::Stop", "timer thread still running %u ms after its stop, left to end by itself",
              deadlineMs);
    return false;
}

void CTimer::RequestStop() { m_state->RequestStop(); }

bool CTimer::Join(uint32_t deadlineMs)
{
    boost::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        thread = std::move(m_thread);
    }
    if (!thread.joinable()) {
        return true;
    }
    if (thread.get_id() == boost::this_thread::get_id()) {
        // Called from the callback: the loop ends when the callback returns.
        HandOn(std::move(thread));
        return true;
    }
    try {
        if (thread.timed_join(boost::posix_time::milliseconds(deadlineMs))) {
            return true;
        }
    } catch (const std::exception&) {
        // An interrupted join: the thread is handed on as a late one.
    }
    HandOn(std::move(thread));
    return false;
}

std::size_t CTimer::JoinSelfStopped(uint32_t deadlineMs)
{
    std::vector<boost::thread> threads;
    {
        std::lock_guard<std::mutex> lock(g_selfStopped.mutex);
        threads.swap(g_selfStopped.threads);
    }
    if (threads.empty()) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    std::vector<boost::thread> running;
    for (auto& thread : threads) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        try {
            if (thread.get_id() == boost::this_thread::get_id() ||
                !thread.timed_join(boost::posix_time::milliseconds(std::max<int64_t>(0, left.count())))) {
                running.push_back(std::move(thread));
            }
        } catch (const std::exception&) {
            if (thread.joinable()) {
                running.push_back(std::move(thread));
            }
        }
    }
    const std::size_t count = running.size();
    for (auto& thread : running) {
        HandOn(std::move(thread));
    }
    return count;
}

void CTimer::Run(const std::shared_ptr<State>& state)
{
    State& s = *state;
    if (s.runFirst) {
        s.RunCallback();
    }
    const boost::posix_time::milliseconds period(s.periodMs);
    while (!s.stop) {
        {
            boost::unique_lock<boost::mutex> lock(s.mutex);
            // Measured on the monotonic clock; the predicate absorbs spurious wake-ups.
            s.wake.timed_wait(lock, period, [&s]() { return s.stop.load(); });
        }
        if (s.stop) {
            return;
        }
        s.RunCallback();
    }
}

} // namespace iobox
