#pragma once
#include "Marl/Base/Export.h"

namespace Marl { namespace Base {

// assumed: protected, inline construction and destruction.
class MARL_API CNoncopyable {
protected:
    CNoncopyable() = default;
    ~CNoncopyable() = default;

public:
    CNoncopyable(const CNoncopyable&) = delete;
    CNoncopyable& operator=(const CNoncopyable&) = delete;
};

}} // namespace Marl::Base
