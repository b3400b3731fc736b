#pragma once
// The device maker's network SDK; the plug-in only reads its last error.
#ifdef __cplusplus
extern "C" {
#endif

__attribute__((visibility("default"))) int Quovix_GetLastError(void);
// Stand-in only: the value the next Quovix_GetLastError of this thread returns.
__attribute__((visibility("default"))) void Quovix_SetLastError(int error);

#ifdef __cplusplus
}
#endif
