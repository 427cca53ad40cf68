#include "tools/controller/request_answers.h"

#include <sstream>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "runtime/unicode.h"
#include "tools/controller/controller_vocabulary.h"
#include "zel/status_codes.h"

namespace zel::controller {
namespace {

void CopySchemaInfo(const cml::CSchemaInfo& from, cml::CSchemaInfo& to) {
    to.SetNamespace(from.GetNamespace().c_str());
    to.SetVersion(from.GetVersion().c_str());
    to.SetName(from.GetName().c_str());
}

const char16_t* TextOf(uint32_t code) {
    switch (code) {
        case ZEL_E_NOT_FOUND: return kTextSchemaNotFound;
        case ZEL_E_INVALIDARG: return kTextInvalidSchemaName;
        case ZEL_E_CML_INVALID_SCHEMA: return kTextNotASchemaDocument;
        case ZEL_E_WRITE_FAULT: return kTextSchemaNotStored;
        default: return u"";
    }
}

// Fills `item` with the schema `name` of `schemas`; returns the item's code.
uint32_t FindSchema(const CSchemaDirectory* schemas, const std::string& name, cml::CGetSchemaResponseData& item) {
    if (schemas == nullptr) return CSchemaDirectory::IsSafeName(name) ? ZEL_E_NOT_FOUND : ZEL_E_INVALIDARG;
    const SchemaFile file = schemas->Load(name);
    if (file.code != 0) return file.code;
    try {
        // The parser may go when this function returns: the schema node keeps the document.
        cml::CCmlParser parser;
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(file.document.data()),
                           static_cast<unsigned>(file.document.size()), cml::kParseNonValidating);
        if (parser.GetRootName() != cml::kTagSchema || parser.GetRootNamespaceURI() != cml::kXmlSchemaNamespaceURI)
            return ZEL_E_CML_INVALID_SCHEMA;
        item.SetSchema(std::make_unique<cml::CSchemaNode>(parser.GetDocumentElement()));
    } catch (const cml::CCmlException&) {
        return ZEL_E_CML_INVALID_SCHEMA;
    }
    return 0;
}

// Stores the document of `item` as its name in `schemas` (null: nothing to store); returns
// the item's code.
uint32_t StoreSchema(const CSchemaDirectory* schemas, const cml::CSetSchemaRequestData& item) {
    const std::string name = ToUtf8(item.GetName());
    if (!CSchemaDirectory::IsSafeName(name)) return ZEL_E_INVALIDARG;
    if (item.GetSchema() == nullptr) return ZEL_E_CML_INVALID_SCHEMA;
    if (schemas == nullptr) return 0;
    std::ostringstream document;
    cml::WriteXmlDeclaration(document, false);
    item.GetSchema()->Serialize(document, 0);
    return schemas->Store(name, document.str());
}

}  // namespace

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

std::unique_ptr<cml::CSetPolicyResponse> AnswerSetPolicy(const cml::CSetPolicyRequest& request,
                                                         std::vector<ReportedPolicy>& accepted) {
    auto response = std::make_unique<cml::CSetPolicyResponse>();
    response->SetRequestId(request.GetRequestId().c_str());
    for (const auto& policy : request.GetPolicySources()) {
        auto item = std::make_unique<cml::CPolicyItem>();
        item->SetName(policy->GetName().c_str());
        item->SetNamespace(policy->GetNamespaceURI().c_str());
        item->SetVersion(policy->GetVersion().c_str());
        item->SetSchemaVersion(policy->GetSchemaVersion().c_str());
        accepted.push_back({ToUtf8(item->GetName()), ToUtf8(item->GetNamespace()), ToUtf8(item->GetVersion())});
        response->AddPolicyItem(item.release());
    }
    if (response->GetPolicyItemCount() == 0) {
        // A set-policy-response cannot be written without an item: the failure gets one.
        auto item = std::make_unique<cml::CPolicyItem>();
        item->SetCode(ZEL_E_CML_INVALID_POLICY_CONTAINER);
        item->SetText(kTextNoPolicyGiven);
        response->AddPolicyItem(item.release());
        response->SetCode(ZEL_E_CML_SET_POLICY_REQUEST_FAILED);
    }
    return response;
}

std::unique_ptr<cml::CGetSchemaResponse> AnswerGetSchema(const cml::CSchemaRequest& request,
                                                         const CSchemaDirectory* schemas) {
    auto response = std::make_unique<cml::CGetSchemaResponse>();
    response->SetRequestId(request.GetRequestId().c_str());
    for (const cml::CSchemaInfo& asked : request.GetSchemas()) {
        cml::CGetSchemaResponseData item;
        CopySchemaInfo(asked, item);
        const uint32_t code = FindSchema(schemas, ToUtf8(asked.GetName()), item);
        if (code != 0) {
            item.SetCode(code);
            item.SetText(TextOf(code));
            response->SetCode(ZEL_E_CML_GET_SCHEMA_REQUEST_FAILED);
        }
        response->AddSchemaData(item);
    }
    return response;
}

std::unique_ptr<cml::CSchemaResponse> AnswerSetSchema(const cml::CSetSchemaRequest& request,
                                                      const CSchemaDirectory* schemas) {
    auto response = std::make_unique<cml::CSchemaResponse>(cml::kTagSetSchemaResponse);
    response->SetRequestId(request.GetRequestId().c_str());
    for (const cml::CSetSchemaRequestData& given : request.GetSchemas()) {
        cml::CSchemaInfoResponseData item;
        CopySchemaInfo(given, item);
        const uint32_t code = StoreSchema(schemas, given);
        if (code != 0) {
            item.SetCode(code);
            item.SetText(code == ZEL_E_CML_INVALID_SCHEMA ? kTextNoSchemaDocument : TextOf(code));
            response->SetCode(ZEL_E_CML_SET_SCHEMA_REQUEST_FAILED);
        }
        response->AddSchemaInfo(item);
    }
    return response;
}

}  // namespace zel::controller
