#pragma once
// Runs one callback periodically on a thread of its own. The period is a pause between runs:
// the next pause starts only when the callback has returned.
#include <boost/thread/thread.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "Common/Timing.h"

namespace iobox {

class CTimer {
public:
    explicit CTimer(std::function<void()> callback);
    // Stops the thread if the owner did not. Safe on the timer's own thread as well (the
    // thread then ends once the callback returns; see Stop).
    virtual ~CTimer();
    CTimer(const CTimer&) = delete;
    CTimer& operator=(const CTimer&) = delete;

    // Starts the thread; a period of 0 or 0xFFFFFFFF ms starts nothing. runFirst runs the
    // callback once at once. Called once per timer.
    void Start(uint32_t periodMs, bool runFirst);
    // Ends a pause at once, lets a running callback finish and joins the thread, waiting at
    // most deadlineMs; false when the thread was still running then (reported, and handed on
    // to JoinSelfStopped). From within the callback the thread cannot join itself: it ends
    // once the callback returns, and is handed on as well.
    bool Stop(uint32_t deadlineMs = kThreadEndDeadlineMs);
    // Stop in two steps, so that many timers share one deadline: RequestStop ends a pause at
    // once and lets nothing run after the callback in progress; Join then joins as Stop does,
    // without a line of its own when the deadline passes (the caller reports).
    void RequestStop();
    bool Join(uint32_t deadlineMs);

    // Joins the threads handed on by Stop and Join (but the caller's own): with a deadline of 0
    // those that have ended, else all of them within deadlineMs in all, so that no thread still
    // runs the plug-in's code when Unit returns. Returns how many were still running (they stay
    // handed on); the caller reports them.
    static std::size_t JoinSelfStopped(uint32_t deadlineMs);

private:
    // What the thread uses. Shared with it, so that the thread can outlive a timer that is
    // destroyed from inside its own callback.
    struct State;
    static void Run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
    std::mutex m_threadMutex; // guards m_thread between Start and concurrent Stops
    boost::thread m_thread;
};

} // namespace iobox
