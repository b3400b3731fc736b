#pragma once
#include "Marl/Base/Export.h"

namespace Marl { namespace Base { namespace Error {

// A (module, code) pair the host shows its operators. The host gives the two-number constructor;
// the rest of the class is assumed (the plug-in reads the two values in src/Common/Error.h only).
class MARL_API ErrorCode {
public:
    ErrorCode() = default;
    ErrorCode(int module, int code) : m_module(module), m_code(code) {}
    int GetModule() const { return m_module; } // assumed
    int GetCode() const { return m_code; }     // assumed
    bool operator==(const ErrorCode& o) const { return m_module == o.m_module && m_code == o.m_code; }
    bool operator!=(const ErrorCode& o) const { return !(*this == o); }

private:
    int m_module = 0;
    int m_code = 0;
};

// The last error of the calling thread.
MARL_API void SetLastError(const ErrorCode& error); // assumed: the void result
MARL_API ErrorCode GetLastError();                  // assumed: by value

}}} // namespace Marl::Base::Error
