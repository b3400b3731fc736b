#include "support/Process.h"

#include <dirent.h>

#include <fstream>
#include <thread>

namespace testsupport {

namespace {
int CountEntries(const char* path)
{
    DIR* dir = opendir(path);
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++n;
        }
    }
    closedir(dir);
    return n;
}
} // namespace

int ThreadCount() { return CountEntries("/proc/self/task"); }

// The directory stream itself holds one descriptor while counting.
int OpenDescriptorCount() { return CountEntries("/proc/self/fd") - 1; }

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        std::string rest;
        std::getline(status, rest);
    }
    return -1;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace testsupport
