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
    const Word& tagName;
    RequestCreator create;
};

struct ResponseRow {
    const Word& tagName;
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
    {word::kTagAgentStartupAnnouncement, Request<CAgentStartupAnnouncement>},
    {word::kTagGetSchemaInfoRequest, NamedRequest<CSchemaRequest>},
    {word::kTagGetSchemaRequest, NamedRequest<CSchemaRequest>},
    {word::kTagSetSchemaRequest, Request<CSetSchemaRequest>},
    {word::kTagGetPolicyRequest, Request<CGetPolicyRequest>},
    {word::kTagSetPolicyRequest, Request<CSetPolicyRequest>},
    {word::kTagGetTaskStatusRequest, NamedRequest<CTaskRequest>},
    {word::kTagPauseTaskRequest, NamedRequest<CTaskRequest>},
    {word::kTagResumeTaskRequest, NamedRequest<CTaskRequest>},
    {word::kTagStopTaskRequest, NamedRequest<CTaskRequest>},
    {word::kTagDeleteTaskDataRequest, NamedRequest<CTaskRequest>},
    {word::kTagConfigureTaskRequest, Request<CConfigureTaskRequest>},
    {word::kTagGetAgentStatusRequest, Request<CGetAgentStatusRequest>},
    {word::kTagAgentStatusAnnouncement, Request<CAgentStatusAnnouncement>},
};

// Every response element with a class of its own.
const ResponseRow kResponseTable[] = {
    {word::kTagGetAgentInfoResponse, Response<CAgentInfoResponse>},
    {word::kTagGetSchemaInfoResponse, NamedResponse<CSchemaResponse>},
    {word::kTagSetSchemaResponse, NamedResponse<CSchemaResponse>},
    {word::kTagGetSchemaResponse, Response<CGetSchemaResponse>},
    {word::kTagGetPolicyResponse, Response<CGetPolicyResponse>},
    {word::kTagSetPolicyResponse, Response<CSetPolicyResponse>},
    {word::kTagGetPatentInfoResponse, NamedResponse<CTextResponse>},
    {word::kTagGetCopyrightInfoResponse, NamedResponse<CTextResponse>},
    {word::kTagSchemaNotSupportedResponse, Response<CSchemaNotSupportedResponse>},
    {word::kTagGetTaskStatusResponse, NamedResponse<CTaskResponse>},
    {word::kTagConfigureTaskResponse, NamedResponse<CTaskResponse>},
    {word::kTagPauseTaskResponse, NamedResponse<CTaskResponse>},
    {word::kTagResumeTaskResponse, NamedResponse<CTaskResponse>},
    {word::kTagStopTaskResponse, NamedResponse<CTaskResponse>},
    {word::kTagDeleteTaskDataResponse, NamedResponse<CTaskResponse>},
    {word::kTagGetAgentStatusResponse, Response<CGetAgentStatusResponse>},
};

template <typename Row, std::size_t N>
const Row* FindRow(const Row (&table)[N], std::u16string_view tagName) {
    const Row* end = table + N;
    const Row* row = std::find_if(table, end, [&](const Row& r) { return tagName == r.tagName.wide; });
    return row == end ? nullptr : row;
}

}  // namespace

// A Word's text views the vocabulary's literal, so its data is terminated.
std::unique_ptr<CCmlRequest> CreateRequest(std::u16string_view tagName) {
    const RequestRow* row = FindRow(kRequestTable, tagName);
    return row ? row->create(row->tagName.wide.data()) : GenericRequest();
}

std::unique_ptr<CCmlResponse> CreateResponse(std::u16string_view tagName) {
    const ResponseRow* row = FindRow(kResponseTable, tagName);
    return row ? row->create(row->tagName.wide.data()) : GenericResponse();
}

}  // namespace zel::cml
