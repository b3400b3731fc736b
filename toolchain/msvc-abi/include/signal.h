// signal.h: Wine's lacks the UCRT's sig_atomic_t.
#pragma once
#include_next <signal.h>
#ifndef _SIG_ATOMIC_T_DEFINED
#define _SIG_ATOMIC_T_DEFINED
typedef int sig_atomic_t;
#endif
