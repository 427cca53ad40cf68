// CTRLEXC: the exception of the services core. A routine throws it to leave a processing
// step with a status and catches it itself; it never leaves an exported function.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace zel::ss {

class CTRLEXC {
public:
    // An exception carrying `message` (for the trace) and `status` (for the caller).
    CTRLEXC(std::string message, uint32_t status) : m_message(std::move(message)), m_status(status) {}

    // The text to trace.
    const std::string& Message() const noexcept { return m_message; }
    // The status the catching routine returns.
    uint32_t Status() const noexcept { return m_status; }

private:
    std::string m_message;
    uint32_t m_status;
};

}  // namespace zel::ss
