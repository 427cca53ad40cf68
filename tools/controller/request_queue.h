// Requests an operator queued for agents (POST /admin/queue), kept until the agent's next
// heartbeat reply carries them, and then until the agent answers them.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zel::controller {

// One queued request, ready to go into a reply.
struct QueuedRequest {
    std::string tag;
    std::string requestId;
    // The request element as written by the CML library (UTF-8), request id included.
    std::string element;
};

// The outcome of checking a queued body.
struct PreparedRequest {
    // Empty when the body was accepted; otherwise why it was refused.
    std::string error;
    QueuedRequest request;
};

// Checks that `body` is one request element in the "/cml" namespace that the CML library
// reads and writes, reads it with the class the request factory names for its tag (unknown
// tags read as generic requests), gives it `newRequestId` when it has no "request-id" and
// writes it back.
PreparedRequest PrepareQueuedRequest(std::string_view body, const std::string& newRequestId);

// The queued requests per agent id; shared by the server's threads.
class CRequestQueue {
public:
    // The delivered requests remembered per agent; older ones are forgotten first.
    static constexpr std::size_t kMaxDeliveredKept = 200;

    // Appends `request` to the agent's queue.
    void Add(const std::string& agentId, QueuedRequest request);
    // The agent's queued requests in the order they were queued; they leave the queue and are
    // remembered as delivered until answered.
    std::vector<QueuedRequest> Take(const std::string& agentId);
    // How many requests wait for `agentId`.
    std::size_t Count(const std::string& agentId) const;
    // The tag of the delivered request of `agentId` that `requestId` answers, which is then
    // forgotten; empty when it answers none.
    std::string Answered(const std::string& agentId, const std::string& requestId);

private:
    struct Delivered {
        std::string requestId;
        std::string tag;
    };

    mutable std::mutex m_lock;
    std::map<std::string, std::vector<QueuedRequest>> m_queues;
    std::map<std::string, std::deque<Delivered>> m_delivered;
};

}  // namespace zel::controller
