// Declarations shared by the start-up files.
#pragma once
#include <vcruntime.h>
#include <corecrt_startup.h>
#include <stdlib.h>

extern "C" {
_ACRTIMP int* __cdecl __p___argc(void);
_ACRTIMP char*** __cdecl __p___argv(void);
_ACRTIMP int __cdecl _seh_filter_exe(unsigned long, struct _EXCEPTION_POINTERS*);
_ACRTIMP int __cdecl _seh_filter_dll(unsigned long, struct _EXCEPTION_POINTERS*);
_ACRTIMP void __cdecl _cexit(void);

extern _onexit_table_t* __iobox_module_atexit_table;
int __cdecl __iobox_run_initialisers(void);
void __cdecl __iobox_run_terminators(void);
}
