#include "sensor_services/failure_text.h"

#include <cstdio>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "runtime/unicode.h"
#include "sensor_services/trace_texts.h"

namespace zel::ss {

std::string HexStatus(uint32_t status) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", status);
    return text;
}

std::string ExceptionMessage(const cml::CCmlException& exception) {
    std::u16string message;
    exception.Format(message);
    return zel::ToUtf8(message);
}

std::string SchemaFailureText(const cml::CSchemaException& exception) {
    std::string text = text::kSchemaParseFailed + ExceptionMessage(exception);
    for (const cml::CSchemaIncompatibility& record : exception.GetIncompatibilities()) {
        text += text::kNamespaceLabel + zel::ToUtf8(record.GetNamespaceURI());
        text += text::kParserVersionLabel + zel::ToUtf8(record.GetSupportedVersion());
        text += text::kDocumentVersionLabel + zel::ToUtf8(record.GetDocumentVersion());
    }
    return text;
}

std::string BoundedLine(const char* format, const std::string& argument) {
    char line[1024];
    const int written = std::snprintf(line, sizeof line, format, argument.c_str());
    return written < 0 ? std::string() : std::string(line);
}

}  // namespace zel::ss
