#pragma once
// What differs between Windows and this machine, in one place. No operating-system header
// here: the plug-in's code includes this file only.
#include <cstdint>
#include <string>

#if defined(_WIN32)
#define IOBOX_EXPORT extern "C" __declspec(dllexport)
#else
#define IOBOX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace iobox { namespace platform {

// A socket as the system names it: a descriptor here, a 64-bit SOCKET on 64-bit Windows.
// Never narrowed: a Windows socket handle does not fit an int.
#if defined(_WIN32)
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif

// Windows' WSAEWOULDBLOCK: marks a connect attempt that has not finished.
constexpr int kConnectNotFinished = 10035;

// Monotonic milliseconds since an arbitrary start (GetTickCount64).
uint64_t TickCount64();

// The calling thread's operating-system error value (Windows' SetLastError / GetLastError).
void SetThreadErrorValue(unsigned long value);
unsigned long GetThreadErrorValue();

// Sets the send and receive time-outs (milliseconds) of a connected socket in the form the
// platform takes; false when the system refuses.
bool SetSocketTimeouts(SocketHandle socket, uint32_t sendTimeoutMs, uint32_t receiveTimeoutMs);

// Waits until the socket is readable, at most the given whole seconds (0: just test).
// Works for any descriptor number. True when readable (or at end of stream or in error, so
// that the following read reports the reason).
bool WaitReadable(SocketHandle socket, unsigned int seconds);

// Waits until the socket is readable (or writable), at most timeoutMs milliseconds
// (0: just test; negative: no limit). Same readiness rules and descriptor range as above.
bool WaitReadyMs(SocketHandle socket, bool forWrite, int timeoutMs);

// Shuts a connected socket down in both directions without closing it: a read or write
// blocked on it in another thread ends at once.
void ShutdownSocket(SocketHandle socket);

// Readable text of a type name that the run-time type information gives.
std::string DemangleTypeName(const char* name);

}} // namespace iobox::platform
