// The local property file parser and writer. Oracles: a text that is refused leaves the
// object as it was; the text a parsed file writes parses again and writes the same text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "session_config/property_file.h"

namespace {

// What the file holds before the input is parsed into it.
constexpr std::string_view kEarlierText = "[sensor_services]\nretryInterval = 5\n";

[[noreturn]] void Fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "property_file: %s\n--- serialised text ---\n%s\n", what, text.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zel::scs::CPropertyFile file;
    if (!file.Parse(kEarlierText)) Fail("the earlier text is refused", std::string(kEarlierText));
    if (!file.Parse(text)) {
        const std::string kept = file.Serialize();
        if (kept != kEarlierText) Fail("a refused text changed the file", kept);
        return 0;
    }
    const std::string written = file.Serialize();
    zel::scs::CPropertyFile again;
    if (!again.Parse(written)) Fail("the serialised text is refused", written);
    if (again.Serialize() != written) Fail("the serialised text serialises differently", written);
    return 0;
}
