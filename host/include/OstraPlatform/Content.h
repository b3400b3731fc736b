#pragma once
#include "Marl/Base/Export.h"

namespace OstraPlatform {

// Bytes a plug-in hands the platform (an event message, for one).
class MARL_API CBaseContent {
public:
    virtual ~CBaseContent();
    virtual bool GetContent(char** data, unsigned int* length) = 0;
    virtual bool IsValid(); // assumed: the name
};

} // namespace OstraPlatform
