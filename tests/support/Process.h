#pragma once
#include <chrono>
#include <functional>
#include <string>

namespace testsupport {

// Threads of this process (/proc/self/task; a Toolhelp snapshot on Windows).
int ThreadCount();
// The thread count once it has reached the expected one, or after a second without. A joined
// thread can still be listed for a moment: Linux wakes the joiner before the task is reaped.
int ThreadCountSettledAt(int expected);
// The thread count once the run-time's helper threads (ThreadSanitizer starts one with the
// first thread) exist: one thread is started, joined and waited for until it is unlisted.
int BaselineThreadCount();
// Open file descriptors of this process (/proc/self/fd; its handle count on Windows).
int OpenDescriptorCount();
// Resident memory of this process in KiB (the working set on Windows).
long ResidentKiB();
// Whether this Windows program runs under Wine (ntdll exports wine_get_version there).
bool RunsUnderWine();

// Polls the condition every few milliseconds until it holds or the time-out passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

} // namespace testsupport
