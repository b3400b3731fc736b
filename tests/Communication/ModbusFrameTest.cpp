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
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 0xF]);
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

std::map<unsigned int, unsigned int> States(const OutputStates& states)
{
    std::map<unsigned int, unsigned int> out;
    for (const auto& entry : states) {
        out[entry.first] = entry.second->GetVal_u_alarmout_state();
    }
    return out;
}

// ---- requests --------------------------------------------------------------------------

TEST(ModbusFrame, RequestsCarryTheExactBytes)
{
    uint16_t coil = 0;
    ASSERT_TRUE(modbus::CoilAddress(0, 3, coil));
    const std::string outputOnType0 = modbus::BuildWriteCoilRequest(0x0100, coil, 1);
    ASSERT_TRUE(modbus::CoilAddress(15, 3, coil));
    const std::string outputOnType15 = modbus::BuildWriteCoilRequest(0x0100, coil, 1);
    uint16_t firstCoil = 0;
    ASSERT_TRUE(modbus::CoilBase(15, firstCoil));
    const std::string sixOutputsType15 = modbus::BuildReadCoilsRequest(0x0007, firstCoil, 6);
    ASSERT_TRUE(modbus::CoilBase(0, firstCoil));
    const std::string sixOutputsType0 = modbus::BuildReadCoilsRequest(0x0008, firstCoil, 6);

    const struct {
        const char* what;
        std::string request;
        const char* bytes;
    } cases[] = {
        {"12 inputs at counter 0", modbus::BuildReadInputsRequest(0, 0x00, 12), "00 00 00 00 00 06 00 02 00 00 00 0C"},
        {"inputs of unit 0x11", modbus::BuildReadInputsRequest(0x1234, 0x11, 8), "12 34 00 00 00 06 11 02 00 00 00 08"},
        {"output 3 on, company type 0", outputOnType0, "01 00 00 00 00 06 00 05 00 02 FF 00"},
        {"output 3 on, company type 15", outputOnType15, "01 00 00 00 00 06 00 05 00 12 FF 00"},
        {"6 outputs, company type 15", sixOutputsType15, "00 07 00 00 00 06 00 01 00 10 00 06"},
        {"6 outputs, company type 0", sixOutputsType0, "00 08 00 00 00 06 00 01 00 00 00 06"},
        {"state 0 switches off", modbus::BuildWriteCoilRequest(1, 5, 0), "00 01 00 00 00 06 00 05 00 05 00 00"},
        {"state 2 switches off", modbus::BuildWriteCoilRequest(1, 5, 2), "00 01 00 00 00 06 00 05 00 05 00 00"},
        {"state -1 switches off", modbus::BuildWriteCoilRequest(1, 5, -1), "00 01 00 00 00 06 00 05 00 05 00 00"},
        {"only the low 16 bits of the counter", modbus::BuildReadInputsRequest(0x12345678, 0, 1),
         "56 78 00 00 00 06 00 02 00 00 00 01"},
        {"only the low 16 bits of the count", modbus::BuildReadInputsRequest(0, 0, 0x10005),
         "00 00 00 00 00 06 00 02 00 00 00 05"},
        {"0 inputs", modbus::BuildReadInputsRequest(0, 0, 0), "00 00 00 00 00 06 00 02 00 00 00 00"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.request.size(), modbus::kRequestLength) << c.what;
        EXPECT_EQ(Hex(c.request), c.bytes) << c.what;
    }
}

TEST(ModbusFrame, CoilsByCompanyType)
{
    const struct {
        int companyType;
        int outputNo;
        bool served;
        uint16_t coil;
    } cases[] = {
        {0, 1, true, 0x0000},  {0, 3, true, 0x0002},  {0, 6, true, 0x0005},   {0, 0, true, 0xFFFF},
        {15, 1, true, 0x0010}, {15, 3, true, 0x0012}, {15, 6, true, 0x0015},  {3, 1, false, 0},
        {1, 1, false, 0},      {-1, 1, false, 0},     {16, 1, false, 0},
    };
    for (const auto& c : cases) {
        uint16_t coil = 0xABCD;
        uint16_t base = 0xABCD;
        EXPECT_EQ(modbus::CoilAddress(c.companyType, c.outputNo, coil), c.served) << c.companyType;
        EXPECT_EQ(modbus::CoilBase(c.companyType, base), c.served) << c.companyType;
        if (c.served) {
            EXPECT_EQ(coil, c.coil) << c.companyType << " output " << c.outputNo;
            EXPECT_EQ(base, c.companyType == 15 ? 0x0010 : 0x0000);
        }
    }
}

