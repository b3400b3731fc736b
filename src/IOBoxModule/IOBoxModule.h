#pragma once
#include <cstdint>

#include "Common/Platform.h"
#include "Common/UnInitFunManager.h"
#include "dam/DriverInterface.h"

// The five entry points the host resolves by name.
IOBOX_EXPORT bool Init(dam::IDriverInterfaceOperate* operate);
IOBOX_EXPORT bool SetProductVersion(void* product, uint32_t version);
IOBOX_EXPORT bool Start();
IOBOX_EXPORT bool Stop();
IOBOX_EXPORT bool Unit();

namespace iobox {

// Name under which the operation interface is registered.
extern const char* const g_OperationManagerName;

// The module's shutdown registry (tests inspect it).
CUnInitFunManager& ModuleUnInitRegistry();

} // namespace iobox
