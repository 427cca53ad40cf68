// The texts the services core traces, each spelled once.
#pragma once

namespace zel::ss::text {

inline constexpr const char* kRequiredParameterNull = "A required input parameter is NULL.";
inline constexpr const char* kParameterTooLarge = "An input parameter is too large.";
inline constexpr const char* kMissingAnnouncement = "Heartbeat message is missing its startup announcement";
inline constexpr const char* kPolicyRootMissing = "parsed policy but document root element is NULL!";
inline constexpr const char* kSchemaRootMissing = "parsed schema but document root element is NULL!";
// A caller's XML text that the CML library refused: the text, the exception's message, then
// the two codes.
inline constexpr const char* kCmlParseFailed = "parse failed with CML error. Exception: ";
inline constexpr const char* kCmlCodeLabel = " CML code: ";
inline constexpr const char* kErrCodeLabel = " ERR code: ";
inline constexpr const char* kGroupSettingsInfoFailed =
    "Failure while getting group settings information for heartbeat. Status: ";

}  // namespace zel::ss::text
