#include "dam/Feature.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "Marl/Base/GuidUtil.h"
#include "dam/Device.h"

namespace dam {

namespace {

// Host channel ids and guids stay the same for the same device, type and number, so a
// refresh does not change what operators and the database refer to.
struct ChannelIdentity {
    unsigned int id;
    std::string guid;
};

ChannelIdentity IdentityFor(int deviceId, int type, int no)
{
    static std::mutex mutex;
    static std::map<std::tuple<int, int, int>, ChannelIdentity> identities;
    static unsigned int nextId = 1001;
    std::lock_guard<std::mutex> lock(mutex);
    auto key = std::make_tuple(deviceId, type, no);
    auto it = identities.find(key);
    if (it == identities.end()) {
        it = identities.emplace(key, ChannelIdentity{nextId++, Marl::Base::GuidUtil::CreateGuid()}).first;
    }
    return it->second;
}

} // namespace

CFeature::CFeature(int type, std::weak_ptr<IDevice> device) : m_type(type), m_device(std::move(device)) {}
CFeature::~CFeature() = default;

bool CFeature::CollectChannels(std::shared_ptr<CChannelCache> cache) { return cache != nullptr; }

bool CFeature::ApplyChannels(std::shared_ptr<CChannelCache> cache, bool keepOthers)
{
    auto device = std::dynamic_pointer_cast<CDevice>(m_device.lock());
    if (!cache || !device) {
        return false;
    }
    std::vector<std::shared_ptr<CChannel>> channels;
    std::set<int> types;
    for (const auto& obj : cache->Objects()) {
        if (!obj) {
            continue;
        }
        const int type = obj->GetVal_channel_type();
        const int no = obj->GetVal_no();
        const ChannelIdentity identity = IdentityFor(device->GetDeviceID(), type, no);
        const bool online = obj->GetVal_online();
        types.insert(type);
        if (std::dynamic_pointer_cast<CAlarmInputObj>(obj)) {
            channels.push_back(std::make_shared<CAlarmInput>(identity.id, type, identity.guid, no,
                                                             obj->GetVal_name(), online));
        } else if (std::dynamic_pointer_cast<CAlarmOutputObj>(obj)) {
            channels.push_back(std::make_shared<CAlarmOutput>(identity.id, type, identity.guid, no,
                                                              obj->GetVal_name(), online));
        } else {
            channels.push_back(std::make_shared<CChannel>(identity.id, type, identity.guid, no,
                                                          obj->GetVal_name(), online));
        }
    }
    if (!keepOthers) {
        // Without keepOthers the cache is the device's whole channel set.
        for (const auto& existing : device->GetAllChannels()) {
            types.insert(existing->GetType());
        }
    }
    // Types that the cache names replace the registered channels of that type; an empty
    // list for a type removes them.
    std::vector<std::shared_ptr<CChannel>> merged;
    for (const auto& existing : device->GetAllChannels()) {
        if (types.count(existing->GetType()) == 0) {
            merged.push_back(existing);
        }
    }
    merged.insert(merged.end(), channels.begin(), channels.end());
    device->ReplaceChannels(merged);
    return true;
}

CCommonFeature::CCommonFeature(std::weak_ptr<IDevice> device) : CFeature(FEATURE_TYPE_COMMON, std::move(device)) {}
CCommonFeature::~CCommonFeature() = default;

int CCommonFeature::GetAlarmInputCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inputCount;
}
int CCommonFeature::GetAlarmOutputCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputCount;
}
int CCommonFeature::GetDeviceType() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deviceType;
}
void CCommonFeature::SetAlarmInputCount(int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inputCount = count;
}
void CCommonFeature::SetAlarmOutputCount(int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputCount = count;
}
void CCommonFeature::SetDeviceType(int type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deviceType = type;
}
std::string CCommonFeature::GetResolvedIP() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_resolvedIP;
}
unsigned short CCommonFeature::GetResolvedPort() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_resolvedPort;
}
void CCommonFeature::SetResolvedIP(const std::string& ip)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_resolvedIP = ip;
}
void CCommonFeature::SetResolvedPort(unsigned short port)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_resolvedPort = port;
}
void CCommonFeature::SetAlarmInputObj(const std::vector<std::shared_ptr<CAlarmInputObj>>& objs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inputs = objs;
}
void CCommonFeature::SetAlarmOutputObj(const std::vector<std::shared_ptr<CAlarmOutputObj>>& objs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputs = objs;
}
std::vector<std::shared_ptr<CAlarmInputObj>> CCommonFeature::GetAlarmInputObj() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inputs;
}
std::vector<std::shared_ptr<CAlarmOutputObj>> CCommonFeature::GetAlarmOutputObj() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputs;
}

std::vector<std::shared_ptr<CChannel>> CCommonFeature::GetChannelsByType(int type) const
{
    auto device = GetDevice();
    if (!device) {
        return {};
    }
    auto channels = device->GetChannels(type);
    std::stable_sort(channels.begin(), channels.end(),
                     [](const std::shared_ptr<CChannel>& a, const std::shared_ptr<CChannel>& b) {
                         return a->GetNo() < b->GetNo();
                     });
    return channels;
}

bool CCommonFeature::CollectChannels(std::shared_ptr<CChannelCache> cache)
{
    if (!cache) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& obj : m_inputs) {
        cache->Add(obj);
    }
    for (const auto& obj : m_outputs) {
        cache->Add(obj);
    }
    return true;
}

std::shared_ptr<CFeature> CFeatureFactory::CreateFeature(int type, std::shared_ptr<IDevice> device,
                                                         std::shared_ptr<CChannelCache> cache)
{
    std::shared_ptr<CFeature> feature;
    if (type == FEATURE_TYPE_COMMON) {
        feature = std::make_shared<CCommonFeature>(device);
    } else {
        feature = std::make_shared<CFeature>(type, device);
    }
    if (cache && !cache->Objects().empty()) {
        feature->ApplyChannels(cache, true);
    }
    return feature;
}

} // namespace dam
