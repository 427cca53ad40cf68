#include "SensorIndependence/CmlLib/message_factory.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

namespace {

using RequestCreator = std::unique_ptr<CCmlRequest> (*)();
using ResponseCreator = std::unique_ptr<CCmlResponse> (*)();

struct RequestRow {
    const char16_t* tagName;
    RequestCreator create;
};

struct ResponseRow {
    const char16_t* tagName;
    ResponseCreator create;
};

// The generic classes read any element and keep its name; Deserialize sets the tag name.
std::unique_ptr<CCmlRequest> GenericRequest() {
    return std::make_unique<CCmlRequest>(nullptr, nullptr, true, kCmlNamespaceURI);
}

std::unique_ptr<CCmlResponse> GenericResponse() {
    return std::make_unique<CCmlResponse>(nullptr, 0, nullptr, kCmlNamespaceURI);
}

// Schema messages: two of the classes serve two element names each.
std::unique_ptr<CCmlRequest> GetSchemaInfoRequest() {
    return std::make_unique<CSchemaRequest>(kTagGetSchemaInfoRequest);
}
std::unique_ptr<CCmlRequest> GetSchemaRequest() { return std::make_unique<CSchemaRequest>(kTagGetSchemaRequest); }
std::unique_ptr<CCmlRequest> SetSchemaRequest() { return std::make_unique<CSetSchemaRequest>(); }
std::unique_ptr<CCmlResponse> GetSchemaInfoResponse() {
    return std::make_unique<CSchemaResponse>(kTagGetSchemaInfoResponse);
}
std::unique_ptr<CCmlResponse> SetSchemaResponse() { return std::make_unique<CSchemaResponse>(kTagSetSchemaResponse); }
std::unique_ptr<CCmlResponse> GetSchemaResponse() { return std::make_unique<CGetSchemaResponse>(); }
std::unique_ptr<CCmlResponse> SchemaNotSupportedResponse() { return std::make_unique<CSchemaNotSupportedResponse>(); }

// Agent information.
std::unique_ptr<CCmlRequest> AgentStartupAnnouncement() { return std::make_unique<CAgentStartupAnnouncement>(); }

// Policy messages.
std::unique_ptr<CCmlRequest> GetPolicyRequest() { return std::make_unique<CGetPolicyRequest>(); }
std::unique_ptr<CCmlRequest> SetPolicyRequest() { return std::make_unique<CSetPolicyRequest>(); }
std::unique_ptr<CCmlResponse> GetPolicyResponse() { return std::make_unique<CGetPolicyResponse>(); }
std::unique_ptr<CCmlResponse> SetPolicyResponse() { return std::make_unique<CSetPolicyResponse>(); }

// Every request element with a class of its own. Rows whose class is not built yet read
// through the generic request until that class replaces the creator.
const RequestRow kRequestTable[] = {
    {kTagAgentStartupAnnouncement, AgentStartupAnnouncement},  // CAgentStartupAnnouncement
    {kTagGetSchemaInfoRequest, GetSchemaInfoRequest},  // CSchemaRequest
    {kTagGetSchemaRequest, GetSchemaRequest},          // CSchemaRequest
    {kTagSetSchemaRequest, SetSchemaRequest},          // CSetSchemaRequest
    {kTagGetPolicyRequest, GetPolicyRequest},        // CGetPolicyRequest
    {kTagSetPolicyRequest, SetPolicyRequest},        // CSetPolicyRequest
    {kTagGetTaskStatusRequest, GenericRequest},      // CTaskRequest
    {kTagPauseTaskRequest, GenericRequest},          // CTaskRequest
    {kTagResumeTaskRequest, GenericRequest},         // CTaskRequest
    {kTagStopTaskRequest, GenericRequest},           // CTaskRequest
    {kTagDeleteTaskDataRequest, GenericRequest},     // CTaskRequest
    {kTagConfigureTaskRequest, GenericRequest},      // CConfigureTaskRequest
    {kTagGetAgentStatusRequest, GenericRequest},     // CGetAgentStatusRequest
    {kTagAgentStatusAnnouncement, GenericRequest},   // CAgentStatusAnnouncement
};

// Every response element with a class of its own, as above.
const ResponseRow kResponseTable[] = {
    {kTagGetAgentInfoResponse, GenericResponse},        // CAgentInfoResponse
    {kTagGetSchemaInfoResponse, GetSchemaInfoResponse},  // CSchemaResponse
    {kTagSetSchemaResponse, SetSchemaResponse},          // CSchemaResponse
    {kTagGetSchemaResponse, GetSchemaResponse},          // CGetSchemaResponse
    {kTagGetPolicyResponse, GetPolicyResponse},         // CGetPolicyResponse
    {kTagSetPolicyResponse, SetPolicyResponse},         // CSetPolicyResponse
    {kTagGetPatentInfoResponse, GenericResponse},       // CTextResponse
    {kTagGetCopyrightInfoResponse, GenericResponse},    // CTextResponse
    {kTagSchemaNotSupportedResponse, SchemaNotSupportedResponse},  // CSchemaNotSupportedResponse
    {kTagGetTaskStatusResponse, GenericResponse},       // CTaskResponse
    {kTagConfigureTaskResponse, GenericResponse},       // CTaskResponse
    {kTagPauseTaskResponse, GenericResponse},           // CTaskResponse
    {kTagResumeTaskResponse, GenericResponse},          // CTaskResponse
    {kTagStopTaskResponse, GenericResponse},            // CTaskResponse
    {kTagDeleteTaskDataResponse, GenericResponse},      // CTaskResponse
    {kTagGetAgentStatusResponse, GenericResponse},      // CGetAgentStatusResponse
};

template <typename Row, std::size_t N>
const Row* FindRow(const Row (&table)[N], const std::u16string& tagName) {
    const Row* end = table + N;
    const Row* row = std::find_if(table, end, [&](const Row& r) { return tagName == r.tagName; });
    return row == end ? nullptr : row;
}

}  // namespace

std::unique_ptr<CCmlRequest> CreateRequest(const std::u16string& tagName) {
    const RequestRow* row = FindRow(kRequestTable, tagName);
    return row ? row->create() : GenericRequest();
}

std::unique_ptr<CCmlResponse> CreateResponse(const std::u16string& tagName) {
    const ResponseRow* row = FindRow(kResponseTable, tagName);
    return row ? row->create() : GenericResponse();
}

}  // namespace zel::cml
