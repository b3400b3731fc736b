#pragma once
#include <string>

#include "Marl/Base/Export.h"

namespace Marl { namespace Base {

// assumed: the namespace, the enumerators' names and the underlying type; the host gives the
// type's name and the value 65001 (the UTF-8 code page).
enum STR_TYPE : int {
    STR_TYPE_BYTES = 0,
    STR_TYPE_UTF8 = 65001, // the UTF-8 code page: length counts characters
};

namespace StringUtil {

MARL_API std::string str_fmt(const char* format, ...) MARL_PRINTF(1, 2); // assumed: const char* format
// Length of the text: UTF-8 characters for STR_TYPE_UTF8, bytes for any other type.
MARL_API int str_len(const std::string& text, STR_TYPE type); // assumed: const std::string&, int result
// True for control characters, the characters \ / : * ? " < > | and malformed UTF-8.
MARL_API bool ContainsIllegalCharacters(const std::string& text); // assumed: const std::string&, bool result

} // namespace StringUtil
}} // namespace Marl::Base
