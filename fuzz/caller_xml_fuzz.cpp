// XML texts from the agent through the heartbeat adders, and plain texts through the
// setters. Oracle: whatever the calls accepted, the heartbeat must still be a document
// the CML parser reads.
//
// Input: the first byte picks the adder; the bytes after it up to the last NUL are the
// XML text; the bytes after the last NUL, if there is one, are a text handed to every
// text field of the setters and of the text-only adders (schema and module entries,
// set-policy and set-schema answers).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "fuzz/library_session.h"
#include "runtime/unicode.h"
#include "sensor_services/heartbeat_builder.h"
#include "zel/sensor_services.h"

namespace {

constexpr const char* kSchemaNamespace = "http://schemas.zel.example/cml/SchemaA";

using Heartbeat = std::unique_ptr<std::remove_pointer_t<SS_Heartbeat>, decltype(&FreeHeartbeat)>;

struct Input {
    unsigned char adder = 0;
    std::string xml;
    std::string text;
    bool hasText = false;
};

Input Split(const uint8_t* data, size_t size) {
    Input input;
    if (size == 0) return input;
    input.adder = data[0];
    const char* const begin = reinterpret_cast<const char*>(data) + 1;
    const char* const end = reinterpret_cast<const char*>(data) + size;
    const char* lastNul = end;
    for (const char* p = end; p != begin; --p) {
        if (p[-1] == '\0') {
            lastNul = p - 1;
            break;
        }
    }
    input.xml.assign(begin, lastNul);
    if (lastNul != end) {
        input.hasText = true;
        input.text.assign(lastNul + 1, end);
    }
    return input;
}

// The adder the first byte picks, called with the XML text; its name for the oracle's
// message.
const char* CallAdder(SS_Heartbeat heartbeat, const Input& input) {
    const char* const xml = input.xml.data();
    const auto length = static_cast<uint32_t>(input.xml.size());
    char id[37];
    uint32_t idLength = sizeof id;
    switch (input.adder % 7) {
        case 0: {
            SS_Module module = nullptr;
            AddModuleInfo(heartbeat, "scanner", "1.0", 0, nullptr, &module);
            AddModuleInfoParams(module, xml, length);
            return "AddModuleInfoParams";
        }
        case 1:
            AddAgentParams(heartbeat, xml, length);
            return "AddAgentParams";
        case 2:
            AddOptAgentProperties(heartbeat, xml, length, id, &idLength);
            return "AddOptAgentProperties";
        case 3:
            AddSetPolicyRequest(heartbeat, xml, length, id, &idLength);
            return "AddSetPolicyRequest";
        case 4:
            AddSetSchemaRequest(heartbeat, "Schema A", kSchemaNamespace, "1.0", 1, xml, length, id, &idLength);
            return "AddSetSchemaRequest";
        case 5:
            AddGetSchemaResponse(heartbeat, "Schema A", kSchemaNamespace, "1.0", 0, nullptr, xml, length, 0,
                                 "request-1", 9);
            return "AddGetSchemaResponse";
        default:
            // No XML here: the text goes into every field the request writes.
            AddGetSchemaRequest(heartbeat, input.xml.c_str(), input.xml.c_str(), input.xml.c_str(), id, &idLength);
            return "AddGetSchemaRequest";
    }
}

void AddTexts(SS_Heartbeat heartbeat, const std::string& text) {
    const char* const t = text.c_str();
    const auto length = static_cast<uint32_t>(text.size());
    SetHostInfo(heartbeat, t, t, t, nullptr, t, t, t, t);
    SetBasicAgentInfo(heartbeat, t, t, 0, t, 0, t, t, t, t, 0, 1);
    AddSchemaInfo(heartbeat, t, t, t, 1, 0, 1, 0);
    AddModuleInfo(heartbeat, t, t, 0, t, nullptr);
    // A failure status, so that each answer holds an item and can be written.
    AddSetPolicyResponse(heartbeat, t, t, t, 1, t, t, t, length);
    AddSetSchemaResponse(heartbeat, t, t, t, 1, t, t, length);
}

[[noreturn]] void Fail(const std::string& calls, const std::string& what, const std::string& document) {
    std::fprintf(stderr, "caller_xml: after %s the heartbeat %s\n--- heartbeat document ---\n%s\n", calls.c_str(),
                 what.c_str(), document.c_str());
    std::abort();
}

std::string Describe(const zel::cml::CCmlException& e) {
    std::u16string text;
    e.Format(text);
    return zel::ToUtf8(text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel::fuzz::Library();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Input input = Split(data, size);
    SS_Heartbeat raw = nullptr;
    if (CreateHeartbeat(&raw, zel::fuzz::kAgentId, "Agent One", "urn:agent", "1.0", "127.0.0.1") != 0)
        Fail("CreateHeartbeat", "was not created", "");
    const Heartbeat heartbeat(raw, &FreeHeartbeat);

    std::string calls = CallAdder(heartbeat.get(), input);
    if (input.hasText) {
        AddTexts(heartbeat.get(), input.text);
        calls += " and the text setters";
    }

    std::ostringstream out;
    try {
        zel::ss::MessageOf(heartbeat.get())->SerializeDocument(out);
    } catch (const zel::cml::CCmlException& e) {
        Fail(calls, "cannot be written: " + Describe(e), out.str());
    }
    const std::string document = out.str();
    try {
        zel::cml::CCmlParser parser;
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(document.data()), static_cast<unsigned>(document.size()),
                           zel::cml::kParseNonValidating);
    } catch (const zel::cml::CCmlException& e) {
        Fail(calls, "is no readable document: " + Describe(e), document);
    }
    return 0;
}
