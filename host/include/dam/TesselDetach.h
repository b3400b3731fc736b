#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Marl/Base/Export.h"
#include "dam/Channel.h"
#include "dam/Device.h"
#include "dam/LoginParam.h"
#include "proto/IProto.h"

namespace dam {

// Device-management requests of one device category, as the host passes them to a driver.
class MARL_API CDeviceTesselDetach {
public:
    CDeviceTesselDetach();

    virtual bool FilterDevicesByCondition(unsigned int& errorModule, unsigned int& errorCode,
                                          std::vector<std::shared_ptr<IDevice>>& devices,
                                          proto::IProto* request);
    virtual bool ParsePostSingleDeviceLoginParam(std::shared_ptr<CBaseLoginParam>& out,
                                                 proto::IProto* request, const std::string& userSession);
    virtual bool ParsePutSingleDeviceLoginParam(std::shared_ptr<CBaseLoginParam>& out,
                                                proto::IProto* request, const std::string& userSession);
    virtual bool EncodeSingleDeviceInfo(proto::IProto* document, void* node, std::shared_ptr<IDevice> device,
                                        const std::string& fields, const std::string& userSession,
                                        unsigned int method);
    virtual bool GetSingleDeviceInfo(proto::IProto* document, void* node, std::shared_ptr<IDevice> device,
                                     const std::string& userSession);
    // assumed: the names and first parameters of these two, and of the three after DeleteDevice.
    virtual bool AfterDeviceAdded(const std::string& userSession, std::shared_ptr<IDevice> device);
    virtual bool AfterDeviceModified(const std::string& userSession, proto::IProto* request,
                                     std::shared_ptr<CBaseLoginParam> oldParam, std::shared_ptr<IDevice> device);
    virtual bool DeleteDevice(unsigned int& errorModule, unsigned int& errorCode,
                              const std::vector<unsigned int>& deviceIds, const std::string& userSession);
    virtual bool IsSupportBatchAdd();
    virtual bool BeforeDeleteDevice(const std::vector<unsigned int>& deviceIds);
    virtual void OnChannelStateChanged(int state, const std::string& text, std::shared_ptr<CChannel> channel,
                                       std::shared_ptr<IDevice> device);

    virtual ~CDeviceTesselDetach(); // assumed

protected:
    // assumed: the parameter types of the three filters.
    // True when the search text is empty or found, case-insensitively, in one of the candidates.
    bool FilterAlias(const std::string& searchText, const std::vector<std::string>& candidates);
    // True when the accepted list is empty or holds the sub-category.
    bool FilterSubCategory(const std::vector<unsigned int>& accepted, int subCategory);
    // Settles the device under the iterator once one criterion decides it: in AND mode a miss
    // erases it, in OR mode a match keeps it and steps past. True when settled (the iterator
    // then shows the next device), false when the iterator was left on the device.
    bool FilterCondition(bool andMode, bool matched, std::vector<std::shared_ptr<IDevice>>::iterator& it,
                         std::vector<std::shared_ptr<IDevice>>& devices);

    // Operation name ("device_add", ...) to the operation-log type the host writes for it.
    std::map<std::string, unsigned int> m_mapOperationLogType; // assumed: the name
};

// The host's table of device-management handlers by (category, protocol).
class MARL_API CDevcieTesselDetachMgr {
public:
    static bool RegisterTesselComm(int category, int protocol, std::shared_ptr<CDeviceTesselDetach> handler);
    static std::shared_ptr<CDeviceTesselDetach> GetTesselComm(int category, int protocol);

    // Host side.
    static void SetRefuseRegistration(bool refuse);
    static void Clear();
};

} // namespace dam
