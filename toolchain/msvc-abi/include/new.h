// new.h ships with Visual Studio: the new handler that <new> wraps (_set_new_handler, _callnewh are the UCRT's).
#pragma once
#include <vcruntime_new.h>

#ifdef __cplusplus
extern "C" {
typedef int(__cdecl* _PNH)(size_t);
_ACRTIMP _PNH __cdecl _query_new_handler(void);
_ACRTIMP _PNH __cdecl _set_new_handler(_PNH _NewHandler);
}
extern "C" _ACRTIMP int __cdecl _callnewh(size_t _Size);
extern "C" _ACRTIMP int __cdecl _query_new_mode(void);
extern "C" _ACRTIMP int __cdecl _set_new_mode(int _NewMode);
#endif
