// A controller reply is untrusted input: these tests feed the parser documents that try to
// make it read local files, connect to servers or expand entities without bound, and check
// that nothing is opened, nothing connects and the parse fails fast.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "cml/cml_test_support.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

constexpr const char kCanaryBytes[] = "CANARY-5e1d0c-SECRET";

// A canary file in a fresh temporary directory, watched for every open and read.
class Canary {
public:
    Canary() {
        char pattern[] = "/tmp/cml_canary_XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made) throw std::runtime_error("mkdtemp failed");
        m_dir = made;
        m_path = m_dir + "/canary.txt";
        std::ofstream(m_path) << kCanaryBytes;
        m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify < 0 || inotify_add_watch(m_inotify, m_path.c_str(), IN_OPEN | IN_ACCESS) < 0) {
            throw std::runtime_error("inotify failed");
        }
    }
    ~Canary() {
        close(m_inotify);
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    const std::string& Path() const { return m_path; }
    std::string Url() const { return "file://" + m_path; }
    // True when the file was opened or read since the last call.
    bool Touched() const {
        char buffer[4096];
        bool touched = false;
        while (read(m_inotify, buffer, sizeof buffer) > 0) touched = true;
        return touched;
    }

private:
    std::string m_dir;
    std::string m_path;
    int m_inotify = -1;
};

// A TCP listener on 127.0.0.1 (port chosen by the system) that accepts and closes every
// connection and counts them.
class LoopbackListener {
public:
    LoopbackListener() {
        m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (m_socket < 0 || bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_socket, 16) != 0 || getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("listener setup failed");
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { AcceptLoop(); });
    }
    ~LoopbackListener() {
        m_stop = true;
        m_thread.join();
        close(m_socket);
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    int Connections() const { return m_connections.load(); }

private:
    void AcceptLoop() {
        while (!m_stop) {
            pollfd entry{m_socket, POLLIN, 0};
            if (poll(&entry, 1, 20) > 0) {
                const int client = accept(m_socket, nullptr, nullptr);
                if (client >= 0) {
                    ++m_connections;
                    close(client);
                }
            }
        }
    }

    int m_socket = -1;
    unsigned short m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
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
    const XMLCh* content = root.IsNull() ? nullptr : root.GetElement()->getTextContent();
    std::string out = content ? ToUtf8(std::u16string(content)) : std::string();
    if (!root.IsNull()) {
        const XMLCh* attribute = root.GetElement()->getAttribute(u"a");
        if (attribute) out += ToUtf8(std::u16string(attribute));
    }
    return out;
}

bool HasDoctype(const std::string& text) { return text.find("<!DOCTYPE") != std::string::npos; }

TEST(ParserSecurity, LocalFilesNamedByADocumentAreNeverOpened) {
    const Canary canary;
    for (const std::string& document : HostileDocuments(canary.Url())) {
        for (int kind : {kParseValidating, kParseNonValidating, kParseByMode}) {
            uint32_t code = 0;
            const std::string seen = ParseAndCollectText(document, kind, code);
            EXPECT_FALSE(canary.Touched()) << "kind " << kind << ": " << document;
            EXPECT_EQ(seen.find(kCanaryBytes), std::string::npos) << seen;
            if (HasDoctype(document)) {
                EXPECT_EQ(code, ZEL_E_CML_PARSE_FATAL) << seen;
            }
        }
    }
    // A plain file path in a system literal is refused the same way.
    uint32_t code = 0;
    ParseAndCollectText("<!DOCTYPE zel [<!ENTITY x SYSTEM '" + canary.Path() + "'>]><zel>&x;</zel>",
                        kParseNonValidating, code);
    EXPECT_EQ(code, ZEL_E_CML_PARSE_FATAL);
    EXPECT_FALSE(canary.Touched());

    // The watch does see a parser that follows the entity: Xerces with its defaults.
    xercesc::XercesDOMParser plain;
    const std::string document = HostileDocuments(canary.Url())[0];
    const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(document.data()), document.size());
    plain.parse(input);
    EXPECT_TRUE(canary.Touched());
    ASSERT_NE(plain.getDocument(), nullptr);
    EXPECT_EQ(ToUtf8(plain.getDocument()->getDocumentElement()->getTextContent()), kCanaryBytes);
}

TEST(ParserSecurity, NoConnectionIsMadeOnADocumentsBehalf) {
    const LoopbackListener listener;
    for (const std::string& document : HostileDocuments(listener.Url("/resource.xsd"))) {
        for (int kind : {kParseValidating, kParseNonValidating, kParseByMode}) {
            uint32_t code = 0;
            ParseAndCollectText(document, kind, code);
            if (HasDoctype(document)) {
                EXPECT_EQ(code, ZEL_E_CML_PARSE_FATAL) << document;
            }
        }
    }
    // Give a connection that was started a moment to be accepted before counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(listener.Connections(), 0);

    // The listener does see a parser that fetches external DTDs: Xerces with its defaults.
    xercesc::XercesDOMParser plain;
    xercesc::HandlerBase quiet;
    plain.setErrorHandler(&quiet);
    const std::string document = HostileDocuments(listener.Url("/x.dtd"))[1];
    const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(document.data()), document.size());
    try {
        plain.parse(input);
    } catch (...) {
        // The listener closes without an answer; only the attempt matters.
    }
    for (int i = 0; i < 100 && listener.Connections() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(listener.Connections(), 1);
}

