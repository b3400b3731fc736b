// The read-reply parsers of inputs and outputs, and the reply's body length, on arbitrary
// replies with the point count and input type taken from the input. Each result is held
// against the bit walk worked out here from the reply bytes alone.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/ModbusFrame.h"
#include "FuzzSupport.h"
#include "dam/Operation.h"

namespace {

using OutputStates = std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>;

constexpr unsigned int kKeptState = 7; // a value no parse produces

// The bits a reply carries for points 1..count: byte count at offset 8, data from offset 9,
// least significant bit first, walk ending with the last byte received.
std::vector<int> Bits(const std::string& reply, int count)
{
    std::vector<int> bits;
    if (reply.size() <= 8) {
        return bits;
    }
    const std::size_t byteCount = static_cast<uint8_t>(reply[8]);
    for (std::size_t i = 0; i < byteCount && 9 + i < reply.size(); ++i) {
        const uint8_t data = static_cast<uint8_t>(reply[9 + i]);
        for (int j = 0; j < 8; ++j) {
            const long long point = static_cast<long long>(i) * 8 + j + 1;
            if (point > count) {
                break;
            }
            bits.push_back((data >> j) & 1);
        }
    }
    return bits;
}

int AlarmOf(int bit, int inputType)
{
    switch (inputType) {
    case 1: return bit;
    case 0: return bit ^ 1;
    default: return 0;
    }
}

void CheckInputs(const std::string& reply, int count, int inputType)
{
    std::vector<iobox::ModbusAlarmInfo> records;
    FUZZ_CHECK(iobox::modbus::ParseInputRecvData(reply, count, inputType, records));
    const std::vector<int> bits = Bits(reply, count);
    FUZZ_CHECK(records.size() == bits.size());
    for (std::size_t k = 0; k < records.size() && k < bits.size(); ++k) {
        const iobox::ModbusAlarmInfo& r = records[k];
        FUZZ_CHECK(r.address == 0 && r.guid.empty() && r.type == 0);
        FUZZ_CHECK(r.point == static_cast<int>(k) + 1);
        FUZZ_CHECK(r.alarm == AlarmOf(bits[k], inputType));
    }
}

void CheckOutputs(const std::string& reply, int count, unsigned int kept)
{
    OutputStates states;
    for (unsigned int key = 1; key <= kept; ++key) {
        states[key] = std::make_shared<dam::CAlarmOutState>();
        states[key]->SetVal_u_alarmout_state(kKeptState);
    }
    FUZZ_CHECK(iobox::modbus::ParseOutputRecvData(reply, count, states));
    const std::vector<int> bits = Bits(reply, count);
    const std::size_t expectedSize = bits.size() > kept ? bits.size() : kept;
    FUZZ_CHECK(states.size() == expectedSize);
    for (const auto& entry : states) {
        FUZZ_CHECK(entry.second != nullptr);
        FUZZ_CHECK(entry.first >= 1 && entry.first <= expectedSize);
        const unsigned int want = entry.first <= kept ? kKeptState : static_cast<unsigned int>(bits[entry.first - 1]);
        FUZZ_CHECK(entry.second->GetVal_u_alarmout_state() == want);
    }
}

void CheckBodyLength(const std::string& reply)
{
    const std::string head = reply.substr(0, 6);
    const int expected = head.size() == 6
                             ? (static_cast<uint8_t>(head[4]) << 8) | static_cast<uint8_t>(head[5])
                             : 0;
    FUZZ_CHECK(iobox::modbus::BodyLengthFromHead(head) == expected);
    // A head one byte too long gives 0, whatever its bytes.
    const std::string longer = reply.size() >= 7 ? reply.substr(0, 7) : reply + std::string(7 - reply.size(), '\x01');
    FUZZ_CHECK(iobox::modbus::BodyLengthFromHead(longer) == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::InstallDropLogSink();
    return 0;
}

// Input: point count (16-bit, signed), input type (8-bit, signed), how many output states the
// caller's map already holds (low 2 bits), then the reply as head and body joined.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzzsupport::CByteReader in(data, size);
    const int count = static_cast<int16_t>(in.Uint16());
    const int inputType = static_cast<int8_t>(in.Byte());
    const unsigned int kept = in.Byte() & 3;
    const std::string reply = in.Rest();

    CheckInputs(reply, count, inputType);
    CheckOutputs(reply, count, kept);
    CheckBodyLength(reply);
    return 0;
}
