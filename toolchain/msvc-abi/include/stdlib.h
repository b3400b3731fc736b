// stdlib.h: Wine's lacks _set_abort_behavior and _dupenv_s; it declares atexit and _onexit as UCRT imports, which are the module's own static code in Microsoft's
// runtime (a DLL's atexit runs at its unload); it lacks quick_exit, at_quick_exit and the C++ overloads of abs and div.
#pragma once
#define atexit __wine_declared_atexit
#define _onexit __wine_declared_onexit
#include_next <stdlib.h>
#include <errno.h> // the UCRT's stdlib.h has the errno values, which <string> uses
#undef atexit
#undef _onexit

#ifdef __cplusplus
extern "C" {
#endif
int __cdecl atexit(void(__cdecl*)(void));
_onexit_t __cdecl _onexit(_onexit_t);
_ACRTIMP __declspec(noreturn) void __cdecl quick_exit(int);
_ACRTIMP errno_t __cdecl _dupenv_s(char** _Buffer, size_t* _BufferCount, const char* _VarName);
_ACRTIMP unsigned int __cdecl _set_abort_behavior(unsigned int _Flags, unsigned int _Mask);
_ACRTIMP int __cdecl _crt_at_quick_exit(void(__cdecl*)(void));
static __inline int __cdecl at_quick_exit(void(__cdecl* _Function)(void)) { return _crt_at_quick_exit(_Function); }
#ifdef __cplusplus
}
// The UCRT's C++ overloads, which <cstdlib> brings into std.
extern "C++" {
inline long __cdecl abs(long const _X) noexcept { return labs(_X); }
inline long long __cdecl abs(long long const _X) noexcept { return llabs(_X); }
inline ldiv_t __cdecl div(long const _A1, long const _A2) noexcept { return ldiv(_A1, _A2); }
inline lldiv_t __cdecl div(long long const _A1, long long const _A2) noexcept { return lldiv(_A1, _A2); }
}
#endif
