#include "dam/TesselDetach.h"

#include <algorithm>
#include <cctype>

namespace dam {

CDeviceTesselDetach::CDeviceTesselDetach()
    : m_mapOperationLogType{{"device_add", 1}, {"device_delete", 2}, {"device_modify", 3}}
{
}
CDeviceTesselDetach::~CDeviceTesselDetach() = default;

bool CDeviceTesselDetach::FilterDevicesByCondition(unsigned int&, unsigned int&,
                                                   std::vector<std::shared_ptr<IDevice>>&, proto::IProto*)
{
    return true;
}
bool CDeviceTesselDetach::ParsePostSingleDeviceLoginParam(std::shared_ptr<CBaseLoginParam>&, proto::IProto*,
                                                          const std::string&)
{
    return false;
}
bool CDeviceTesselDetach::ParsePutSingleDeviceLoginParam(std::shared_ptr<CBaseLoginParam>&, proto::IProto*,
                                                         const std::string&)
{
    return false;
}
bool CDeviceTesselDetach::EncodeSingleDeviceInfo(proto::IProto*, void*, std::shared_ptr<IDevice>,
                                                 const std::string&, const std::string&, unsigned int)
{
    return false;
}
bool CDeviceTesselDetach::GetSingleDeviceInfo(proto::IProto*, void*, std::shared_ptr<IDevice>, const std::string&)
{
    return false;
}
bool CDeviceTesselDetach::AfterDeviceAdded(const std::string&, std::shared_ptr<IDevice>) { return false; }
bool CDeviceTesselDetach::AfterDeviceModified(const std::string&, proto::IProto*, std::shared_ptr<CBaseLoginParam>,
                                              std::shared_ptr<IDevice>)
{
    return false;
}
bool CDeviceTesselDetach::DeleteDevice(unsigned int&, unsigned int&, const std::vector<unsigned int>&,
                                       const std::string&)
{
    return false;
}
bool CDeviceTesselDetach::IsSupportBatchAdd() { return false; }
bool CDeviceTesselDetach::BeforeDeleteDevice(const std::vector<unsigned int>&) { return false; }
void CDeviceTesselDetach::OnChannelStateChanged(int, const std::string&, std::shared_ptr<CChannel>,
                                                std::shared_ptr<IDevice>)
{
}

bool CDeviceTesselDetach::FilterAlias(const std::string& searchText, const std::vector<std::string>& candidates)
{
    if (searchText.empty()) {
        return true;
    }
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    const std::string needle = lower(searchText);
    return std::any_of(candidates.begin(), candidates.end(),
                       [&](const std::string& c) { return lower(c).find(needle) != std::string::npos; });
}

bool CDeviceTesselDetach::FilterSubCategory(const std::vector<unsigned int>& accepted, int subCategory)
{
    return accepted.empty() ||
           std::find(accepted.begin(), accepted.end(), static_cast<unsigned int>(subCategory)) != accepted.end();
}

bool CDeviceTesselDetach::FilterCondition(bool andMode, bool matched,
                                          std::vector<std::shared_ptr<IDevice>>::iterator& it,
                                          std::vector<std::shared_ptr<IDevice>>& devices)
{
    if (andMode && !matched) {
        it = devices.erase(it);
        return true;
    }
    if (!andMode && matched) {
        ++it;
        return true;
    }
    return false;
}

} // namespace dam
