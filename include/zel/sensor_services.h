/* The sensor services library (libzelSensorSvcs3.so): the exported interface an agent uses
 * to stay in contact with its controller.
 *
 * Every function returns 0 or a status code (zel/status_codes.h) unless said otherwise.
 * Every function but SS_Init, SS_ShutDown, SS_Allocate and SS_Free returns
 * ZEL_E_SS_NOT_INITIALIZED (0xC7560003) before SS_Init and after SS_ShutDown, and
 * ZEL_E_INTERNAL (0xC7210005) when something unexpected went wrong inside. Texts are
 * NUL-terminated UTF-8. Every document the library writes is well-formed XML whatever
 * texts the agent passes in: markup characters and quotes are escaped, and a byte sequence
 * that is not UTF-8 or a character XML 1.0 cannot carry (a control character other than
 * tab, line feed and carriage return, U+FFFE, U+FFFF) is written as U+FFFD. A buffer the
 * library hands to the agent is allocated with SS_Allocate and released by the agent with
 * SS_Free; the functions that do so say it.
 * Compiles as C and C++. */
#ifndef ZEL_SENSOR_SERVICES_H
#define ZEL_SENSOR_SERVICES_H

#include <stdint.h>

#include "zel/platform_services.h"
#include "zel/status_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The interface version an agent passes to SS_Init. */
#define SS_INTERFACE_VERSION "3.0"
/* The length of the agent identifier passed to SS_Init (a GUID in text form, no braces). */
#define SS_AGENT_ID_LENGTH 36

/* Channels of the error callback: which exchange failed. */
#define SS_CHANNEL_HEARTBEAT 1u
#define SS_CHANNEL_PING 2u

/* Called on the dispatch thread (in synchronous mode on the posting thread) whenever a post
 * to the controller fails (the session-config module's status, 0x...759...), and whenever
 * the library refuses the controller's reply to a post that succeeded (0x...738... when it
 * cannot be parsed, for example elements nested deeper than 256 levels; otherwise
 * ZEL_E_SS_BAD_RESPONSE, 0xC7560005: no envelope, an empty body, no destination, a reply
 * addressed to another agent than the heartbeat's, a message that cannot be read), with
 * the status and the channel; the result is ignored. A refused reply calls no other
 * callback and changes nothing; the heartbeat counts as delivered. No library lock is held
 * during the call, so it may call the exports. */
typedef uint32_t (*SS_ErrorCallback)(uint32_t status, uint32_t channel);

/* Starts the library. version must be exactly "3.0"; localPropertyFile and groupSettingsFile
 * are paths; agentIdentifier has exactly 36 bytes of UTF-8 without control characters;
 * option is handed unchanged to the session-config module. platform may be null
 * (synchronous mode: no thread, posts run on the caller's thread); trace may be null. Both blocks must stay valid until the library
 * is shut down and its dispatch thread has ended. Results: 0; ZEL_E_INVALIDARG for a bad
 * argument; ZEL_I_SS_ALREADY_INITIALIZED (0x47560004) when already started (nothing
 * changes); the status of the session-config module when it cannot be loaded or the group
 * settings file cannot be loaded; in synchronous mode also the status of the property
 * lookup of "dnsCacheTimeout". A missing local property file is not a failure. SS_Init
 * does not wait for an instance shut down earlier that is still finishing a post. */
uint32_t SS_Init(const char* version, const char* localPropertyFile, const char* groupSettingsFile,
                 const char* agentIdentifier, uint32_t option, const SS_PlatformServices* platform,
                 const SS_TraceSink* trace);

/* Stops the library; always 0, also when it was not started. It does not wait for the
 * dispatch thread, which ends on its own and releases everything when the last call in
 * progress has left; until then that thread may still call the trace sink, the platform
 * services and (for a post in flight) the error callback; a reply that arrives after
 * SS_ShutDown is not processed. A later SS_Init does not wait for it. */
uint32_t SS_ShutDown(void);

/* A zero-filled block of size bytes from the library's heap, or null when the library is
 * not initialised or out of memory. The agent releases it with SS_Free. */
void* SS_Allocate(uint32_t size);

/* Releases a block from SS_Allocate or a buffer the library handed out; null is accepted.
 * Works also when the library is not initialised. */
