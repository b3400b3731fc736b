#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/ModbusFrame.h"
#include "dam/Operation.h"

namespace {

namespace modbus = iobox::modbus;
using iobox::ModbusAlarmInfo;
using OutputStates = std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>;

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += std::string(out.empty() ? "" : " ") + digits[c >> 4] + digits[c & 0xF];
    }
    return out;
}

// A read reply as the connection joins it: 6-byte head, unit, function, byte count, data.
// The MBAP length follows the bytes given, whatever the byte count claims.
std::string Reply(uint8_t function, int byteCount, std::initializer_list<int> data)
{
    std::string body = Bytes({0x00, function, byteCount}) + Bytes(data);
    return Bytes({0x00, 0x07, 0x00, 0x00, 0x00, static_cast<int>(body.size())}) + body;
}

std::vector<int> AlarmPoints(const std::vector<ModbusAlarmInfo>& records)
{
    std::vector<int> points;
    for (const auto& r : records) {
        if (r.alarm == 1) {
            points.push_back(r.point);
        }
    }
    return points;
}

TEST(ModbusFrame, RequestsCarryTheExactBytes)
{
    uint16_t coil0 = 0;
    uint16_t coil15 = 0;
    uint16_t base15 = 0;
    ASSERT_TRUE(modbus::CoilAddress(0, 3, coil0));
    ASSERT_TRUE(modbus::CoilAddress(15, 3, coil15));
    ASSERT_TRUE(modbus::CoilBase(15, base15));
    uint16_t unserved = 0;
    EXPECT_FALSE(modbus::CoilAddress(3, 1, unserved));
    EXPECT_FALSE(modbus::CoilBase(3, unserved));

    const struct {
        const char* what;
        std::string request;
        const char* bytes;
    } cases[] = {
        {"12 inputs at counter 0", modbus::BuildReadInputsRequest(0, 0x00, 12), "00 00 00 00 00 06 00 02 00 00 00 0C"},
        {"output 3 on, company type 0", modbus::BuildWriteCoilRequest(0x0100, coil0, 1), "01 00 00 00 00 06 00 05 00 02 FF 00"},
        {"output 3 on, company type 15", modbus::BuildWriteCoilRequest(0x0100, coil15, 1), "01 00 00 00 00 06 00 05 00 12 FF 00"},
        {"6 outputs, company type 15", modbus::BuildReadCoilsRequest(0x0007, base15, 6), "00 07 00 00 00 06 00 01 00 10 00 06"},
        {"state 2 switches off", modbus::BuildWriteCoilRequest(1, 5, 2), "00 01 00 00 00 06 00 05 00 05 00 00"},
        {"low 16 bits of the counter", modbus::BuildReadInputsRequest(0x12345678, 0, 1), "56 78 00 00 00 06 00 02 00 00 00 01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(c.request), c.bytes) << c.what;
    }
}

TEST(ModbusFrame, TransactionCounterWrapsOnTheWireAfter65536Requests)
{
    modbus::test_only::SetTransactionCounter(0);
    uint32_t last = 0;
    for (int i = 0; i < 65536; ++i) {
        last = modbus::NextTransaction();
    }
    EXPECT_EQ(last, 0xFFFFu);
    EXPECT_EQ(Hex(modbus::BuildReadInputsRequest(modbus::NextTransaction(), 0, 12).substr(0, 2)), "00 00");
    EXPECT_EQ(Hex(modbus::BuildReadInputsRequest(modbus::NextTransaction(), 0, 12).substr(0, 2)), "00 01");
}

TEST(ModbusFrame, InputBitsMapToAlarmByInputType)
{
    // Inputs 1-8 in byte 9, 9-12 in the low half of byte 10; its upper half is ignored.
    const std::string reply = Reply(0x02, 2, {0b10100101, 0b11110110});
    const std::pair<int, std::vector<int>> cases[] = {
        {1, {1, 3, 6, 8, 10, 11}},
        {0, {2, 4, 5, 7, 9, 12}},
        {2, {}},
    };
    for (const auto& c : cases) {
        std::vector<ModbusAlarmInfo> records;
        EXPECT_TRUE(modbus::ParseInputRecvData(reply, 12, c.first, records));
        ASSERT_EQ(records.size(), 12u) << c.first;
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].point, static_cast<int>(i) + 1);
            EXPECT_EQ(records[i].address, 0);
            EXPECT_EQ(records[i].type, 0);
        }
        EXPECT_EQ(AlarmPoints(records), c.second) << "input type " << c.first;
    }
}

TEST(ModbusFrame, RepliesAreReadOnlyAsFarAsTheyGo)
{
    const struct {
        const char* what;
        std::string reply;
        int count;
        std::vector<int> points; // records, in order
        std::vector<int> alarms; // with input type 1; the outputs that are on
    } cases[] = {
        {"byte count 0", Reply(0x02, 0, {0xFF}), 12, {}, {}},
        // Exception: unit, 0x82, code 2; the code stands as the byte count, no data follows.
        {"exception response", Bytes({0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x00, 0x82, 0x02}), 12, {}, {}},
        {"byte count larger than the data", Reply(0x02, 5, {0x81}), 12, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 8}},
        {"bits above the count", Reply(0x02, 1, {0xFF}), 3, {1, 2, 3}, {1, 2, 3}},
        {"head only", Bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), 12, {}, {}},
    };
    for (const auto& c : cases) {
        std::vector<ModbusAlarmInfo> records(1); // appended to
        EXPECT_TRUE(modbus::ParseInputRecvData(c.reply, c.count, 1, records)) << c.what;
        std::vector<int> points;
        for (std::size_t i = 1; i < records.size(); ++i) {
            points.push_back(records[i].point);
        }
        EXPECT_EQ(points, c.points) << c.what;
        EXPECT_EQ(AlarmPoints(records), c.alarms) << c.what;

        OutputStates states;
        auto kept = std::make_shared<dam::CAlarmOutState>();
        states[99] = kept;
        EXPECT_TRUE(modbus::ParseOutputRecvData(c.reply, c.count, states)) << c.what;
        EXPECT_EQ(states[99], kept);
        std::vector<int> outputs;
        std::vector<int> on;
        for (const auto& entry : states) {
            if (entry.first != 99) {
                outputs.push_back(static_cast<int>(entry.first));
                if (entry.second->GetVal_u_alarmout_state() == 1) {
                    on.push_back(static_cast<int>(entry.first));
                }
            }
        }
        EXPECT_EQ(outputs, c.points) << c.what;
        EXPECT_EQ(on, c.alarms) << c.what;
    }
}

} // namespace
