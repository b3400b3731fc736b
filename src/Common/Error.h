#pragma once
// The plug-in's reasons for the host: every code is recorded under the plug-in's error module.
#include "Common/Constants.h"
#include "Marl/Base/Error.h"

namespace iobox {

inline void SetError(int code) { Marl::Base::Error::SetLastError(Marl::Base::Error::ErrorCode(kErrorModule, code)); }

} // namespace iobox
