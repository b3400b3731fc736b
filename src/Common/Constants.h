#pragma once
// The numbers the plug-in exchanges with the host: what selects and describes an I/O box,
// the device-status codes it reports and the error codes it records.

namespace iobox {

constexpr int kDeviceCategoryIOBox = 2005;   // the host files I/O boxes as alarm hosts
constexpr int kAccessProtocolModbus = 101;   // Modbus TCP
constexpr int kFeatureTypeCommon = 1;        // dam::CCommonFeature
constexpr int kChannelTypeAlarmInput = 1003;
constexpr int kChannelTypeAlarmOutput = 1004;
constexpr int kSubCategoryLoggedIn = 207;    // set on the device at login
constexpr int kSubCategoryIOBox = 209;       // the I/O box among alarm hosts
constexpr int kSubCategoryAlarmHost = 220;
constexpr int kStringTypeUtf8 = 65001;       // the host's STR_TYPE for UTF-8 text (its code page)

// The host's device-status message: its type and the status codes it carries.
constexpr unsigned int kDeviceStatusMessageType = 101;
constexpr int kStatusCodeOffline = 0x8000;
constexpr int kStatusCodeOnline = 0x8017;

// The host worker thread that Start reserves and every event task runs on.
inline constexpr const char* g_T_Iobox_EventFactory = "iobox.d.EventFactory";

// Error codes recorded with the host's ErrorCode, all of module 0.
constexpr int kErrorModule = 0;
constexpr int kErrorRequestUnusable = 2;
constexpr int kErrorExchangeFailed = 4;
constexpr int kErrorNoDeviceWithId = 903;
constexpr int kErrorNotLoggedIn = 907;
constexpr int kErrorInvalidAddress = 947;
constexpr int kErrorNotSupported = 10004;

} // namespace iobox
