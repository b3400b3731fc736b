#include "Common/Platform.h"

#include <cxxabi.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <memory>

namespace iobox { namespace platform {

namespace {
thread_local unsigned long t_threadError = 0;

timeval ToTimeval(uint32_t ms)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}
} // namespace

uint64_t TickCount64()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetThreadErrorValue(unsigned long value) { t_threadError = value; }
unsigned long GetThreadErrorValue() { return t_threadError; }

bool SetSocketTimeouts(int fd, uint32_t sendTimeoutMs, uint32_t receiveTimeoutMs)
{
    // Windows takes a 4-byte millisecond count; POSIX takes a timeval.
    const timeval send = ToTimeval(sendTimeoutMs);
    const timeval receive = ToTimeval(receiveTimeoutMs);
    const bool sendOk = setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send) == 0;
    const bool receiveOk = setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive) == 0;
    return sendOk && receiveOk;
}

bool WaitReadable(int fd, unsigned int seconds)
{
    const uint64_t ms = static_cast<uint64_t>(seconds) * 1000U;
    return WaitReadyMs(fd, false, ms > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms));
}

bool WaitReadyMs(int fd, bool forWrite, int timeoutMs)
{
    // poll, not select: select cannot watch descriptors numbered 1024 and above.
    pollfd p{};
    p.fd = fd;
    p.events = forWrite ? POLLOUT : POLLIN;
    const bool unlimited = timeoutMs < 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
    for (;;) {
        int timeout = -1;
        if (!unlimited) {
            // Rounded up, so that the wait is never shorter than asked.
            const auto now = std::chrono::steady_clock::now();
            timeout = deadline > now ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()) : 0;
        }
        const int n = ::poll(&p, 1, timeout);
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

void ShutdownSocket(int fd) { ::shutdown(fd, SHUT_RDWR); }

std::string DemangleTypeName(const char* name)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> readable(abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
    return status == 0 && readable ? std::string(readable.get()) : std::string(name);
}

}} // namespace iobox::platform
