// Building and serialising one heartbeat: an envelope holding an agent-startup announcement
// with host info, 20 schemas, 10 content dates and 50 modules of 5 parameters each, written
// as a whole CML document to a narrow string stream. Beside it, a hand-written generator
// appends the same text to a std::string from the same plain data. Both report documents per
// second and bytes per second; the two texts are checked to be equal before anything runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <xercesc/util/PlatformUtils.hpp>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "runtime/unicode.h"
#include "runtime/zel_error.h"
#include "zel/status_codes.h"

namespace {

using namespace zel::cml;

constexpr int kModules = 50;
constexpr int kParamsPerModule = 5;
constexpr int kSchemas = 20;
constexpr int kContentDates = 10;

// The plain data both writers start from, in the agent's UTF-8.
struct Param {
    std::string name, value;
};
struct Module {
    std::string name, version;
    uint32_t status;
    std::vector<Param> params;
};
struct Schema {
    std::string uri, version, name;
    bool root;
};
struct ContentDate {
    std::string identity, date;
};
struct Heartbeat {
    std::string messageId, agentName, agentId, agentNamespace, version, model, installPath, groupHint;
    std::string os, osVersion, ip, hostName;
    std::vector<Schema> schemas;
    std::vector<ContentDate> dates;
    std::vector<Module> modules;
};

Heartbeat MakeHeartbeat() {
    Heartbeat h;
    h.messageId = "6f1c2a44-0a0b-4c1d-9e8f-112233445566";
    h.agentName = "Desktop Agent 'Lab' & Co";
    h.agentId = "3e8d5d2c-1f0a-4b7e-9a61-0c5e2d7f9b10";
    h.agentNamespace = "http://schemas.zel.example/cml/DesktopAgent";
    h.version = "3.1.0.1742";
    h.model = "ZX-4000";
    h.installPath = "/opt/zel/agent";
    h.groupHint = "Engineering <Lab>";
    h.os = "Linux";
    h.osVersion = "6.1.0-17-amd64";
    h.ip = "10.20.30.40";
    h.hostName = "build-07.lab.example";
    for (int i = 0; i < kSchemas; ++i) {
        const std::string n = std::to_string(i);
        h.schemas.push_back(
            {"http://schemas.zel.example/cml/Settings" + n, "1.2." + n, "Settings " + n + " & more", i % 4 == 0});
    }
    for (int i = 0; i < kContentDates; ++i) {
        const std::string n = std::to_string(i);
        h.dates.push_back({"content-" + n, "2026-12-0" + std::to_string(1 + i % 9) + "T10:00:0" + n + "Z"});
    }
    const uint32_t statuses[] = {ZEL_I_AGENT_STATE_ACTIVE, ZEL_I_AGENT_STATE_SCANNING, ZEL_I_AGENT_STATE_PAUSED};
    for (int m = 0; m < kModules; ++m) {
        const std::string n = std::to_string(m);
        Module module{"module-" + n, "4.0." + n, statuses[m % 3], {}};
        for (int p = 0; p < kParamsPerModule; ++p) {
            const std::string k = std::to_string(p);
            module.params.push_back({"param-" + k, "value " + n + "." + k + (p == 4 ? " <\"quoted\">" : "")});
        }
        h.modules.push_back(std::move(module));
    }
    return h;
}

const Heartbeat& SharedHeartbeat() {
    static const Heartbeat heartbeat = MakeHeartbeat();
    return heartbeat;
}

// The same data as UTF-16, as the agent's export layer hands it to the CML objects.
struct WideHeartbeat {
    std::u16string messageId, agentName, agentId, agentNamespace, version, model, installPath, groupHint;
    std::u16string os, osVersion, ip, hostName;
    struct WideSchema {
        std::u16string uri, version, name;
        bool root;
    };
    struct WideModule {
        std::u16string name, version;
        uint32_t status;
        std::vector<std::pair<std::u16string, std::u16string>> params;
    };
    std::vector<WideSchema> schemas;
    std::vector<std::pair<std::u16string, std::u16string>> dates;
    std::vector<WideModule> modules;
};

WideHeartbeat Widen(const Heartbeat& h) {
    using zel::ToUtf16;
    WideHeartbeat w{ToUtf16(h.messageId),
                    ToUtf16(h.agentName),
                    ToUtf16(h.agentId),
                    ToUtf16(h.agentNamespace),
                    ToUtf16(h.version),
                    ToUtf16(h.model),
                    ToUtf16(h.installPath),
                    ToUtf16(h.groupHint),
                    ToUtf16(h.os),
                    ToUtf16(h.osVersion),
                    ToUtf16(h.ip),
                    ToUtf16(h.hostName),
                    {},
                    {},
                    {}};
    for (const Schema& s : h.schemas)
        w.schemas.push_back({ToUtf16(s.uri), ToUtf16(s.version), ToUtf16(s.name), s.root});
    for (const ContentDate& d : h.dates) w.dates.emplace_back(ToUtf16(d.identity), ToUtf16(d.date));
    for (const Module& m : h.modules) {
        WideHeartbeat::WideModule module{ToUtf16(m.name), ToUtf16(m.version), m.status, {}};
        for (const Param& p : m.params) module.params.emplace_back(ToUtf16(p.name), ToUtf16(p.value));
        w.modules.push_back(std::move(module));
    }
    return w;
}

const WideHeartbeat& SharedWideHeartbeat() {
    static const WideHeartbeat heartbeat = Widen(SharedHeartbeat());
    return heartbeat;
}

// ---- Through the CML objects ----

CCmlMessage BuildMessage(const WideHeartbeat& h) {
    CCmlMessage message;
    message.SetMessageId(h.messageId.c_str());
    CAgentInfo source;
    source.SetName(h.agentName.c_str());
    source.SetNamespace(h.agentNamespace.c_str());
    source.SetAgentId(h.agentId.c_str());
    message.SetSource(source);
    CAgentInfo destination;
    destination.SetTagName(kTagDestination);
    destination.SetName(u"DesktopController");
    message.AddDestination(destination);

    auto announcement = std::make_unique<CAgentStartupAnnouncement>();
    CAgentInfoContent& content = announcement->GetContent();
    content.SetName(h.agentName.c_str());
    content.SetAgentId(h.agentId.c_str());
    content.SetNamespace(h.agentNamespace.c_str());
    content.SetVersion(h.version.c_str());
    content.SetModel(h.model.c_str());
    content.SetAgentInstallPath(h.installPath.c_str());
    content.SetGroupnameHint(h.groupHint.c_str());
    content.SetAgentStatus(ZEL_I_AGENT_STATE_ACTIVE);
    CHostInfo& host = content.GetHostInfo();
    host.SetOs(h.os.c_str());
    host.SetVersion(h.osVersion.c_str());
    host.SetIpAddress(h.ip.c_str());
    host.SetHostName(h.hostName.c_str());
    content.GetSchemas().reserve(h.schemas.size());
    for (const auto& s : h.schemas) {
        CSchemaInfo schema;
        schema.SetNamespace(s.uri.c_str());
        schema.SetVersion(s.version.c_str());
        schema.SetName(s.name.c_str());
        schema.SetRoot(s.root);
        content.AddSchemaInfo(std::move(schema));
    }
    for (const auto& d : h.dates) content.AddContentDate(d.first.c_str(), d.second.c_str());
    // The counts are known up front, as they are when the agent hands over its arrays.
    for (const auto& m : h.modules) {
        CModuleInfo module;
        module.GetParams().reserve(m.params.size());
        module.SetName(m.name.c_str());
        module.SetVersion(m.version.c_str());
        module.SetStatus(m.status);
        for (const auto& p : m.params) module.AddParam(p.first.c_str(), p.second.c_str());
        content.AddModuleInfo(std::move(module));
    }
    message.AddRequest(announcement.release());
    return message;
}

// ---- By hand ----

void AppendEscaped(std::string& out, const std::string& text) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\n': out += "&#xa;"; break;
            default: out += c;
        }
    }
}

