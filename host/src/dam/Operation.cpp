#include "dam/Operation.h"

namespace dam {

using DevicePtr = CCommonOperationInterface_Standard::DevicePtr;

bool CCommonOperationInterface_Standard::ActiveDevice(const std::string&, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::ChangePassword(const std::string&, const std::string&, DevicePtr)
{
    return false;
}
bool CCommonOperationInterface_Standard::RebootDevice(DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::ReStoreDevice(DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SetPlatformAddress(const std::string&, unsigned int, DevicePtr)
{
    return false;
}
bool CCommonOperationInterface_Standard::GetCompanyName(std::string&, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::GetAllThirdDeviceCompanyInfo(std::vector<std::string>&) { return false; }
bool CCommonOperationInterface_Standard::SetDeviceNTPConfig(proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::GetDeviceNTPConfig(proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SetDeviceZoneAndConfig(proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::GetDeviceZoneAndConfig(proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::GetAlarmOutputStatus(std::vector<std::shared_ptr<CAlarmOutputStatus>>&,
                                                              DevicePtr)
{
    return false;
}
bool CCommonOperationInterface_Standard::SetAlarmOutStatus(unsigned int, unsigned int, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SynChannelName(DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::ApplyChannelName(DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::CompleteReStoreDevice(DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SynChannelNameFromDevice(DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::ApplyChannelNameToDevice(DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SetDeviceTime(time_t, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::GetDeviceTime(time_t&, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::TesselPassthrough(proto::IProto*, proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SearchDeviceLog(proto::IProto*, proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SetPictureStorageServer(proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::TestPictureStorageServer(proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SetAlarmOutputRunningTimes(unsigned int, unsigned int, DevicePtr)
{
    return false;
}
bool CCommonOperationInterface_Standard::RefreshFirmwareCode(DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::GenerateUpdateBaseInfo(proto::IProto*, DevicePtr) { return false; }
bool CCommonOperationInterface_Standard::SendIndividualCallSignal(unsigned int, DevicePtr) { return false; }
CCommonOperationInterface_Standard::~CCommonOperationInterface_Standard() = default;

} // namespace dam
