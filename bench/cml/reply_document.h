// What the parser benchmarks read: a ~50 KB reply envelope.
#pragma once

#include <sstream>
#include <string>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"

namespace zel::cml::bench {

// An envelope document of about 50 kB: a source, a destination with groups, and a mix of
// requests and responses with codes and texts.
inline const std::string& ReplyDocument() {
    static const std::string text = [] {
        XmlInit();
        CCmlMessage message;
        CAgentInfo source;
        source.SetName(u"DesktopController");
        source.SetHostName(u"controller.example");
        message.SetSource(source);
        CAgentInfo destination;
        destination.SetAgentId(u"6f1c2d3e-0a1b-4c5d-8e9f-001122334455");
        destination.AddGroup(u"Default Group");
        destination.AddGroup(u"Servers");
        message.AddDestination(destination);
        message.SetMessageId(u"2b7e1516-28ae-42a6-abf7-158809cf4f3c");
        message.SetResponseTo(u"3c4fcf09-8f2b-4a1e-9d5c-6a7b8c9d0e1f");
        std::string text;
        for (int i = 0; text.size() < 50 * 1024; ++i) {
            const std::u16string id = u"request-" + std::u16string(1, char16_t(u'a' + i % 26));
            message.AddRequest(CCmlRequest(id.c_str(), i % 2 ? kTagGetSchemaRequest : u"custom-request", i % 3 != 0,
                                           kCmlNamespaceURI));
            message.AddResponse(CCmlResponse(kTagGetPolicyResponse, i % 2 ? 0x47560006u : 0,
                                             u"Policy <current> & 'unchanged'", kCmlNamespaceURI));
            std::ostringstream out;
            message.SerializeDocument(out);
            text = out.str();
        }
        return text;
    }();
    return text;
}

}  // namespace zel::cml::bench
