#include "tools/controller/request_queue.h"

#include <sstream>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/message_factory.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "runtime/unicode.h"

namespace zel::controller {

PreparedRequest PrepareQueuedRequest(std::string_view body, const std::string& newRequestId) {
    PreparedRequest prepared;
    if (body.empty()) {
        prepared.error = "empty request body";
        return prepared;
    }
    cml::XmlInit();
    try {
        cml::CCmlParser parser;
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(body.data()), static_cast<unsigned>(body.size()),
                           cml::kParseNonValidating);
        const cml::CCmlDOM_Element root = parser.GetDocumentElement();
        // The agent's library reads only requests of the "/cml" namespace; anything else would
        // vanish on the way.
        if (parser.GetRootNamespaceURI() != cml::kCmlNamespaceURI) {
            prepared.error = "the request element is not in the namespace " + ToUtf8(cml::kCmlNamespaceURI);
            return prepared;
        }
        std::unique_ptr<cml::CCmlRequest> request = cml::CreateRequest(root.GetNodeName());
        request->Deserialize(root);
        if (request->GetRequestId().empty()) request->SetRequestId(ToUtf16(newRequestId).c_str());
        std::ostringstream element;
        request->Serialize(element, 0);
        prepared.request.tag = ToUtf8(request->GetTagName());
        prepared.request.requestId = ToUtf8(request->GetRequestId());
        prepared.request.element = element.str();
    } catch (const cml::CCmlException& e) {
        prepared.error = "not a CML request element: " + ToUtf8(e.GetDescription() ? e.GetDescription() : u"");
    }
    return prepared;
}

void CRequestQueue::Add(const std::string& agentId, QueuedRequest request) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_queues[agentId].push_back(std::move(request));
}

std::vector<QueuedRequest> CRequestQueue::Take(const std::string& agentId) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_queues.find(agentId);
    if (found == m_queues.end()) return {};
    std::vector<QueuedRequest> taken = std::move(found->second);
    m_queues.erase(found);
    std::deque<Delivered>& delivered = m_delivered[agentId];
    for (const QueuedRequest& request : taken) {
        delivered.push_back({request.requestId, request.tag});
        if (delivered.size() > kMaxDeliveredKept) delivered.pop_front();
    }
    return taken;
}

std::string CRequestQueue::Answered(const std::string& agentId, const std::string& requestId) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_delivered.find(agentId);
    if (found == m_delivered.end()) return "";
    std::deque<Delivered>& delivered = found->second;
    for (auto request = delivered.begin(); request != delivered.end(); ++request) {
        if (request->requestId != requestId) continue;
        std::string tag = std::move(request->tag);
        delivered.erase(request);
        return tag;
    }
    return "";
}

std::size_t CRequestQueue::Count(const std::string& agentId) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_queues.find(agentId);
    return found == m_queues.end() ? 0 : found->second.size();
}

}  // namespace zel::controller
