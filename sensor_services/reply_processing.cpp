#include "sensor_services/reply_processing.h"

#include <new>
#include <string>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "connection/agent_trace.h"
#include "runtime/string_output.h"
#include "runtime/unicode.h"
#include "sensor_services/ctrlexc.h"
#include "sensor_services/dump_file.h"
#include "sensor_services/failure_text.h"
#include "sensor_services/sensor_services_object.h"
#include "sensor_services/trace_texts.h"
#include "zel/status_codes.h"

namespace zel::ss {

namespace {

constexpr const char* kResponseWhere = "CSensorServices::HelperProcessHeartbeatResponse";
constexpr const char* kParsedWhere = "CSensorServices::HelperProcessParsedHeartbeatResponse";
constexpr const char* kGenericWhere = "CSensorServices::HelperProcessGenericResponses";
constexpr const char* kUnknownWhere = "CSensorServices::HelperProcessUnknownMessages()";

bool StartsWith(const std::u16string& text, const char16_t* prefix) {
    const std::u16string_view head(prefix);
    return text.compare(0, head.size(), head) == 0;
}

bool IsCml(const cml::CMessageBase& message) { return message.GetNamespaceURI() == cml::kCmlNamespaceURI; }

// Acknowledgements and errors: the responses the generic-response callback receives.
bool IsGenericResponse(const std::u16string& tag) {
    return tag == cml::kTagAgentStartupAcknowledgement || tag == cml::kTagOutOfBandResponse ||
           tag == cml::kTagErrorResponse || tag == cml::kTagAgentShutdownAcknowledgement ||
           StartsWith(tag, cml::kTagResetAgentResponse) || StartsWith(tag, cml::kTagAgentStatusAcknowledgement);
}

// The message as its class; CTRLEXC with `failure` when the object is of another class.
template <typename Message>
const Message& As(const cml::CMessageBase& message, const char* failure) {
    const auto* converted = dynamic_cast<const Message*>(&message);
    if (!converted) throw CTRLEXC(failure, ZEL_E_SS_BAD_RESPONSE);
    return *converted;
}

// A text argument that is null when empty.
const char* NullIfEmpty(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

uint32_t Length(const std::string& text) { return static_cast<uint32_t>(text.size()); }

template <typename Source>
std::string Serialized(const Source* source) {
    std::string text;
    if (!source) return text;
    CStringOutput stream(text);
    source->Serialize(stream, 0);
    if (!stream.good()) throw std::bad_alloc();  // the text could not grow
    return text;
}

// The texts of one schema item as the schema callbacks take them.
struct SchemaArguments {
    std::string name;
    std::string schemaNamespace;
    std::string version;

    explicit SchemaArguments(const cml::CSchemaInfo& item)
        : name(ToUtf8(item.GetName())),
          schemaNamespace(ToUtf8(item.GetNamespace())),
          version(ToUtf8(item.GetVersion())) {}
};

// The texts of one policy item as the policy callbacks take them.
struct PolicyArguments {
    std::string token;
    std::string name;
    std::string policyNamespace;
    std::string schemaVersion;
    uint32_t code;
    std::string text;
    std::string document;

    // `withDocument`: the policy document travels with an item whose code is 0.
    PolicyArguments(const cml::CPolicyItem& item, bool withDocument)
        : token(ToUtf8(item.GetToken())),
          name(ToUtf8(item.GetName())),
          policyNamespace(ToUtf8(item.GetNamespace())),
          schemaVersion(ToUtf8(item.GetSchemaVersion())),
          code(item.GetCode()),
          text(ToUtf8(item.GetText())) {
        if (!withDocument || code != 0) return;
        if (const auto* data = dynamic_cast<const cml::CPolicyData*>(&item)) document = Serialized(data->GetPolicy());
    }

    uint32_t Call(SS_PolicyCallback callback, const std::string& requestId, const std::string& agentId,
                  bool last) const {
        return callback(requestId.c_str(), Length(requestId), 0, agentId.c_str(), token.c_str(), name.c_str(),
                        policyNamespace.c_str(), schemaVersion.c_str(), code, NullIfEmpty(text),
                        NullIfEmpty(document), Length(document), last ? 1 : 0);
    }
};

}  // namespace

uint32_t CSensorServices::HelperProcessHeartbeatResponse(const char* bytes, uint32_t length,
                                                         const std::string& agentId) {
    return CReplyProcessor(*this, agentId).HelperProcessHeartbeatResponse(bytes, length);
}

uint32_t CReplyProcessor::HelperProcessHeartbeatResponse(const char* bytes, uint32_t length) {
    const SS_TraceSink* const sink = m_services.TraceSink();
    if (!bytes || length == 0) {
        AgentTrace(sink, SS_TRACE_ERROR, kResponseWhere, text::kRequiredParameterNull);
        return ZEL_E_INVALIDARG;
    }
    if (m_services.DumpEnabled()) WriteDumpFile(kHeartbeatResponseDumpFile, bytes, length);

    std::string message;
    uint32_t status = 0;
    uint32_t cmlCode = 0;
    try {
        const cml::CCmlParserPool::CLease parser = m_services.ReplyParsers().Take();
        const cml::CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(bytes), length,
                                               kHeartbeatResponseDocumentName);
        parser->Parse(input, cml::kParseNonValidating);
        status = HelperProcessParsedHeartbeatResponse(parser->GetDocumentElement());
    } catch (const CTRLEXC& e) {
        message = e.Message();
        status = e.Status();
    } catch (const cml::CSchemaException& e) {
        message = SchemaFailureText(e);
        status = cmlCode = e.GetCode();
    } catch (const cml::CCmlException& e) {
        message = ExceptionMessage(e);
        status = cmlCode = e.GetCode();
    } catch (...) {
        status = ZEL_E_SS_BAD_RESPONSE;
    }
    if (status != 0) TraceRefusal(message, status, cmlCode);
    return status;
}

uint32_t CReplyProcessor::HelperProcessEmptyResponse() {
    if (m_services.DumpEnabled()) WriteDumpFile(kHeartbeatResponseDumpFile, "", 0);
    // Traced as a document without an envelope is.
    AgentTrace(m_services.TraceSink(), SS_TRACE_ERROR, kParsedWhere, text::kNoEnvelope);
    TraceRefusal(std::string(), ZEL_E_SS_BAD_RESPONSE, 0);
    return ZEL_E_SS_BAD_RESPONSE;
}

void CReplyProcessor::TraceRefusal(const std::string& message, uint32_t status, uint32_t cmlCode) const {
    const SS_TraceSink* const sink = m_services.TraceSink();
    if (!TraceEnabled(sink, SS_TRACE_ERROR)) return;
    AgentTrace(sink, SS_TRACE_ERROR, kResponseWhere,
               (message + text::kErrCodeLabel + HexStatus(status) + text::kCmlCodeLabel + HexStatus(cmlCode)).c_str());
}

uint32_t CReplyProcessor::HelperProcessParsedHeartbeatResponse(const cml::CCmlDOM_Element& root) {
    const SS_TraceSink* const sink = m_services.TraceSink();
    if (root.IsNull()) {
        AgentTrace(sink, SS_TRACE_ERROR, kParsedWhere, text::kRequiredParameterNull);
        return ZEL_E_INVALIDARG;
    }
    try {
        // The first envelope, found without walking the rest of the reply.
        const cml::CCmlDOM_Element first =
            root.GetFirstElementByTagNameNS(cml::kCmlNamespaceURI, cml::kTagMessageEnvelope);
        if (first.IsNull()) throw CTRLEXC(text::kNoEnvelope, ZEL_E_SS_BAD_RESPONSE);
        cml::CCmlMessage envelope;
        envelope.Deserialize(first);
        if (envelope.GetDestinations().empty()) throw CTRLEXC(text::kNoDestination, ZEL_E_SS_BAD_RESPONSE);
        const std::string agentId = ToUtf8(envelope.GetDestinations().front().GetAgentId());
        // Nothing of a reply for another agent may reach this one: not its callbacks, not
        // its group settings, not its controller list.
        if (agentId != m_agentId)
            throw CTRLEXC(BoundedLine(text::kOtherAgentFormat, agentId), ZEL_E_SS_BAD_RESPONSE);

        // Group 1: schema requests and schema data; 2: policy answers, get-schema requests
        // and set-schema answers; 3: acknowledgements and errors; 4: anything else.
        MessageList schema, policy, generic, unknown;
        for (const auto& request : envelope.GetRequests()) {
            if (!IsCml(*request)) continue;
            const std::u16string& tag = request->GetTagName();
            if (tag == cml::kTagSetSchemaRequest)
                schema.push_back(request.get());
            else if (tag == cml::kTagGetSchemaRequest)
                policy.push_back(request.get());
            else
                unknown.push_back(request.get());
        }
        for (const auto& response : envelope.GetResponses()) {
            if (!IsCml(*response)) continue;
            const std::u16string& tag = response->GetTagName();
            if (tag == cml::kTagGetSchemaResponse)
                schema.push_back(response.get());
            else if (tag == cml::kTagGetPolicyResponse || tag == cml::kTagSetPolicyResponse ||
                     tag == cml::kTagSetSchemaResponse)
                policy.push_back(response.get());
            else if (IsGenericResponse(tag))
                generic.push_back(response.get());
            else
                unknown.push_back(response.get());
        }

        // The last flag goes to the final call of the last group that reaches the agent.
        const bool genericCalled = m_services.Callbacks().genericResponse != nullptr && !generic.empty();
        if (!schema.empty()) DispatchTypedMessages(schema, agentId, policy.empty() && !genericCalled);
        if (!policy.empty()) DispatchTypedMessages(policy, agentId, !genericCalled);
        if (!generic.empty()) HelperProcessGenericResponses(agentId, generic);
        if (!unknown.empty()) HelperProcessUnknownMessages(unknown);

        if (const SS_ResponseCompleteCallback complete = m_services.Callbacks().responseComplete) {
            const std::string responseTo = ToUtf8(envelope.GetResponseTo());
            try {
                complete(responseTo.c_str());
            } catch (...) {
                AgentTrace(sink, SS_TRACE_ERROR, kParsedWhere, text::kResponseCompleteCallbackFailed);
            }
        }
        return 0;
    } catch (const CTRLEXC& e) {
        AgentTrace(sink, SS_TRACE_ERROR, kParsedWhere, e.Message().c_str());
        return e.Status();
    } catch (const cml::CCmlException& e) {
        if (TraceEnabled(sink, SS_TRACE_ERROR)) {
            AgentTrace(sink, SS_TRACE_ERROR, kParsedWhere,
                       (text::kMessageProcessingFailed + ExceptionMessage(e) + text::kErrCodeLabel +
                        HexStatus(ZEL_E_SS_BAD_RESPONSE) + text::kCmlCodeLabel + HexStatus(e.GetCode()))
                           .c_str());
        }
        return ZEL_E_SS_BAD_RESPONSE;
    } catch (...) {
        return ZEL_E_SS_BAD_RESPONSE;
    }
}

void CReplyProcessor::DispatchTypedMessages(const MessageList& messages, const std::string& agentId,
                                            bool lastBatch) {
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const cml::CMessageBase& message = *messages[i];
        const bool last = lastBatch && i + 1 == messages.size();
        if (!StartsWith(message.GetNamespaceURI(), cml::kCmlNamespaceURI)) continue;
        const std::string requestId = ToUtf8(message.GetRequestId());
        const std::u16string& tag = message.GetTagName();
        if (tag == cml::kTagSetSchemaRequest)
            OnSetSchemaRequest(As<cml::CSetSchemaRequest>(message, text::kCastSetSchemaRequest), requestId,
                               agentId, last);
        else if (tag == cml::kTagGetSchemaRequest)
            OnGetSchemaRequest(As<cml::CSchemaRequest>(message, text::kCastGetSchemaRequest), requestId,
                               agentId, last);
        else if (tag == cml::kTagGetSchemaResponse)
            OnGetSchemaResponse(As<cml::CGetSchemaResponse>(message, text::kCastGetSchemaResponse), requestId,
                                agentId, last);
        else if (tag == cml::kTagGetPolicyResponse)
            OnGetPolicyResponse(As<cml::CGetPolicyResponse>(message, text::kCastGetPolicyResponse), requestId,
                                agentId, last);
        else if (tag == cml::kTagSetPolicyResponse)
            OnSetPolicyResponse(As<cml::CSetPolicyResponse>(message, text::kCastSetPolicyResponse), requestId,
                                agentId, last);
        else if (tag == cml::kTagSetSchemaResponse)
            OnSetSchemaResponse(As<cml::CSchemaResponse>(message, text::kCastSetSchemaResponse), requestId,
                                agentId, last);
    }
}

