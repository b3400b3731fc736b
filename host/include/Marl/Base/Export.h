#pragma once
// Everything the host framework declares is visible across shared objects, so that one
// copy of each singleton, type-info and v-table serves the host and every plug-in.
#if defined(_WIN32)
#if defined(MARL_BUILDING_FRAMEWORK)
#define MARL_API __declspec(dllexport)
#else
#define MARL_API __declspec(dllimport)
#endif
#else
#define MARL_API __attribute__((visibility("default")))
#endif

// printf-style checking of a host function's format and arguments. On MinGW the checking
// follows the printf the C runtime headers selected (MinGW's own, C99-conforming one when
// __USE_MINGW_ANSI_STDIO, else the system's), so %lld and friends are checked as they run.
#if defined(__MINGW32__)
#include <cstdio>
#define MARL_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__GNUC__)
#define MARL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MARL_PRINTF(fmt, args)
#endif
