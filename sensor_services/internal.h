// Operations of the library that are not exported: they let the library's own tests queue
// heartbeat bytes and look at state the exports do not show. Each runs in the export frame
// (ZEL_E_SS_NOT_INITIALIZED when the library is not initialised).
#pragma once

#include <cstdint>

namespace zel::ss {

// Waits until every services object has been destroyed (after SS_ShutDown: until the
// dispatch thread has ended and cleaned up), so that a test may then free the trace sink
// it gave to SS_Init. Not in the export frame; returns at once when nothing is alive.
void WaitUntilLibraryGone();
// The number of library instances not yet destroyed (those shut down included).
unsigned LibraryInstanceCount();

// Queues a copy of `length` bytes at `bytes` as the pending heartbeat, replacing one not
// yet sent; ZEL_E_NO_VIRTUAL_MEMORY when no copy can be made.
uint32_t QueueHeartbeatBytes(const char* bytes, uint32_t length);
// TriggerDispatch on the published object.
uint32_t RequestDispatch();
// `pending` receives whether a heartbeat waits to be sent.
uint32_t GetHeartbeatPending(bool& pending);
// `enabled` receives the "dumpEnabled" setting.
uint32_t GetDumpEnabled(bool& enabled);
// `timeouts` receives connect, transfer and DNS-cache timeouts.
uint32_t GetPostTimeouts(uint32_t (&timeouts)[3]);

// Processes `length` bytes as a controller's reply to a heartbeat of agent `agentId`, as the
// dispatch thread does after a successful post; reply processing's status.
uint32_t ProcessHeartbeatReply(const char* bytes, uint32_t length, const char* agentId);
// Processes `length` bytes as a controller's reply to a ping; the ping reader's status.
uint32_t ProcessPingReply(const char* bytes, uint32_t length);

}  // namespace zel::ss
