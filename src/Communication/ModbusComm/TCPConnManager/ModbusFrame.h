#pragma once
// The bytes exchanged with an I/O box: 12-byte Modbus TCP requests (7-byte MBAP head and a
// 5-byte PDU, big-endian fields) and the bit data of the read replies. Pure functions of
// their arguments, apart from the process-wide transaction counter.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTypes.h"

namespace dam { class CAlarmOutState; }

namespace iobox {
namespace modbus {

constexpr uint8_t kReadCoils = 0x01;
constexpr uint8_t kReadDiscreteInputs = 0x02;
constexpr uint8_t kWriteSingleCoil = 0x05;

constexpr std::size_t kRequestLength = 12;
constexpr int kHeadLength = 6;          // transaction, protocol, length: what the length field sizes
constexpr std::size_t kByteCountOffset = 8;
constexpr uint16_t kCoilOn = 0xFF00;
constexpr uint16_t kCoilOff = 0x0000;

// Company types whose outputs are served, and where their coils start.
constexpr int kCompanyTypeDefault = 0;
constexpr int kCompanyTypeOffset = 15;
constexpr uint16_t kCoilBaseDefault = 0x0000;
constexpr uint16_t kCoilBaseOffset = 0x0010;

// Takes the next value of the process-wide transaction counter (0 at load, shared by every
// connection); only its low 16 bits go on the wire.
uint32_t NextTransaction();

// One request ADU: transaction (low 16 bits), protocol 0, length 6, unit, function, then the
// address field and the quantity (or coil value) field.
std::string BuildRequest(uint32_t transaction, uint8_t unit, uint8_t function, uint16_t address, uint16_t value);
// Read Discrete Inputs from 0 for inputNum inputs (low 16 bits).
std::string BuildReadInputsRequest(uint32_t transaction, uint8_t unit, int inputNum);
// Read Coils of unit 0 for outputNum outputs (low 16 bits) from the first coil.
std::string BuildReadCoilsRequest(uint32_t transaction, uint16_t firstCoil, int outputNum);
// Write Single Coil of unit 0: on when enable is 1, off for any other value.
std::string BuildWriteCoilRequest(uint32_t transaction, uint16_t coil, int enable);

// First coil of a company type (0x0000 for type 0, 0x0010 for type 15); false when the
// company type's outputs are not served.
bool CoilBase(int companyType, uint16_t& firstCoil);
// Coil of a 1-based output number (low 16 bits); false for an unserved company type.
bool CoilAddress(int companyType, int outputNo, uint16_t& coil);

// Body length of a reply from its 6-byte head: the MBAP length field, 0 for any other head.
int BodyLengthFromHead(const std::string& head);
// Framing descriptor of the two reads: head-length framing over the 6-byte head.
Marl::Net::StickyParam ReadReplyFraming();

// Bit data of a read reply (head and body joined): byte count at offset 8, first point in the
// least significant bit of byte 9. Points above count and bytes not received are ignored; the
// function code and transaction are not compared, so an exception reply gives its code as
// the byte count. Always true.
//
// Inputs: one record per point, in point order: address 0, empty guid, type 0, alarm by input
// type (1: bit set is alarm; 0: bit clear is alarm; any other: never alarm).
bool ParseInputRecvData(const std::string& response, int count, int inputType, std::vector<ModbusAlarmInfo>& out);
// Outputs: a new state per point (1 when the bit is set), inserted under the point number;
// entries already in the map are kept.
bool ParseOutputRecvData(const std::string& response, int count,
                         std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>& out);

// True for a reply to Write Single Coil (its echo, or its exception reply): a read that finds
// one in place of its own reply has met the unread answer to an earlier write.
bool IsWriteReply(const std::string& reply);

// For tests only: makes the next request of the process carry this counter value.
namespace test_only {
void SetTransactionCounter(uint32_t value);
}

} // namespace modbus
} // namespace iobox
