#pragma once
// The platform's own numbers as the host defines them. The host side (this stand-in and the
// emulated host) takes them from here; the plug-in keeps its own copy in its constants.

namespace OstraPlatform {

// Message type of a device-status notification; it carries a DeviceStatusInfo.
enum : unsigned int { DEVICE_STATUS_MSG_TYPE = 101 };

// Status codes of a device-status notification.
enum : int { DEVICE_STATUS_OFFLINE = 0x8000, DEVICE_STATUS_ONLINE = 0x8017 };

// The category the platform files I/O boxes under (alarm hosts) and the Modbus TCP protocol.
enum : int { DEVICE_CATEGORY_ALARM_HOST = 2005, ACCESS_PROTOCOL_MODBUS_TCP = 101 };

// Channel types of alarm inputs and alarm outputs.
enum : int { CHANNEL_TYPE_ALARM_INPUT = 1003, CHANNEL_TYPE_ALARM_OUTPUT = 1004 };

// Operation-log types of adding, modifying and deleting an I/O box.
enum : unsigned int {
    OPERATION_LOG_DEVICE_ADD = 2910,
    OPERATION_LOG_DEVICE_MODIFY = 2911,
    OPERATION_LOG_DEVICE_DELETE = 2912,
};

} // namespace OstraPlatform
