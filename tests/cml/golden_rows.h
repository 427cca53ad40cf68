// Golden-text rows: a hand-written text read into a fresh object (a message through the factory
// that names its class for the tag), the parser destroyed, and the object written back on both
// stream kinds; the output must equal the text (or the row's `written`) byte for byte. And the
// group settings document the policy tests share.
#pragma once

#include "SensorIndependence/CmlLib/message_factory.h"
#include "cml/cml_test_support.h"

namespace zel::cml::test {

// A stand-alone group settings document, as a controller or a settings file holds it.
inline const std::string kGroupSettingsDocument =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group' version='3' "
    "schema-version='1.0.0'>\n  <controller-list>\n"
    "    <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n  </controller-list>\n</policy>\n";

struct GoldenRow {
    using Reread = std::pair<std::string, std::string> (*)(const std::string& text);
    Reread reread;
    std::string text;
    std::string written = {};  // when it differs from the text
};

template <typename T>
std::pair<std::string, std::string> Reread(const std::string& text) {
    Parsed parsed(text);
    std::unique_ptr<T> object;
    if constexpr (std::is_same_v<T, CCmlRequest>) {
        object = CreateRequest(parsed.Root().GetNodeName());
    } else if constexpr (std::is_same_v<T, CCmlResponse>) {
        object = CreateResponse(parsed.Root().GetNodeName());
    } else {
        object = std::make_unique<T>();
    }
    object->Deserialize(parsed.Root());
    parsed.DestroyParser();
    return {Narrow(*object), Wide(*object)};
}

inline void ExpectGoldenRows(const std::vector<GoldenRow>& rows) {
    for (const GoldenRow& row : rows) {
        SCOPED_TRACE(row.text);
        const auto [narrow, wide] = row.reread(row.text);
        EXPECT_EQ(narrow, row.written.empty() ? row.text : row.written);
        EXPECT_EQ(wide, narrow);
    }
}

}  // namespace zel::cml::test
