// Shared parts of the heartbeat construction tests: a library started in synchronous mode,
// heartbeat handles that free themselves, and views into the message behind a handle.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "runtime/unicode.h"
#include "sensor_services/heartbeat_builder.h"
#include "sensor_services/heartbeat_message.h"
#include "sensor_services/internal.h"
#include "library_test.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {

struct HeartbeatFree {
    void operator()(SS_Heartbeat handle) const { FreeHeartbeat(handle); }
};
// A heartbeat handle destroyed with FreeHeartbeat.
using Heartbeat = std::unique_ptr<std::remove_pointer_t<SS_Heartbeat>, HeartbeatFree>;

inline std::string Utf8(const std::u16string& text) { return ToUtf8(text); }

// The whole document of the heartbeat, as PostHeartbeat would serialise it.
inline std::string Document(SS_Heartbeat handle) {
    std::ostringstream document;
    MessageOf(handle)->SerializeDocument(document);
    return document.str();
}

inline cml::CAgentInfoContent& Content(SS_Heartbeat handle) {
    return FindAnnouncement(*MessageOf(handle))->GetContent();
}

// The body's requests and responses tagged `tagName`, in order.
inline std::vector<cml::CCmlRequest*> RequestsTagged(SS_Heartbeat handle, const std::u16string& tagName) {
    std::vector<cml::CCmlRequest*> found;
    for (const auto& request : MessageOf(handle)->GetRequests())
        if (request->GetTagName() == tagName) found.push_back(request.get());
    return found;
}
inline std::vector<cml::CCmlResponse*> ResponsesTagged(SS_Heartbeat handle, const std::u16string& tagName) {
    std::vector<cml::CCmlResponse*> found;
    for (const auto& response : MessageOf(handle)->GetResponses())
        if (response->GetTagName() == tagName) found.push_back(response.get());
    return found;
}

// The library in synchronous mode (no dispatch thread), its controller on port 1 (nobody
// listens there) unless the test starts it otherwise.
class HeartbeatLibraryTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        Start({1}, false);
    }

    // A new heartbeat for agent "id" with host address 10.0.0.1.
    Heartbeat NewHeartbeat() {
        SS_Heartbeat handle = nullptr;
        EXPECT_EQ(0u, CreateHeartbeat(&handle, "id", "agent", "urn:agent", "1.0", "10.0.0.1"));
        return Heartbeat(handle);
    }
};

}  // namespace zel::ss::test
