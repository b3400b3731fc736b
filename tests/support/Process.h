#pragma once
#include <chrono>
#include <functional>
#include <string>

namespace testsupport {

// Threads of this process (entries of /proc/self/task).
int ThreadCount();
// Open file descriptors of this process (entries of /proc/self/fd).
int OpenDescriptorCount();
// Resident memory of this process in KiB.
long ResidentKiB();

// Polls the condition every few milliseconds until it holds or the time-out passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

} // namespace testsupport
