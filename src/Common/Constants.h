#pragma once
// The host's numbers that select and describe an I/O box.

namespace iobox {

constexpr int kDeviceCategoryIOBox = 2005;   // the host files I/O boxes as alarm hosts
constexpr int kAccessProtocolModbus = 101;   // Modbus TCP
constexpr int kFeatureTypeCommon = 1;        // dam::CCommonFeature
constexpr int kChannelTypeAlarmInput = 1003;
constexpr int kChannelTypeAlarmOutput = 1004;
constexpr int kSubCategoryLoggedIn = 207;    // set on the device at login
constexpr int kSubCategoryIOBox = 209;       // the I/O box among alarm hosts
constexpr int kSubCategoryAlarmHost = 220;

// Error codes recorded with the host's ErrorCode, all of module 0.
constexpr int kErrorModule = 0;
constexpr int kErrorRequestUnusable = 2;
constexpr int kErrorExchangeFailed = 4;
constexpr int kErrorNoDeviceWithId = 903;
constexpr int kErrorNotLoggedIn = 907;
constexpr int kErrorInvalidAddress = 947;
constexpr int kErrorNotSupported = 10004;

} // namespace iobox