void SS_Free(void* block);

/* Registers the error callback (null removes it), replacing any earlier one; 0. */
uint32_t SS_RegisterErrorCallback(SS_ErrorCallback callback);

/* Makes the session-config module load (again) the local property file at path; the
 * module's status. */
uint32_t SS_LoadLocalProperties(const char* path);

/* Makes the session-config module load the group settings file at path; the file the
 * library writes group settings to is not changed. The module's status. */
uint32_t SS_LoadGroupSettings(const char* path);

/* Writes the current group settings to path (null: the file last loaded); the module's
 * status. */
uint32_t SS_SaveGroupSettings(const char* path);

/* Stores the agent identifier the controller knows the agent by and persists it in the
 * local property file; the module's status. */
uint32_t SS_SetAgentId(const char* agentId);

/* Stores and persists the last agent identifier the controller accepted; the module's
 * status. */
uint32_t SS_SetLastGoodAgentId(const char* agentId);

/* The group name the module reports while no group settings are loaded (null clears it);
 * the module's status. */
uint32_t SS_SetGroupnameHint(const char* hint);

/* Goes back to the primary controller and wakes the dispatch thread; 0. */
uint32_t SS_ResetToPrimaryController(void);

/* *count receives the number of controllers; the module's status. */
uint32_t SS_GetControllerCount(uint32_t* count);

/* The texts of the controller at list position index: name, host name, port, type
 * ("http" or "https"), proxy host, proxy port, user name, proxy user name (passwords are
 * never handed out). Each non-null output receives a copy allocated with SS_Allocate, or
 * null for an absent field; the agent frees every copy with SS_Free. Null outputs are
 * skipped. On failure (the module's status, or ZEL_E_NO_VIRTUAL_MEMORY) no output is
 * written or every written one is null again. */
uint32_t SS_GetControllerInfo(uint32_t index, char** name, char** hostName, char** port, char** type,
                              char** proxyHost, char** proxyPort, char** userName, char** proxyUserName);

/* Appends a controller: hostName and port are required, type is "http" (null or empty) or
 * "https", a proxy port needs a proxy host; the texts are copied. The module's status. */
uint32_t SS_AddController(const char* name, const char* hostName, const char* port, const char* type,
                          const char* proxyHost, const char* proxyPort, const char* userName,
                          const char* passwd, const char* proxyUserName, const char* proxyPasswd);

/* Removes the controller at list position index; the module's status. */
uint32_t SS_DeleteController(uint32_t index);

/* ---- Heartbeat construction ---------------------------------------------------------
 *
 * A heartbeat is built through a handle between two posts: CreateHeartbeat makes it, the
 * setters and adders below fill it, PostHeartbeat hands it to the library (which destroys
 * it) and FreeHeartbeat destroys one that is not posted. A handle belongs to one thread at
 * a time and must not be used after PostHeartbeat or FreeHeartbeat.
 *
 * Common rules: a required argument that is null (or a required length that is 0) gives
 * ZEL_E_INVALIDARG; every NUL-terminated text argument must end within its first 0x100000
 * bytes (so at most 1,048,575 characters), else ZEL_E_INVALIDARG (texts that come with a
 * length, the XML texts and requestId, are read over that length instead); a handle without its startup
 * announcement gives ZEL_E_INTERNAL. An optional text that is null leaves its field as it
 * was; numbers and flags are always stored. Flags are byte-sized booleans (non-zero =
 * true). A failed call leaves the handle usable; what was attached before stays. XML texts
 * are read from exactly `length` bytes (no NUL needed); one that cannot be parsed (elements
 * nested deeper than 256 levels included), or a request that would make the heartbeat
 * impossible to write, gives ZEL_E_SS_POLICY_NOT_LOADED (0xC7560012) and changes nothing.
 *
 * Identifier buffers (idBuffer, idLength) are optional together. When both are given the
 * buffer is zero-filled over *idLength bytes; if the new request's identifier (36
 * characters) fits, it is copied in (NUL-terminated only when the buffer is longer) and
 * *idLength becomes its length; otherwise the buffer stays zero-filled and *idLength
 * unchanged. */

