#include "Communication/ModbusComm/TCPConnManager/ModbusFrame.h"

#include <atomic>

#include "dam/Operation.h"

namespace iobox {
namespace modbus {

namespace {

std::atomic<uint32_t> g_transaction{0};

constexpr uint16_t kProtocolId = 0x0000;
constexpr uint16_t kPduLength = 0x0006; // unit, function and two 16-bit fields
constexpr uint8_t kOutputUnit = 0x00;
constexpr std::size_t kLengthOffset = 4;
constexpr std::size_t kFunctionOffset = 7;
constexpr uint8_t kExceptionBit = 0x80;

void PutWord(std::string& out, std::size_t offset, uint16_t value)
{
    out[offset] = static_cast<char>(value >> 8);
    out[offset + 1] = static_cast<char>(value & 0xFF);
}

uint8_t ByteAt(const std::string& data, std::size_t offset) { return static_cast<uint8_t>(data[offset]); }

// Bytes of bit data that are both claimed by the byte count and received.
std::size_t DataBytes(const std::string& response)
{
    if (response.size() <= kByteCountOffset) {
        return 0;
    }
    const std::size_t claimed = ByteAt(response, kByteCountOffset);
    const std::size_t received = response.size() - kByteCountOffset - 1;
    return claimed < received ? claimed : received;
}

// How many points WalkBits visits.
std::size_t PointCount(const std::string& response, int count)
{
    const std::size_t bits = DataBytes(response) * 8;
    return count <= 0 ? 0 : (static_cast<std::size_t>(count) < bits ? static_cast<std::size_t>(count) : bits);
}

// Calls visit(point, bitSet) for every point of the bit data that is both received and
// within count, in point order.
template <class Visit>
void WalkBits(const std::string& response, int count, Visit&& visit)
{
    const std::size_t bytes = DataBytes(response);
    for (std::size_t i = 0; i < bytes; ++i) {
        const uint8_t data = ByteAt(response, kByteCountOffset + 1 + i);
        for (int j = 0; j < 8; ++j) {
            const long long point = static_cast<long long>(i) * 8 + j + 1;
            if (point > count) {
                break;
            }
            visit(static_cast<int>(point), ((data >> j) & 1) != 0);
        }
    }
}

} // namespace

uint32_t NextTransaction() { return g_transaction.fetch_add(1); }

std::string BuildRequest(uint32_t transaction, uint8_t unit, uint8_t function, uint16_t address, uint16_t value)
{
    std::string request(kRequestLength, '\0');
    PutWord(request, 0, static_cast<uint16_t>(transaction & 0xFFFF));
    PutWord(request, 2, kProtocolId);
    PutWord(request, 4, kPduLength);
    request[6] = static_cast<char>(unit);
    request[7] = static_cast<char>(function);
    PutWord(request, 8, address);
    PutWord(request, 10, value);
    return request;
}

std::string BuildReadInputsRequest(uint32_t transaction, uint8_t unit, int inputNum)
{
    return BuildRequest(transaction, unit, kReadDiscreteInputs, 0x0000, static_cast<uint16_t>(inputNum));
}

std::string BuildReadCoilsRequest(uint32_t transaction, uint16_t firstCoil, int outputNum)
{
    return BuildRequest(transaction, kOutputUnit, kReadCoils, firstCoil, static_cast<uint16_t>(outputNum));
}

std::string BuildWriteCoilRequest(uint32_t transaction, uint16_t coil, int enable)
{
    return BuildRequest(transaction, kOutputUnit, kWriteSingleCoil, coil, enable == 1 ? kCoilOn : kCoilOff);
}

bool CoilBase(int companyType, uint16_t& firstCoil)
{
    switch (companyType) {
    case kCompanyTypeDefault:
        firstCoil = kCoilBaseDefault;
        return true;
    case kCompanyTypeOffset:
        firstCoil = kCoilBaseOffset;
        return true;
    default:
        return false;
    }
}

bool CoilAddress(int companyType, int outputNo, uint16_t& coil)
{
    uint16_t firstCoil = 0;
    if (!CoilBase(companyType, firstCoil)) {
        return false;
    }
    // Unsigned arithmetic: output 0 wraps to 0xFFFF instead of overflowing.
    coil = static_cast<uint16_t>(firstCoil + static_cast<uint32_t>(outputNo) - 1U);
    return true;
}

int BodyLengthFromHead(const std::string& head)
{
    if (head.size() != static_cast<std::size_t>(kHeadLength)) {
        return 0;
    }
    return (ByteAt(head, kLengthOffset) << 8) | ByteAt(head, kLengthOffset + 1);
}

Marl::Net::StickyParam ReadReplyFraming()
{
    Marl::Net::StickyParam sticky;
    sticky.mode = Marl::Net::kStickyByHead;
    sticky.headLength = kHeadLength;
    sticky.bodyLength = &BodyLengthFromHead;
    return sticky;
}

bool ParseInputRecvData(const std::string& response, int count, int inputType, std::vector<ModbusAlarmInfo>& out)
{
    // One allocation per poll instead of one per doubling.
    out.reserve(out.size() + PointCount(response, count));
    WalkBits(response, count, [&out, inputType](int point, bool bit) {
        ModbusAlarmInfo info;
        info.address = 0;
        info.point = point;
        info.type = 0;
        if (inputType == 1) {
            info.alarm = bit ? 1 : 0;
        } else if (inputType == 0) {
            info.alarm = bit ? 0 : 1;
        } else {
            info.alarm = 0;
        }
        out.push_back(std::move(info));
    });
    return true;
}

bool ParseOutputRecvData(const std::string& response, int count,
                         std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>& out)
{
    WalkBits(response, count, [&out](int point, bool bit) {
        auto state = std::make_shared<dam::CAlarmOutState>();
        state->SetVal_u_alarmout_state(bit ? 1U : 0U);
        out.emplace(static_cast<unsigned int>(point), std::move(state));
    });
    return true;
}

bool IsWriteReply(const std::string& reply)
{
    return reply.size() > kFunctionOffset &&
           (ByteAt(reply, kFunctionOffset) & static_cast<uint8_t>(~kExceptionBit)) == kWriteSingleCoil;
}

bool TransactionOf(const std::string& adu, uint16_t& transaction)
{
    if (adu.size() < 2) {
        return false;
    }
    transaction = static_cast<uint16_t>((ByteAt(adu, 0) << 8) | ByteAt(adu, 1));
    return true;
}

namespace test_only {
void SetTransactionCounter(uint32_t value) { g_transaction.store(value); }
} // namespace test_only

} // namespace modbus
} // namespace iobox