void CReplyProcessor::OnSetSchemaRequest(const cml::CSetSchemaRequest& request, const std::string& requestId,
                                         const std::string& agentId, bool last) {
    const SS_SchemaCallback callback = m_services.Callbacks().setSchemaRequest;
    if (!callback) return;
    const auto& items = request.GetSchemas();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const SchemaArguments item(items[i]);
        const std::string schema = Serialized(items[i].GetSchema());
        callback(requestId.c_str(), Length(requestId), 0, agentId.c_str(), item.name.c_str(),
                 item.schemaNamespace.c_str(), item.version.c_str(), 0, nullptr, NullIfEmpty(schema), Length(schema),
                 last && i + 1 == items.size());
    }
}

void CReplyProcessor::OnGetSchemaRequest(const cml::CSchemaRequest& request, const std::string& requestId,
                                         const std::string& agentId, bool last) {
    const SS_SchemaCallback callback = m_services.Callbacks().getSchemaRequest;
    if (!callback) return;
    const auto& items = request.GetSchemas();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const SchemaArguments item(items[i]);
        callback(requestId.c_str(), Length(requestId), 0, agentId.c_str(), item.name.c_str(),
                 item.schemaNamespace.c_str(), item.version.c_str(), 0, nullptr, nullptr, 0,
                 last && i + 1 == items.size());
    }
}

