#include "SensorIndependence/CmlLib/cml_exception.h"

#include <utility>

#include "zel/status_codes.h"

namespace zel::cml {

CCmlException::CCmlException(std::u16string operation, std::u16string description, uint32_t code)
    : m_operation(std::move(operation)), m_description(std::move(description)), m_code(code) {}

CCmlException::~CCmlException() = default;

const char16_t* CCmlException::GetOperation() const { return m_operation.c_str(); }

const char16_t* CCmlException::GetDescription() const { return m_description.c_str(); }

uint32_t CCmlException::GetCode() const { return m_code; }

void CCmlException::Format(std::u16string& out) const {
    static const char kHexDigits[] = "0123456789abcdef";
    out = m_operation;
    out += u":  ";
    out += m_description;
    out += u"; error = 0x";
    bool started = false;
    for (int shift = 28; shift >= 0; shift -= 4) {
        unsigned digit = (m_code >> shift) & 0xFu;
        if (digit != 0 || started || shift == 0) {
            out += static_cast<char16_t>(kHexDigits[digit]);
            started = true;
        }
    }
}

CSchemaIncompatibility::CSchemaIncompatibility(std::u16string namespaceURI, std::u16string supportedVersion,
                                               std::u16string documentVersion)
    : m_namespaceURI(std::move(namespaceURI)),
      m_supportedVersion(std::move(supportedVersion)),
      m_documentVersion(std::move(documentVersion)) {}

CSchemaIncompatibility::~CSchemaIncompatibility() = default;

bool CSchemaIncompatibility::operator<(const CSchemaIncompatibility& other) const {
    // Lexicographic over the three strings, so that the order is a strict weak ordering
    // usable by sorted containers.
    if (m_namespaceURI != other.m_namespaceURI) return m_namespaceURI < other.m_namespaceURI;
    if (m_supportedVersion != other.m_supportedVersion) return m_supportedVersion < other.m_supportedVersion;
    return m_documentVersion < other.m_documentVersion;
}

CSchemaIncompatibility& CSchemaIncompatibility::operator=(const CSchemaIncompatibility& other) {
    if (this != &other) {
        m_namespaceURI = other.m_namespaceURI;
        m_supportedVersion = other.m_supportedVersion;
        m_documentVersion = other.m_documentVersion;
    }
    return *this;
}

std::unique_ptr<CSchemaIncompatibility> CSchemaIncompatibility::Clone() const {
    return CloneOrThrow(*this, u"Cloning schema incomatibility object");
}

const std::u16string& CSchemaIncompatibility::GetNamespaceURI() const { return m_namespaceURI; }

const std::u16string& CSchemaIncompatibility::GetSupportedVersion() const { return m_supportedVersion; }

const std::u16string& CSchemaIncompatibility::GetDocumentVersion() const { return m_documentVersion; }

CSchemaException::CSchemaException(std::u16string operation, std::u16string description, uint32_t code)
    : CCmlException(std::move(operation), std::move(description), code) {}

CSchemaException::CSchemaException(const CCmlException& source) : CCmlException(source) {
    if (const auto* schemaSource = dynamic_cast<const CSchemaException*>(&source)) {
        m_incompatibilities = schemaSource->m_incompatibilities;
    }
}

CSchemaException::~CSchemaException() = default;

void CSchemaException::AddIncompatibility(const std::u16string& namespaceURI, const std::u16string& supportedVersion,
                                          const std::u16string& documentVersion) {
    m_incompatibilities.emplace_back(namespaceURI, supportedVersion, documentVersion);
}

SchemaIncompatibilityList::const_iterator CSchemaException::Begin() const { return m_incompatibilities.begin(); }

SchemaIncompatibilityList::const_iterator CSchemaException::End() const { return m_incompatibilities.end(); }

std::size_t CSchemaException::Count() const { return m_incompatibilities.size(); }

const SchemaIncompatibilityList& CSchemaException::GetIncompatibilities() const { return m_incompatibilities; }

SchemaIncompatibilityList& CSchemaException::GetIncompatibilities() { return m_incompatibilities; }

}  // namespace zel::cml
