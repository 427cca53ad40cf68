// CPingRecord: the body of one ping waiting to be sent. The ping operations themselves are
// members of CSensorServices (sensor_services_object.h) and live in ping.cpp.
#pragma once

#include "sensor_services/heartbeat_record.h"

namespace zel::ss {

// The ping's request identifier as posted: its 36 characters, no terminator. It owns its
// bytes exactly as a heartbeat record does; the type of its own keeps the two pending slots
// from being mixed up.
class CPingRecord final : public CHeartbeatRecord {};

// The dump files of the ping, written into the current directory when "dumpEnabled" is set.
inline constexpr const char* kPingRequestDumpFile = "ss_dump_pingreq.txt";
inline constexpr const char* kPingResponseDumpFile = "ss_dump_pingresp.txt";

}  // namespace zel::ss
