// The TLS directory that thread_local variables and TLS callbacks need (Microsoft's tlssup and tlsdyn): the loader gives
// each thread a copy of the .tls section and calls the .CRT$XL? callbacks; thread_local objects with a constructor are
// built per thread from the .CRT$XD? list, and their destructors run when the thread ends.
#include <windows.h>

#include <stdlib.h>

typedef void(__cdecl* _PVFV)(void);

extern "C" {
ULONG _tls_index = 0;

#pragma section(".tls", long, read, write)
#pragma section(".tls$ZZZ", long, read, write)
#pragma section(".CRT$XLA", long, read)
#pragma section(".CRT$XLC", long, read)
#pragma section(".CRT$XLD", long, read)
#pragma section(".CRT$XLZ", long, read)
#pragma section(".CRT$XDA", long, read)
#pragma section(".CRT$XDZ", long, read)
#pragma section(".rdata$T", long, read)

__declspec(allocate(".tls")) char _tls_start = 0;
__declspec(allocate(".tls$ZZZ")) char _tls_end = 0;
__declspec(allocate(".CRT$XLA")) PIMAGE_TLS_CALLBACK __xl_a = nullptr;
__declspec(allocate(".CRT$XLZ")) PIMAGE_TLS_CALLBACK __xl_z = nullptr;
__declspec(allocate(".CRT$XDA")) _PVFV __xd_a = nullptr; // the compiler's per-thread initialisers lie between
__declspec(allocate(".CRT$XDZ")) _PVFV __xd_z = nullptr;

extern __declspec(allocate(".rdata$T")) const IMAGE_TLS_DIRECTORY64 _tls_used;
__declspec(allocate(".rdata$T")) const IMAGE_TLS_DIRECTORY64 _tls_used = {
    reinterpret_cast<ULONGLONG>(&_tls_start),
    reinterpret_cast<ULONGLONG>(&_tls_end),
    reinterpret_cast<ULONGLONG>(&_tls_index),
    reinterpret_cast<ULONGLONG>(&__xl_a + 1),
    0,
    0,
};

__declspec(thread) bool __tls_guard = false;
}

namespace {
// A thread's thread_local destructors, run in reverse order of registration.
struct DtorNode {
    DtorNode* next;
    _PVFV function;
};
__declspec(thread) DtorNode* t_dtors = nullptr;
}

extern "C" {
void NTAPI __dyn_tls_init(PVOID, DWORD reason, PVOID)
{
    if (reason != DLL_THREAD_ATTACH || __tls_guard) {
        return;
    }
    __tls_guard = true;
    for (_PVFV* p = &__xd_a + 1; p != &__xd_z; ++p) {
        if (*p != nullptr) {
            (**p)();
        }
    }
}

// For threads that existed before the module was loaded (its main thread too): the first use initialises.
void __cdecl __dyn_tls_on_demand_init(void) { __dyn_tls_init(nullptr, DLL_THREAD_ATTACH, nullptr); }

void __cdecl __tlregdtor(_PVFV function)
{
    auto* const node = static_cast<DtorNode*>(malloc(sizeof(DtorNode)));
    if (node == nullptr) {
        abort(); // as Microsoft's: a thread_local that cannot be destroyed is not left half made
    }
    node->next = t_dtors;
    node->function = function;
    t_dtors = node;
}

void NTAPI __dyn_tls_dtor(PVOID, DWORD reason, PVOID)
{
    if (reason != DLL_THREAD_DETACH && reason != DLL_PROCESS_DETACH) {
        return;
    }
    while (DtorNode* const node = t_dtors) {
        t_dtors = node->next;
        node->function();
        free(node);
    }
}

__declspec(allocate(".CRT$XLC")) PIMAGE_TLS_CALLBACK __xl_c = __dyn_tls_init;
__declspec(allocate(".CRT$XLD")) PIMAGE_TLS_CALLBACK __xl_d = __dyn_tls_dtor;
}