TEST(ModbusFrame, TransactionCounterWrapsOnTheWireButKeepsCounting)
{
    modbus::test_only::SetTransactionCounter(0);
    EXPECT_EQ(modbus::NextTransaction(), 0u);
    EXPECT_EQ(modbus::NextTransaction(), 1u);
    modbus::test_only::SetTransactionCounter(2);
    // The 65 537th request of the process carries 0x0000 again.
    uint32_t last = 0;
    for (int i = 2; i < 65536; ++i) {
        last = modbus::NextTransaction();
    }
    EXPECT_EQ(last, 0xFFFFu);
    const uint32_t wrapped = modbus::NextTransaction();
    EXPECT_EQ(wrapped, 0x10000u);
    EXPECT_EQ(Hex(modbus::BuildReadInputsRequest(wrapped, 0, 12).substr(0, 2)), "00 00");
    EXPECT_EQ(Hex(modbus::BuildReadInputsRequest(modbus::NextTransaction(), 0, 12).substr(0, 2)), "00 01");
}

// ---- framing ---------------------------------------------------------------------------

TEST(ModbusFrame, BodyLengthComesFromAWholeHeadOnly)
{
    const struct {
        std::string head;
        int length;
    } cases[] = {
        {Bytes({0x00, 0x01, 0x00, 0x00, 0x00, 0x05}), 5},
        {Bytes({0x12, 0x34, 0x00, 0x00, 0x01, 0x02}), 0x0102},
        {Bytes({0x00, 0x00, 0xAB, 0xCD, 0xFF, 0xFF}), 0xFFFF},
        {Bytes({0x00, 0x00, 0x00, 0x00, 0x00}), 0},
        {Bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00}), 0},
        {std::string(), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(modbus::BodyLengthFromHead(c.head), c.length) << Hex(c.head);
    }
    const Marl::Net::StickyParam sticky = modbus::ReadReplyFraming();
    EXPECT_EQ(sticky.mode, Marl::Net::kStickyByHead);
    EXPECT_EQ(sticky.headLength, 6);
    EXPECT_EQ(sticky.bodyLength, &modbus::BodyLengthFromHead);
}

// ---- replies ---------------------------------------------------------------------------

TEST(ModbusFrame, InputBitsMapToAlarmByInputType)
{
    // Inputs 1-8 in byte 9, 9-12 in the low half of byte 10; its upper half is ignored.
    const std::string reply = Reply(0x02, 2, {0b10100101, 0b11110110});
    const struct {
        int inputType;
        std::vector<int> alarms;
    } cases[] = {
        {1, {1, 3, 6, 8, 10, 11}},
        {0, {2, 4, 5, 7, 9, 12}},
        {2, {}},
        {-1, {}},
    };
    for (const auto& c : cases) {
        std::vector<ModbusAlarmInfo> records;
        EXPECT_TRUE(modbus::ParseInputRecvData(reply, 12, c.inputType, records));
        ASSERT_EQ(records.size(), 12u) << c.inputType;
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].point, static_cast<int>(i) + 1);
            EXPECT_EQ(records[i].address, 0);
            EXPECT_EQ(records[i].type, 0);
            EXPECT_TRUE(records[i].guid.empty());
            EXPECT_TRUE(records[i].alarm == 0 || records[i].alarm == 1);
        }
        EXPECT_EQ(AlarmPoints(records), c.alarms) << "input type " << c.inputType;
    }
}

