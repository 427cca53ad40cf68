// Serialising a ~50 KB envelope-like CML document to a narrow string stream through the
// XML writer, beside (i) a hand-written generator appending the same text to a std::string
// and (ii) Xerces' DOMLSSerializer writing an equivalent DOM. Bytes per second are reported
// for each; the writer and the hand-written generator are checked to produce equal text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"

namespace {

using namespace zel::cml;

struct Module {
    std::u16string name;
    std::u16string version;
    std::u16string description;  // holds characters that need escaping
};

struct Model {
    std::vector<std::vector<Module>> requests;  // each request lists its modules
};

Model MakeModel() {
    Model model;
    for (int r = 0; r < 55; ++r) {
        std::vector<Module> modules;
        for (int m = 0; m < 6; ++m) {
            const std::string n = std::to_string(r * 10 + m);
            const std::string d = "Module " + n + " <core> & 'scanner' \"x\"";
            modules.push_back({std::u16string(u"module-") + std::u16string(n.begin(), n.end()), u"3.0." + std::u16string(n.begin(), n.end()),
                               std::u16string(d.begin(), d.end())});
        }
        model.requests.push_back(std::move(modules));
    }
    return model;
}

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// The document through the writer, one sink per line as the Serialize operations write.
void WriteWithWriter(std::ostream& out, const Model& model) {
    using Line = XmlSink<char>;
    NamespaceSet set;
    AddNamespace(set, kCmlBaseURI, kRootSchemaVersion, u"bench");
    AddNamespace(set, kCmlNamespaceURI, kCmlSchemaVersion, u"bench");
    WriteDocumentHead(out, kTagZel, set);
    WriteLineEnd(out);
    Line(out).Indent(1).Ascii("xmlns='").Name(word::kCmlBaseURI).Ascii("' schema-version='1.0.0'>").EndLine();
    Line(out)
        .Indent(2)
        .Ascii("<message-envelope broadcast='false' message-id='6f1c2a44-0a0b-4c1d-9e8f-112233445566'>")
        .EndLine();
    Line(out).Indent(3).Ascii("<message-body>").EndLine();
    Line(out).Indent(4).Ascii("<request>").EndLine();
    for (const auto& modules : model.requests) {
        Line(out)
            .Indent(5)
            .Ascii("<")
            .Name(word::kTagAgentStartupAnnouncement)
            .Attribute(word::kTagXmlns, word::kCmlNamespaceURI)
            .Attribute(word::kTagRequestId, u"")
            .Attribute(word::kTagSchemaVersion, word::kCmlSchemaVersion)
            .Ascii(">")
            .EndLine();
        for (const Module& module : modules) {
            Line(out)
                .Indent(6)
                .Ascii("<")
                .Name(word::kTagModule)
                .Attribute(word::kTagName, module.name)
                .Attribute(word::kTagVersion, module.version)
                .Attribute(word::kTagDescription, module.description)
                .Ascii("/>")
                .EndLine();
        }
        Line(out).Indent(5).Ascii("</").Name(word::kTagAgentStartupAnnouncement).Ascii(">").EndLine();
    }
    Line(out).Indent(4).Ascii("</request>").EndLine();
    Line(out).Indent(3).Ascii("</message-body>").EndLine();
    Line(out).Indent(2).Ascii("</message-envelope>").EndLine();
    Line(out).Ascii("</zel>").EndLine();
}

// The same text, appended piece by piece by hand.
struct NarrowModule {
    std::string name, version, description;
};

void AppendEscapedAttribute(std::string& out, const std::string& text) {
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

void WriteByHand(std::string& out, const std::vector<std::vector<NarrowModule>>& requests) {
    out += "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n";
    out += "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n";
    out += "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n";
    out += "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'\n";
    out += "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n";
    out += "        <message-envelope broadcast='false' message-id='6f1c2a44-0a0b-4c1d-9e8f-112233445566'>\n";
    out += "            <message-body>\n";
    out += "                <request>\n";
    for (const auto& modules : requests) {
        out += "                    <agent-startup-announcement xmlns='http://schemas.zel.example/cml' request-id='' "
               "schema-version='2.4.2'>\n";
        for (const NarrowModule& module : modules) {
            out += "                        <module name='";
            AppendEscapedAttribute(out, module.name);
            out += "' version='";
            AppendEscapedAttribute(out, module.version);
            out += "' description='";
            AppendEscapedAttribute(out, module.description);
            out += "'/>\n";
        }
        out += "                    </agent-startup-announcement>\n";
    }
    out += "                </request>\n";
    out += "            </message-body>\n";
    out += "        </message-envelope>\n";
    out += "</zel>\n";
}

std::vector<std::vector<NarrowModule>> NarrowModel(const Model& model) {
    std::vector<std::vector<NarrowModule>> requests;
    for (const auto& modules : model.requests) {
        std::vector<NarrowModule> narrow;
        for (const Module& m : modules) narrow.push_back({Narrow(m.name), Narrow(m.version), Narrow(m.description)});
        requests.push_back(std::move(narrow));
    }
    return requests;
}

// An equivalent DOM for the Xerces serializer.
xercesc::DOMDocument* BuildDom(xercesc::DOMImplementation* implementation, const Model& model) {
    xercesc::DOMDocument* document = implementation->createDocument(kCmlBaseURI, u"zel", nullptr);
    xercesc::DOMElement* root = document->getDocumentElement();
    root->setAttribute(u"schema-version", u"1.0.0");
    root->setAttributeNS(u"http://www.w3.org/2000/xmlns/", u"xmlns:xsi", u"http://www.w3.org/2001/XMLSchema-instance");
    root->setAttributeNS(u"http://www.w3.org/2001/XMLSchema-instance", u"xsi:schemaLocation",
                         u"http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
                         u"    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd");
    xercesc::DOMElement* envelope = document->createElementNS(kCmlNamespaceURI, u"message-envelope");
    envelope->setAttribute(u"broadcast", u"false");
    envelope->setAttribute(u"message-id", u"6f1c2a44-0a0b-4c1d-9e8f-112233445566");
    root->appendChild(envelope);
    xercesc::DOMElement* body = document->createElementNS(kCmlNamespaceURI, u"message-body");
    envelope->appendChild(body);
    xercesc::DOMElement* request = document->createElementNS(kCmlNamespaceURI, u"request");
    body->appendChild(request);
    for (const auto& modules : model.requests) {
        xercesc::DOMElement* announcement = document->createElementNS(kCmlNamespaceURI, u"agent-startup-announcement");
        announcement->setAttribute(u"request-id", u"");
        announcement->setAttribute(u"schema-version", u"2.4.2");
        request->appendChild(announcement);
        for (const Module& m : modules) {
            xercesc::DOMElement* module = document->createElementNS(kCmlNamespaceURI, u"module");
            module->setAttribute(u"name", m.name.c_str());
            module->setAttribute(u"version", m.version.c_str());
            module->setAttribute(u"description", m.description.c_str());
            announcement->appendChild(module);
        }
    }
    return document;
}

const Model& SharedModel() {
    static const Model model = MakeModel();
    return model;
}

void BM_Writer(benchmark::State& state) {
    const Model& model = SharedModel();
    // Each run rewrites the same stream from its start, so that the stream's own buffer
    // growth is not part of the measurement (the other two reuse their storage likewise).
    std::ostringstream out;
    std::size_t bytes = 0;
    for (auto _ : state) {
        out.seekp(0);
        WriteWithWriter(out, model);
        bytes = static_cast<std::size_t>(out.tellp());
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["document_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Writer);

void BM_HandWritten(benchmark::State& state) {
    const auto requests = NarrowModel(SharedModel());
    std::string out;
    std::size_t bytes = 0;
    for (auto _ : state) {
        out.clear();
        WriteByHand(out, requests);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["document_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HandWritten);

void BM_DomLsSerializer(benchmark::State& state) {
    xercesc::DOMImplementation* implementation = xercesc::DOMImplementationRegistry::getDOMImplementation(u"LS");
    xercesc::DOMDocument* document = BuildDom(implementation, SharedModel());
    xercesc::DOMLSSerializer* serializer = implementation->createLSSerializer();
    serializer->getDomConfig()->setParameter(xercesc::XMLUni::fgDOMWRTFormatPrettyPrint, true);
    xercesc::MemBufFormatTarget target;
    std::size_t bytes = 0;
    for (auto _ : state) {
        target.reset();
        xercesc::DOMLSOutput* output = implementation->createLSOutput();
        output->setEncoding(u"UTF-8");
        output->setByteStream(&target);
        serializer->write(document, output);
        output->release();
        bytes = target.getLen();
        benchmark::DoNotOptimize(target.getRawBuffer());
    }
    serializer->release();
    document->release();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["document_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_DomLsSerializer);

// The comparison is only fair if the writer and the hand-written generator agree.
void CheckSameText() {
    std::ostringstream viaWriter;
    WriteWithWriter(viaWriter, SharedModel());
    std::string byHand;
    WriteByHand(byHand, NarrowModel(SharedModel()));
    if (viaWriter.str() != byHand) {
        std::fprintf(stderr, "writer and hand-written output differ\n");
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
