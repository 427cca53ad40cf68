// Test helpers shared by the CML tests: writing and parsing objects, checking a CCmlException, a
// policy object for tests, and measuring the XML library's memory.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <xercesc/framework/MemoryManager.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "runtime/unicode.h"
#include "support/resident_size.h"

namespace zel::cml::test {

// `object` written at `level` on a CharT stream, as UTF-8.
template <typename CharT = char, typename T>
std::string Write(const T& object, int level = 0) {
    std::basic_ostringstream<CharT> out;
    object.Serialize(out, level);
    if constexpr (std::is_same_v<CharT, char>) return out.str();
    else return ToUtf8(out.str());
}

template <typename T>
std::string Narrow(const T& object, int level = 0) { return Write<char>(object, level); }
template <typename T>
std::string Wide(const T& object, int level = 0) { return Write<char16_t>(object, level); }

template <typename T>
std::string Document(const T& message) {
    std::ostringstream out;
    message.SerializeDocument(out);
    return out.str();
}

inline void ParseInto(CCmlParser& parser, const std::string& text, int kind = kParseNonValidating) {
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()), kind);
}

// A parsed document whose parser the test can destroy at a moment of its choosing.
class Parsed {
public:
    explicit Parsed(const std::string& text, xercesc::MemoryManager* manager = nullptr)
        : m_parser(std::make_unique<CCmlParser>(3, manager)) {
        ParseInto(*m_parser, text);
    }
    CCmlDOM_Element Root() const { return m_parser->GetDocumentElement(); }
    CCmlDOM_Element Envelope() const { return m_parser->GetEnvelopeElement(); }
    CCmlParser& Parser() const { return *m_parser; }
    void DestroyParser() { m_parser.reset(); }

private:
    std::unique_ptr<CCmlParser> m_parser;
};

// Reads the root element of `text` into `object`; the parser is gone on return.
template <typename T>
void ReadElement(T& object, const std::string& text) {
    object.Deserialize(Parsed(text).Root());
}

// Reads the envelope of the CML document `text`; the parser is gone on return.
inline CCmlMessage ReadEnvelope(const std::string& text) {
    CCmlMessage message;
    message.Deserialize(Parsed(text).Envelope());
    return message;
}

inline void ExpectCmlError(const std::function<void()>& action, const std::u16string& operation,
                           const std::u16string& description, uint32_t code) {
    try {
        action();
        ADD_FAILURE() << "no exception";
    } catch (const CCmlException& e) {
        EXPECT_EQ(std::u16string(e.GetOperation()), operation);
        EXPECT_EQ(std::u16string(e.GetDescription()), description);
        EXPECT_EQ(e.GetCode(), code);
    }
}

// A policy document held as an object, of any namespace and schema version: a controller
// list with one line per controller, or no content.
class TestPolicy : public CCmlPolicy {
public:
    explicit TestPolicy(const char16_t* namespaceURI = kGroupSettingsNamespaceURI,
                        const char16_t* schemaVersion = u"1.0.0")
        : CCmlPolicy(kTagPolicy, namespaceURI), m_schemaVersion(schemaVersion) {}
    std::u16string GetSchemaVersion() const override { return m_schemaVersion; }
    void SetSchemaVersion(const char16_t* version) override { m_schemaVersion = version ? version : u""; }
    bool HasContent() const override { return !m_controllers.empty(); }
    void SerializeContent(std::ostream& stream, int level) const override { Content(stream, level); }
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override { Content(stream, level); }
    void AddController(std::string line) { m_controllers.push_back(std::move(line)); }

protected:
    TestPolicy* DoClone() const override { return CloneOrThrow(*this, u"Cloning test policy object").release(); }

private:
    template <typename CharT>
    void Content(std::basic_ostream<CharT>& stream, int level) const {
        if (m_controllers.empty()) return;
        const std::string indent(4 * level, ' ');
        std::string text = indent + "<controller-list>\n";
        for (const std::string& line : m_controllers) text += indent + "    " + line + "\n";
        for (char c : text + indent + "</controller-list>\n") stream.put(static_cast<CharT>(c));
    }

    std::u16string m_schemaVersion;
    std::vector<std::string> m_controllers;
};

// Counts the bytes the XML library holds through one memory manager at any moment.
class CountingMemoryManager : public xercesc::MemoryManager {
public:
    xercesc::MemoryManager* getExceptionMemoryManager() override { return this; }
    void* allocate(XMLSize_t size) override {
        auto* block = static_cast<std::size_t*>(::operator new(size + sizeof(std::max_align_t)));
        *block = size;
        m_live += static_cast<long long>(size);
        return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
    }
    void deallocate(void* p) override {
        if (!p) return;
        auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(p) - sizeof(std::max_align_t));
        m_live -= static_cast<long long>(*block);
        ::operator delete(block);
    }
    long long Live() const { return m_live; }

private:
    long long m_live = 0;
};

using zel::test::ResidentKilobytes;

}  // namespace zel::cml::test
