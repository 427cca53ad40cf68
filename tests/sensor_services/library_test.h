// The fixture of the tests that link the library's code: a library start per test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sensor_services/internal.h"
#include "services_fixture.h"
#include "zel/platform_posix.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {

// Each test starts and ends with the library shut down; the error log is cleared first.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ErrorLog::Instance().Clear(); }
    // The dispatch thread may still trace while it ends: the recorder must outlive it.
    void TearDown() override {
        EXPECT_EQ(0u, SS_ShutDown());
        WaitUntilLibraryGone();
    }
    // Writes the settings files naming `ports`, adding `properties` to the sensor_services
    // section, and starts the library (threaded: with m_platform) with ErrorLog as its error
    // callback.
    void Start(const std::vector<int>& ports, bool threaded, const std::string& properties = "") {
        m_files = std::make_unique<SettingsFiles>(ports);
        m_files->SetProperties("[sensor_services]\ndnsCacheTimeout = 60000\n" + properties);
        ASSERT_EQ(0u, SS_Init("3.0", m_files->PropertyFile().c_str(), m_files->GroupSettingsFile().c_str(), kAgentId,
                              0, threaded ? m_platform : nullptr, m_trace.Sink()));
        ASSERT_EQ(0u, SS_RegisterErrorCallback(&ErrorLog::Callback));
    }

    TraceRecorder m_trace;
    std::unique_ptr<SettingsFiles> m_files;
    const SS_PlatformServices* m_platform = ZEL_PosixPlatformServices();
};

}  // namespace zel::ss::test
