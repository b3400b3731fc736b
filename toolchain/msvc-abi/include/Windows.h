// Windows.h: the STL's sources name it with a capital W; Linux file names are case-sensitive.
#pragma once
#include <windows.h>