void CReplyProcessor::OnGetSchemaResponse(const cml::CGetSchemaResponse& response, const std::string& requestId,
                                          const std::string& agentId, bool last) {
    const SS_SchemaCallback callback = m_services.Callbacks().getSchemaResponse;
    if (!callback) return;
    const auto& items = response.GetSchemas();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const SchemaArguments item(items[i]);
        const std::string text = ToUtf8(items[i].GetText());
        const std::string schema = Serialized(items[i].GetSchema());
        callback(requestId.c_str(), Length(requestId), 0, agentId.c_str(), item.name.c_str(),
                 item.schemaNamespace.c_str(), item.version.c_str(), items[i].GetCode(), NullIfEmpty(text),
                 items[i].GetSchema() ? schema.c_str() : nullptr, Length(schema), last && i + 1 == items.size());
    }
}

void CReplyProcessor::OnSetSchemaResponse(const cml::CSchemaResponse& response, const std::string& requestId,
                                          const std::string& agentId, bool last) {
    const SS_SchemaCallback callback = m_services.Callbacks().setSchemaResponse;
    if (!callback) return;
    const auto& items = response.GetSchemas();
    if (items.empty()) {
        callback(requestId.c_str(), Length(requestId), 0, agentId.c_str(), nullptr, nullptr, nullptr, 0, nullptr,
                 nullptr, 0, last);
        return;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        const SchemaArguments item(items[i]);
        const std::string text = ToUtf8(items[i].GetText());
        callback(requestId.c_str(), Length(requestId), 0, agentId.c_str(), item.name.c_str(),
                 item.schemaNamespace.c_str(), item.version.c_str(), items[i].GetCode(), NullIfEmpty(text), nullptr,
                 0, last && i + 1 == items.size());
    }
}

