// CNamespace and the namespace set: the namespaces (URI and schema version) that a message
// and its content use, collected before a document is written or checked.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace zel::cml {

// One namespace as the system speaks it: a URI and the schema version of that namespace.
class CNamespace {
public:
    CNamespace(std::u16string uri, std::u16string version);
    CNamespace(const CNamespace&) = default;

    // Copies URI and version; self-assignment does nothing.
    virtual CNamespace& operator=(const CNamespace& other);
    virtual ~CNamespace();
    // A heap copy; throws CCmlException ("Cloning namespace object", 0xC7210001) when
    // memory runs out.
    virtual std::unique_ptr<CNamespace> Clone() const;
    // Orders by URI alone (code-unit order); the version takes no part.
    virtual bool operator<(const CNamespace& other) const;
    virtual const std::u16string& GetURI() const;
    virtual const std::u16string& GetVersion() const;

private:
    std::u16string m_uri;
    std::u16string m_version;
};

// The order of a namespace set: entries by URI, as CNamespace orders them, and an entry
// against a bare URI, so that a set is searched without building an entry for the key.
struct NamespaceOrder {
    using is_transparent = void;
    bool operator()(const CNamespace& left, const CNamespace& right) const { return left < right; }
    bool operator()(const CNamespace& left, std::u16string_view uri) const { return left.GetURI() < uri; }
    bool operator()(std::u16string_view uri, const CNamespace& right) const { return uri < right.GetURI(); }
};

// At most one entry per URI, in ascending code-unit order of the URIs.
using NamespaceSet = std::set<CNamespace, NamespaceOrder>;

// Adds (uri, version) to `set`. An entry with the same URI and version leaves the set as it
// is; one with the same URI and another version throws CCmlException (`operation`,
// 0xC738000E, a text naming the new pair and then the present pair) and keeps the present one.
void AddNamespace(NamespaceSet& set, const std::u16string& uri, const std::u16string& version,
                  const std::u16string& operation);

}  // namespace zel::cml
