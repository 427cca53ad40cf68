// A controller reply is untrusted input: these tests feed the parser documents that try to
// make it read local files, connect to servers, expand entities or nest elements without bound,
// and check that nothing is opened, nothing connects and the parse fails fast.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include "cml/cml_test_support.h"
#include "support/temp_dir.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

constexpr const char kCanaryBytes[] = "CANARY-5e1d0c-SECRET";
const std::string kFrame = "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>";

// A canary file in a fresh temporary directory, watched for every open and read.
struct Canary {
    zel::test::TempDir dir;
    std::string path = dir.File("canary.txt");
    int inotify = (std::ofstream(path) << kCanaryBytes, inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    int watch = inotify_add_watch(inotify, path.c_str(), IN_OPEN | IN_ACCESS);
    ~Canary() { close(inotify); }
    // True when the file was opened or read since the last call.
    bool Touched() const {
        char buffer[4096];  // room for the events of many opens
        return read(inotify, buffer, sizeof buffer) > 0;
    }
};

// A TCP listener on 127.0.0.1 (port chosen by the system) at `url` that accepts and closes
// every connection and counts them.
struct LoopbackListener {
    int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    std::atomic<int> connections{0};
    std::string url;
    std::thread thread;
    LoopbackListener() {
        socklen_t length = sizeof address;
        if (socket < 0 || bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(socket, 16) != 0 || getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("listener setup failed");
        url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        thread = std::thread([this] {
            for (int client; (client = accept(socket, nullptr, nullptr)) >= 0; close(client)) ++connections;
        });
    }
    ~LoopbackListener() {
        shutdown(socket, SHUT_RDWR);  // ends the accept
        thread.join();
        close(socket);
    }
};

// Documents that name an outside resource `url` in every way XML and XML Schema allow.
std::vector<std::string> HostileDocuments(const std::string& url) {
    return {
        // An external general entity used in content.
        "<?xml version='1.0'?>\n<!DOCTYPE zel [<!ENTITY x SYSTEM '" + url + "'>]>\n" + kFrame + "&x;</zel>",
        // An external DTD.
        "<?xml version='1.0'?>\n<!DOCTYPE zel SYSTEM '" + url + "'>\n" + kFrame + "</zel>",
        // A public identifier with a system literal.
        "<!DOCTYPE zel PUBLIC '-//X//DTD X//EN' '" + url + "'><zel/>",
        // An external parameter entity referenced in the internal subset.
        "<!DOCTYPE zel [<!ENTITY % p SYSTEM '" + url + "'> %p;]><zel/>",
        // An external entity in an attribute default.
        "<!DOCTYPE zel [<!ENTITY x SYSTEM '" + url + "'><!ATTLIST zel a CDATA '&x;'>]><zel/>",
        // Schema locations for a CML namespace, an unknown namespace and no namespace.
        "<zel xmlns='http://schemas.zel.example' xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
        " xsi:schemaLocation='http://schemas.zel.example " + url + "' schema-version='1.0.0'>"
        "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2' xsi:schemaLocation="
        "'http://schemas.zel.example/cml " + url + "'/>"
        "<o xmlns='http://other.example' xsi:schemaLocation='http://other.example " + url + "'/></zel>",
        "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xsi:noNamespaceSchemaLocation='" + url + "'/>",
        // XInclude.
        kFrame + "<xi:include xmlns:xi='http://www.w3.org/2001/XInclude' href='" + url + "' parse='text'/></zel>",
    };
}

// The failure's code, operation and description, or 0 and the document's text content.
std::pair<uint32_t, std::string> ParseAndCollectText(const std::string& text, int kind) {
    CCmlParser parser;
    try {
        test::ParseInto(parser, text, kind);
    } catch (const CCmlException& e) {
        return {e.GetCode(), ToUtf8(std::u16string(e.GetOperation()) + u":  " + e.GetDescription())};
    }
    const CCmlDOM_Element root = parser.GetDocumentElement();
    return {0, ToUtf8(std::u16string(root.GetElement()->getTextContent())) + ToUtf8(root.GetAttribute(u"a"))};
}

TEST(ParserSecurity, OutsideResourcesNamedByADocumentAreNeverOpened) {
    const Canary canary;
    const LoopbackListener listener;
    std::vector<std::string> documents = HostileDocuments("file://" + canary.path);
    for (const std::string& document : HostileDocuments(listener.url + "/resource.xsd")) documents.push_back(document);
    // A plain file path in a system literal.
    documents.push_back("<!DOCTYPE zel [<!ENTITY x SYSTEM '" + canary.path + "'>]><zel>&x;</zel>");
    for (const std::string& document : documents) {
        for (int kind : {kParseValidating, kParseNonValidating, kParseByMode}) {
            const auto [code, seen] = ParseAndCollectText(document, kind);
            EXPECT_FALSE(canary.Touched()) << "kind " << kind << ": " << document;
            EXPECT_EQ(seen.find(kCanaryBytes), std::string::npos) << seen;
            EXPECT_TRUE(document.find("<!DOCTYPE") == std::string::npos || code == ZEL_E_CML_PARSE_FATAL) << seen;
        }
    }
    // Give a connection that was started a moment to be accepted before counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(listener.connections.load(), 0);

    // The watch does see Xerces with its defaults follow the entity.
    xercesc::XercesDOMParser plain;
    plain.parse(CCmlMemBufInputSource(reinterpret_cast<const XMLByte*>(documents[0].data()), documents[0].size()));
    EXPECT_TRUE(canary.Touched());
}

std::string Repeat(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

// `depth` nested elements around `inner`.
std::string Nested(std::size_t depth, const std::string& inner = "") {
    return Repeat("<n>", depth) + inner + Repeat("</n>", depth);
}

// Entity bombs are refused at the declaration itself, before a single entity is declared; nesting
// beyond the depth limit is a fatal error found while reading; the references CML texts use pass.
TEST(ParserSecurity, EntityBombsAndDeepNestingFailFast) {
    std::string laughs = "<?xml version='1.0'?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 'lol'>\n";
    for (int i = 1; i <= 10; ++i)
        laughs += "<!ENTITY lol" + std::to_string(i) + " '" + Repeat("&lol" + std::to_string(i - 1) + ";", 10) + "'>\n";
    // Quadratic blow-up: one large entity used many times.
    const std::string quadratic =
        "<!DOCTYPE z [<!ENTITY a '" + std::string(50000, 'a') + "'>]><z>" + Repeat("&a;", 50000) + "</z>";
    const std::string references =
        "<zel a='" + Repeat("&amp;&apos;&#xa;", 2000) + "'>" + Repeat("&lt;&gt;&quot;&#65;", 2000) + "</zel>";
    const std::string deep = "line 1, column ", tooDeep = "\n   Message:  Elements are nested deeper than 256 levels";
    // The failure's position and a part of its message; no position: the parse passes.
    const struct { const char* name; std::string text, at, message; } cases[] = {
        {"billion laughs", laughs + "]>\n<lolz>&lol10;</lolz>\n", "line 2,", ""},
        {"quadratic", quadratic, "line 1,", ""},
        {"predefined entities and character references are not capped", references, "", ""},
        {"at the limit", Nested(kMaxElementDepth), "", ""},
        {"one deeper", Nested(kMaxElementDepth + 1), deep, tooDeep},
        {"one deeper, empty innermost", Nested(kMaxElementDepth, "<e/>"), deep, tooDeep},
        // Empty elements close themselves: any number of them at the limit is fine.
        {"many empty siblings deep down", Nested(kMaxElementDepth - 1, Repeat("<e a='1'/>", 20000)), "", ""},
        {"a hundred thousand levels inside zel", kFrame + Nested(100000) + "</zel>", deep, tooDeep},
        {"a hundred thousand levels, unclosed", Nested(100000).substr(0, 300000), deep, tooDeep},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int kind : {kParseNonValidating, kParseValidating}) {
            const long before = test::ResidentKilobytes();
            const auto [code, outcome] = ParseAndCollectText(c.text, kind);
            EXPECT_EQ(code, c.at.empty() ? 0u : ZEL_E_CML_PARSE_FATAL) << outcome;
            if (c.at.empty()) continue;
            // A refused document stops early: it never builds much (accepted ones may, under ASan).
            EXPECT_LT(test::ResidentKilobytes() - before, 10 * 1024);
            EXPECT_THAT(outcome, testing::AllOf(testing::HasSubstr(c.message), testing::StartsWith(
                                     "Parse operation:  Fatal error parsing input \"ZEL CML Stream\", " + c.at)));
        }
    }
}

}  // namespace
}  // namespace zel::cml
