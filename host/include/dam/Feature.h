#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Marl/Base/Export.h"
#include "dam/Channel.h"

namespace dam {

class IDevice;

enum : int { FEATURE_TYPE_COMMON = 1 };

// A facet of a device the host keeps. Holds its device weakly: the device owns its features.
class MARL_API CFeature {
public:
    CFeature(int type, std::weak_ptr<IDevice> device);
    virtual ~CFeature();

    int GetFeatureType() const { return m_type; }
    std::shared_ptr<IDevice> GetDevice() const { return m_device.lock(); }

    // Fills the cache with the feature's channel objects.
    // assumed: these two slots after the destructor, the cache by shared pointer.
    virtual bool CollectChannels(std::shared_ptr<CChannelCache> cache);
    // Registers the cached channel objects with the host as the device's channels.
    virtual bool ApplyChannels(std::shared_ptr<CChannelCache> cache, bool keepOthers);

private:
    int m_type;
    std::weak_ptr<IDevice> m_device;
};

// The feature every device of this platform has: counts, address and channel objects.
// assumed: const on the getters, int counts and type, the lists by const reference.
class MARL_API CCommonFeature : public CFeature {
public:
    explicit CCommonFeature(std::weak_ptr<IDevice> device);
    ~CCommonFeature() override;

    int GetAlarmInputCount() const;
    int GetAlarmOutputCount() const;
    int GetDeviceType() const;
    void SetAlarmInputCount(int count);
    void SetAlarmOutputCount(int count);
    void SetDeviceType(int type);
    std::string GetResolvedIP() const;
    unsigned short GetResolvedPort() const;
    void SetResolvedIP(const std::string& ip);
    void SetResolvedPort(unsigned short port);

    void SetAlarmInputObj(const std::vector<std::shared_ptr<CAlarmInputObj>>& objs);
    void SetAlarmOutputObj(const std::vector<std::shared_ptr<CAlarmOutputObj>>& objs);
    std::vector<std::shared_ptr<CAlarmInputObj>> GetAlarmInputObj() const;
    std::vector<std::shared_ptr<CAlarmOutputObj>> GetAlarmOutputObj() const;

    // The host channels of the device of that channel type, in channel-number order.
    std::vector<std::shared_ptr<CChannel>> GetChannelsByType(int type) const;

    bool CollectChannels(std::shared_ptr<CChannelCache> cache) override;

private:
    mutable std::mutex m_mutex;
    int m_inputCount = 0;
    int m_outputCount = 0;
    int m_deviceType = 0;
    std::string m_resolvedIP;
    unsigned short m_resolvedPort = 0;
    std::vector<std::shared_ptr<CAlarmInputObj>> m_inputs;
    std::vector<std::shared_ptr<CAlarmOutputObj>> m_outputs;
};

class MARL_API CFeatureFactory {
public:
    // assumed: the arguments by value.
    static std::shared_ptr<CFeature> CreateFeature(int type, std::shared_ptr<IDevice> device,
                                                   std::shared_ptr<CChannelCache> cache);
};

} // namespace dam
