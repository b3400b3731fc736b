#pragma once
// What differs between Windows and this machine, in one place.
#include <cstdint>
#include <string>

#if defined(_WIN32)
#define IOBOX_EXPORT extern "C" __declspec(dllexport)
#else
#define IOBOX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace iobox { namespace platform {

// Windows' WSAEWOULDBLOCK: marks a connect attempt that has not finished.
constexpr int kConnectNotFinished = 10035;

// Monotonic milliseconds since an arbitrary start (GetTickCount64).
uint64_t TickCount64();

// The calling thread's operating-system error value (Windows' SetLastError / GetLastError).
void SetThreadErrorValue(unsigned long value);
unsigned long GetThreadErrorValue();

// Sets the send and receive time-outs (milliseconds) of a connected socket in the form the
// platform takes; false when the system refuses.
bool SetSocketTimeouts(int fd, uint32_t sendTimeoutMs, uint32_t receiveTimeoutMs);

// Waits until the descriptor is readable, at most the given whole seconds (0: just test).
// Works for any descriptor number. True when readable (or at end of stream or in error, so
// that the following read reports the reason).
bool WaitReadable(int fd, unsigned int seconds);

// Waits until the descriptor is readable (or writable), at most timeoutMs milliseconds
// (0: just test; negative: no limit). Same readiness rules and descriptor range as above.
bool WaitReadyMs(int fd, bool forWrite, int timeoutMs);

// Shuts a connected socket down in both directions without closing it: a read or write
// blocked on it in another thread ends at once.
void ShutdownSocket(int fd);

// Readable text of a type name that the run-time type information gives.
std::string DemangleTypeName(const char* name);

}} // namespace iobox::platform
