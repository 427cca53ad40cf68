#include "SensorIndependence/CmlLib/message_factory.h"

#include <algorithm>
#include <iterator>
#include <string_view>

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

// Every request element with a class of its own. Rows whose class is not built yet read
// through the generic request until that class replaces the creator.
const RequestRow kRequestTable[] = {
    {kTagAgentStartupAnnouncement, GenericRequest},  // CAgentStartupAnnouncement
    {kTagGetSchemaInfoRequest, GenericRequest},      // CSchemaRequest
    {kTagGetSchemaRequest, GenericRequest},          // CSchemaRequest
    {kTagSetSchemaRequest, GenericRequest},          // CSetSchemaRequest
    {kTagGetPolicyRequest, GenericRequest},          // CGetPolicyRequest
    {kTagSetPolicyRequest, GenericRequest},          // CSetPolicyRequest
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
    {kTagGetSchemaInfoResponse, GenericResponse},       // CSchemaResponse
    {kTagSetSchemaResponse, GenericResponse},           // CSchemaResponse
    {kTagGetSchemaResponse, GenericResponse},           // CGetSchemaResponse
    {kTagGetPolicyResponse, GenericResponse},           // CGetPolicyResponse
    {kTagSetPolicyResponse, GenericResponse},           // CSetPolicyResponse
    {kTagGetPatentInfoResponse, GenericResponse},       // CTextResponse
    {kTagGetCopyrightInfoResponse, GenericResponse},    // CTextResponse
    {kTagSchemaNotSupportedResponse, GenericResponse},  // CSchemaNotSupportedResponse
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
