// A controller reply is untrusted input: these tests feed the parser documents that try to
// make it read local files, connect to servers, expand entities or nest elements without bound,
// and check that nothing is opened, nothing connects and the parse fails fast.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include "cml/cml_test_support.h"
#include "support/temp_dir.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

constexpr const char kCanaryBytes[] = "CANARY-5e1d0c-SECRET";

// A canary file in a fresh temporary directory, watched for every open and read.
struct Canary {
    zel::test::TempDir dir;
    std::string path = dir.File("canary.txt");
    int inotify = (std::ofstream(path) << kCanaryBytes, inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    Canary() {
        if (inotify < 0 || inotify_add_watch(inotify, path.c_str(), IN_OPEN | IN_ACCESS) < 0)
            throw std::runtime_error("inotify failed");
    }
    ~Canary() { close(inotify); }
    // True when the file was opened or read since the last call.
    bool Touched() const {
        char buffer[4096];
        bool touched = false;
        while (read(inotify, buffer, sizeof buffer) > 0) touched = true;
        return touched;
    }
};

// A TCP listener on 127.0.0.1 (port chosen by the system) that accepts and closes every
// connection and counts them.
struct LoopbackListener {
    int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    std::atomic<bool> stop{false};
    std::atomic<int> connections{0};
    std::thread thread;
    LoopbackListener() {
        socklen_t length = sizeof address;
        if (socket < 0 || bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(socket, 16) != 0 || getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("listener setup failed");
        thread = std::thread([this] {
            for (pollfd entry{socket, POLLIN, 0}; !stop;) {
                const int client = poll(&entry, 1, 20) > 0 ? accept(socket, nullptr, nullptr) : -1;
                if (client >= 0) ++connections, close(client);
            }
        });
    }
    ~LoopbackListener() {
        stop = true;
        thread.join();
        close(socket);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + path;
    }
};

// Documents that name an outside resource `url` in every way XML and XML Schema allow.
std::vector<std::string> HostileDocuments(const std::string& url) {
    const std::string frame = "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>";
    return {
        // An external general entity used in content.
        "<?xml version='1.0'?>\n<!DOCTYPE zel [<!ENTITY x SYSTEM '" + url + "'>]>\n" + frame + "&x;</zel>",
        // An external DTD.
        "<?xml version='1.0'?>\n<!DOCTYPE zel SYSTEM '" + url + "'>\n" + frame + "</zel>",
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
        frame + "<xi:include xmlns:xi='http://www.w3.org/2001/XInclude' href='" + url + "' parse='text'/></zel>",
    };
}

// Parses `text` with `kind`; returns the failure's text or the document's text content.
std::string ParseAndCollectText(const std::string& text, int kind, uint32_t& code) {
    CCmlParser parser;
    code = 0;
    try {
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()), kind);
    } catch (const CCmlException& e) {
        code = e.GetCode();
        std::u16string formatted;
        e.Format(formatted);
        return ToUtf8(formatted);
    }
    const CCmlDOM_Element root = parser.GetDocumentElement();
    if (root.IsNull()) return std::string();
    return ToUtf8(std::u16string(root.GetElement()->getTextContent())) + ToUtf8(root.GetAttribute(u"a"));
}