/* A heartbeat under construction. */
typedef struct SS_HeartbeatTag* SS_Heartbeat;
/* A module entry of a heartbeat, from AddModuleInfo; valid until the heartbeat is posted or
 * freed. */
typedef struct SS_ModuleTag* SS_Module;

/* *outHandle receives a new heartbeat (null on failure) announcing the agent agentId with
 * its name, namespace URI and version, on a host with address ipAddress. All required.
 * ZEL_E_NO_VIRTUAL_MEMORY when out of memory. */
uint32_t CreateHeartbeat(SS_Heartbeat* outHandle, const char* agentId, const char* name, const char* agentNamespace,
                         const char* version, const char* ipAddress);

/* Destroys a heartbeat that is not posted; null is accepted. Always 0. */
uint32_t FreeHeartbeat(SS_Heartbeat handle);

/* Sets the agent's state: package version, last package path, package status and its
 * description, agent status, agent and daemon install paths, model, group name hint, and
 * whether to use local settings and to register the agent. Whether the agent wants new
 * schemas is taken from whether a set-schema-request callback is registered now. */
uint32_t SetBasicAgentInfo(SS_Heartbeat handle, const char* qpkVersion, const char* lastQpkPath, uint32_t qpkStatus,
                           const char* qpkStatusDescription, uint32_t agentStatus, const char* agentInstallPath,
                           const char* daemonInstallPath, const char* model, const char* groupnameHint,
                           uint8_t useLocalSettings, uint8_t registerAgent);

/* The short form of SetBasicAgentInfo: agentStatusText is the agent status as decimal
 * text (null: 0); unused is not read; the agent is registered. */
uint32_t SetAgentInfo(SS_Heartbeat handle, const char* qpkVersion, const char* agentStatusText, const char* unused,
                      const char* agentInstallPath, const char* daemonInstallPath);

/* Sets the host's name, address, operating system, NetBIOS name and domain, and directory
 * object and group identifiers; unused is not read (the OS version is kept). */
uint32_t SetHostInfo(SS_Heartbeat handle, const char* hostName, const char* ipAddress, const char* os,
                     const char* unused, const char* nbname, const char* nbdomain, const char* adObjectId,
                     const char* adGroupId);

/* Adds a settings schema the agent holds: schemaNamespace and version required, name
 * optional. */
uint32_t AddSchemaInfo(SS_Heartbeat handle, const char* name, const char* schemaNamespace, const char* version,
                       uint8_t root, uint8_t cpeEditable, uint8_t overwrite, uint8_t getFromAgent);

/* Adds a module with its name and version (required) and status (0x47380022: none).
 * description is optional and not sent. *outModule, if given, receives the module for
 * AddModuleInfoParams (null on failure). */
uint32_t AddModuleInfo(SS_Heartbeat handle, const char* name, const char* version, uint32_t status,
                       const char* description, SS_Module* outModule);

/* Appends to a module's parameters those of an XML document: the root element's children
 * that are "param" elements of the "http://schemas.zel.example/cml/common" namespace
 * (attributes name, value and optional ordinal), in document order; other children are
 * skipped. */
uint32_t AddModuleInfoParams(SS_Module module, const char* xml, uint32_t length);

/* Appends to the agent's parameters those of an XML document, as AddModuleInfoParams. */
uint32_t AddAgentParams(SS_Heartbeat handle, const char* xml, uint32_t length);

/* Asks for a policy: token is the version the agent holds (null: "0"), name optional,
 * policyNamespace required, schemaVersion optional. All such calls on one heartbeat share
 * one get-policy-request; idBuffer receives its identifier. */
uint32_t AddGetPolicyRequest(SS_Heartbeat handle, const char* token, const char* name, const char* policyNamespace,
                             const char* schemaVersion, char* idBuffer, uint32_t* idLength);

/* AddGetPolicyRequest without a schema version (schemaVersion is not read). */
uint32_t AddAgentPolicyInfo(SS_Heartbeat handle, const char* token, const char* name, const char* policyNamespace,
                            const char* schemaVersion, char* idBuffer, uint32_t* idLength);

