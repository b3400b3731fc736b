#pragma once
#include "Marl/Base/Export.h"

namespace Marl { namespace Base {

// Process-wide instance of a host class. Defined and instantiated inside the host library
// only, so every shared object of the process reaches the same object.
template <class T>
class MARL_API CSingleton {
public:
    static T* Instance();
};

}} // namespace Marl::Base
