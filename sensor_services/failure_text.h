// The texts with which the services core traces a failed parse or processing step.
#pragma once

#include <cstdint>
#include <string>

namespace zel::cml {
class CCmlException;
class CSchemaException;
}  // namespace zel::cml

namespace zel::ss {

// `status` as "0x" and eight lower-case hexadecimal digits.
std::string HexStatus(uint32_t status);

// The exception's own message (operation, description and code), as UTF-8.
std::string ExceptionMessage(const cml::CCmlException& exception);

// "parse failed with schema error. Exception: <message>", then for every namespace whose
// schema versions do not match " Namespace: <uri> Parser version: <supported> Document
// version: <found>".
std::string SchemaFailureText(const cml::CSchemaException& exception);

// `format` (a printf format with one %s) applied to `argument`, cut to what a line buffer
// of 1024 bytes holds (1023 characters).
std::string BoundedLine(const char* format, const std::string& argument);

}  // namespace zel::ss
