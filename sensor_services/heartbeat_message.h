// The shape every heartbeat starts with, and the rules the heartbeat exports share: the
// argument checks, the announcement lookup and the identifier buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel {
class ITraceSinkOwner;
}
namespace zel::cml {
class CAgentStartupAnnouncement;
class CCmlMessage;
}  // namespace zel::cml

namespace zel::ss {

// The controller every heartbeat is addressed to.
inline constexpr const char16_t* kDesktopControllerName = u"DesktopController";
inline constexpr const char16_t* kDesktopControllerNamespaceURI = ZEL_CML_BASE_URI "/cml/DesktopController";

// A text argument must end within this many bytes (so it holds at most one byte less).
inline constexpr std::size_t kTextArgumentLimit = 0x100000;

// A new heartbeat: a new message identifier, an empty source, the desktop controller as
// destination and a startup announcement with a new request identifier and empty content.
std::unique_ptr<cml::CCmlMessage> NewHeartbeatMessage();

// The message's startup announcement: its first request tagged
// "agent-startup-announcement", when that is one; null otherwise.
cml::CAgentStartupAnnouncement* FindAnnouncement(cml::CCmlMessage& message);

// Copies `identifier` into an agent's buffer: when both pointers are given, the buffer is
// zero-filled over *length bytes and, when the identifier fits, receives its characters
// (no terminator beyond the zero fill) and *length its length. Nothing is ever written
// beyond *length bytes.
void CopyIdentifier(const std::string& identifier, char* buffer, uint32_t* length);

// UTF-8 argument text as the wide text CML objects hold (null gives the empty text).
std::u16string WideText(const char* text);
// The wide text of `length` bytes of UTF-8 at `text`, ending early at a NUL (an agent may
// count the terminator in).
std::u16string WideText(const char* text, uint32_t length);

// One call of a heartbeat export: its trace location and the checks every export makes.
// A failed check has been traced at level 1 when it returns its status.
class HeartbeatCall {
public:
    HeartbeatCall(const ITraceSinkOwner& traceOwner, const char* where) : m_traceOwner(traceOwner), m_where(where) {}

    // ZEL_E_INVALIDARG when one of `required` is null, else 0.
    uint32_t Require(std::initializer_list<const void*> required) const;
    // ZEL_E_INVALIDARG when one of the required `lengths` is 0, else 0.
    uint32_t RequireLengths(std::initializer_list<uint32_t> lengths) const;
    // ZEL_E_INVALIDARG when one of `texts` does not end within kTextArgumentLimit bytes
    // (null texts pass), else 0.
    uint32_t CheckLengths(std::initializer_list<const char*> texts) const;
    // The announcement of `message`, or null after tracing its absence.
    cml::CAgentStartupAnnouncement* Announcement(cml::CCmlMessage& message) const;
    // Traces `message` at level 1 and returns `status`.
    uint32_t Fail(uint32_t status, const char* message) const;

    const char* Where() const { return m_where; }
    const ITraceSinkOwner& TraceOwner() const { return m_traceOwner; }

private:
    const ITraceSinkOwner& m_traceOwner;
    const char* m_where;
};

}  // namespace zel::ss
