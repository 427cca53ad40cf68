#include "tools/controller/agent_report.h"

#include <type_traits>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/agent_status.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/task_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "runtime/unicode.h"

namespace zel::controller {
namespace {

void ReadPolicyItems(const cml::PolicyItemVector& items, std::vector<ReportedItem>& out) {
    for (const auto& item : items) out.push_back({ToUtf8(item->GetName()), ToUtf8(item->GetNamespace()), item->GetCode()});
}

template <typename Item>
void ReadSchemaItems(const std::vector<Item>& items, std::vector<ReportedItem>& out) {
    for (const Item& item : items) {
        uint32_t code = 0;
        if constexpr (std::is_base_of_v<cml::CSchemaInfoResponseData, Item>) code = item.GetCode();
        out.push_back({ToUtf8(item.GetName()), ToUtf8(item.GetNamespace()), code});
    }
}

std::vector<ReportedItem> ItemsOf(const cml::CCmlResponse& response) {
    std::vector<ReportedItem> items;
    if (const auto* policies = dynamic_cast<const cml::CGetPolicyResponse*>(&response)) {
        ReadPolicyItems(policies->GetPolicyItems(), items);
    } else if (const auto* set = dynamic_cast<const cml::CSetPolicyResponse*>(&response)) {
        ReadPolicyItems(set->GetPolicyItems(), items);
    } else if (const auto* got = dynamic_cast<const cml::CGetSchemaResponse*>(&response)) {
        ReadSchemaItems(got->GetSchemas(), items);
    } else if (const auto* results = dynamic_cast<const cml::CSchemaResponse*>(&response)) {
        ReadSchemaItems(results->GetSchemas(), items);
    } else if (const auto* unsupported = dynamic_cast<const cml::CSchemaNotSupportedResponse*>(&response)) {
        ReadSchemaItems(unsupported->GetSchemas(), items);
    } else if (const auto* tasks = dynamic_cast<const cml::CTaskResponse*>(&response)) {
        // A task by its id, with its state.
        for (const auto& task : tasks->GetTasks()) {
            if (const auto* status = dynamic_cast<const cml::CTaskStatus*>(task.get()))
                items.push_back({ToUtf8(status->GetTaskId()), ToUtf8(status->GetNamespaceURI()), status->GetStatus()});
        }
    } else if (const auto* agentStatus = dynamic_cast<const cml::CGetAgentStatusResponse*>(&response)) {
        for (const cml::CModuleInfo& module : agentStatus->GetContent().GetModules())
            items.push_back({ToUtf8(module.GetName()), ToUtf8(module.GetNamespaceURI()), module.GetStatus()});
    }
    return items;
}

}  // namespace

void ReadAnnouncement(const cml::CAgentInfoContent& content, HeartbeatReport& report) {
    report.announced = true;
    report.agentVersion = ToUtf8(content.GetVersion());
    report.modules.clear();
    for (const cml::CModuleInfo& module : content.GetModules())
        report.modules.push_back({ToUtf8(module.GetName()), ToUtf8(module.GetVersion())});
}

std::vector<ReportedResponse> ReadResponses(const cml::CCmlMessage& heartbeat) {
    std::vector<ReportedResponse> responses;
    for (const auto& response : heartbeat.GetResponses()) {
        if (response->GetNamespaceURI() != cml::kCmlNamespaceURI) continue;
        responses.push_back({ToUtf8(response->GetTagName()), ToUtf8(response->GetRequestId()), response->GetCode(),
                             ToUtf8(response->GetText()), ItemsOf(*response)});
    }
    return responses;
}

}  // namespace zel::controller