void CReplyProcessor::OnGetPolicyResponse(const cml::CGetPolicyResponse& response, const std::string& requestId,
                                          const std::string& agentId, bool last) {
    const SS_PolicyCallback callback = m_services.Callbacks().getPolicyResponse;
    const auto& items = response.GetPolicyItems();
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // The answer to the group-settings request of every heartbeat; should several items
    // claim the namespace, the last one is taken.
    std::size_t groupSettings = kNone;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (StartsWith(items[i]->GetNamespace(), cml::kGroupSettingsNamespaceURI)) groupSettings = i;

    for (std::size_t i = 0; i < items.size(); ++i) {
        // The agent's final call carries the last flag, and the group-settings item never
        // reaches the agent: the item before it counts as final too.
        const bool finalItem = i + 1 == items.size() && i != groupSettings;
        const bool beforeGroupSettings = groupSettings != kNone && i + 1 == groupSettings;
        const bool itemLast = last && (finalItem || beforeGroupSettings);
        const PolicyArguments item(*items[i], true);
        if (i == groupSettings)
            item.Call(&CSensorServices::_GetPropertiesCallback, requestId, agentId, itemLast);
        else if (callback)
            item.Call(callback, requestId, agentId, itemLast);
    }
}

void CReplyProcessor::OnSetPolicyResponse(const cml::CSetPolicyResponse& response, const std::string& requestId,
                                          const std::string& agentId, bool last) {
    const SS_PolicyCallback callback = m_services.Callbacks().setPolicyResponse;
    if (!callback) return;
    const auto& items = response.GetPolicyItems();
    if (items.empty()) {
        callback(requestId.c_str(), Length(requestId), 0, agentId.c_str(), nullptr, nullptr, nullptr, nullptr, 0,
                 nullptr, nullptr, 0, last);
        return;
    }
    for (std::size_t i = 0; i < items.size(); ++i)
        PolicyArguments(*items[i], false).Call(callback, requestId, agentId, last && i + 1 == items.size());
}

