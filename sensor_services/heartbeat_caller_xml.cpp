// The heartbeat exports that read XML text from the agent: module and agent parameters,
// set-policy and set-schema requests, get-schema responses. Each parses the text in full
// before it touches the heartbeat, so a text that cannot be read changes nothing.
#include <memory>
#include <string>
#include <utility>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_file_name.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "connection/agent_trace.h"
#include "runtime/guid.h"
#include "runtime/unicode.h"
#include "sensor_services/ctrlexc.h"
#include "sensor_services/failure_text.h"
#include "sensor_services/heartbeat_builder.h"
#include "sensor_services/heartbeat_message.h"
#include "sensor_services/sensor_services_object.h"
#include "sensor_services/trace_texts.h"

namespace zel::ss {

namespace {

// The names the parser's error texts give the agent's documents.
constexpr const char16_t* kModuleParamsDocument = u"ZEL-SensorServices-AddModuleInfoParams";
constexpr const char16_t* kAgentParamsDocument = u"ZEL-SensorServices-AddAgentParams";
constexpr const char16_t* kSetPolicyRequestDocument = u"ZEL-SensorServices-SetPolicyRequest";
constexpr const char16_t* kSetSchemaRequestDocument = u"ZEL-SensorServices-SetSchemaRequest";
constexpr const char16_t* kGetSchemaResponseDocument = u"ZEL-SensorServices-GetSchemaRequest";

// Every parser of the library runs in this validation mode.
constexpr int kParserValidationMode = 3;

// What a caller's document carries; it picks the text traced for a document without root.
enum class DocumentKind { kPolicy, kSchema };

// Whether the agent takes level-1 traces: the failure texts are built only then.
bool ErrorsTraced(const HeartbeatCall& call) { return TraceEnabled(call.TraceOwner().TraceSink(), SS_TRACE_ERROR); }

// Parses `length` bytes at `xml` (read in place, no NUL needed) as the document
// `documentName` and hands its root element to `attach`, which builds what it adds
// completely before attaching it. Failures are traced at level 1 with the call's location:
// a CTRLEXC gives its own status, a refused document ZEL_E_SS_POLICY_NOT_LOADED. The
// parser is gone when this returns; a content object that keeps pointing into the document
// keeps the document alive on its own.
template <typename Attach>
uint32_t WithCallerDocument(const HeartbeatCall& call, const char* xml, uint32_t length, const char16_t* documentName,
                            DocumentKind kind, Attach&& attach) {
    try {
        cml::CCmlParser parser(kParserValidationMode);
        const cml::CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(xml), length, documentName);
        parser.ParseNonValidating(input);
        const cml::CCmlDOM_Element root = parser.GetDocumentElement();
        if (root.IsNull()) {
            throw CTRLEXC(kind == DocumentKind::kPolicy ? text::kPolicyRootMissing : text::kSchemaRootMissing,
                          ZEL_E_SS_POLICY_NOT_LOADED);
        }
        attach(root);
        return 0;
    } catch (const CTRLEXC& failure) {
        return call.Fail(failure.Status(), failure.Message().c_str());
    } catch (const cml::CSchemaException& failure) {
        if (!ErrorsTraced(call)) return ZEL_E_SS_POLICY_NOT_LOADED;
        return call.Fail(ZEL_E_SS_POLICY_NOT_LOADED, SchemaFailureText(failure).c_str());
    } catch (const cml::CCmlException& failure) {
        if (!ErrorsTraced(call)) return ZEL_E_SS_POLICY_NOT_LOADED;
        // The CML library keeps no separate system error, so its code stands in for one.
        const std::string message = text::kCmlParseFailed + ExceptionMessage(failure) + text::kCmlCodeLabel +
                                    HexStatus(failure.GetCode()) + text::kErrCodeLabel + HexStatus(failure.GetCode());
        return call.Fail(ZEL_E_SS_POLICY_NOT_LOADED, message.c_str());
    }
}

// Throws the CML library's exception when the heartbeat could not be written with `addition`
// in it: two schema versions of one namespace, or a versioned namespace outside the CML base
// URI (which has no schema location). Such a heartbeat would fail as a whole when posted.
void CheckWritableWith(const cml::CCmlMessage& heartbeat, const cml::CMessageBase& addition) {
    cml::NamespaceSet namespaces;
    heartbeat.CollectNamespaces(namespaces);
    addition.CollectNamespaces(namespaces);
    std::u16string location;
    for (const cml::CNamespace& ns : namespaces)
        cml::SchemaLocation(ns.GetURI(), ns.GetVersion(), cml::kSchemaDirectory, location);
}

// The "param" children of `root` in the "/cml/common" namespace, in document order.
cml::NameValuePairVector ReadParams(const cml::CCmlDOM_Element& root) {
    cml::NameValuePairVector params;
    for (cml::CCmlDOM_Node child = root.GetFirstChild(); child; child = child.GetNextSibling()) {
        if (child.GetNodeType() != xercesc::DOMNode::ELEMENT_NODE) continue;
        if (child.GetNamespaceURI() != cml::kCommonNamespaceURI || child.GetNodeName() != cml::kTagParam) continue;
        params.emplace_back();
        params.back().Deserialize(cml::CCmlDOM_Element(child));
    }
    return params;
}

void AppendParams(cml::NameValuePairVector& to, cml::NameValuePairVector&& params) {
    to.insert(to.end(), std::make_move_iterator(params.begin()), std::make_move_iterator(params.end()));
}

// AddSetPolicyRequest and AddOptAgentProperties: one operation under two trace locations.
uint32_t AddPolicyRequest(const HeartbeatCall& call, cml::CCmlMessage* handle, const char* xml, uint32_t length,
                          char* idBuffer, uint32_t* idLength) {
    if (const uint32_t status = call.Require({handle, xml})) return status;
    if (const uint32_t status = call.RequireLengths({length})) return status;
    if (!call.Announcement(*handle)) return ZEL_E_INTERNAL;

    return WithCallerDocument(call, xml, length, kSetPolicyRequestDocument, DocumentKind::kPolicy,
                              [&](const cml::CCmlDOM_Element& root) {
                                  auto request = std::make_unique<cml::CSetPolicyRequest>();
                                  request->Deserialize(root);
                                  // A request without a policy could never be written: refused
                                  // here, so that it cannot spoil the whole heartbeat later.
                                  if (request->GetPolicySourceCount() == 0)
                                      throw cml::CCmlException(u"Reading set-policy-request", u"No policy specified",
                                                               ZEL_E_CML_INVALID_POLICY_CONTAINER);
                                  // Whatever the root was called, the agent asks to set these
                                  // policies, as a request of its own.
                                  request->SetTagName(cml::kTagSetPolicyRequest);
                                  request->SetNamespaceURI(cml::kCmlNamespaceURI);
                                  // The identifier the agent wrote stands; one is made only
                                  // where there is none, so that the answer can name it.
                                  if (request->GetRequestId().empty())
                                      request->SetRequestId(NewGuidText().c_str());
                                  CheckWritableWith(*handle, *request);
                                  const std::string identifier = ToUtf8(request->GetRequestId());
                                  handle->AddRequest(std::move(request));
                                  CopyIdentifier(identifier, idBuffer, idLength);
                              });
}

// The message's get-schema-response answering `requestId`, created and appended when it
// has none.
cml::CGetSchemaResponse& GetSchemaResponseOf(cml::CCmlMessage& message, const std::u16string& requestId) {
    for (const std::unique_ptr<cml::CCmlResponse>& response : message.GetResponses()) {
        if (!response || response->GetTagName() != cml::kTagGetSchemaResponse) continue;
        if (response->GetRequestId() != requestId) continue;
        if (auto* found = dynamic_cast<cml::CGetSchemaResponse*>(response.get())) return *found;
    }
    auto created = std::make_unique<cml::CGetSchemaResponse>();
    created->SetRequestId(requestId.c_str());
    return static_cast<cml::CGetSchemaResponse&>(*message.AddResponse(std::move(created)));
}

}  // namespace

