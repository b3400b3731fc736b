// sal.h: Wine's lacks a few source annotations that the STL writes; like all of them they expand to nothing for a compiler.
#pragma once
#include_next <sal.h>

#ifndef _Analysis_assume_
#define _Analysis_assume_(expr)
#endif
#ifndef _Guarded_by_
#define _Guarded_by_(lock)
#endif
#ifndef _Inout_bytecount_
#define _Inout_bytecount_(size)
#endif
#ifndef _Pre_satisfies_
#define _Pre_satisfies_(cond)
#endif
#ifndef _Check_return_opt_
#define _Check_return_opt_
#endif
