#pragma once
// What every fuzz target shares: a log sink that formats and drops, a reader that takes the
// fuzzer's bytes piece by piece, and a check that stops the run with a message.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Marl/Base/Log.h"

namespace fuzzsupport {

// Lines are still formatted by the host's log call (so every format and argument is exercised)
// but never written: stderr output would slow each run down a hundredfold.
class CDropLogSink : public Marl::Base::ILogSink {
public:
    void Write(int, const std::string&, const std::string&, const std::string&) override {}
};

inline void InstallDropLogSink() { Marl::Base::SetLogSink(std::make_shared<CDropLogSink>()); }

// Takes bytes from the front of the input; past the end every read gives zero bytes.
class CByteReader {
public:
    CByteReader(const uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    uint8_t Byte()
    {
        return m_pos < m_size ? m_data[m_pos++] : 0;
    }

    uint16_t Uint16()
    {
        const uint16_t high = Byte();
        return static_cast<uint16_t>((high << 8) | Byte());
    }

    uint32_t Uint32()
    {
        const uint32_t high = Uint16();
        return (high << 16) | Uint16();
    }

    // Up to n bytes, fewer at the end of the input.
    std::string Bytes(std::size_t n)
    {
        const std::size_t take = n < Left() ? n : Left();
        std::string out(reinterpret_cast<const char*>(m_data + m_pos), take);
        m_pos += take;
        return out;
    }

    std::string Rest() { return Bytes(Left()); }
    std::size_t Left() const { return m_size - m_pos; }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

[[noreturn]] inline void Fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", condition, file, line);
    std::abort();
}

} // namespace fuzzsupport

// A property the target asserts; a broken one is a finding, so the run stops with a crash input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::fuzzsupport::Fail(#condition, __FILE__, __LINE__);                                   \
        }                                                                                          \
    } while (0)
