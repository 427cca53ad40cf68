#include "SensorIndependence/CmlLib/cml_namespace.h"

#include <utility>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "zel/status_codes.h"

namespace zel::cml {

CNamespace::CNamespace(std::u16string uri, std::u16string version)
    : m_uri(std::move(uri)), m_version(std::move(version)) {}

CNamespace& CNamespace::operator=(const CNamespace& other) {
    if (this != &other) {
        m_uri = other.m_uri;
        m_version = other.m_version;
    }
    return *this;
}

CNamespace::~CNamespace() = default;

std::unique_ptr<CNamespace> CNamespace::Clone() const {
    return CloneOrThrow(*this, u"Cloning namespace object");
}

bool CNamespace::operator<(const CNamespace& other) const { return m_uri < other.m_uri; }

const std::u16string& CNamespace::GetURI() const { return m_uri; }

const std::u16string& CNamespace::GetVersion() const { return m_version; }

void AddNamespace(NamespaceSet& set, const std::u16string& uri, const std::u16string& version,
                  const std::u16string& operation) {
    // Every message of a namespace adds it again: look the URI up before copying anything.
    const auto position = set.lower_bound(std::u16string_view(uri));
    if (position == set.end() || position->GetURI() != uri) {
        set.emplace_hint(position, uri, version);
        return;
    }
    if (position->GetVersion() == version) return;

    std::u16string message = u"Namespace/schema-version conflict among descendant elements:  tried to add namespace \"";
    message += uri;
    message += u"\" version ";
    message += version;
    message += u"; set already contains namespace \"";
    message += position->GetURI();
    message += u"\" version ";
    message += position->GetVersion();
    throw CCmlException(operation, message, ZEL_E_CML_VERSION_CONFLICT);
}

}  // namespace zel::cml