TEST(ParserSecurity, OutsideResourcesNamedByADocumentAreNeverOpened) {
    const Canary canary;
    const LoopbackListener listener;
    std::vector<std::string> documents = HostileDocuments("file://" + canary.path);
    for (const std::string& document : HostileDocuments(listener.Url("/resource.xsd"))) documents.push_back(document);
    // A plain file path in a system literal.
    documents.push_back("<!DOCTYPE zel [<!ENTITY x SYSTEM '" + canary.path + "'>]><zel>&x;</zel>");
    for (const std::string& document : documents) {
        for (int kind : {kParseValidating, kParseNonValidating, kParseByMode}) {
            uint32_t code = 0;
            const std::string seen = ParseAndCollectText(document, kind, code);
            EXPECT_FALSE(canary.Touched()) << "kind " << kind << ": " << document;
            EXPECT_EQ(seen.find(kCanaryBytes), std::string::npos) << seen;
            EXPECT_TRUE(document.find("<!DOCTYPE") == std::string::npos || code == ZEL_E_CML_PARSE_FATAL) << seen;
        }
    }
    // Give a connection that was started a moment to be accepted before counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(listener.connections.load(), 0);

    // The watch and the listener do see Xerces with its defaults follow the entity and fetch the DTD.
    xercesc::XercesDOMParser plain;
    xercesc::HandlerBase quiet;
    plain.setErrorHandler(&quiet);
    const auto parse = [&](const std::string& document) {
        plain.parse(CCmlMemBufInputSource(reinterpret_cast<const XMLByte*>(document.data()), document.size()));
    };
    parse(documents[0]);
    EXPECT_TRUE(canary.Touched());
    ASSERT_NE(plain.getDocument(), nullptr);
    EXPECT_EQ(ToUtf8(plain.getDocument()->getDocumentElement()->getTextContent()), kCanaryBytes);
    try {
        parse(HostileDocuments(listener.Url("/x.dtd"))[1]);
    } catch (...) {  // the listener closes without an answer; only the attempt matters
    }
    for (int i = 0; i < 100 && listener.connections.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(listener.connections.load(), 1);
}

// `depth` nested elements around `inner`, inside a CML frame when `framed`.
std::string Nested(std::size_t depth, const std::string& inner, bool framed) {
    std::string body;
    for (std::size_t i = 0; i < depth; ++i) body += "<n>";
    body += inner;
    for (std::size_t i = 0; i < depth; ++i) body += "</n>";
    if (!framed) return body;
    // zel, cml and the envelope are three levels; the deep part sits beside the envelope.
    return "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
           "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'><message-envelope/>" +
           body + "</cml></zel>";
}

// Entity bombs are refused at the declaration itself, before a single entity is declared; nesting
// beyond the depth limit is a fatal error found while reading; the references CML texts use pass.
TEST(ParserSecurity, EntityBombsAndDeepNestingFailFast) {
    std::string laughs = "<?xml version='1.0'?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 'lol'>\n";
    for (int i = 1; i <= 10; ++i) {
        laughs += "<!ENTITY lol" + std::to_string(i) + " '";
        for (int j = 0; j < 10; ++j) laughs += "&lol" + std::to_string(i - 1) + ";";
        laughs += "'>\n";
    }
    laughs += "]>\n<lolz>&lol10;</lolz>\n";
    // Quadratic blow-up: one large entity used many times.
    std::string quadratic = "<!DOCTYPE z [<!ENTITY a '" + std::string(50000, 'a') + "'>]><z>";
    std::string references = "<zel a='", siblings;
    for (int i = 0; i < 50000; ++i) quadratic += "&a;";
    for (int i = 0; i < 2000; ++i) references += "&amp;&apos;&#xa;";
    references += "'>";
    for (int i = 0; i < 2000; ++i) references += "&lt;&gt;&quot;&#65;";
    for (int i = 0; i < 20000; ++i) siblings += "<e a='1'/>";
    const std::string deep = "line 1, column |\n   Message:  Elements are nested deeper than 256 levels";
    // The failure: the position and a part of the message; empty: the parse passes.
    const struct { const char* name; std::string text, failure; } cases[] = {
        {"billion laughs", laughs, "line 2,|"}, {"quadratic", quadratic + "</z>", "line 1,|"},
        {"predefined entities and character references are not capped", references + "</zel>", ""},
        {"at the limit", Nested(kMaxElementDepth, "", false), ""},
        {"at the limit, empty innermost", Nested(kMaxElementDepth - 1, "<e/>", false), ""},
        {"one deeper", Nested(kMaxElementDepth + 1, "", false), deep},
        {"one deeper, empty innermost", Nested(kMaxElementDepth, "<e/>", false), deep},
        {"framed at the limit", Nested(kMaxElementDepth - 2, "", true), ""},
        {"framed one deeper", Nested(kMaxElementDepth - 1, "", true), deep},
        // Empty elements close themselves: any number of them at the limit is fine.
        {"many empty siblings deep down", Nested(kMaxElementDepth - 1, siblings, false), ""},
        {"a hundred thousand levels", Nested(100000, "", true), deep},
        {"a hundred thousand levels, unclosed", Nested(100000, "", false).substr(0, 300000), deep},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int kind : {kParseNonValidating, kParseValidating}) {
            const long before = test::ResidentKilobytes();
            uint32_t code = 0;
            const std::string outcome = ParseAndCollectText(c.text, kind, code);
            if (c.failure.empty()) {
                EXPECT_EQ(code, 0u) << outcome;
                continue;
            }
            // A refused document stops early: it never builds much (accepted ones may, under ASan).
            EXPECT_LT(test::ResidentKilobytes() - before, 10 * 1024);
            const std::size_t bar = c.failure.find('|');
            EXPECT_EQ(code, ZEL_E_CML_PARSE_FATAL);
            EXPECT_EQ(outcome.rfind("Parse operation:  Fatal error parsing input \"ZEL CML Stream\", " +
                                        c.failure.substr(0, bar), 0), 0u) << outcome;
            EXPECT_NE(outcome.find(c.failure.substr(bar + 1)), std::string::npos) << outcome;
        }
    }
    uint32_t code = 0;
    EXPECT_EQ(ParseAndCollectText(references + "</zel>", kParseNonValidating, code).size(), 2000u * 4 + 2000u * 3);
}

}  // namespace
}  // namespace zel::cml
