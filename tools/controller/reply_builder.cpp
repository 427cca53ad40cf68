#include "tools/controller/reply_builder.h"

#include <memory>
#include <sstream>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "runtime/unicode.h"
#include "tools/controller/controller_vocabulary.h"
#include "zel/status_codes.h"

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

// One answer item per item asked for; the group settings item carries the document unless the
// agent's token already names the controller's version.
std::unique_ptr<cml::CGetPolicyResponse> AnswerGetPolicy(const cml::CGetPolicyRequest& request,
                                                         const GroupSettings& settings, SettingsOutcome& outcome) {
    auto response = std::make_unique<cml::CGetPolicyResponse>();
    response->SetRequestId(request.GetRequestId().c_str());
    for (const auto& asked : request.GetPolicyItems()) {
        auto item = std::make_unique<cml::CPolicyData>();
        item->SetName(asked->GetName().c_str());
        item->SetNamespace(asked->GetNamespace().c_str());
        item->SetSchemaVersion(asked->GetSchemaVersion().c_str());
        if (asked->GetNamespace() != cml::kGroupSettingsNamespaceURI || settings.document.empty()) {
            item->SetCode(ZEL_I_SS_NO_POLICY_AVAILABLE);
            if (asked->GetNamespace() == cml::kGroupSettingsNamespaceURI) outcome = SettingsOutcome::kUnavailable;
        } else if (asked->GetToken() == settings.version) {
            item->SetCode(ZEL_I_SS_NO_POLICY_CHANGE);
            item->SetToken(settings.version.c_str());
            outcome = SettingsOutcome::kUnchanged;
        } else {
            // Each reply parses its own copy of the document: DOM trees are not shared between
            // the server's threads.
            item->ParsePolicy(settings.document.data(), settings.document.size());
            item->SetVersion(settings.version.c_str());
            item->SetToken(settings.version.c_str());
            outcome = SettingsOutcome::kSent;
        }
        response->AddPolicyItem(item.release());
    }
    return response;
}

}  // namespace

HeartbeatReply BuildHeartbeatReply(std::string_view body, const GroupSettings& settings,
                                   const std::u16string& messageId) {
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
        const cml::CGetPolicyRequest* getPolicy = nullptr;
        for (const auto& request : heartbeat.GetRequests()) {
            if (request->GetNamespaceURI() != cml::kCmlNamespaceURI) continue;
            if (announcement == nullptr)
                announcement = dynamic_cast<const cml::CAgentStartupAnnouncement*>(request.get());
            if (getPolicy == nullptr) getPolicy = dynamic_cast<const cml::CGetPolicyRequest*>(request.get());
        }

        cml::CCmlMessage answer;
        cml::CAgentInfo controller;
        controller.SetName(kControllerName);
        controller.SetNamespace(kControllerNamespaceURI);
        answer.SetSource(controller);
        const cml::CAgentInfo agent = AgentOf(heartbeat, announcement);
        answer.AddDestination(agent);
        answer.SetMessageId(messageId.c_str());
        answer.SetResponseTo(heartbeat.GetMessageId().c_str());
        if (announcement != nullptr) {
            auto acknowledgement = std::make_unique<cml::CCmlResponse>(cml::kTagAgentStartupAcknowledgement, 0,
                                                                       u"", cml::kCmlNamespaceURI);
            acknowledgement->SetRequestId(announcement->GetRequestId().c_str());
            answer.AddResponse(std::move(acknowledgement));
        }
        if (getPolicy != nullptr && getPolicy->GetPolicyItemCount() > 0)
            answer.AddResponse(AnswerGetPolicy(*getPolicy, settings, reply.settings));

        std::ostringstream out;
        answer.SerializeDocument(out);
        reply.contentType = kCmlContentType;
        reply.body = out.str();
        reply.agentId = ToUtf8(agent.GetAgentId());
        reply.agentName = ToUtf8(agent.GetName());
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
