// ss-agent: a demo agent of the sensor services library. It loads the library as an agent
// does, sends a few heartbeats and a ping to the controllers of its group settings, answers
// what the controller asks, and prints what happens.
#include <iostream>
#include <utility>

#include "runtime/platform.h"
#include "runtime/singleton_registry.h"
#include "runtime/trace.h"
#include "runtime/trace_outputs.h"
#include "tools/agent/agent_options.h"
#include "tools/agent/demo_agent.h"
#include "tools/agent/library_api.h"

namespace {

// Shares the agent's singleton registry with the modules it loads, so that the library
// finds the agent's trace object; with --trace-log that object writes every line to the
// file. Runs before the library is loaded.
bool SetUpTrace(const zel::agent::AgentOptions& options, std::string& error) {
    if (!zel::PublishProcessRegistry()) {
        error = "cannot publish the singleton registry";
        return false;
    }
    zel::TraceInterface* const trace = zel::ProcessTrace();
    if (options.traceLog.empty()) return true;
    uint32_t openError = 0;
    auto log = trace ? zel::jsFileTraceLog::Open(options.traceLog.c_str(), openError) : nullptr;
    if (!log) {
        std::string reason = "no memory";
        if (openError != 0) zel::platform::ErrorText(openError, reason);
        error = "cannot open the trace log " + options.traceLog + ": " + reason;
        return false;
    }
    trace->SetDiskLog(std::move(log));
    trace->SetOptions(zel::kTraceCategories | zel::kTraceOn | zel::kTraceSequence | zel::kTraceTimestamps,
                      zel::kTraceDumpLevel);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace zel::agent;
    std::string error;
    const auto options = ParseAgentOptions(argc, argv, error);
    if (!options) {
        if (error.empty()) {
            std::cout << AgentUsage();
            return 0;
        }
        std::cerr << "ss-agent: " << error << "\nRun with --help for more information.\n";
        return 2;
    }
    if (!SetUpTrace(*options, error)) {
        std::cerr << "ss-agent: " << error << '\n';
        return 1;
    }
    LibraryApi api;
    if (!api.Load(options->library, error)) {
        std::cerr << "ss-agent: " << error << '\n';
        return 1;
    }
    DemoAgent agent(api, *options);
    return agent.Run();
}
