// Names and texts the controller uses that the CML library's vocabulary does not hold: its own
// identity, the ping element, the HTTP paths and content types of the exchanges, and the
// texts it writes into answer items.
#pragma once

#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::controller {

// The identity the controller writes as the envelope's "source".
inline constexpr const char16_t* kControllerName = u"DesktopController";
inline constexpr const char16_t* kControllerNamespaceURI = ZEL_CML_BASE_URI u"/cml/DesktopController";

// The ping reply's element and attribute.
inline constexpr const char16_t* kTagAgentPing = u"agent-ping";
inline constexpr const char16_t* kAttributeRequestId = u"request-id";

inline constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";
inline constexpr const char* kPingPath = "/zel/sensor_services/ping";
inline constexpr const char* kAgentsPath = "/admin/agents";
inline constexpr const char* kQueuePath = "/admin/queue";
// The query parameter of kQueuePath that names the agent.
inline constexpr const char* kQueueAgentParameter = "agent";

inline constexpr const char* kCmlContentType = "application/x-zel-cml-data";
inline constexpr const char* kXmlContentType = "application/x-zel-xml-data";
inline constexpr const char* kJsonContentType = "application/json";
inline constexpr const char* kTextContentType = "text/plain";

// The body of an answer spoiled on purpose (--malformed-share): not XML at all.
inline constexpr const char* kMalformedBody = "this is not a CML document <<<\n";

// The "text" of answer items that carry a failure code.
inline constexpr const char16_t* kTextSchemaNotFound = u"schema not found";
inline constexpr const char16_t* kTextInvalidSchemaName = u"invalid schema name";
inline constexpr const char16_t* kTextNotASchemaDocument = u"the stored schema is not an XML Schema document";
inline constexpr const char16_t* kTextNoSchemaDocument = u"no schema document given";
inline constexpr const char16_t* kTextSchemaNotStored = u"the schema could not be stored";
inline constexpr const char16_t* kTextNoPolicyGiven = u"no policy given";

}  // namespace zel::controller
