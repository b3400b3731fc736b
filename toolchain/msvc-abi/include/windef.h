// windef.h: Wine's defines the keyword inline as __inline whenever _MSC_VER is set, C++ too; the STL refuses a macroized keyword.
#pragma once
#include_next <windef.h>
#if defined(__cplusplus) && defined(inline)
#undef inline
#endif
