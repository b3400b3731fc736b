// time.h: Wine's lacks the UCRT's timespec, _timespec64 (the STL's condition variables and sleeps pass deadlines in it) timespec_get, and the inline localtime_s, gmtime_s, _mkgmtime of the UCRT.
#pragma once
#include_next <time.h>

#ifndef _CRT_TIMESPEC_DEFINED
#define _CRT_TIMESPEC_DEFINED
struct _timespec32 {
    __time32_t tv_sec;
    long tv_nsec;
};
struct _timespec64 {
    __time64_t tv_sec;
    long tv_nsec;
};
#endif

#ifndef _TIMESPEC_DEFINED
#define _TIMESPEC_DEFINED
struct timespec {
    time_t tv_sec;
    long tv_nsec;
};
#endif
#ifndef TIME_UTC
#define TIME_UTC 1
#endif

#ifdef __cplusplus
extern "C" {
#endif
_ACRTIMP int __cdecl _timespec64_get(struct _timespec64* _Ts, int _Base);
_ACRTIMP errno_t __cdecl _gmtime64_s(struct tm* _Tm, const __time64_t* _Time);
_ACRTIMP __time64_t __cdecl _mkgmtime64(struct tm* _Tm);
static __inline errno_t __cdecl localtime_s(struct tm* _Tm, const time_t* _Time) { return _localtime64_s(_Tm, _Time); }
static __inline errno_t __cdecl gmtime_s(struct tm* _Tm, const time_t* _Time) { return _gmtime64_s(_Tm, _Time); }
static __inline time_t __cdecl _mkgmtime(struct tm* _Tm) { return _mkgmtime64(_Tm); }
static __inline int __cdecl timespec_get(struct timespec* _Ts, int _Base)
{
    return _timespec64_get((struct _timespec64*)_Ts, _Base);
}
#ifdef __cplusplus
}
#endif
