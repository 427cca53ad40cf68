#include "tools/controller/reply_builder.h"

#include <memory>
#include <sstream>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/message_factory.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "runtime/unicode.h"
#include "tools/controller/controller_vocabulary.h"

namespace zel::controller {
namespace {

HeartbeatReply Refused(std::string reason) {
    HeartbeatReply reply;
    reply.status = 400;
    reply.contentType = kTextContentType;
    reply.body = reason + "\n";
    reply.error = std::move(reason);
    return reply;
}

// The agent the reply is addressed to: the announcement's identity, else the envelope's source.
cml::CAgentInfo AgentOf(const cml::CCmlMessage& heartbeat, const cml::CAgentStartupAnnouncement* announcement) {
    cml::CAgentInfo agent;
    if (announcement != nullptr) {
        const cml::CAgentInfoContent& content = announcement->GetContent();
        agent.SetAgentId(content.GetAgentId().c_str());
        agent.SetName(content.GetName().c_str());
        agent.SetNamespace(content.GetNamespace().c_str());
    } else {
        const cml::CAgentInfo& source = heartbeat.GetSource();
        agent.SetAgentId(source.GetAgentId().c_str());
        agent.SetName(source.GetName().c_str());
        agent.SetNamespace(source.GetNamespace().c_str());
    }
    return agent;
}

// The token of the group settings item of a get-policy request, if it has one.
bool SettingsToken(const cml::CGetPolicyRequest& request, std::string& token) {
    bool found = false;
    for (const auto& item : request.GetPolicyItems()) {
        if (item->GetNamespace() != cml::kGroupSettingsNamespaceURI) continue;
        token = ToUtf8(item->GetToken());
        found = true;
    }
    return found;
}

// Answers the agent's requests in their order; requests the controller has no answer for
// (status announcements, ...) get none.
void AnswerRequests(const cml::CCmlMessage& heartbeat, const ReplyContext& context, cml::CCmlMessage& answer,
                    HeartbeatReply& reply) {
    static const GroupSettings kNoSettings;
    const GroupSettings& settings = context.settings != nullptr ? *context.settings : kNoSettings;
    for (const auto& request : heartbeat.GetRequests()) {
        if (request->GetNamespaceURI() != cml::kCmlNamespaceURI) continue;
        if (const auto* announcement = dynamic_cast<const cml::CAgentStartupAnnouncement*>(request.get())) {
            auto acknowledgement = std::make_unique<cml::CCmlResponse>(cml::kTagAgentStartupAcknowledgement, 0, u"",
                                                                       cml::kCmlNamespaceURI);
            acknowledgement->SetRequestId(announcement->GetRequestId().c_str());
            answer.AddResponse(std::move(acknowledgement));
            ReadAnnouncement(announcement->GetContent(), reply.report);
        } else if (const auto* getPolicy = dynamic_cast<const cml::CGetPolicyRequest*>(request.get())) {
            if (SettingsToken(*getPolicy, reply.report.settingsToken)) reply.report.askedSettings = true;
            // A get-policy-response without items cannot be written; an empty request gets none.
            if (getPolicy->GetPolicyItemCount() > 0) answer.AddResponse(AnswerGetPolicy(*getPolicy, settings, reply.settings));
        } else if (const auto* setPolicy = dynamic_cast<const cml::CSetPolicyRequest*>(request.get())) {
            answer.AddResponse(AnswerSetPolicy(*setPolicy, reply.report.policiesSet));
        } else if (const auto* setSchema = dynamic_cast<const cml::CSetSchemaRequest*>(request.get())) {
            answer.AddResponse(AnswerSetSchema(*setSchema, context.schemas));
        } else if (const auto* getSchema = dynamic_cast<const cml::CSchemaRequest*>(request.get())) {
            // The same class reads "get-schema-info-request", which asks for something else.
            if (getSchema->GetTagName() == cml::kTagGetSchemaRequest)
                answer.AddResponse(AnswerGetSchema(*getSchema, context.schemas));
        }
    }
}

// Adds the requests queued for the agent, each read back with the class its tag names.
void AddQueuedRequests(const ReplyContext& context, const std::string& agentId, cml::CCmlMessage& answer,
                       HeartbeatReply& reply) {
    if (!context.takeQueued || agentId.empty()) return;
    for (QueuedRequest& queued : context.takeQueued(agentId)) {
        cml::CCmlParser parser;
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(queued.element.data()),
                           static_cast<unsigned>(queued.element.size()), cml::kParseNonValidating);
        const cml::CCmlDOM_Element root = parser.GetDocumentElement();
        std::unique_ptr<cml::CCmlRequest> request = cml::CreateRequest(root.GetNodeName());
        request->Deserialize(root);
        answer.AddRequest(std::move(request));
        reply.delivered.push_back(std::move(queued));
    }
}

}  // namespace

