// eh.h: Wine's declares terminate() with C++ linkage; the UCRT exports it (and set_terminate) as C names.
#pragma once
#include <vcruntime.h>

#ifndef __cplusplus
#error "eh.h is meant only for C++"
#endif

#pragma pack(push, 8)

struct _EXCEPTION_POINTERS;

typedef void(__cdecl* terminate_handler)(void);
typedef void(__cdecl* terminate_function)(void);
typedef void(__cdecl* unexpected_handler)(void);
typedef void(__cdecl* unexpected_function)(void);
typedef void(__cdecl* _se_translator_function)(unsigned int, struct _EXCEPTION_POINTERS*);

extern "C" {
_ACRTIMP __declspec(noreturn) void __cdecl abort(void);
_ACRTIMP __declspec(noreturn) void __cdecl terminate(void) throw();
_ACRTIMP terminate_handler __cdecl set_terminate(terminate_handler) throw();
_ACRTIMP terminate_handler __cdecl _get_terminate(void);
_VCRTIMP __declspec(noreturn) void __cdecl unexpected(void);
_VCRTIMP unexpected_handler __cdecl set_unexpected(unexpected_handler) throw();
_VCRTIMP unexpected_handler __cdecl _get_unexpected(void);
_VCRTIMP _se_translator_function __cdecl _set_se_translator(_se_translator_function);
_VCRTIMP bool __cdecl __uncaught_exception(void);
_VCRTIMP int __cdecl __uncaught_exceptions(void);
}

#pragma pack(pop)
