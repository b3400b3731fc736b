#include "Common/Timer.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <exception>
#include <utility>
#include <vector>

#include "Common/Log.h"

namespace iobox {

namespace {
constexpr uint32_t kNoPeriod = 0xFFFFFFFFU;

// Threads of timers stopped from within their own callback, waiting to be joined. Built when
// the module is loaded, so it outlives the singletons that join it when they go.
struct SelfStopped {
    std::mutex mutex;
    std::vector<boost::thread> threads;
    ~SelfStopped()
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& thread : threads) {
            thread.detach();
        }
    }
};
SelfStopped g_selfStopped;
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

void CTimer::Stop()
{
    m_state->RequestStop();
    boost::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        thread = std::move(m_thread);
    }
    if (!thread.joinable()) {
        return;
    }
    try {
        if (thread.get_id() == boost::this_thread::get_id()) {
            // Called from the callback: the loop ends when the callback returns.
            std::lock_guard<std::mutex> lock(g_selfStopped.mutex);
            g_selfStopped.threads.push_back(std::move(thread));
            return;
        }
        thread.join();
    } catch (const std::exception&) {
        if (thread.joinable()) {
            thread.detach();
        }
    }
}

void CTimer::JoinSelfStopped(bool wait)
{
    std::vector<boost::thread> threads;
    {
        std::lock_guard<std::mutex> lock(g_selfStopped.mutex);
        threads.swap(g_selfStopped.threads);
    }
    std::vector<boost::thread> running;
    for (auto& thread : threads) {
        try {
            if (thread.get_id() == boost::this_thread::get_id()) {
                running.push_back(std::move(thread));
            } else if (wait) {
                thread.join();
            } else if (!thread.timed_join(boost::posix_time::milliseconds(0))) {
                running.push_back(std::move(thread));
            }
        } catch (const std::exception&) {
            if (thread.joinable()) {
                thread.detach();
            }
        }
    }
    if (!running.empty()) {
        std::lock_guard<std::mutex> lock(g_selfStopped.mutex);
        for (auto& thread : running) {
            try {
                g_selfStopped.threads.push_back(std::move(thread));
            } catch (const std::exception&) {
                thread.detach(); // out of memory: it ends by itself all the same
            }
        }
    }
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
