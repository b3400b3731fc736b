// The static parts of Microsoft's C runtime that msvcrt.lib/vcruntime.lib give a module and Wine does not: initialiser
// tables, atexit, the /GS cookie, _fltused, __isa_available, __chkstk. Linked into every DLL and program of this build.
#include "crt_internal.h"

#include <intrin.h>
#include <isa_availability.h>
#include <stdlib.h>
#include <windows.h>

// The linker sorts the .CRT$X?? sections by name: a module's initialisers lie between the A and Z entries.
#pragma section(".CRT$XIA", long, read)
#pragma section(".CRT$XIZ", long, read)
#pragma section(".CRT$XCA", long, read)
#pragma section(".CRT$XCZ", long, read)
#pragma section(".CRT$XPA", long, read)
#pragma section(".CRT$XPZ", long, read)
#pragma section(".CRT$XTA", long, read)
#pragma section(".CRT$XTZ", long, read)

extern "C" {
__declspec(allocate(".CRT$XIA")) _PIFV __xi_a[] = {nullptr}; // C initialisers
__declspec(allocate(".CRT$XIZ")) _PIFV __xi_z[] = {nullptr};
__declspec(allocate(".CRT$XCA")) _PVFV __xc_a[] = {nullptr}; // C++ dynamic initialisers
__declspec(allocate(".CRT$XCZ")) _PVFV __xc_z[] = {nullptr};
__declspec(allocate(".CRT$XPA")) _PVFV __xp_a[] = {nullptr}; // pre-terminators
__declspec(allocate(".CRT$XPZ")) _PVFV __xp_z[] = {nullptr};
__declspec(allocate(".CRT$XTA")) _PVFV __xt_a[] = {nullptr}; // terminators
__declspec(allocate(".CRT$XTZ")) _PVFV __xt_z[] = {nullptr};

// Floating point in use: the UCRT's printf needs no special start-up, the symbol only has to exist.
int _fltused = 0x9875;

// The instruction-set level the STL's bit utilities (under <random>, for one) test before they use
// lzcnt or tzcnt. vcruntime's start-up raises it from cpuid; SSE2 is the x64 baseline, which every
// x64 processor has, so those utilities take their portable path.
int __isa_available = __ISA_AVAILABLE_SSE2;

// The /GS cookie: a fixed value until the entry point mixes in the process's own randomness.
uintptr_t __security_cookie = 0x00002B992DDFA232ULL;
uintptr_t __security_cookie_complement = ~0x00002B992DDFA232ULL;

void __cdecl __security_init_cookie(void)
{
    if (__security_cookie != 0x00002B992DDFA232ULL) {
        return;
    }
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    uintptr_t cookie = (static_cast<uintptr_t>(time.dwHighDateTime) << 32) ^ time.dwLowDateTime;
    cookie ^= static_cast<uintptr_t>(GetCurrentThreadId());
    cookie ^= static_cast<uintptr_t>(GetCurrentProcessId());
    cookie ^= (static_cast<uintptr_t>(counter.QuadPart) << 32) ^ static_cast<uintptr_t>(counter.QuadPart);
    cookie ^= reinterpret_cast<uintptr_t>(&cookie);
    cookie &= 0x0000FFFFFFFFFFFFULL; // as Microsoft's: the top 16 bits stay clear
    if (cookie == 0x00002B992DDFA232ULL || cookie == 0) {
        cookie = 0x00002B992DDFA233ULL;
    }
    __security_cookie = cookie;
    __security_cookie_complement = ~cookie;
}

void __cdecl __security_check_cookie(uintptr_t cookie)
{
    if (cookie != __security_cookie) {
        __fastfail(2); // FAST_FAIL_STACK_COOKIE_CHECK_FAILURE
    }
}

// atexit in a program goes to the UCRT's process-wide table (run by exit); in a DLL to the module's own table,
// run when the DLL is unloaded (crt_dll.cpp sets it up).
_onexit_table_t* __iobox_module_atexit_table = nullptr;

_onexit_t __cdecl _onexit(_onexit_t function)
{
    if (__iobox_module_atexit_table != nullptr) {
        return _register_onexit_function(__iobox_module_atexit_table, function) == 0 ? function : nullptr;
    }
    return _crt_atexit(reinterpret_cast<_PVFV>(function)) == 0 ? function : nullptr;
}

int __cdecl atexit(_PVFV function)
{
    return _onexit(reinterpret_cast<_onexit_t>(function)) != nullptr ? 0 : -1;
}

int __cdecl __iobox_run_initialisers(void)
{
    for (_PIFV* p = __xi_a; p < __xi_z; ++p) {
        if (*p != nullptr) {
            if (const int result = (**p)(); result != 0) {
                return result;
            }
        }
    }
    for (_PVFV* p = __xc_a; p < __xc_z; ++p) {
        if (*p != nullptr) {
            (**p)();
        }
    }
    return 0;
}

void __cdecl __iobox_run_terminators(void)
{
    for (_PVFV* p = __xp_a; p < __xp_z; ++p) {
        if (*p != nullptr) {
            (**p)();
        }
    }
    for (_PVFV* p = __xt_a; p < __xt_z; ++p) {
        if (*p != nullptr) {
            (**p)();
        }
    }
}
} // extern "C"

// Stack probe for frames larger than a page: touches each page from the stack pointer down to rsp - rax,
// changing no register (Microsoft's contract; r10 and r11 may be used).
__asm__(".text\n"
        ".globl __chkstk\n"
        ".def __chkstk; .scl 2; .type 32; .endef\n"
        "__chkstk:\n"
        "    pushq %rcx\n"
        "    pushq %rax\n"
        "    cmpq $0x1000, %rax\n"
        "    leaq 24(%rsp), %rcx\n"
        "    jb 2f\n"
        "1:\n"
        "    subq $0x1000, %rcx\n"
        "    testq %rcx, (%rcx)\n"
        "    subq $0x1000, %rax\n"
        "    cmpq $0x1000, %rax\n"
        "    ja 1b\n"
        "2:\n"
        "    subq %rax, %rcx\n"
        "    testq %rcx, (%rcx)\n"
        "    popq %rax\n"
        "    popq %rcx\n"
        "    retq\n");
