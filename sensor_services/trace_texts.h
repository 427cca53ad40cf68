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
inline constexpr const char* kSchemaParseFailed = "parse failed with schema error. Exception: ";
inline constexpr const char* kNamespaceLabel = " Namespace: ";
inline constexpr const char* kParserVersionLabel = " Parser version: ";
inline constexpr const char* kDocumentVersionLabel = " Document version: ";
inline constexpr const char* kGroupSettingsInfoFailed =
    "Failure while getting group settings information for heartbeat. Status: ";

// Reply processing.
inline constexpr const char* kNoEnvelope = "no message envelope in response";
inline constexpr const char* kNoDestination = "no destination agents specified in response";
// Printf formats with one %s: the agent identifier of the reply's destination; the request
// identifier left without an answer.
inline constexpr const char* kOtherAgentFormat = "response addressed to another agent: %s";
inline constexpr const char* kTooManyAnswersFormat = "too many requests await an answer; not answered: %s";
inline constexpr const char* kCastSetSchemaRequest = "could not cast set schema request to correct class";
inline constexpr const char* kCastGetSchemaRequest = "could not cast get schema request to correct class";
inline constexpr const char* kCastGetSchemaResponse = "could not cast get schema response to correct class";
inline constexpr const char* kCastGetPolicyResponse = "could not cast get policy response to correct class";
inline constexpr const char* kCastSetPolicyResponse = "could not cast set policy response to correct class";
inline constexpr const char* kCastSetSchemaResponse = "could not cast set schema response to correct class";
inline constexpr const char* kMessageProcessingFailed = "message processing failed with CML error. Exception: ";
inline constexpr const char* kGenericCallbackFailed =
    "An exception occurred in the agent's generic response callback function";
inline constexpr const char* kResponseCompleteCallbackFailed =
    "An exception occurred in the agent's response-complete callback function";
// A printf format with one %s: the element name.
inline constexpr const char* kUnknownMessageFormat = "Unknown CML message received. Tag name: %s";

// Ping.
inline constexpr const char* kNoPingRequestId = "no request ID specified in response";
inline constexpr const char* kUnexpectedParseFailure = "parse failed with an unexpected exception";
inline constexpr const char* kPingCallbackFailed = "An exception occurred in the agent's ping callback function";

// Group settings.
inline constexpr const char* kGroupSettingsErrorStatus = "Error status while processing group settings. Status: ";
inline constexpr const char* kGroupSettingsErrorCode = "CML error code while processing group settings. Code: ";
inline constexpr const char* kGroupSettingsErrorText = " Text: ";
inline constexpr const char* kGroupSettingsMissing =
    "Error while processing group settings. Group settings missing and no error.";
inline constexpr const char* kGroupSettingsWriteFailed = "Error writing out group settings. File: ";
inline constexpr const char* kGroupSettingsWriteStatus = " OSSTAT: ";
inline constexpr const char* kGroupSettingsWriteErrno = " Err: ";
// A printf format with one %s: the path.
inline constexpr const char* kGroupSettingsLoadFailedFormat = "Unable to load group settings file: %s";

}  // namespace zel::ss::text
