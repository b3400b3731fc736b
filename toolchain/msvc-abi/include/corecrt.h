// corecrt.h: over Wine's, the UCRT's _Mbstatet and the import macro of the C++ runtime, which every UCRT header has from here.
#pragma once
#include_next <corecrt.h>

#ifndef _MRTIMP2
#define _MRTIMP2 __declspec(dllimport)
#endif
#ifndef _CRTIMP2
#define _CRTIMP2 __declspec(dllimport)
#endif

// The STL's satellite DLLs: msvcp140_1 (memory resources), msvcp140_2 (special math).
#ifndef _CRT_SATELLITE_1
#define _CRT_SATELLITE_1 __declspec(dllimport)
#endif
#ifndef _CRT_SATELLITE_2
#define _CRT_SATELLITE_2 __declspec(dllimport)
#endif

// The codecvt facet ids of msvcp140_codecvt_ids (not in Wine; the project uses no char16_t/char32_t codecvt).
#ifndef _CRT_SATELLITE_CODECVT_IDS
#define _CRT_SATELLITE_CODECVT_IDS __declspec(dllimport)
#endif
#ifndef _CRT_SATELLITE_CODECVT_IDS_NOIMPORT
#define _CRT_SATELLITE_CODECVT_IDS_NOIMPORT
#endif

#ifndef _MBSTATET_DEFINED
#define _MBSTATET_DEFINED
typedef struct _Mbstatet {
    unsigned long _Wchar;
    unsigned short _Byte;
    unsigned short _State;
} _Mbstatet;
#endif

#ifdef __cplusplus
extern "C" {
#endif
_ACRTIMP __declspec(noreturn) void __cdecl _invalid_parameter_noinfo_noreturn(void);
_ACRTIMP void __cdecl _invalid_parameter_noinfo(void);
#ifdef __cplusplus
}
#endif
#ifndef _CRT_SECURE_INVALID_PARAMETER
#define _CRT_SECURE_INVALID_PARAMETER(expr) _invalid_parameter_noinfo_noreturn()
#endif
