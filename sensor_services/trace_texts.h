// The texts the services core traces, each spelled once.
#pragma once

namespace zel::ss::text {

inline constexpr const char* kRequiredParameterNull = "A required input parameter is NULL.";
inline constexpr const char* kParameterTooLarge = "An input parameter is too large.";
inline constexpr const char* kMissingAnnouncement = "Heartbeat message is missing its startup announcement";
inline constexpr const char* kGroupSettingsInfoFailed =
    "Failure while getting group settings information for heartbeat. Status: ";

}  // namespace zel::ss::text
