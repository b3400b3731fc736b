#include "quovix/QuovixSdk.h"

namespace {
thread_local int t_lastError = 0;
}

extern "C" int Quovix_GetLastError(void) { return t_lastError; }
extern "C" void Quovix_SetLastError(int error) { t_lastError = error; }
