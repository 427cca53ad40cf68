#include "SensorIndependence/CmlLib/message_factory.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/agent_status.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/task_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

namespace {

// Each creator is handed the element name of its row.
using RequestCreator = std::unique_ptr<CCmlRequest> (*)(const char16_t* tagName);
using ResponseCreator = std::unique_ptr<CCmlResponse> (*)(const char16_t* tagName);

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

// A class that serves one element name (its constructor names it) ...
template <typename T>
std::unique_ptr<CCmlRequest> Request(const char16_t* /*tagName*/) {
    return std::make_unique<T>();
}
template <typename T>
std::unique_ptr<CCmlResponse> Response(const char16_t* /*tagName*/) {
    return std::make_unique<T>();
}
// ... and one that serves several, built for the row's name.
template <typename T>
std::unique_ptr<CCmlRequest> NamedRequest(const char16_t* tagName) {
    return std::make_unique<T>(tagName);
}
template <typename T>
std::unique_ptr<CCmlResponse> NamedResponse(const char16_t* tagName) {
    return std::make_unique<T>(tagName);
}

// Every request element with a class of its own.
const RequestRow kRequestTable[] = {
    {kTagAgentStartupAnnouncement, Request<CAgentStartupAnnouncement>},
    {kTagGetSchemaInfoRequest, NamedRequest<CSchemaRequest>},
    {kTagGetSchemaRequest, NamedRequest<CSchemaRequest>},
    {kTagSetSchemaRequest, Request<CSetSchemaRequest>},
    {kTagGetPolicyRequest, Request<CGetPolicyRequest>},
    {kTagSetPolicyRequest, Request<CSetPolicyRequest>},
    {kTagGetTaskStatusRequest, NamedRequest<CTaskRequest>},
    {kTagPauseTaskRequest, NamedRequest<CTaskRequest>},
    {kTagResumeTaskRequest, NamedRequest<CTaskRequest>},
    {kTagStopTaskRequest, NamedRequest<CTaskRequest>},
    {kTagDeleteTaskDataRequest, NamedRequest<CTaskRequest>},
    {kTagConfigureTaskRequest, Request<CConfigureTaskRequest>},
    {kTagGetAgentStatusRequest, Request<CGetAgentStatusRequest>},
    {kTagAgentStatusAnnouncement, Request<CAgentStatusAnnouncement>},
};

// Every response element with a class of its own.
const ResponseRow kResponseTable[] = {
    {kTagGetAgentInfoResponse, Response<CAgentInfoResponse>},
    {kTagGetSchemaInfoResponse, NamedResponse<CSchemaResponse>},
    {kTagSetSchemaResponse, NamedResponse<CSchemaResponse>},
    {kTagGetSchemaResponse, Response<CGetSchemaResponse>},
    {kTagGetPolicyResponse, Response<CGetPolicyResponse>},
    {kTagSetPolicyResponse, Response<CSetPolicyResponse>},
    {kTagGetPatentInfoResponse, NamedResponse<CTextResponse>},
    {kTagGetCopyrightInfoResponse, NamedResponse<CTextResponse>},
    {kTagSchemaNotSupportedResponse, Response<CSchemaNotSupportedResponse>},
    {kTagGetTaskStatusResponse, NamedResponse<CTaskResponse>},
    {kTagConfigureTaskResponse, NamedResponse<CTaskResponse>},
    {kTagPauseTaskResponse, NamedResponse<CTaskResponse>},
    {kTagResumeTaskResponse, NamedResponse<CTaskResponse>},
    {kTagStopTaskResponse, NamedResponse<CTaskResponse>},
    {kTagDeleteTaskDataResponse, NamedResponse<CTaskResponse>},
    {kTagGetAgentStatusResponse, Response<CGetAgentStatusResponse>},
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
    return row ? row->create(row->tagName) : GenericRequest();
}

std::unique_ptr<CCmlResponse> CreateResponse(const std::u16string& tagName) {
    const ResponseRow* row = FindRow(kResponseTable, tagName);
    return row ? row->create(row->tagName) : GenericResponse();
}

}  // namespace zel::cml
