#pragma once
#include <chrono>
#include <functional>
#include <string>

namespace testsupport {

// Threads of this process (/proc/self/task; a Toolhelp snapshot on Windows).
int ThreadCount();
// Open file descriptors of this process (/proc/self/fd; its handle count on Windows).
int OpenDescriptorCount();
// Resident memory of this process in KiB (the working set on Windows).
long ResidentKiB();
// Whether this Windows program runs under Wine (ntdll exports wine_get_version there).
bool RunsUnderWine();

// Polls the condition every few milliseconds until it holds or the time-out passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

} // namespace testsupport
