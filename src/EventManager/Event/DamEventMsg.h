#pragma once
#include <memory>
#include <string>
#include <vector>

#include "OstraPlatform/Content.h"
#include "proto/IProto.h"

namespace iobox {

// One event as the host reads it: the JSON document, a NUL, then the pictures back to back.
// The bytes are built on the first GetContent call; the notification path makes that call on
// the event worker before the host sees the message, so later readers only read.
class CSPDamEventMsg : public OstraPlatform::CBaseContent {
public:
    explicit CSPDamEventMsg(std::shared_ptr<proto::IProto> proto);
    ~CSPDamEventMsg() override;
    CSPDamEventMsg(const CSPDamEventMsg&) = delete;
    CSPDamEventMsg& operator=(const CSPDamEventMsg&) = delete;

    bool GetContent(char** data, unsigned int* length) override;

    std::shared_ptr<proto::IProto> GetProto() const { return m_proto; }

    void SetEventType(unsigned int type) { m_eventType = type; }
    void SetSourceType(unsigned int type) { m_sourceType = type; }
    void SetSourceID(unsigned int id) { m_sourceId = id; }
    unsigned int GetEventType() const { return m_eventType; }
    unsigned int GetSourceType() const { return m_sourceType; }
    unsigned int GetSourceID() const { return m_sourceId; }

    // Pictures go after the document in the order added; only before the first GetContent.
    void AddPicture(std::shared_ptr<std::string> picture);
    bool HasPictures() const { return !m_pictures.empty(); }

private:
    void BuildContent();
    // Logs the message and writes its pictures to files when the host's debug switch is on.
    void WriteDebugOutput() const;

    std::shared_ptr<proto::IProto> m_proto;
    std::vector<std::shared_ptr<std::string>> m_pictures;
    unsigned int m_eventType = 0;
    unsigned int m_sourceType = 0;
    unsigned int m_sourceId = 0;
    std::shared_ptr<std::string> m_content;
};

} // namespace iobox
