#pragma once
#include "Marl/Base/Export.h"

namespace Marl { namespace Base {
class CThreadManager;
}} // namespace Marl::Base

namespace dam {
class COperationManager;
class CIInterfaceManager;
} // namespace dam

namespace Marl { namespace Base {

// Process-wide instance of a host class. Defined and instantiated inside the host library
// only, so every shared object of the process reaches the same object.
template <class T>
class CSingleton {
public:
    static T* Instance(); // assumed: a pointer
};

// The instances the host library exports; every other module imports them and never makes
// its own (on Windows a module would otherwise get a copy of each static of its own).
#if !defined(MARL_BUILDING_FRAMEWORK)
extern template class MARL_API CSingleton<CThreadManager>;
extern template class MARL_API CSingleton<dam::COperationManager>;
extern template class MARL_API CSingleton<dam::CIInterfaceManager>;
#endif

}} // namespace Marl::Base
