// Queueing a heartbeat: from the agent's message to the bytes the dispatch thread posts.
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "runtime/string_output.h"
#include "runtime/unicode.h"
#include "sensor_services/dump_file.h"
#include "sensor_services/failure_text.h"
#include "sensor_services/heartbeat_builder.h"
#include "sensor_services/heartbeat_message.h"
#include "sensor_services/sensor_services_object.h"
#include "sensor_services/trace_texts.h"

namespace zel::ss {

namespace {

constexpr const char* kQueueWhere = "CSensorServices::QueueHeartbeatRequest()";
constexpr const char* kHeartbeatDumpFile = "ss_dump_hbreq.txt";
// Room for the text of a heartbeat without modules, written without growing the string.
constexpr std::size_t kHeartbeatBytesReserved = 4096;

}  // namespace

uint32_t CSensorServices::PostHeartbeat(cml::CCmlMessage* message, char* idBuffer, uint32_t* idLength) {
    const uint32_t status = QueueHeartbeatRequest(message, idBuffer, idLength);
    return status == 0 ? TriggerDispatch() : status;
}

uint32_t CSensorServices::QueueHeartbeatRequest(cml::CCmlMessage* handle, char* idBuffer, uint32_t* idLength) {
    const HeartbeatCall call(*this, kQueueWhere);
    if (!handle) return call.Fail(ZEL_E_INVALIDARG, text::kRequiredParameterNull);
    auto record = std::unique_ptr<CHeartbeatRecord>(new (std::nothrow) CHeartbeatRecord);
    if (!record) {
        // Without a record the heartbeat can go nowhere: it is destroyed like a queued one.
        std::unique_ptr<cml::CCmlMessage> dropped(handle);
        return ZEL_E_NO_VIRTUAL_MEMORY;
    }
    // A heartbeat with its announcement is the library's from here, whatever happens; one
    // without stays the agent's (its absence is traced below, where the lookup belongs).
    std::unique_ptr<cml::CCmlMessage> owned(FindAnnouncement(*handle) ? handle : nullptr);
    cml::CCmlMessage* const message = handle;
    try {

        // Every heartbeat asks for the group settings with the version the agent holds.
        uint32_t status;
        std::u16string groupName;
        {
            const CSessionConfigLoader* const binding = Binding();
            char* rawInfo = nullptr;
            char* rawGroupName = nullptr;
            status = binding->GetGroupSettingsInfo(0, 0, &rawInfo, &rawGroupName);
            const ModuleText info(rawInfo, {binding});
            const ModuleText name(rawGroupName, {binding});
            if (status == 0) {
                status = AddGetPolicyRequest(*this, message, GroupSettingsVersion().c_str(), nullptr,
                                             ToUtf8(cml::kGroupSettingsNamespaceURI).c_str(), info.get(), nullptr,
                                             nullptr);
            } else if (TraceEnabled(TraceSink(), SS_TRACE_WARNING)) {
                AgentTrace(TraceSink(), SS_TRACE_WARNING, kQueueWhere,
                           (text::kGroupSettingsInfoFailed + HexStatus(status)).c_str());
            }
            if (name) groupName = ToUtf16(name.get());
        }

        cml::CAgentStartupAnnouncement* const announcement = call.Announcement(*message);
        if (!announcement) return ZEL_E_INTERNAL;
        cml::CAgentInfoContent& content = announcement->GetContent();
        if (content.GetGroupnameHint().empty() && !groupName.empty()) content.SetGroupnameHint(groupName.c_str());
        record->SetAgentId(ToUtf8(content.GetAgentId()));

        CopyIdentifier(ToUtf8(message->GetMessageId()), idBuffer, idLength);
        record->SetAnswersUpTo(AddOwedAnswers(*message));

        // One serialisation serves the record and the dump, which is written only once the
        // document could be written at all: it always holds the last queued heartbeat.
        std::string text;
        text.reserve(kHeartbeatBytesReserved);
        CStringOutput document(text);
        message->SerializeDocument(document);
        if (!document.good()) return ZEL_E_NO_VIRTUAL_MEMORY;  // the text could not grow
        if (DumpEnabled()) WriteDumpFile(kHeartbeatDumpFile, text.data(), text.size());
        record->Adopt(std::move(text));

        QueueHeartbeatRecord(std::move(record));
        return status;
    } catch (...) {
        return ZEL_E_INTERNAL;
    }
}

}  // namespace zel::ss
