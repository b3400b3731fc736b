#pragma once
#include <string>

#include "Marl/Base/Export.h"

namespace Marl { namespace Base { namespace GuidUtil {

// A new random GUID, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx" in upper-case hexadecimal.
MARL_API std::string CreateGuid();

}}} // namespace Marl::Base::GuidUtil
