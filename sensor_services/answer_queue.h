// CAnswerQueue: the error responses the library owes the controller for requests of its
// replies that nobody handles.
//
// An answer is not posted from inside the processing of the reply that asked for it: a
// controller that puts an unknown request into every reply would otherwise drive the agent
// into a loop of heartbeats (or, in synchronous mode, a recursion). Instead every heartbeat
// queued afterwards carries every answer still owed, until a heartbeat that carries them has
// been delivered; the heartbeats go out on the retry state's schedule like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zel::cml {
class CCmlResponse;
}

namespace zel::ss {

// The text of the error response that answers a request nobody handles.
inline constexpr const char16_t* kUnrecognizedRequestText = u"sensor services - unrecognized request";

// The "error-response" in the "/cml" namespace that answers request `requestId`:
// ZEL_E_CML_REQUEST_NOT_RECOGNIZED with kUnrecognizedRequestText.
std::unique_ptr<cml::CCmlResponse> UnrecognizedRequestAnswer(const std::u16string& requestId);

// Not thread-safe: the services object's lock guards it.
class CAnswerQueue {
public:
    // At most this many answers are owed at once; requests beyond them are not answered.
    static constexpr std::size_t kMaxOwed = 64;

    enum class AddResult { kAdded, kAlreadyOwed, kFull };

    // Owes an answer to the request `requestId` unless one is owed already.
    AddResult Add(const std::u16string& requestId);
    // The request identifiers owed now, oldest first; `upTo` receives the mark to hand to
    // Delivered once a heartbeat carrying them went out (0 when nothing is owed).
    std::vector<std::u16string> Owed(uint64_t& upTo) const;
    // Forgets the answers that a delivered heartbeat carried (those up to `upTo`).
    void Delivered(uint64_t upTo);
    void Clear() { m_owed.clear(); }

private:
    struct Answer {
        uint64_t serial;
        std::u16string requestId;
    };
    std::vector<Answer> m_owed;
    uint64_t m_lastSerial = 0;
};

}  // namespace zel::ss
