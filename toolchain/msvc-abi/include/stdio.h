// stdio.h: Wine's lacks the C99 vfscanf, vscanf and vsscanf that <cstdio> names (inline over the UCRT's common scanf, as there) and
// _get_stream_buffer_pointers, which std::basic_filebuf uses.
#pragma once
#include_next <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif
_ACRTIMP errno_t __cdecl _get_stream_buffer_pointers(FILE* _Stream, char*** _Base, char*** _Pointer, int** _Count);
static __inline int __cdecl vfscanf(FILE* _F, const char* _Format, va_list _Args)
{
    return __stdio_common_vfscanf(_CRT_INTERNAL_LOCAL_SCANF_OPTIONS, _F, _Format, NULL, _Args);
}
static __inline int __cdecl vscanf(const char* _Format, va_list _Args) { return vfscanf(stdin, _Format, _Args); }
static __inline int __cdecl vsscanf(const char* _Buffer, const char* _Format, va_list _Args)
{
    return __stdio_common_vsscanf(_CRT_INTERNAL_LOCAL_SCANF_OPTIONS, _Buffer, (size_t)-1, _Format, NULL, _Args);
}
#ifdef __cplusplus
}
#endif