uint32_t AddModuleInfoParams(const CSensorServices& services, cml::CModuleInfo* module, const char* xml,
                             uint32_t length) {
    const HeartbeatCall call(services, "CSensorServices::AddModuleInfoParams()");
    if (const uint32_t status = call.Require({module, xml})) return status;
    if (const uint32_t status = call.RequireLengths({length})) return status;
    return WithCallerDocument(
        call, xml, length, kModuleParamsDocument, DocumentKind::kPolicy,
        [&](const cml::CCmlDOM_Element& root) { AppendParams(module->GetParams(), ReadParams(root)); });
}

uint32_t AddAgentParams(const CSensorServices& services, cml::CCmlMessage* handle, const char* xml, uint32_t length) {
    const HeartbeatCall call(services, "CSensorServices::AddAgentParams()");
    if (const uint32_t status = call.Require({handle, xml})) return status;
    if (const uint32_t status = call.RequireLengths({length})) return status;
    // This export has always reported a missing announcement under the singular name.
    cml::CAgentStartupAnnouncement* const announcement =
        HeartbeatCall(services, "CSensorServices::AddAgentParam()").Announcement(*handle);
    if (!announcement) return ZEL_E_INTERNAL;
    return WithCallerDocument(call, xml, length, kAgentParamsDocument, DocumentKind::kPolicy,
                              [&](const cml::CCmlDOM_Element& root) {
                                  AppendParams(announcement->GetContent().GetParams(), ReadParams(root));
                              });
}

