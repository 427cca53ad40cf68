// Names the controller uses that the CML library's vocabulary does not hold: its own identity,
// the ping element, the HTTP paths and content types of the exchanges.
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

inline constexpr const char* kCmlContentType = "application/x-zel-cml-data";
inline constexpr const char* kXmlContentType = "application/x-zel-xml-data";
inline constexpr const char* kJsonContentType = "application/json";
inline constexpr const char* kTextContentType = "text/plain";

}  // namespace zel::controller
