// Thread-safe initialisation of function-local statics (Microsoft's _Init_thread_* protocol, which the compiler
// emits): a guard above the thread's epoch is not known to be done; the header waits while another thread runs it.
#include <windows.h>

#include <climits>

extern "C" {
int _Init_global_epoch = INT_MIN;
__declspec(thread) int _Init_thread_epoch = INT_MIN;
}

namespace {
SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_done = CONDITION_VARIABLE_INIT;
constexpr int kUninitialized = 0;
constexpr int kBeingInitialized = -1;
}

extern "C" void __cdecl _Init_thread_header(int* const guard) noexcept
{
    AcquireSRWLockExclusive(&g_lock);
    if (*guard == kUninitialized) {
        *guard = kBeingInitialized; // this thread runs the initialiser
    } else {
        while (*guard == kBeingInitialized) {
            SleepConditionVariableSRW(&g_done, &g_lock, INFINITE, 0);
            if (*guard == kUninitialized) { // the other thread's initialiser threw: this one tries
                *guard = kBeingInitialized;
                ReleaseSRWLockExclusive(&g_lock);
                return;
            }
        }
        _Init_thread_epoch = _Init_global_epoch;
    }
    ReleaseSRWLockExclusive(&g_lock);
}

extern "C" void __cdecl _Init_thread_footer(int* const guard) noexcept
{
    AcquireSRWLockExclusive(&g_lock);
    ++_Init_global_epoch;
    *guard = _Init_global_epoch;
    _Init_thread_epoch = _Init_global_epoch;
    ReleaseSRWLockExclusive(&g_lock);
    WakeAllConditionVariable(&g_done);
}

extern "C" void __cdecl _Init_thread_abort(int* const guard) noexcept
{
    AcquireSRWLockExclusive(&g_lock);
    *guard = kUninitialized;
    ReleaseSRWLockExclusive(&g_lock);
    WakeAllConditionVariable(&g_done);
}
