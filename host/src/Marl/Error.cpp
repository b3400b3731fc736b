#include "Marl/Base/Error.h"

namespace Marl { namespace Base { namespace Error {

namespace {
thread_local ErrorCode t_lastError;
}

void SetLastError(const ErrorCode& error) { t_lastError = error; }
ErrorCode GetLastError() { return t_lastError; }

}}} // namespace Marl::Base::Error