TEST(ModbusFrame, RepliesAreReadOnlyAsFarAsTheyGo)
{
    const struct {
        const char* what;
        std::string reply;
        int count;
        std::vector<int> points;  // records, in order
        std::vector<int> alarms;  // with input type 1
    } cases[] = {
        {"byte count 0", Reply(0x02, 0, {}), 12, {}, {}},
        {"byte count 0 with data after it", Reply(0x02, 0, {0xFF}), 12, {}, {}},
        // Exception: unit, 0x82, code 2; the code is taken as the byte count, no data follows.
        {"exception response", Bytes({0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x00, 0x82, 0x02}), 12, {}, {}},
        {"byte count larger than the data", Reply(0x02, 5, {0x81}), 12, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 8}},
        {"byte count 255 with one data byte", Reply(0x02, 255, {0x02}), 40, {1, 2, 3, 4, 5, 6, 7, 8}, {2}},
        {"bits above the count", Reply(0x02, 1, {0xFF}), 3, {1, 2, 3}, {1, 2, 3}},
        {"bytes above the count", Reply(0x02, 3, {0x01, 0xFF, 0xFF}), 9, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 9}},
        {"count 0", Reply(0x02, 1, {0xFF}), 0, {}, {}},
        {"negative count", Reply(0x02, 1, {0xFF}), -4, {}, {}},
        {"head only", Bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), 12, {}, {}},
        {"no byte count", Bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02}), 12, {}, {}},
        {"nothing", std::string(), 12, {}, {}},
    };
    for (const auto& c : cases) {
        std::vector<ModbusAlarmInfo> records;
        EXPECT_TRUE(modbus::ParseInputRecvData(c.reply, c.count, 1, records)) << c.what;
        std::vector<int> points;
        for (const auto& r : records) {
            points.push_back(r.point);
        }
        EXPECT_EQ(points, c.points) << c.what;
        EXPECT_EQ(AlarmPoints(records), c.alarms) << c.what;

        OutputStates states;
        EXPECT_TRUE(modbus::ParseOutputRecvData(c.reply, c.count, states)) << c.what;
        std::vector<int> outputs;
        std::vector<int> on;
        for (const auto& entry : States(states)) {
            outputs.push_back(static_cast<int>(entry.first));
            if (entry.second == 1) {
                on.push_back(static_cast<int>(entry.first));
            }
        }
        EXPECT_EQ(outputs, c.points) << c.what;
        EXPECT_EQ(on, c.alarms) << c.what;
    }
}

TEST(ModbusFrame, InputRecordsAreAppended)
{
    std::vector<ModbusAlarmInfo> records(1);
    EXPECT_TRUE(modbus::ParseInputRecvData(Reply(0x02, 1, {0x01}), 2, 1, records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].point, -1);
    EXPECT_EQ(records[1].point, 1);
    EXPECT_EQ(records[1].alarm, 1);
    EXPECT_EQ(records[2].point, 2);
    EXPECT_EQ(records[2].alarm, 0);
}

TEST(ModbusFrame, OutputStatesKeepEntriesAlreadyInTheMap)
{
    OutputStates states;
    auto kept = std::make_shared<dam::CAlarmOutState>();
    kept->SetVal_u_alarmout_state(7);
    states[2] = kept;
    states[9] = kept;

    EXPECT_TRUE(modbus::ParseOutputRecvData(Reply(0x01, 1, {0b00100101}), 6, states));
    EXPECT_EQ(states[2], kept);
    const std::map<unsigned int, unsigned int> expected{{1, 1}, {2, 7}, {3, 1}, {4, 0}, {5, 0}, {6, 1}, {9, 7}};
    EXPECT_EQ(States(states), expected);
}

} // namespace

namespace {

TEST(ModbusFrame, WriteRepliesAreRecognisedByTheirFunction)
{
    const struct {
        const char* what;
        std::string reply;
        bool write;
    } cases[] = {
        {"echo of a write", Bytes({0, 1, 0, 0, 0, 6, 0, 0x05, 0, 2, 0xFF, 0}), true},
        {"exception to a write", Bytes({0, 1, 0, 0, 0, 3, 0, 0x85, 0x02}), true},
        {"coil read", Reply(0x01, 1, {0x05}), false},
        {"input read", Reply(0x02, 2, {0x05, 0x05}), false},
        {"exception to an input read", Bytes({0, 1, 0, 0, 0, 3, 0, 0x82, 0x05}), false},
        {"head only", Bytes({0, 1, 0, 0, 0, 0}), false},
        {"nothing", std::string(), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(modbus::IsWriteReply(c.reply), c.write) << c.what;
    }
}

} // namespace
