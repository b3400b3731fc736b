// corecrt_terminate.h: the UCRT's header of terminate and set_terminate, which the project's eh.h declares.
#pragma once
#include <eh.h>
