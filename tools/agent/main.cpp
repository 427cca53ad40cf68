// ss-agent: a demo agent of the sensor services library. It loads the library as an agent
// does, sends a few heartbeats and a ping to the controllers of its group settings, answers
// what the controller asks, and prints what happens.
#include <iostream>

#include "tools/agent/agent_options.h"
#include "tools/agent/demo_agent.h"
#include "tools/agent/library_api.h"

int main(int argc, char* argv[]) {
    using namespace zel::agent;
    std::string error;
    const auto options = ParseAgentOptions(argc, argv, error);
    if (!options) {
        if (!error.empty()) std::cerr << "ss-agent: " << error << '\n';
        std::cerr << AgentUsage();
        return error.empty() ? 0 : 2;
    }
    LibraryApi api;
    if (!api.Load(options->library, error)) {
        std::cerr << "ss-agent: " << error << '\n';
        return 1;
    }
    DemoAgent agent(api, *options);
    return agent.Run();
}
