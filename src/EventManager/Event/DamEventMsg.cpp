#include "EventManager/Event/DamEventMsg.h"

#include <cstring>
#include <fstream>

#include "Common/Log.h"
#include "Marl/Base/GuidUtil.h"
#include "Marl/Base/Singleton.h"
#include "OstraPlatform/Managers.h"
#include "dam/InterfaceManager.h"

namespace iobox {

namespace {
const char* const kPictureDirectory = "./tmp_picture/";
const char* const kPictureExtension = ".jpg";
constexpr std::size_t kPictureNameLength = 10;
} // namespace

CSPDamEventMsg::CSPDamEventMsg(std::shared_ptr<proto::IProto> proto)
    : m_proto(std::move(proto)), m_content(std::make_shared<std::string>())
{
}

CSPDamEventMsg::~CSPDamEventMsg() = default;

void CSPDamEventMsg::AddPicture(std::shared_ptr<std::string> picture)
{
    if (picture) {
        m_pictures.push_back(std::move(picture));
    }
}

bool CSPDamEventMsg::GetContent(char** data, unsigned int* length)
{
    const bool first = m_content->empty();
    if (first) {
        BuildContent();
    }
    if (data != nullptr) {
        *data = &(*m_content)[0];
    }
    if (length != nullptr) {
        *length = static_cast<unsigned int>(m_content->size());
    }
    if (first) {
        WriteDebugOutput();
    }
    return true;
}

void CSPDamEventMsg::BuildContent()
{
    // A message without a document still yields the terminating NUL, so the content is never
    // empty once built and is never built twice.
    const std::string text = m_proto ? m_proto->get_str(0) : std::string();
    std::size_t total = text.size() + 1;
    for (const auto& picture : m_pictures) {
        total += picture->size();
    }
    m_content->resize(total);
    char* out = &(*m_content)[0];
    std::memcpy(out, text.c_str(), text.size() + 1);
    out += text.size() + 1;
    for (const auto& picture : m_pictures) {
        if (!picture->empty()) {
            std::memcpy(out, picture->data(), picture->size());
            out += picture->size();
        }
    }
}

void CSPDamEventMsg::WriteDebugOutput() const
{
    auto deviceManager = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->GetDeviceManager();
    if (!deviceManager) {
        IOBOX_LOG(4, "iobox::CSPDamEventMsg::GetContent", "Device manager is null, debug switch not read");
        return;
    }
    if (!deviceManager->IsDebugMode()) {
        return;
    }
    IOBOX_LOG(3, "iobox::CSPDamEventMsg::GetContent", "event message %s", m_content->c_str());
    for (const auto& picture : m_pictures) {
        const std::string name = Marl::Base::GuidUtil::CreateGuid().substr(0, kPictureNameLength);
        {
            // Write failures (missing directory included) are deliberately silent: debug output only.
            std::ofstream file(kPictureDirectory + name + kPictureExtension,
                               std::ios::binary | std::ios::out | std::ios::trunc);
            if (file) {
                file.write(picture->data(), static_cast<std::streamsize>(picture->size()));
            }
        }
        IOBOX_LOG(3, "iobox::CSPDamEventMsg::GetContent", "create pictrue file, file name %s, file length %d",
                  name.c_str(), static_cast<int>(picture->size()));
    }
}

} // namespace iobox
