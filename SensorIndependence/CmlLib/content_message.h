// A message whose element carries a content object directly: the content's attributes follow
// the message's own in the start tag, and the content's sections are the element's children.
// The startup announcement and the get-agent-info response carry agent-info content this way,
// the agent-status announcement and the get-agent-status response agent-status content.
#pragma once

#include <memory>
#include <ostream>
#include <utility>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"

namespace zel::cml {

// `Derived` is the message class (naming its clone text in kCloneOperation), `Base`
// CCmlRequest or CCmlResponse, `Content` a class offering HasContent, CollectNamespaces,
// Deserialize, SerializeAttributes and SerializeContent, narrow and wide.
template <typename Derived, typename Base, typename Content>
class CContentMessage : public Base {
public:
    using Base::Base;
    CContentMessage(const CContentMessage&) = default;
    // The message fields, then the content; self-assignment does nothing. The content copy is
    // the step that can fail, so it comes before anything changes.
    CContentMessage& operator=(const CContentMessage& other) {
        if (this != &other) {
            Content content(other.m_content);
            Base::operator=(other);
            m_content = std::move(content);
        }
        return *this;
    }
    ~CContentMessage() override = default;

    // A heap copy (Derived::kCloneOperation, "Insufficient memory", 0xC7210001 when memory runs
    // out).
    std::unique_ptr<Derived> Clone() const { return std::unique_ptr<Derived>(static_cast<Derived*>(DoClone())); }

    virtual Content& GetContent() { return m_content; }
    virtual const Content& GetContent() const { return m_content; }

    // True when the content has a child section to write.
    bool HasContent() const override { return m_content.HasContent(); }
    // The message's namespace, then the content's.
    void CollectNamespaces(NamespaceSet& namespaces) const override {
        Base::CollectNamespaces(namespaces);
        m_content.CollectNamespaces(namespaces);
    }
    // The message fields, then the content from the same element.
    void Deserialize(const CCmlDOM_Element& element) override {
        Base::Deserialize(element);
        m_content.Deserialize(element);
    }
    // The message attributes, then the content's.
    void SerializeAttributes(std::ostream& stream) const override { SerializeAttributesImpl(stream); }
    void SerializeAttributes(std::basic_ostream<char16_t>& stream) const override { SerializeAttributesImpl(stream); }
    // The content's child sections at `level`.
    void SerializeContent(std::ostream& stream, int level) const override { m_content.SerializeContent(stream, level); }
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override {
        m_content.SerializeContent(stream, level);
    }

protected:
    Base* DoClone() const override {
        return CloneOrThrow(static_cast<const Derived&>(*this), Derived::kCloneOperation).release();
    }

private:
    template <typename Stream>
    void SerializeAttributesImpl(Stream& stream) const {
        Base::SerializeAttributes(stream);
        m_content.SerializeAttributes(stream);
    }

    Content m_content;
};

}  // namespace zel::cml