void AppendHex(std::string& out, uint32_t value) {
    char digits[12];
    std::snprintf(digits, sizeof digits, "%x", value);
    out += digits;
}

// The status texts are looked up once, as a generator written for one message would.
struct StatusTexts {
    std::vector<std::pair<uint32_t, std::string>> texts;
    const std::string& Of(uint32_t code) {
        for (const auto& entry : texts) {
            if (entry.first == code) return entry.second;
        }
        zel::ZELError error(code);
        texts.emplace_back(code, error.GetText(255, {}, true));
        return texts.back().second;
    }
};

void WriteByHand(std::string& out, const Heartbeat& h, StatusTexts& statusTexts) {
    out +=
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
        "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
        "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'\n"
        "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
        "    <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
        "        <message-envelope broadcast='false' message-id='";
    out += h.messageId;
    out += "'>\n            <source name='";
    AppendEscaped(out, h.agentName);
    out += "' namespace='";
    out += h.agentNamespace;
    out += "' agent-id='";
    AppendEscaped(out, h.agentId);
    out +=
        "'/>\n"
        "            <destination name='DesktopController'/>\n"
        "            <message-body>\n"
        "                <request>\n"
        "                    <agent-startup-announcement xmlns='http://schemas.zel.example/cml' request-id=''"
        " schema-version='2.4.2' name='";
    AppendEscaped(out, h.agentName);
    out += "' agent-id='";
    AppendEscaped(out, h.agentId);
    out += "' namespace='";
    out += h.agentNamespace;
    out += "' version='";
    AppendEscaped(out, h.version);
    out += "' model='";
    AppendEscaped(out, h.model);
    out += "' agent-install-path='";
    AppendEscaped(out, h.installPath);
    out += "' agent-status='0x";
    AppendHex(out, ZEL_I_AGENT_STATE_ACTIVE);
    out += "' status-text='";
    out += statusTexts.Of(ZEL_I_AGENT_STATE_ACTIVE);
    out += "' groupname-hint='";
    AppendEscaped(out, h.groupHint);
    out += "'>\n                        <host-info xmlns='http://schemas.zel.example/cml' os='";
    AppendEscaped(out, h.os);
    out += "' version='";
    AppendEscaped(out, h.osVersion);
    out += "' ip-address='";
    out += h.ip;
    out += "' host-name='";
    out += h.hostName;
    out += "'/>\n                        <schema-list>\n";
    for (const Schema& s : h.schemas) {
        out += "                            <schema-info namespace='";
        out += s.uri;
        out += "' version='";
        out += s.version;
        out += "' name='";
        AppendEscaped(out, s.name);
        out += s.root ? "' root='true'/>\n" : "'/>\n";
    }
    out += "                        </schema-list>\n                        <content-date-list>\n";
    for (const ContentDate& d : h.dates) {
        out += "                            <content-date xmlns='http://schemas.zel.example/cml' identity='";
        AppendEscaped(out, d.identity);
        out += "' date='";
        out += d.date;
        out += "'/>\n";
    }
    out += "                        </content-date-list>\n                        <module-list>\n";
    for (const Module& m : h.modules) {
        out += "                            <module xmlns='http://schemas.zel.example/cml' name='";
        AppendEscaped(out, m.name);
        out += "' version='";
        out += m.version;
        out += "' status='0x";
        AppendHex(out, m.status);
        out += "' status-text='";
        out += statusTexts.Of(m.status);
        out += "'>\n";
        for (const Param& p : m.params) {
            out += "                                <param xmlns='http://schemas.zel.example/cml/common' name='";
            AppendEscaped(out, p.name);
            out += "' value='";
            AppendEscaped(out, p.value);
            out += "'/>\n";
        }
        out += "                            </module>\n";
    }
    out +=
        "                        </module-list>\n"
        "                    </agent-startup-announcement>\n"
        "                </request>\n"
        "            </message-body>\n"
        "        </message-envelope>\n"
        "    </cml>\n"
        "</zel>\n";
}

