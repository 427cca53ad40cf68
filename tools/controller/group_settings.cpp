#include "tools/controller/group_settings.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "runtime/unicode.h"

namespace zel::controller {

GroupSettings LoadGroupSettings(const std::string& path, const std::u16string& version) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open group settings file " + path);
    GroupSettings settings;
    settings.document.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());

    cml::XmlInit();
    cml::CCmlParser parser;
    try {
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(settings.document.data()),
                           static_cast<unsigned>(settings.document.size()), cml::kParseNonValidating);
    } catch (const cml::CCmlException& e) {
        throw std::runtime_error("group settings file " + path + " is not a well-formed document: " +
                                 ToUtf8(e.GetDescription() ? e.GetDescription() : u""));
    }
    if (parser.GetRootName() != cml::kTagPolicy ||
        parser.GetRootNamespaceURI() != cml::kGroupSettingsNamespaceURI) {
        throw std::runtime_error("group settings file " + path + " has no \"policy\" root in the group settings namespace");
    }
    settings.version = version;
    if (settings.version.empty()) settings.version = parser.GetDocumentElement().GetAttribute(cml::kTagVersion);
    if (settings.version.empty()) settings.version = std::u16string(u"1");
    return settings;
}

}  // namespace zel::controller
