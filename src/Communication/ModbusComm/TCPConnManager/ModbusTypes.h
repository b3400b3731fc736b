#pragma once
// Records shared by the Modbus connections, their manager and the event pipeline.
#include <cstdint>
#include <string>

namespace iobox {

// State of one alarm input as a poll found it.
struct ModbusAlarmInfo {
    int address = -1; // the connection's handle in the connection manager
    std::string guid; // the device's guid
    int point = -1;   // input number, 1-based
    int type = -1;    // 0 for an alarm input
    int alarm = -1;   // 1 in alarm, 0 normal
};

// Receives every input in alarm; the record lives only during the call.
using AlarmCallback = void (*)(ModbusAlarmInfo* info, void* userData);

// What the connection manager keeps beside each handle.
struct DeviceGuidInfo {
    std::string guid;
    int deviceId = -1; // the host's handle of the device
};

// What the host's device-status message carries: four 32-bit fields in this order. The record
// is the plug-in's own: the host names its layout, not a type of its SDK.
struct DeviceStatusRecord {
    int32_t deviceId = 0;
    int32_t statusCode = 0;
    int32_t unused = 0; // never filled in
    int32_t zero = 0;
};

} // namespace iobox
