// One realistic heartbeat per iteration: host and agent state, 10 schemas, 20 modules with
// 5 parameters each (given as XML through AddModuleInfoParams), agent parameters, then
// queued as PostHeartbeat queues it (group-settings request, serialised once, pending
// record replaced) but without the post: the library runs in synchronous mode and the
// benchmark calls the queueing step itself, so no dispatch happens. Beside it, the same
// announcement built directly with the CML objects and written with SerializeDocument to a
// string stream, once with the parameters as objects and once parsed from the same XML texts
// (the parse the exports cannot avoid). All report heartbeats per second; the ratios give
// the cost of the export layer with and without the parsing.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "runtime/guid.h"
#include "runtime/unicode.h"
#include "sensor_services/heartbeat_builder.h"
#include "sensor_services/library.h"
#include "sensor_services/sensor_services_object.h"
#include "zel/sensor_services.h"

namespace {

using namespace zel::cml;

constexpr int kModules = 20;
constexpr int kParamsPerModule = 5;
constexpr int kSchemas = 10;
constexpr const char* kCommonNs = "http://schemas.zel.example/cml/common";

// The agent's data, in its UTF-8, from which both builders start.
struct Param {
    std::string name, value;
};
struct Module {
    std::string name, version, paramsXml;
    uint32_t status;
    std::vector<Param> params;
};
struct Data {
    std::vector<Module> modules;
    std::vector<std::string> schemaUris;
    std::vector<Param> agentParams;
    std::string agentParamsXml;
};

std::string ParamsXml(const char* root, const std::vector<Param>& params) {
    std::string xml = std::string("<") + root + " xmlns='" + kCommonNs + "'>";
    for (const Param& p : params) xml += "<param name='" + p.name + "' value='" + p.value + "'/>";
    return xml + "</" + root + ">";
}

Data MakeData() {
    Data d;
    for (int m = 0; m < kModules; ++m) {
        Module module{"module-" + std::to_string(m), "3." + std::to_string(m) + ".1", "", m % 3 ? 0u : 0x47380022u, {}};
        for (int p = 0; p < kParamsPerModule; ++p)
            module.params.push_back({"setting-" + std::to_string(p), "value " + std::to_string(m * 10 + p)});
        module.paramsXml = ParamsXml("module-params", module.params);
        d.modules.push_back(module);
    }
    for (int s = 0; s < kSchemas; ++s)
        d.schemaUris.push_back("http://schemas.zel.example/cml/Schema" + std::to_string(s));
    for (int p = 0; p < 8; ++p) d.agentParams.push_back({"agent-" + std::to_string(p), "on"});
    d.agentParamsXml = ParamsXml("agent-parameters", d.agentParams);
    return d;
}

const Data& TheData() {
    static const Data data = MakeData();
    return data;
}

// The library started once in synchronous mode on settings files in a temporary directory.
class Library {
public:
    Library() {
        // Loaded here by path, so that the library's own load by name finds it.
        dlopen(ZEL_SCS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        char pattern[] = "/tmp/zel-bench-XXXXXX";
        m_dir = mkdtemp(pattern);
        std::ofstream(m_dir + "/agent.properties") << "[sensor_services]\ndnsCacheTimeout = 60000\n";
        std::ofstream(m_dir + "/group.xml")
            << "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
               "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group' version='3'"
               " schema-version='1.0.0'><controller-list><controller-info name='primary' host-name='127.0.0.1'"
               " port='1'/></controller-list></policy>\n";
        m_status = SS_Init("3.0", (m_dir + "/agent.properties").c_str(), (m_dir + "/group.xml").c_str(),
                           "0f8fad5b-d9cb-469f-a165-70867728950e", 0, nullptr, nullptr);
    }
    ~Library() {
        SS_ShutDown();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    uint32_t Status() const { return m_status; }

private:
    std::string m_dir;
    uint32_t m_status;
};

// Builds the heartbeat through the exports; 0 or the first failure.
uint32_t BuildThroughExports(const Data& d, SS_Heartbeat& h) {
    uint32_t status = CreateHeartbeat(&h, "0f8fad5b-d9cb-469f-a165-70867728950e", "Desktop Agent",
                                      "http://schemas.zel.example/agents/Desktop", "5.2.0", "192.168.10.20");
    status |= SetBasicAgentInfo(h, "5.2.0.117", "/var/lib/zel/qpk/last.qpk", 0, "installed", 0x47560004u,
                                "/opt/zel/agent", "/opt/zel/daemon", "Workstation", "Lab", 0, 1);
    status |= SetHostInfo(h, "lab-ws-17", "192.168.10.20", "Linux", nullptr, "LAB-WS-17", "LAB", "obj-1", "grp-1");
    for (std::size_t s = 0; s < d.schemaUris.size(); ++s)
        status |= AddSchemaInfo(h, "schema", d.schemaUris[s].c_str(), "1.0.0", s == 0, 1, 0, 0);
    for (const Module& m : d.modules) {
        SS_Module module = nullptr;
        status |= AddModuleInfo(h, m.name.c_str(), m.version.c_str(), m.status, nullptr, &module);
        status |= AddModuleInfoParams(module, m.paramsXml.data(), static_cast<uint32_t>(m.paramsXml.size()));
    }
    status |= AddAgentParams(h, d.agentParamsXml.data(), static_cast<uint32_t>(d.agentParamsXml.size()));
    return status;
}

// Appends the "param" children of the parsed `xml`'s root, as the library reads them.
template <typename Target>
void ParseParams(const std::string& xml, Target& target) {
    CCmlParser parser(3);
    const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), u"bench");
    parser.ParseNonValidating(input);
    for (CCmlDOM_Node child = parser.GetDocumentElement().GetFirstChild(); child; child = child.GetNextSibling()) {
        if (child.GetNodeType() != xercesc::DOMNode::ELEMENT_NODE) continue;
        if (child.GetNamespaceURI() != kCommonNamespaceURI || child.GetNodeName() != kTagParam) continue;
        CNameValuePair param;
        param.Deserialize(CCmlDOM_Element(child));
        target.AddParam(param);
    }
}

// The same announcement with the CML objects, plus the group-settings request PostHeartbeat
// adds, written as one document. With `parse` the parameters come from the same XML texts
// the exports read, through the CML parser.
std::string BuildDirectly(const Data& d, bool parse) {
    CCmlMessage message;
    CAgentInfo destination;
    destination.SetName(u"DesktopController");
    destination.SetNamespace(ZEL_CML_BASE_URI "/cml/DesktopController");
    message.AddDestination(destination);
    message.SetMessageId(zel::NewGuidText().c_str());

    auto announcement = std::make_unique<CAgentStartupAnnouncement>();
    announcement->SetRequestId(zel::NewGuidText().c_str());
    CAgentInfoContent& c = announcement->GetContent();
    c.SetAgentId(u"0f8fad5b-d9cb-469f-a165-70867728950e");
    c.SetName(u"Desktop Agent");
    c.SetNamespace(u"http://schemas.zel.example/agents/Desktop");
    c.SetVersion(u"5.2.0");
    c.SetSendNewSchemas(false);
    c.SetRegisterAgent(u"true");
    c.SetQpkVersion(u"5.2.0.117");
    c.SetLastQpkPath(u"/var/lib/zel/qpk/last.qpk");
    c.SetQpkStatus(0);
    c.SetQpkStatusDescription(u"installed");
    c.SetAgentStatus(0x47560004u);
    c.SetAgentInstallPath(u"/opt/zel/agent");
    c.SetDaemonInstallPath(u"/opt/zel/daemon");
    c.SetModel(u"Workstation");
    c.SetGroupnameHint(u"Lab");
    CHostInfo& host = c.GetHostInfo();
    host.SetIpAddress(u"192.168.10.20");
    host.SetHostName(u"lab-ws-17");
    host.SetOs(u"Linux");
    host.SetNbName(u"LAB-WS-17");
    host.SetNbDomain(u"LAB");
    host.SetAdObjectId(u"obj-1");
    host.SetAdGroupId(u"grp-1");
    for (std::size_t s = 0; s < d.schemaUris.size(); ++s) {
        CSchemaInfo schema;
        schema.SetName(u"schema");
        schema.SetNamespace(zel::ToUtf16(d.schemaUris[s]).c_str());
        schema.SetVersion(u"1.0.0");
        schema.SetRoot(s == 0);
        schema.SetCpeEditable(true);
        c.AddSchemaInfo(schema);
    }
    for (const Module& m : d.modules) {
        CModuleInfo module;
        module.SetName(zel::ToUtf16(m.name).c_str());
        module.SetVersion(zel::ToUtf16(m.version).c_str());
        module.SetStatus(m.status);
        if (parse) {
            ParseParams(m.paramsXml, module);
        } else {
            for (const Param& p : m.params)
                module.AddParam(zel::ToUtf16(p.name).c_str(), zel::ToUtf16(p.value).c_str());
        }
        c.AddModuleInfo(std::move(module));
    }
    if (parse) {
        ParseParams(d.agentParamsXml, c);
    } else {
        for (const Param& p : d.agentParams) c.AddParam(zel::ToUtf16(p.name).c_str(), zel::ToUtf16(p.value).c_str());
    }
    message.AddRequest(std::move(announcement));

    auto request = std::make_unique<CGetPolicyRequest>();
    request->SetRequestId(zel::NewGuidText().c_str());
    CPolicyItem item(kTagPolicyItem);
    item.SetToken(u"0");
    item.SetNamespace(kGroupSettingsNamespaceURI);
    item.SetSchemaVersion(u"1.0.0");
    request->AddPolicyItem(item);
    message.AddRequest(std::move(request));

    std::ostringstream document;
    message.SerializeDocument(document);
    return document.str();
}

void BM_ExportsAndQueue(benchmark::State& state) {
    const Library library;
    if (library.Status() != 0) {
        state.SkipWithError("SS_Init failed");
        return;
    }
    const Data& d = TheData();
    for (auto _ : state) {
        SS_Heartbeat h = nullptr;
        uint32_t status = BuildThroughExports(d, h);
        // PostHeartbeat without its TriggerDispatch: only the queueing.
        status |= zel::ss::ExportFrame([&](zel::ss::CSensorServices& services) {
            return services.QueueHeartbeatRequest(zel::ss::MessageOf(h), nullptr, nullptr);
        });
        if (status != 0) {
            state.SkipWithError("building or queueing failed");
            break;
        }
    }
    state.counters["heartbeats/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExportsAndQueue)->Unit(benchmark::kMicrosecond);

// arg 0: parameters as objects; arg 1: parameters parsed from the same XML texts.
void BM_CmlObjectsDirectly(benchmark::State& state) {
    const Data& d = TheData();
    const bool parse = state.range(0) != 0;
    for (auto _ : state) {
        std::string document = BuildDirectly(d, parse);
        benchmark::DoNotOptimize(document);
    }
    state.counters["heartbeats/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CmlObjectsDirectly)->ArgName("parsedParams")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
