// Controller replies to a ping: the parse and the search for the echoed request
// identifier, with a ping callback registered so that the reply is read at all. The
// callback reads what it is given and does nothing else.
#include <cstddef>
#include <cstdint>

#include "fuzz/library_session.h"
#include "sensor_services/internal.h"
#include "zel/sensor_services.h"

namespace {

uint32_t OnPing(const char* requestId, uint32_t requestIdLength, uint32_t, const char* response,
                uint32_t responseLength) {
    volatile unsigned char sum = 0;
    for (uint32_t i = 0; requestId && i < requestIdLength; ++i) sum = static_cast<unsigned char>(sum + requestId[i]);
    for (uint32_t i = 0; response && i < responseLength; ++i) sum = static_cast<unsigned char>(sum + response[i]);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel::fuzz::Library();
    RegisterPingResponse(&OnPing);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zel::ss::ProcessPingReply(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
    return 0;
}