void CReplyProcessor::HelperProcessGenericResponses(const std::string& agentId, const MessageList& responses) {
    const SS_GenericResponseCallback callback = m_services.Callbacks().genericResponse;
    if (!callback) return;
    for (std::size_t i = 0; i < responses.size(); ++i) {
        const cml::CMessageBase& response = *responses[i];
        const std::string tag = ToUtf8(response.GetTagName());
        const std::string requestId = ToUtf8(response.GetRequestId());
        const std::string text = ToUtf8(response.GetText());
        try {
            callback(tag.c_str(), requestId.c_str(), 0, agentId.c_str(), response.GetCode(), text.c_str(),
                     i + 1 == responses.size() ? 1 : 0);
        } catch (...) {
            AgentTrace(m_services.TraceSink(), SS_TRACE_ERROR, kGenericWhere, text::kGenericCallbackFailed);
        }
    }
}

void CReplyProcessor::HelperProcessUnknownMessages(const MessageList& messages) {
    const SS_TraceSink* const sink = m_services.TraceSink();
    for (const cml::CMessageBase* message : messages) {
        if (!StartsWith(message->GetNamespaceURI(), cml::kCmlNamespaceURI)) continue;
        if (TraceEnabled(sink, SS_TRACE_ERROR)) {
            AgentTrace(sink, SS_TRACE_ERROR, kUnknownWhere,
                       BoundedLine(text::kUnknownMessageFormat, ToUtf8(message->GetTagName())).c_str());
        }
        if (message->GetRequestId().empty()) continue;
        if (m_services.OweAnswer(message->GetRequestId()) == CAnswerQueue::AddResult::kFull &&
            TraceEnabled(sink, SS_TRACE_ERROR)) {
            AgentTrace(sink, SS_TRACE_ERROR, kUnknownWhere,
                       BoundedLine(text::kTooManyAnswersFormat, ToUtf8(message->GetRequestId())).c_str());
        }
    }
}

}  // namespace zel::ss
