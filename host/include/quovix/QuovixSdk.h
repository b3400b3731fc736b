#pragma once
// The device maker's network SDK; the plug-in only reads its last error.
#if defined(_WIN32)
#if defined(QUOVIX_BUILDING_SDK)
#define QUOVIX_API __declspec(dllexport)
#else
#define QUOVIX_API __declspec(dllimport)
#endif
#else
#define QUOVIX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

QUOVIX_API int Quovix_GetLastError(void);
// Stand-in only: the value the next Quovix_GetLastError of this thread returns.
QUOVIX_API void Quovix_SetLastError(int error);

#ifdef __cplusplus
}
#endif
