// winnt.h: with clang in cl mode Wine's defines a static InterlockedCompareExchange128 under the name of clang's builtin
// _InterlockedCompareExchange128; it is renamed here, and the Windows name then means the builtin, as with Microsoft's headers.
#pragma once
#define _InterlockedCompareExchange128 __wine_InterlockedCompareExchange128
#include_next <winnt.h>
#undef _InterlockedCompareExchange128
#undef InterlockedCompareExchange128
#define InterlockedCompareExchange128 _InterlockedCompareExchange128
#if defined(__cplusplus) && defined(inline)
#undef inline
#endif
