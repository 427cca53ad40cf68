// CML texts for the controller tests: an agent's first heartbeat, a heartbeat of agent A-9
// with any requests and responses, and a reply read back as the agent's library reads it.
#pragma once

#include <string>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/xml_init.h"

namespace zel::controller::testing {

// Message hb-1 as agent A-1 ("Agent & One") posts it: an announcement and a get-policy request
// for the group settings (holding `token`) and for a policy the controller does not serve.
inline std::string AgentHeartbeat(const std::string& token) {
    return "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
           "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
           "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
           "<message-envelope message-id='hb-1'>"
           "<source name='Agent &amp; One' agent-id='A-1'/>"
           "<destination name='DesktopController' namespace='http://schemas.zel.example/cml/DesktopController'/>"
           "<message-body><request>"
           "<agent-startup-announcement request-id='ann-1' schema-version='2.4.2' name='Agent &amp; One' "
           "namespace='http://schemas.zel.example/cml/DesktopAgent' agent-id='A-1'/>"
           "<get-policy-request request-id='gp-1' schema-version='2.4.2'>"
           "<policy-item namespace='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0' token='" +
           token + "'/>"
           "<policy-item name='other' namespace='http://schemas.zel.example/cml/Other' token='0'/>"
           "</get-policy-request>"
           "</request></message-body></message-envelope></cml></zel>\n";
}

// A heartbeat of agent A-9 ("Nine") carrying the given request and response elements.
inline std::string Envelope(const std::string& requests, const std::string& responses = "",
                            const std::string& messageId = "hb-9") {
    std::string body =
        "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
        "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
        "<message-envelope message-id='" + messageId + "'><source name='Nine' agent-id='A-9'/><message-body>";
    if (!requests.empty()) body += "<request>" + requests + "</request>";
    if (!responses.empty()) body += "<response>" + responses + "</response>";
    return body + "</message-body></message-envelope></cml></zel>";
}

// Throws cml::CCmlException when `text` is not a CML document.
inline cml::CCmlMessage ParseReply(const std::string& text) {
    cml::XmlInit();
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                       cml::kParseNonValidating);
    cml::CCmlMessage message;
    message.Deserialize(parser.GetEnvelopeElement());
    return message;
}

}  // namespace zel::controller::testing
