#include "sensor_services/heartbeat_message.h"

#include <algorithm>
#include <cstring>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "connection/agent_trace.h"
#include "runtime/guid.h"
#include "runtime/unicode.h"
#include "sensor_services/trace_texts.h"
#include "zel/status_codes.h"

namespace zel::ss {

std::unique_ptr<cml::CCmlMessage> NewHeartbeatMessage() {
    auto message = std::make_unique<cml::CCmlMessage>();
    cml::CAgentInfo destination;
    destination.SetName(kDesktopControllerName);
    destination.SetNamespace(kDesktopControllerNamespaceURI);
    message->AddDestination(destination);
    message->SetMessageId(NewGuidText().c_str());

    auto announcement = std::make_unique<cml::CAgentStartupAnnouncement>();
    announcement->SetRequestId(NewGuidText().c_str());
    message->AddRequest(std::move(announcement));
    return message;
}

cml::CAgentStartupAnnouncement* FindAnnouncement(cml::CCmlMessage& message) {
    for (const std::unique_ptr<cml::CCmlRequest>& request : message.GetRequests()) {
        if (request && request->GetTagName() == cml::kTagAgentStartupAnnouncement)
            return dynamic_cast<cml::CAgentStartupAnnouncement*>(request.get());
    }
    return nullptr;
}

void CopyIdentifier(const std::string& identifier, char* buffer, uint32_t* length) {
    if (!buffer || !length) return;
    std::memset(buffer, 0, *length);
    if (identifier.size() > *length) return;
    std::memcpy(buffer, identifier.data(), identifier.size());
    *length = static_cast<uint32_t>(identifier.size());
}

std::u16string WideText(const char* text) { return text ? ToUtf16(text) : std::u16string(); }

std::u16string WideText(const char* text, uint32_t length) {
    return text ? ToUtf16(std::string(text, strnlen(text, length))) : std::u16string();
}

uint32_t HeartbeatCall::Require(std::initializer_list<const void*> required) const {
    const bool missing = std::any_of(required.begin(), required.end(), [](const void* p) { return p == nullptr; });
    return missing ? Fail(ZEL_E_INVALIDARG, text::kRequiredParameterNull) : 0;
}

uint32_t HeartbeatCall::RequireLengths(std::initializer_list<uint32_t> lengths) const {
    const bool missing = std::any_of(lengths.begin(), lengths.end(), [](uint32_t length) { return length == 0; });
    return missing ? Fail(ZEL_E_INVALIDARG, text::kRequiredParameterNull) : 0;
}

uint32_t HeartbeatCall::CheckLengths(std::initializer_list<const char*> texts) const {
    const bool tooLarge = std::any_of(texts.begin(), texts.end(), [](const char* text) {
        return text && strnlen(text, kTextArgumentLimit) == kTextArgumentLimit;
    });
    return tooLarge ? Fail(ZEL_E_INVALIDARG, text::kParameterTooLarge) : 0;
}

cml::CAgentStartupAnnouncement* HeartbeatCall::Announcement(cml::CCmlMessage& message) const {
    cml::CAgentStartupAnnouncement* const announcement = FindAnnouncement(message);
    if (!announcement) Fail(ZEL_E_INTERNAL, text::kMissingAnnouncement);
    return announcement;
}

uint32_t HeartbeatCall::Fail(uint32_t status, const char* message) const {
    AgentTrace(m_traceOwner.TraceSink(), SS_TRACE_ERROR, m_where, message);
    return status;
}

}  // namespace zel::ss
