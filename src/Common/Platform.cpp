#include "Common/Platform.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
#else
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#endif

#if defined(__GNUC__)
#include <cxxabi.h>
#endif

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <type_traits>

namespace iobox { namespace platform {

namespace {

// Milliseconds left until the deadline, rounded up so that a wait is never shorter than
// asked; -1 without a limit.
int MsLeft(bool unlimited, std::chrono::steady_clock::time_point deadline)
{
    if (unlimited) {
        return -1;
    }
    const auto now = std::chrono::steady_clock::now();
    return deadline > now ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()) : 0;
}

#if !defined(_WIN32)
thread_local unsigned long t_threadError = 0;

timeval ToTimeval(uint32_t ms)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}
#endif

} // namespace

#if defined(_WIN32)

static_assert(std::is_same<SocketHandle, SOCKET>::value, "SocketHandle must be the system's SOCKET");

uint64_t TickCount64() { return static_cast<uint64_t>(::GetTickCount64()); }

void SetThreadErrorValue(unsigned long value) { ::SetLastError(static_cast<DWORD>(value)); }
unsigned long GetThreadErrorValue() { return static_cast<unsigned long>(::GetLastError()); }

bool SetSocketTimeouts(SocketHandle socket, uint32_t sendTimeoutMs, uint32_t receiveTimeoutMs)
{
    // Windows takes a 4-byte millisecond count.
    const DWORD send = sendTimeoutMs;
    const DWORD receive = receiveTimeoutMs;
    const bool sendOk = ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send),
                                     static_cast<int>(sizeof send)) == 0;
    const bool receiveOk = ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive),
                                        static_cast<int>(sizeof receive)) == 0;
    return sendOk && receiveOk;
}

bool WaitReadyMs(SocketHandle socket, bool forWrite, int timeoutMs)
{
    // Windows' select takes socket handles of any value (its sets are lists, not bit masks);
    // a failed connect shows in the exception set, so that one counts as ready too.
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    const int left = MsLeft(timeoutMs < 0, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
    timeval tv{};
    tv.tv_sec = left / 1000;
    tv.tv_usec = (left % 1000) * 1000;
    const int n = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, left < 0 ? nullptr : &tv);
    return n > 0;
}

#else

uint64_t TickCount64()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetThreadErrorValue(unsigned long value) { t_threadError = value; }
unsigned long GetThreadErrorValue() { return t_threadError; }

bool SetSocketTimeouts(SocketHandle socket, uint32_t sendTimeoutMs, uint32_t receiveTimeoutMs)
{
    // POSIX takes a timeval.
    const timeval send = ToTimeval(sendTimeoutMs);
    const timeval receive = ToTimeval(receiveTimeoutMs);
    const bool sendOk = setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send) == 0;
    const bool receiveOk = setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive) == 0;
    return sendOk && receiveOk;
}

bool WaitReadyMs(SocketHandle socket, bool forWrite, int timeoutMs)
{
    // poll, not select: select cannot watch descriptors numbered 1024 and above.
    pollfd p{};
    p.fd = socket;
    p.events = forWrite ? POLLOUT : POLLIN;
    const bool unlimited = timeoutMs < 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
    for (;;) {
        const int n = ::poll(&p, 1, MsLeft(unlimited, deadline));
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

#endif

bool WaitReadable(SocketHandle socket, unsigned int seconds)
{
    const uint64_t ms = static_cast<uint64_t>(seconds) * 1000U;
    return WaitReadyMs(socket, false, ms > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms));
}

void ShutdownSocket(SocketHandle socket)
{
#if defined(_WIN32)
    ::shutdown(socket, SD_BOTH);
#else
    ::shutdown(socket, SHUT_RDWR);
#endif
}

std::string DemangleTypeName(const char* name)
{
#if defined(__GNUC__)
    // GCC and Clang in the Itanium ABI give the mangled name.
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> readable(abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
    return status == 0 && readable ? std::string(readable.get()) : std::string(name);
#else
    // Microsoft's runtime (clang in cl mode too) gives readable names, "class " or "struct " first.
    std::string text(name);
    for (const char* prefix : {"class ", "struct "}) {
        const std::string p(prefix);
        if (text.compare(0, p.size(), p) == 0) {
            return text.substr(p.size());
        }
    }
    return text;
#endif
}

}} // namespace iobox::platform
