// winbase.h: Wine's exports GetProcessHandleCount from kernel32 but does not declare it.
#pragma once
#include_next <winbase.h>
#ifdef __cplusplus
extern "C" {
#endif
WINBASEAPI BOOL WINAPI GetProcessHandleCount(HANDLE hProcess, PDWORD pdwHandleCount);
#ifdef __cplusplus
}
#endif
