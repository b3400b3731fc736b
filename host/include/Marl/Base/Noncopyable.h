#pragma once
#include "Marl/Base/Export.h"

namespace Marl { namespace Base {

class MARL_API CNoncopyable {
protected:
    CNoncopyable() = default;
    ~CNoncopyable() = default;

public:
    CNoncopyable(const CNoncopyable&) = delete;
    CNoncopyable& operator=(const CNoncopyable&) = delete;
};

}} // namespace Marl::Base