// ---- Benchmarks ----

void BM_AnnouncementBuildAndSerialize(benchmark::State& state) {
    const WideHeartbeat& heartbeat = SharedWideHeartbeat();
    // Each run rewrites the same stream from its start, so that the stream's own buffer growth
    // is not measured (the generator reuses its string likewise).
    std::ostringstream out;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const CCmlMessage message = BuildMessage(heartbeat);
        out.seekp(0);
        message.SerializeDocument(out);
        bytes = static_cast<std::size_t>(out.tellp());
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["documents"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["document_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_AnnouncementBuildAndSerialize);

void BM_AnnouncementSerializeOnly(benchmark::State& state) {
    const CCmlMessage message = BuildMessage(SharedWideHeartbeat());
    std::ostringstream out;
    std::size_t bytes = 0;
    for (auto _ : state) {
        out.seekp(0);
        message.SerializeDocument(out);
        bytes = static_cast<std::size_t>(out.tellp());
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["documents"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["document_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_AnnouncementSerializeOnly);

void BM_AnnouncementBuildOnly(benchmark::State& state) {
    const WideHeartbeat& heartbeat = SharedWideHeartbeat();
    for (auto _ : state) {
        const CCmlMessage message = BuildMessage(heartbeat);
        benchmark::DoNotOptimize(&message);
    }
    state.counters["documents"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AnnouncementBuildOnly);

void BM_HandWrittenGenerator(benchmark::State& state) {
    const Heartbeat& heartbeat = SharedHeartbeat();
    StatusTexts statusTexts;
    std::string out;
    std::size_t bytes = 0;
    for (auto _ : state) {
        out.clear();
        WriteByHand(out, heartbeat, statusTexts);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["documents"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["document_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HandWrittenGenerator);

// The comparison is only fair if both produce the same text.
void CheckSameText() {
    std::ostringstream viaObjects;
    BuildMessage(SharedWideHeartbeat()).SerializeDocument(viaObjects);
    std::string byHand;
    StatusTexts statusTexts;
    WriteByHand(byHand, SharedHeartbeat(), statusTexts);
    if (viaObjects.str() != byHand) {
        std::fprintf(stderr, "announcement and hand-written output differ\n--- objects:\n%s\n--- by hand:\n%s\n",
                     viaObjects.str().c_str(), byHand.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    xercesc::XMLPlatformUtils::Initialize();
    CheckSameText();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xercesc::XMLPlatformUtils::Terminate();
    return 0;
}