HeartbeatReply BuildHeartbeatReply(std::string_view body, const ReplyContext& context) {
    if (body.empty()) return Refused("empty heartbeat body");
    cml::XmlInit();
    HeartbeatReply reply;
    try {
        cml::CCmlParser parser;
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(body.data()), static_cast<unsigned>(body.size()),
                           cml::kParseNonValidating);
        if (parser.GetEnvelopeElement().IsNull()) return Refused("no message envelope in the heartbeat");
        cml::CCmlMessage heartbeat;
        heartbeat.Deserialize(parser.GetEnvelopeElement());

        const cml::CAgentStartupAnnouncement* announcement = nullptr;
        for (const auto& request : heartbeat.GetRequests()) {
            if (request->GetNamespaceURI() != cml::kCmlNamespaceURI) continue;
            announcement = dynamic_cast<const cml::CAgentStartupAnnouncement*>(request.get());
            if (announcement != nullptr) break;
        }

        cml::CCmlMessage answer;
        cml::CAgentInfo controller;
        controller.SetName(kControllerName);
        controller.SetNamespace(kControllerNamespaceURI);
        answer.SetSource(controller);
        const cml::CAgentInfo agent = AgentOf(heartbeat, announcement);
        answer.AddDestination(agent);
        answer.SetMessageId(context.messageId.c_str());
        answer.SetResponseTo(heartbeat.GetMessageId().c_str());
        reply.report.agentId = ToUtf8(agent.GetAgentId());
        reply.report.agentName = ToUtf8(agent.GetName());
        reply.report.messageId = ToUtf8(heartbeat.GetMessageId());
        reply.report.responses = ReadResponses(heartbeat);

        AnswerRequests(heartbeat, context, answer, reply);
        // Taken last: once taken, the requests are gone from the queue, so nothing that could
        // still refuse the heartbeat comes after this but writing the reply.
        AddQueuedRequests(context, reply.report.agentId, answer, reply);

        std::ostringstream out;
        answer.SerializeDocument(out);
        reply.contentType = kCmlContentType;
        reply.body = out.str();
        reply.responsesSent = answer.GetResponses().size();
        reply.requestsSent = answer.GetRequests().size();
        return reply;
    } catch (const cml::CCmlException& e) {
        return Refused("heartbeat is not a CML document: " + ToUtf8(e.GetDescription() ? e.GetDescription() : u""));
    }
}

PingReply BuildPingReply(std::string_view body) {
    std::u16string requestId;
    zelToUtf16(body.data(), body.size(), requestId);
    std::ostringstream out;
    cml::WriteXmlDeclaration(out, true);
    cml::XmlSink<char>(out).Ascii("<").Wide(kTagAgentPing).Attribute(kAttributeRequestId, requestId).Ascii("/>").EndLine();
    PingReply reply;
    reply.contentType = kXmlContentType;
    reply.body = out.str();
    return reply;
}

}  // namespace zel::controller