uint32_t AddSetPolicyRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* xml,
                             uint32_t length, char* idBuffer, uint32_t* idLength) {
    const HeartbeatCall call(services, "CSensorServices::AddSetPolicyRequest()");
    return AddPolicyRequest(call, handle, xml, length, idBuffer, idLength);
}

uint32_t AddOptAgentProperties(const CSensorServices& services, cml::CCmlMessage* handle, const char* xml,
                               uint32_t length, char* idBuffer, uint32_t* idLength) {
    const HeartbeatCall call(services, "CSensorServices::AddOptAgentProperties()");
    return AddPolicyRequest(call, handle, xml, length, idBuffer, idLength);
}

uint32_t AddSetSchemaRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                             const char* schemaNamespace, const char* version, bool overwrite, const char* xml,
                             uint32_t length, char* idBuffer, uint32_t* idLength) {
    const HeartbeatCall call(services, "CSensorServices::AddSetSchemaRequest()");
    if (const uint32_t status = call.Require({handle, schemaNamespace, version, xml})) return status;
    if (const uint32_t status = call.RequireLengths({length})) return status;
    if (const uint32_t status = call.CheckLengths({name, schemaNamespace, version})) return status;
    if (!call.Announcement(*handle)) return ZEL_E_INTERNAL;

    return WithCallerDocument(call, xml, length, kSetSchemaRequestDocument, DocumentKind::kSchema,
                              [&](const cml::CCmlDOM_Element& root) {
                                  cml::CSetSchemaRequestData item;
                                  item.SetName(WideText(name).c_str());
                                  item.SetNamespace(WideText(schemaNamespace).c_str());
                                  item.SetVersion(WideText(version).c_str());
                                  item.SetOverwrite(overwrite);
                                  item.SetSchema(std::make_unique<cml::CSchemaNode>(root));
                                  auto request = std::make_unique<cml::CSetSchemaRequest>();
                                  request->SetRequestId(NewGuidText().c_str());
                                  request->AddSchemaData(item);
                                  CheckWritableWith(*handle, *request);
                                  const std::string identifier = ToUtf8(request->GetRequestId());
                                  handle->AddRequest(std::move(request));
                                  CopyIdentifier(identifier, idBuffer, idLength);
                              });
}

uint32_t AddGetSchemaResponse(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                              const char* schemaNamespace, const char* version, uint32_t status, const char* statusText,
                              const char* xml, uint32_t length, bool overwrite, const char* requestId,
                              uint32_t requestIdLength) {
    const HeartbeatCall call(services, "CSensorServices::AddGetSchemaResponse()");
    if (const uint32_t failure = call.Require({handle, schemaNamespace, requestId})) return failure;
    if (const uint32_t failure = call.RequireLengths({requestIdLength})) return failure;
    if (const uint32_t failure = call.CheckLengths({name, schemaNamespace, version, statusText})) return failure;
    if (!call.Announcement(*handle)) return ZEL_E_INTERNAL;

    cml::CGetSchemaResponseData item;
    item.SetName(WideText(name).c_str());
    item.SetNamespace(WideText(schemaNamespace).c_str());
    item.SetVersion(WideText(version).c_str());
    item.SetOverwrite(overwrite);
    item.SetCode(status);
    item.SetText(WideText(statusText).c_str());
    const auto attach = [&] {
        cml::CGetSchemaResponse& response = GetSchemaResponseOf(*handle, WideText(requestId, requestIdLength));
        if (status != 0 && response.GetCode() == 0) response.SetCode(ZEL_E_CML_GET_SCHEMA_REQUEST_FAILED);
        response.AddSchemaData(item);
    };
    // Without a document the agent reports only the schema's result.
    if (!xml) {
        attach();
        return 0;
    }
    return WithCallerDocument(call, xml, length, kGetSchemaResponseDocument, DocumentKind::kSchema,
                              [&](const cml::CCmlDOM_Element& root) {
                                  item.SetSchema(std::make_unique<cml::CSchemaNode>(root));
                                  attach();
                              });
}

}  // namespace zel::ss
