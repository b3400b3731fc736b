#pragma once
#include <memory>

#include "Marl/Base/Export.h"
#include "dam/LoginParam.h"

namespace dam {

class MARL_API IExtendLoginParamFactory {
public:
    virtual std::shared_ptr<CBaseLoginParam> CreateLoginParam(unsigned int category, unsigned int protocol) = 0;
    virtual ~IExtendLoginParamFactory(); // assumed
};

// The host's login-parameter creation: asks every registered factory in turn.
class MARL_API LoginParamCreation {
public:
    static bool RegisterExtendLoginParamFactory(std::shared_ptr<IExtendLoginParamFactory> factory);
    // The first non-empty answer of the registered factories; empty when none serves the pair.
    static std::shared_ptr<CBaseLoginParam> CreateLoginParam(unsigned int category, unsigned int protocol); // assumed: unsigned

    // Host side.
    static void SetRefuseRegistration(bool refuse);
    static std::size_t FactoryCount();
    static void Clear();
};

} // namespace dam
