#include "SensorIndependence/CmlLib/policy_list.h"

#include <new>
#include <utility>

#include "SensorIndependence/CmlLib/avp_sections.h"
#include "SensorIndependence/CmlLib/content_support.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

namespace {
constexpr const char16_t* kOpAddPolicy = u"Adding policy to policy vector";
constexpr const char16_t* kOpCreatePolicyNode = u"Creating policy node object";

// Read-only AVP-sections documents travel with the AVP-sections schema version, whatever
// they were given.
void ApplyReadOnlyAvpVersion(CPolicySource& policy) {
    if (policy.GetNamespaceURI() == kRoAvpSectionsNamespaceURI) policy.SetSchemaVersion(kAvpSectionsSchemaVersion);
}

std::unique_ptr<CPolicySource> MakePolicyNode(const CCmlDOM_Element& element) {
    try {
        return std::make_unique<CPolicyNode>(element);
    } catch (const std::bad_alloc&) {
        throw CCmlException(kOpCreatePolicyNode, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
    }
}
}  // namespace

CPolicyList::CPolicyList(const CPolicyList& other) : m_texts(other.m_texts), m_policies(CloneAll(other.m_policies)) {}

CPolicyList& CPolicyList::operator=(const CPolicyList& other) {
    if (this != &other) m_policies = CloneAll(other.m_policies);
    return *this;
}

CPolicyList& CPolicyList::operator=(CPolicyList&& other) noexcept {
    m_policies = std::move(other.m_policies);
    return *this;
}

CPolicyList::~CPolicyList() = default;

CPolicySource& CPolicyList::GetPolicy(std::size_t index) { return At(m_policies, index, m_texts->get); }
const CPolicySource& CPolicyList::GetPolicy(std::size_t index) const { return At(m_policies, index, m_texts->get); }
const PolicySourceVector& CPolicyList::GetPolicies() const { return m_policies; }
PolicySourceVector& CPolicyList::GetPolicies() { return m_policies; }
std::size_t CPolicyList::GetPolicyCount() const { return m_policies.size(); }

void CPolicyList::SetPolicies(const PolicySourceVector& policies) {
    // Clones first, so that a failure leaves the held policies as they were.
    PolicySourceVector clones = CloneAll(policies);
    for (const auto& clone : clones) ApplyReadOnlyAvpVersion(*clone);
    m_policies = std::move(clones);
}

CPolicySource* CPolicyList::AddPolicy(std::unique_ptr<CPolicySource> policy) {
    if (!policy) throw CCmlException(kOpAddPolicy, kTextNullObjectPointer, ZEL_E_INVALIDARG);
    // Before storing: a policy whose version cannot be set is not taken.
    ApplyReadOnlyAvpVersion(*policy);
    return &Append(m_policies, std::move(policy));
}

CPolicySource* CPolicyList::AddPolicy(CPolicySource* policy) {
    return AddPolicy(std::unique_ptr<CPolicySource>(policy));
}
CPolicySource* CPolicyList::AddPolicy(const CPolicySource& policy) { return AddPolicy(policy.Clone()); }
CPolicySource* CPolicyList::AddPolicy(const CCmlDOM_Element& element) { return AddPolicy(MakePolicyNode(element)); }

void CPolicyList::SetPolicy(std::size_t index, const CPolicySource& policy) {
    At(m_policies, index, m_texts->set);
    SetPolicy(index, policy.Clone());
}

void CPolicyList::SetPolicy(std::size_t index, std::unique_ptr<CPolicySource> policy) {
    At(m_policies, index, m_texts->set);
    if (policy && policy.get() == m_policies[index].get()) {
        // Handing back the entry already held: it keeps its one owner, also when setting its
        // version fails.
        ApplyReadOnlyAvpVersion(*policy.release());
        return;
    }
    if (policy) ApplyReadOnlyAvpVersion(*policy);
    Replace(m_policies, index, std::move(policy), m_texts->set);
}

void CPolicyList::SetPolicy(std::size_t index, CPolicySource* policy) {
    SetPolicy(index, std::unique_ptr<CPolicySource>(policy));
}

void CPolicyList::CollectPolicyNamespaces(NamespaceSet& namespaces) const {
    for (const auto& policy : m_policies) policy->CollectNamespaces(namespaces);
}

}  // namespace zel::cml