/* Adds a set-policy-request read from an XML "set-policy-request" element, whose child
 * elements are the policies to set. The request keeps the "request-id" of the text, or gets
 * a new identifier when the text has none; idBuffer receives it. A text without a policy
 * is refused (ZEL_E_SS_POLICY_NOT_LOADED): such a request could not be written. */
uint32_t AddSetPolicyRequest(SS_Heartbeat handle, const char* xml, uint32_t length, char* idBuffer,
                             uint32_t* idLength);

/* The same operation as AddSetPolicyRequest, for the agent's optional properties. */
uint32_t AddOptAgentProperties(SS_Heartbeat handle, const char* xml, uint32_t length, char* idBuffer,
                               uint32_t* idLength);

/* Asks the controller for a schema document: schemaNamespace required, name and version
 * optional; idBuffer receives the new request's identifier. */
uint32_t AddGetSchemaRequest(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                             const char* version, char* idBuffer, uint32_t* idLength);

/* Offers the controller a schema document (the XML text of an XML Schema "schema"
 * element) under name (optional), schemaNamespace and version (required); idBuffer receives
 * the new request's identifier. */
uint32_t AddSetSchemaRequest(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                             const char* version, uint8_t overwrite, const char* xml, uint32_t length,
                             char* idBuffer, uint32_t* idLength);

/* Answers the controller's set-policy-request requestId (requestIdLength bytes, or up to a
 * NUL within them): one set-policy-response per heartbeat collects the results; the first
 * call's requestId names it. status 0 adds nothing; a non-zero status adds a policy item
 * (name, version, policyNamespace, status, statusText, schemaVersion) and marks the
 * response failed. policyNamespace is required. A response that holds no item cannot be
 * written: PostHeartbeat then fails with ZEL_E_INTERNAL (and still takes the handle). */
uint32_t AddSetPolicyResponse(SS_Heartbeat handle, const char* name, const char* version,
                              const char* policyNamespace, uint32_t status, const char* statusText,
                              const char* schemaVersion, const char* requestId, uint32_t requestIdLength);

/* Answers the controller's get-schema-request requestId with one schema: its name,
 * schemaNamespace (required), version, result status and text, and the schema document as
 * XML text (xml may be null when the schema cannot be supplied). Answers for the same
 * request share one get-schema-response, which is marked failed when a status is
 * non-zero. */
uint32_t AddGetSchemaResponse(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                              const char* version, uint32_t status, const char* statusText, const char* xml,
                              uint32_t length, uint8_t overwrite, const char* requestId, uint32_t requestIdLength);

/* Answers the controller's set-schema-request requestId with one schema's result: name,
 * schemaNamespace (required), version, status and text. One set-schema-response per
 * heartbeat collects them (the first call's requestId names it); a non-zero status marks
 * it failed. */
uint32_t AddSetSchemaResponse(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                              const char* version, uint32_t status, const char* statusText, const char* requestId,
                              uint32_t requestIdLength);

/* Queues the heartbeat for sending and wakes the dispatch thread (in synchronous mode sends
 * it at once). The library takes the handle over and destroys it, except when it is null
 * (ZEL_E_INVALIDARG) or lacks its announcement (ZEL_E_INTERNAL; but out of memory before
 * that check, ZEL_E_NO_VIRTUAL_MEMORY, destroys it too). A heartbeat not yet sent
 * is replaced. idBuffer receives the heartbeat's message identifier by the rule above.
 * Each heartbeat also asks for the group settings; when their version cannot be read the
 * heartbeat is still queued, no send is triggered and that status is returned. Each also
 * carries an error response (ZEL_E_CML_REQUEST_NOT_RECOGNIZED) for every request of an
 * earlier reply that the library does not know, until a heartbeat carrying it has been
 * delivered (at most 64 are owed at once; requests beyond them are traced and not
 * answered). */
uint32_t PostHeartbeat(SS_Heartbeat handle, char* idBuffer, uint32_t* idLength);

