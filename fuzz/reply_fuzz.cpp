// Controller replies to a heartbeat: the parse, the walk of the envelope and the sorting
// of its messages into the callback groups, with every callback registered so that every
// group is handed over. The callbacks read what they are given (so the sanitizers check
// each text and document the library passes) and do nothing else.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/library_session.h"
#include "sensor_services/internal.h"
#include "zel/sensor_services.h"

namespace {

void Read(const char* text) {
    if (text) (void)std::strlen(text);
}

void Read(const char* bytes, uint32_t length) {
    volatile unsigned char sum = 0;
    for (uint32_t i = 0; bytes && i < length; ++i) sum = static_cast<unsigned char>(sum + bytes[i]);
}

uint32_t OnSchema(const char* requestId, uint32_t requestIdLength, uint32_t, const char* agentId, const char* name,
                  const char* schemaNamespace, const char* version, uint32_t, const char* text, const char* schema,
                  uint32_t schemaLength, uint32_t) {
    Read(requestId, requestIdLength);
    for (const char* each : {requestId, agentId, name, schemaNamespace, version, text}) Read(each);
    Read(schema, schemaLength);
    return 0;
}

uint32_t OnPolicy(const char* requestId, uint32_t requestIdLength, uint32_t, const char* agentId, const char* token,
                  const char* name, const char* policyNamespace, const char* schemaVersion, uint32_t,
                  const char* text, const char* policy, uint32_t policyLength, uint32_t) {
    Read(requestId, requestIdLength);
    for (const char* each : {requestId, agentId, token, name, policyNamespace, schemaVersion, text}) Read(each);
    Read(policy, policyLength);
    return 0;
}

uint32_t OnGeneric(const char* tagName, const char* requestId, uint32_t, const char* agentId, uint32_t,
                   const char* text, uint32_t) {
    for (const char* each : {tagName, requestId, agentId, text}) Read(each);
    return 0;
}

uint32_t OnComplete(const char* responseTo) {
    Read(responseTo);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel::fuzz::Library();
    RegisterGetSchemaRequest(&OnSchema);
    RegisterSetSchemaRequest(&OnSchema);
    RegisterGetSchemaResponse(&OnSchema);
    RegisterSetSchemaResponse(&OnSchema);
    RegisterGetPolicyResponse(&OnPolicy);
    RegisterSetPolicyResponse(&OnPolicy);
    RegisterGroupSettingsResponse(&OnPolicy);
    RegisterGenericResponse(&OnGeneric);
    RegisterResponseComplete(&OnComplete);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zel::fuzz::Library().RestoreGroupSettings();
    zel::ss::ProcessHeartbeatReply(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size),
                                   zel::fuzz::kAgentId);
    return 0;
}
