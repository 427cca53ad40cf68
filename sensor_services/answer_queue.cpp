#include "sensor_services/answer_queue.h"

#include <algorithm>

#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "zel/status_codes.h"

namespace zel::ss {

std::unique_ptr<cml::CCmlResponse> UnrecognizedRequestAnswer(const std::u16string& requestId) {
    auto answer = std::make_unique<cml::CCmlResponse>(cml::kTagErrorResponse, ZEL_E_CML_REQUEST_NOT_RECOGNIZED,
                                                      kUnrecognizedRequestText, cml::kCmlNamespaceURI);
    answer->SetRequestId(requestId.c_str());
    return answer;
}

CAnswerQueue::AddResult CAnswerQueue::Add(const std::u16string& requestId) {
    const auto same = [&](const Answer& answer) { return answer.requestId == requestId; };
    if (std::any_of(m_owed.begin(), m_owed.end(), same)) return AddResult::kAlreadyOwed;
    if (m_owed.size() == kMaxOwed) return AddResult::kFull;
    m_owed.push_back({++m_lastSerial, requestId});
    return AddResult::kAdded;
}

std::vector<std::u16string> CAnswerQueue::Owed(uint64_t& upTo) const {
    std::vector<std::u16string> requestIds;
    requestIds.reserve(m_owed.size());
    for (const Answer& answer : m_owed) requestIds.push_back(answer.requestId);
    upTo = m_owed.empty() ? 0 : m_owed.back().serial;
    return requestIds;
}

void CAnswerQueue::Delivered(uint64_t upTo) {
    m_owed.erase(std::remove_if(m_owed.begin(), m_owed.end(),
                                [&](const Answer& answer) { return answer.serial <= upTo; }),
                 m_owed.end());
}

}  // namespace zel::ss
