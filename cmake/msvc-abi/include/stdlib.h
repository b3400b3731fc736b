// stdlib.h: Wine's lacks _set_abort_behavior; it declares atexit and _onexit as UCRT imports, which are the module's own static code in Microsoft's
// runtime (a DLL's atexit runs at its unload); it lacks quick_exit and at_quick_exit.
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
_ACRTIMP unsigned int __cdecl _set_abort_behavior(unsigned int _Flags, unsigned int _Mask);
_ACRTIMP int __cdecl _crt_at_quick_exit(void(__cdecl*)(void));
static __inline int __cdecl at_quick_exit(void(__cdecl* _Function)(void)) { return _crt_at_quick_exit(_Function); }
#ifdef __cplusplus
}
#endif
