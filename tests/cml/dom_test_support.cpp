// Starts Xerces once for the whole CML test program.
#include <gtest/gtest.h>

#include <xercesc/util/PlatformUtils.hpp>

namespace {

struct XercesEnvironment : ::testing::Environment {
    void SetUp() override { xercesc::XMLPlatformUtils::Initialize(); }
};

[[maybe_unused]] ::testing::Environment* const g_xercesEnvironment =
    ::testing::AddGlobalTestEnvironment(new XercesEnvironment);

}  // namespace
