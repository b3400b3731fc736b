#include "Marl/Base/Singleton.h"

#include "Marl/Base/ThreadManager.h"
#include "dam/InterfaceManager.h"
#include "dam/Operation.h"

namespace Marl { namespace Base {

template <class T>
T* CSingleton<T>::Instance()
{
    static T instance;
    return &instance;
}

// The only instances of the process: the plug-in reaches these through the library.
template class MARL_API CSingleton<CThreadManager>;
template class MARL_API CSingleton<dam::COperationManager>;
template class MARL_API CSingleton<dam::CIInterfaceManager>;

}} // namespace Marl::Base