/* ---- Replies ---------------------------------------------------------------------------
 *
 * The controller's reply to a heartbeat is handed to the callbacks below, on the dispatch
 * thread (in synchronous mode on the posting thread), with no library lock held, so a
 * callback may call the exports. Texts are valid during the call only; a missing text is
 * "" unless said otherwise. requestId is the message's request identifier and
 * requestIdLength its length; agentId is the agent identifier the reply is addressed to,
 * always the one of the heartbeat it answers (other replies are refused, see
 * SS_ErrorCallback).
 * A reply is handed over in batches, in this order: schema requests and schema documents,
 * then answers to policy and schema requests, then acknowledgements and error responses.
 * last is 1 on the call for the final message or item of a batch after which no later
 * batch calls a callback that is registered, else 0 (the group-settings item of a policy
 * answer is not handed over: the item before it then counts as the final one). An answer
 * without items gives one call whose item arguments are all null or 0. Results are
 * ignored. Each Register function replaces the earlier callback (null removes
 * it) and returns 0. */

/* For schema requests and answers, one call per schema item: name, schemaNamespace and
 * version of the item; code and text its result (0 and null for requests); schema and
 * schemaLength the schema document as XML text (null and 0 when none). */
typedef uint32_t (*SS_SchemaCallback)(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                      const char* agentId, const char* name, const char* schemaNamespace,
                                      const char* version, uint32_t code, const char* text, const char* schema,
                                      uint32_t schemaLength, uint32_t last);

/* For policy answers, one call per policy item: token (the policy's version), name,
 * policyNamespace, schemaVersion, code and text (null when empty) of the item; policy and
 * policyLength the policy document as XML text (get-policy answers with code 0 only). */
typedef uint32_t (*SS_PolicyCallback)(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                      const char* agentId, const char* token, const char* name,
                                      const char* policyNamespace, const char* schemaVersion, uint32_t code,
                                      const char* text, const char* policy, uint32_t policyLength, uint32_t last);

/* For acknowledgements and error responses: the response's element name, request
 * identifier, code and text. */
typedef uint32_t (*SS_GenericResponseCallback)(const char* tagName, const char* requestId, uint32_t status,
                                               const char* agentId, uint32_t code, const char* text,
                                               uint32_t last);

/* Once per processed reply: the message identifier of the heartbeat it answers. */
typedef uint32_t (*SS_ResponseCompleteCallback)(const char* responseTo);

/* The outcome of a ping: its request identifier, 0 or the last post failure, and the
 * controller's reply (null and 0 after a failure). */
typedef uint32_t (*SS_PingCallback)(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                    const char* response, uint32_t responseLength);

/* The controller asks for schema documents (code, text, schema: 0, null, null). */
uint32_t RegisterGetSchemaRequest(SS_SchemaCallback callback);
/* The controller hands over schema documents to install. Registering one also makes the
 * next heartbeats tell the controller that the agent takes new schemas. */
uint32_t RegisterSetSchemaRequest(SS_SchemaCallback callback);
/* Answers to the agent's get-schema requests. */
uint32_t RegisterGetSchemaResponse(SS_SchemaCallback callback);
/* Answers to the agent's set-schema requests (schema: null). */
uint32_t RegisterSetSchemaResponse(SS_SchemaCallback callback);
/* Answers to the agent's get-policy requests; the group settings are not among them. */
uint32_t RegisterGetPolicyResponse(SS_PolicyCallback callback);
/* Answers to the agent's set-policy requests (policy: null). */
uint32_t RegisterSetPolicyResponse(SS_PolicyCallback callback);
/* Acknowledgements and error responses. */
uint32_t RegisterGenericResponse(SS_GenericResponseCallback callback);
/* The end of each processed reply. */
uint32_t RegisterResponseComplete(SS_ResponseCompleteCallback callback);

/* ---- Ping and group settings --------------------------------------------------------- */

/* Queues a ping (replacing one not yet sent) and wakes the dispatch thread; the ping goes
 * to the current controller and then along the list until one answers, which becomes the
 * current controller. idBuffer receives the ping's identifier by the rule above. */
uint32_t PostPing(char* idBuffer, uint32_t* idLength);
/* The outcome of each ping. Without a callback the reply is not read. */
uint32_t RegisterPingResponse(SS_PingCallback callback);

/* Called after new group settings from the controller were saved to the group settings
 * file and loaded: token is their version, policy their document. */
uint32_t RegisterGroupSettingsResponse(SS_PolicyCallback callback);

#ifdef __cplusplus
}
#endif

#endif /* ZEL_SENSOR_SERVICES_H */
