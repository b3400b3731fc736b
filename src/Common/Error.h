#pragma once
// The plug-in's reasons for the host: every code is recorded under the plug-in's error module.
#include "Common/Constants.h"
#include "Marl/Base/Error.h"

namespace iobox {

inline void SetError(int code) { Marl::Base::Error::SetLastError(Marl::Base::Error::ErrorCode(kErrorModule, code)); }

// An ErrorCode's module and code are read only here: the host names the two values, not its
// accessors, so a different name in its SDK is one edit.
inline int ErrorModuleOf(const Marl::Base::Error::ErrorCode& error) { return error.GetModule(); }
inline int ErrorCodeOf(const Marl::Base::Error::ErrorCode& error) { return error.GetCode(); }

} // namespace iobox
