// The library's process-wide state (the published services object and the platform table
// given to SS_Init) and the frame every export runs in.
#pragma once

#include <cstdint>

#include "zel/platform_services.h"
#include "zel/status_codes.h"

namespace zel::ss {

class CSensorServices;

// The published object with a reference added for the caller, or null when the library
// is not initialised. Reading the pointer and adding the reference happen under one
// lock, so SS_ShutDown cannot destroy the object in between.
CSensorServices* AcquireServices() noexcept;

// SS_Init and SS_ShutDown.
uint32_t InitializeLibrary(const char* version, const char* localPropertyFile, const char* groupSettingsFile,
                           const char* agentIdentifier, uint32_t option, const SS_PlatformServices* platform,
                           const SS_TraceSink* trace);
uint32_t ShutDownLibrary() noexcept;

// Drops the reference AcquireServices added (out of line, so that the frame below needs
// no complete type).
void ReleaseServices(CSensorServices* services) noexcept;

// The frame of an export: ZEL_E_SS_NOT_INITIALIZED without a published object; otherwise
// `body(services)` with a reference held for its duration, any exception turned into
// ZEL_E_INTERNAL.
template <typename Body>
uint32_t ExportFrame(Body&& body) noexcept {
    CSensorServices* const services = AcquireServices();
    if (!services) return ZEL_E_SS_NOT_INITIALIZED;
    uint32_t status;
    try {
        status = body(*services);
    } catch (...) {
        status = ZEL_E_INTERNAL;
    }
    // May destroy the object when SS_ShutDown ran meanwhile.
    ReleaseServices(services);
    return status;
}

}  // namespace zel::ss
