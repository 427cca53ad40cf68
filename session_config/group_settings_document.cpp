#include "session_config/group_settings_document.h"

#include <iterator>
#include <limits>
#include <sstream>

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::scs {
namespace {

using cml::CCmlDOM_Element;
using cml::CCmlDOM_Node;

// The ten controller fields with their attribute names, in document order. Reading and
// writing both walk this table, so the order is kept in one place.
struct ControllerField {
    const char16_t* attribute;
    std::string ControllerInfo::*member;
};
constexpr ControllerField kControllerFields[] = {
    {cml::kTagName, &ControllerInfo::name},
    {cml::kTagHostName, &ControllerInfo::hostName},
    {cml::kTagPort, &ControllerInfo::port},
    {cml::kTagType, &ControllerInfo::type},
    {cml::kTagProxyHost, &ControllerInfo::proxyHost},
    {cml::kTagProxyPort, &ControllerInfo::proxyPort},
    {cml::kTagUserName, &ControllerInfo::userName},
    {cml::kTagPasswd, &ControllerInfo::passwd},
    {cml::kTagProxyUserName, &ControllerInfo::proxyUserName},
    {cml::kTagProxyPasswd, &ControllerInfo::proxyPasswd},
};
static_assert(std::size(kControllerFields) == 10, "a controller has ten fields");

// True for an element named localName in the GroupSettings namespace (any prefix).
bool IsGroupSettingsElement(const CCmlDOM_Node& node, const char16_t* localName) {
    return node.GetNodeType() == xercesc::DOMNode::ELEMENT_NODE &&
           node.GetNamespaceURI() == cml::kGroupSettingsNamespaceURI &&
           node.GetLocalName() == localName;
}

std::string AttributeText(const CCmlDOM_Element& element, const char16_t* name) {
    return ToUtf8(element.GetAttribute(name));
}

// Reads the policy element into settings; false when the document breaks a structural rule.
bool ReadPolicy(const CCmlDOM_Element& policy, GroupSettings& settings) {
    if (!IsGroupSettingsElement(policy, cml::kTagPolicy)) return false;
    settings.groupName = AttributeText(policy, cml::kTagName);
    settings.version = AttributeText(policy, cml::kTagVersion);
    settings.schemaVersion = AttributeText(policy, cml::kTagSchemaVersion);

    CCmlDOM_Node list;
    for (CCmlDOM_Node child = policy.GetFirstChild(); child; child = child.GetNextSibling()) {
        if (!IsGroupSettingsElement(child, cml::kTagControllerList)) continue;
        // Two lists would leave open which one is meant.
        if (list) return false;
        list = child;
    }
    if (!list) return true;
    for (CCmlDOM_Node child = list.GetFirstChild(); child; child = child.GetNextSibling()) {
        if (!IsGroupSettingsElement(child, cml::kTagControllerInfo)) continue;
        const CCmlDOM_Element info(child);
        ControllerInfo controller;
        for (const ControllerField& field : kControllerFields)
            controller.*field.member = AttributeText(info, field.attribute);
        settings.controllers.push_back(std::move(controller));
    }
    return true;
}

void OptionalAttribute(cml::XmlSink<char>& sink, const char16_t* name, const std::string& value) {
    if (!value.empty()) sink.Attribute(name, ToUtf16(value));
}

}  // namespace

uint32_t ReadGroupSettingsDocument(std::string_view text, GroupSettings& settings) {
    // The parser takes a 32-bit length.
    if (text.size() > std::numeric_limits<unsigned int>::max()) return ZEL_E_SCS_FILE_INVALID;
    GroupSettings read;
    try {
        cml::CCmlParser parser;
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()),
                           static_cast<unsigned int>(text.size()), cml::kParseNonValidating);
        if (!ReadPolicy(parser.GetDocumentElement(), read)) return ZEL_E_SCS_FILE_INVALID;
    } catch (const cml::CCmlException&) {
        return ZEL_E_SCS_FILE_INVALID;
    } catch (const xercesc::DOMException&) {
        return ZEL_E_SCS_FILE_INVALID;
    }
    if (ValidateGroupSettings(read) != 0) return ZEL_E_SCS_FILE_INVALID;
    settings = std::move(read);
    return 0;
}

std::string WriteGroupSettingsDocument(const GroupSettings& settings) {
    std::ostringstream out;
    cml::WriteXmlDeclaration(out, false);
    {
        cml::XmlSink<char> sink(out);
        sink.Ascii("<").Name(cml::word::kTagPolicy);
        sink.Attribute(cml::word::kTagXmlns, cml::word::kGroupSettingsNamespaceURI);
        OptionalAttribute(sink, cml::kTagName, settings.groupName);
        OptionalAttribute(sink, cml::kTagVersion, settings.version);
        OptionalAttribute(sink, cml::kTagSchemaVersion, settings.schemaVersion);
        sink.Ascii(">").EndLine();
        if (settings.controllers.empty()) {
            sink.Indent(1).Ascii("<").Name(cml::word::kTagControllerList).Ascii("/>").EndLine();
        } else {
            sink.Indent(1).Ascii("<").Name(cml::word::kTagControllerList).Ascii(">").EndLine();
            for (const ControllerInfo& controller : settings.controllers) {
                sink.Indent(2).Ascii("<").Name(cml::word::kTagControllerInfo);
                for (const ControllerField& field : kControllerFields)
                    OptionalAttribute(sink, field.attribute, controller.*field.member);
                sink.Ascii("/>").EndLine();
            }
            sink.Indent(1).Ascii("</").Name(cml::word::kTagControllerList).Ascii(">").EndLine();
        }
        sink.Ascii("</").Name(cml::word::kTagPolicy).Ascii(">").EndLine();
    }
    return out.str();
}

}  // namespace zel::scs
