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

// printf-style checking of a host function's format and arguments, wherever the compiler has
// it: GCC and clang, clang in cl mode included (the Microsoft-ABI build checks the plug-in's
// formats as the Linux build does). Microsoft's compiler checks none.
#if defined(__GNUC__) || defined(__clang__)
#define MARL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MARL_PRINTF(fmt, args)
#endif