using test::ResidentKilobytes;

TEST(ParserSecurity, EntityExpansionBombsFailAtTheDoctype) {
    std::string laughs = "<?xml version='1.0'?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 'lol'>\n";
    for (int i = 1; i <= 10; ++i) {
        laughs += "<!ENTITY lol" + std::to_string(i) + " '";
        for (int j = 0; j < 10; ++j) laughs += "&lol" + std::to_string(i - 1) + ";";
        laughs += "'>\n";
    }
    laughs += "]>\n<lolz>&lol10;</lolz>\n";
    // Quadratic blow-up: one large entity used many times.
    std::string quadratic = "<!DOCTYPE z [<!ENTITY a '" + std::string(50000, 'a') + "'>]><z>";
    for (int i = 0; i < 50000; ++i) quadratic += "&a;";
    quadratic += "</z>";

    for (const std::string& bomb : {laughs, quadratic}) {
        const long before = ResidentKilobytes();
        uint32_t code = 0;
        const std::string failure = ParseAndCollectText(bomb, kParseNonValidating, code);
        const long after = ResidentKilobytes();
        EXPECT_EQ(code, ZEL_E_CML_PARSE_FATAL);
        // Refused at the declaration itself, before a single entity was declared.
        EXPECT_EQ(failure.rfind("Parse operation:  Fatal error parsing input \"ZEL CML Stream\", line ", 0), 0u)
            << failure;
        EXPECT_NE(failure.find(bomb.front() == '<' && bomb[1] == '?' ? "line 2," : "line 1,"), std::string::npos)
            << failure;
        EXPECT_LT(after - before, 10 * 1024);
    }
}

TEST(ParserSecurity, PredefinedEntitiesAndCharacterReferencesAreNotCapped) {
    // The expansion cap must not count the references every CML text uses.
    std::string text = "<zel a='";
    for (int i = 0; i < 2000; ++i) text += "&amp;&apos;&#xa;";
    text += "'>";
    for (int i = 0; i < 2000; ++i) text += "&lt;&gt;&quot;&#65;";
    text += "</zel>";
    uint32_t code = 0;
    const std::string content = ParseAndCollectText(text, kParseNonValidating, code);
    EXPECT_EQ(code, 0u) << content;
    EXPECT_EQ(content.size(), 2000u * 4 + 2000u * 3);
}

// `depth` nested elements around `inner`, inside a CML frame when `framed`.
std::string Nested(std::size_t depth, const std::string& inner, bool framed) {
    std::string open, close;
    for (std::size_t i = 0; i < depth; ++i) {
        open += "<n>";
        close += "</n>";
    }
    const std::string body = open + inner + close;
    if (!framed) return body;
    // zel, cml and the envelope are three levels; the deep part sits beside the envelope.
    return "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
           "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
           "<message-envelope/>" + body + "</cml></zel>";
}

TEST(ParserSecurity, NestingBeyondTheDepthLimitIsAFatalErrorFoundWhileReading) {
    const std::string siblings = [] {
        std::string many;
        for (int i = 0; i < 20000; ++i) many += "<e a='1'/>";
        return many;
    }();
    struct Case {
        const char* name;
        std::string text;
        bool refused;
    };
    const Case cases[] = {
        {"at the limit", Nested(kMaxElementDepth, "", false), false},
        {"at the limit, empty innermost", Nested(kMaxElementDepth - 1, "<e/>", false), false},
        {"one deeper", Nested(kMaxElementDepth + 1, "", false), true},
        {"one deeper, empty innermost", Nested(kMaxElementDepth, "<e/>", false), true},
        {"framed at the limit", Nested(kMaxElementDepth - 2, "", true), false},
        {"framed one deeper", Nested(kMaxElementDepth - 1, "", true), true},
        // Empty elements close themselves: any number of them at the limit is fine.
        {"many empty siblings deep down", Nested(kMaxElementDepth - 1, siblings, false), false},
        {"a hundred thousand levels", Nested(100000, "", true), true},
        {"a hundred thousand levels, unclosed", Nested(100000, "", false).substr(0, 300000), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int kind : {kParseNonValidating, kParseValidating}) {
            uint32_t code = 0;
            const std::string outcome = ParseAndCollectText(c.text, kind, code);
            if (!c.refused) {
                EXPECT_EQ(code, 0u) << outcome;
                continue;
            }
            EXPECT_EQ(code, ZEL_E_CML_PARSE_FATAL);
            EXPECT_EQ(outcome.rfind("Parse operation:  Fatal error parsing input \"ZEL CML Stream\", line 1, column ", 0),
                      0u)
                << outcome;
            EXPECT_NE(outcome.find("\n   Message:  Elements are nested deeper than 256 levels"), std::string::npos)
                << outcome;
        }
    }
}

}  // namespace
}  // namespace zel::cml
