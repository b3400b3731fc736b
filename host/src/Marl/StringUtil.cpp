#include "Marl/Base/StringUtil.h"

#include <cstdarg>
#include <cstdio>

namespace Marl { namespace Base { namespace StringUtil {

std::string str_fmt(const char* format, ...)
{
    if (format == nullptr) {
        return std::string();
    }
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(&out[0], out.size(), format, copy);
        out.resize(static_cast<size_t>(needed));
    }
    va_end(copy);
    return out;
}

int str_len(const std::string& text, STR_TYPE type)
{
    if (type != STR_TYPE_UTF8) {
        return static_cast<int>(text.size());
    }
    int count = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) { // every byte but a continuation byte starts a character
            ++count;
        }
    }
    return count;
}

namespace {

// Length of the UTF-8 sequence starting at text[i], 0 when malformed.
size_t Utf8SequenceLength(const std::string& text, size_t i)
{
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len;
    unsigned int cp;
    if (c < 0x80) {
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        const unsigned char cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are malformed.
    static const unsigned int minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

} // namespace

bool ContainsIllegalCharacters(const std::string& text)
{
    static const std::string forbidden = "\\/:*?\"<>|";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F || forbidden.find(static_cast<char>(c)) != std::string::npos) {
            return true;
        }
        const size_t len = Utf8SequenceLength(text, i);
        if (len == 0) {
            return true;
        }
        i += len;
    }
    return false;
}

}}} // namespace Marl::Base::StringUtil
