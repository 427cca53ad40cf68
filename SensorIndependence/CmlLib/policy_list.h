// The policy documents an element holds in place of (or beside) its parameters: agent-info
// content, module information, agent-status content and task descriptors all keep one such
// list and offer the same operations on it.
#pragma once

#include <cstddef>
#include <memory>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/policy.h"

namespace zel::cml {

// The operation texts of a holder's index failures.
struct PolicyListTexts {
    const char16_t* get;  // GetPolicy
    const char16_t* set;  // SetPolicy
};

// An owning, ordered list of policy sources. Copies clone every policy. Every operation that
// stores a policy whose namespace is "/cml/RoAvpSections" first gives it the AVP-sections
// schema version "2.0.1".
class CPolicyList {
public:
    // An empty list reporting index failures with `texts` (which outlive the list).
    explicit CPolicyList(const PolicyListTexts& texts) noexcept : m_texts(&texts) {}
    // Clones every policy of `other`.
    CPolicyList(const CPolicyList& other);
    CPolicyList(CPolicyList&& other) noexcept = default;
    // Clones first, so that a failure leaves the list as it was; the texts stay this list's.
    CPolicyList& operator=(const CPolicyList& other);
    CPolicyList& operator=(CPolicyList&& other) noexcept;
    virtual ~CPolicyList();

    // Policy `index`; an index at or beyond the count throws CCmlException (the holder's get
    // text, "Invalid vector index", 0xC738000B).
    virtual CPolicySource& GetPolicy(std::size_t index);
    virtual const CPolicySource& GetPolicy(std::size_t index) const;
    virtual const PolicySourceVector& GetPolicies() const;
    virtual PolicySourceVector& GetPolicies();
    virtual std::size_t GetPolicyCount() const;
    // Deletes the policies held, then adds a clone of each given policy in order.
    virtual void SetPolicies(const PolicySourceVector& policies);
    // Takes ownership and appends; returns the stored pointer. Null throws CCmlException
    // ("Adding policy to policy vector", "NULL object pointer", 0xC7210003).
    virtual CPolicySource* AddPolicy(std::unique_ptr<CPolicySource> policy);
    virtual CPolicySource* AddPolicy(CPolicySource* policy);
    // Appends a clone; returns the stored pointer.
    virtual CPolicySource* AddPolicy(const CPolicySource& policy);
    // Appends a policy node over `element` (which keeps its DOM document alive); returns it.
    virtual CPolicySource* AddPolicy(const CCmlDOM_Element& element);
    // Replaces policy `index` (deleting the old one) with a clone of `policy` / with `policy`
    // itself; an index at or beyond the count throws CCmlException (the holder's set text,
    // "Invalid vector index", 0xC738000B) and leaves the list unchanged.
    virtual void SetPolicy(std::size_t index, const CPolicySource& policy);
    virtual void SetPolicy(std::size_t index, std::unique_ptr<CPolicySource> policy);
    virtual void SetPolicy(std::size_t index, CPolicySource* policy);

protected:
    // Adds the namespaces of every policy, in order.
    void CollectPolicyNamespaces(NamespaceSet& namespaces) const;
    // Writes every policy at `level`, in order.
    template <typename Stream>
    void SerializePolicies(Stream& stream, int level) const {
        for (const auto& policy : m_policies) policy->Serialize(stream, level);
    }
    void ClearPolicies() { m_policies.clear(); }

private:
    const PolicyListTexts* m_texts;
    PolicySourceVector m_policies;
};

}  // namespace zel::cml
