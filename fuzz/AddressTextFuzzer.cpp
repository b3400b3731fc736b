// IsValidIpAddress, SplitToUInts and CheckStringValid on arbitrary text, each held against an
// independent reading of the same text: the C library's address parser, a classic-locale
// input stream, and the character rules the host states.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "Access/CommonHelper/CommonHelper.h"
#include "FuzzSupport.h"

namespace {

constexpr unsigned int kNoLimit = std::numeric_limits<unsigned int>::max();

// `stream >> unsigned` in the classic locale: what the number reader promises to match.
unsigned int ReadWithStream(const std::string& piece)
{
    std::istringstream in(piece);
    in.imbue(std::locale::classic());
    unsigned int value = 0;
    in >> value;
    return value;
}

// The maximal runs of non-separator characters, found without any splitting helper.
std::vector<std::string> Runs(const std::string& text, char separator)
{
    std::vector<std::string> runs;
    std::string current;
    for (char c : text) {
        if (c == separator) {
            if (!current.empty()) {
                runs.push_back(current);
            }
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        runs.push_back(current);
    }
    return runs;
}

void CheckSplit(const std::string& text, char separator)
{
    const std::vector<std::string> runs = Runs(text, separator);
    FUZZ_CHECK(iobox::SplitNonEmpty(text, separator) == runs);
    const std::vector<unsigned int> values = iobox::SplitToUInts(text, separator);
    FUZZ_CHECK(values.size() == runs.size());
    for (std::size_t i = 0; i < runs.size() && i < values.size(); ++i) {
        FUZZ_CHECK(values[i] == ReadWithStream(runs[i]));
    }
}

bool DeviceClass(const uint8_t octets[4])
{
    const bool classAbc = (octets[0] >= 1 && octets[0] <= 126) || (octets[0] >= 128 && octets[0] <= 223);
    return classAbc && octets[3] >= 1 && octets[3] <= 254;
}

void CheckAddress(const std::string& text)
{
    const bool valid = iobox::IsValidIpAddress(text);
    // Plain dotted decimal, as the C library reads it strictly, must get the class rule.
    in_addr strict{};
    if (std::strlen(text.c_str()) == text.size() && inet_pton(AF_INET, text.c_str(), &strict) == 1) {
        uint8_t octets[4];
        std::memcpy(octets, &strict.s_addr, sizeof octets);
        FUZZ_CHECK(valid == DeviceClass(octets));
    }
    // A lenient spelling that passes stands for an address that passes when written plainly.
    if (valid) {
        const std::vector<unsigned int> parts = iobox::SplitToUInts(text, '.');
        FUZZ_CHECK(parts.size() == 4);
        std::string plain;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            plain += (i == 0 ? "" : ".") + std::to_string(parts[i]);
        }
        in_addr reread{};
        FUZZ_CHECK(inet_pton(AF_INET, plain.c_str(), &reread) == 1);
        uint8_t octets[4];
        std::memcpy(octets, &reread.s_addr, sizeof octets);
        FUZZ_CHECK(DeviceClass(octets));
        FUZZ_CHECK(iobox::IsValidIpAddress(plain));
    }
}

std::size_t Utf8Characters(const std::string& text)
{
    std::size_t count = 0;
    for (unsigned char c : text) {
        count += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

bool HasRefusedByte(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            return true;
        }
    }
    return false;
}

void CheckText(const std::string& text, unsigned int limit)
{
    const bool lenient = iobox::CheckStringValid(text, limit, false);
    const bool strict = iobox::CheckStringValid(text, limit, true);
    const bool fits = limit == kNoLimit || Utf8Characters(text) <= limit;
    FUZZ_CHECK(lenient == (!text.empty() && fits));
    FUZZ_CHECK(!strict || lenient);
    if (HasRefusedByte(text)) {
        FUZZ_CHECK(!strict);
    }
    // Printable ASCII without refused characters is always fine when it fits.
    bool printableAscii = true;
    for (unsigned char c : text) {
        printableAscii = printableAscii && c >= 0x20 && c < 0x7F;
    }
    if (printableAscii && !HasRefusedByte(text)) {
        FUZZ_CHECK(strict == lenient);
    }
    if (limit != kNoLimit && limit + 1 != kNoLimit && strict) {
        FUZZ_CHECK(iobox::CheckStringValid(text, limit + 1, true));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::InstallDropLogSink();
    return 0;
}

// Input: separator byte, limit selector byte, then the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzzsupport::CByteReader in(data, size);
    const char separator = static_cast<char>(in.Byte());
    const uint8_t limitByte = in.Byte();
    // Small limits hit the boundary; 0xFF stands for "no limit".
    const unsigned int limit = limitByte == 0xFF ? kNoLimit : limitByte;
    const std::string text = in.Rest();

    CheckSplit(text, separator);
    CheckSplit(text, '.');
    CheckAddress(text);
    CheckText(text, limit);
    return 0;
}
