// Its own test program: nothing here starts the XML library before the code under test, so
// the first parsers of the process are the ones that must start it, from several threads
// at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <xercesc/util/PlatformUtils.hpp>

#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/xml_init.h"

namespace zel::cml {
namespace {

TEST(XmlInit, FirstParsersOfTheProcessStartTheLibraryOnce) {
    ASSERT_EQ(xercesc::XMLPlatformUtils::fgMemoryManager, nullptr) << "the library was started before the test";
    const std::string text =
        "<zel xmlns='http://schemas.zel.example'><cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
        "<message-envelope message-id='m'/></cml></zel>";
    std::atomic<int> located{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            CCmlParser parser;
            parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                               kParseNonValidating);
            if (!parser.GetEnvelopeElement().IsNull()) ++located;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(located.load(), 8);
    const xercesc::MemoryManager* manager = xercesc::XMLPlatformUtils::fgMemoryManager;
    ASSERT_NE(manager, nullptr);
    XmlInit();
    EXPECT_EQ(xercesc::XMLPlatformUtils::fgMemoryManager, manager);
}

}  // namespace
}  // namespace zel::cml
