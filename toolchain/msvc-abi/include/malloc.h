// malloc.h: Wine's lacks the UCRT's _malloca/_freea (OpenSSL uses them); here _malloca always takes the heap, marked as the UCRT marks it.
#pragma once
#include_next <malloc.h>

#ifndef _malloca
#define _ALLOCA_S_HEAP_MARKER 0xDDDD
#define _ALLOCA_S_MARKER_SIZE 16
#ifdef __cplusplus
extern "C" {
#endif
static __inline void* __cdecl _iobox_malloca(size_t _Size)
{
    char* const _Block = (char*)malloc(_Size + _ALLOCA_S_MARKER_SIZE);
    if (_Block == NULL) return NULL;
    *(unsigned int*)_Block = _ALLOCA_S_HEAP_MARKER;
    return _Block + _ALLOCA_S_MARKER_SIZE;
}
static __inline void __cdecl _freea(void* _Memory)
{
    if (_Memory != NULL) {
        char* const _Block = (char*)_Memory - _ALLOCA_S_MARKER_SIZE;
        if (*(unsigned int*)_Block == _ALLOCA_S_HEAP_MARKER) free(_Block);
    }
}
#ifdef __cplusplus
}
#endif
#define _malloca(size) _iobox_malloca(size)
#endif
