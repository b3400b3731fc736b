// The host's framework with one signature changed, for iobox-check's test: the exported
// CreateGuid takes an argument here, so the plug-in's import of CreateGuid() is missing and this
// is its near miss. CreateGuid() stays for the framework's own callers, not exported.
#include "Marl/Base/Export.h"

#include <string>

namespace Marl { namespace Base { namespace GuidUtil {

MARL_API std::string CreateGuid(int version)
{
    return "00000000-0000-" + std::to_string(version) + "000-8000-000000000000";
}

std::string CreateGuid()
{
    return CreateGuid(4);
}

}}} // namespace Marl::Base::GuidUtil
