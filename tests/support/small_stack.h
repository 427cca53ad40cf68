// Runs work on a thread whose stack is much smaller than a main thread's, the way an agent
// may start the library's dispatch thread: a recursion over untrusted input that a main
// thread survives overflows here.
#pragma once

#include <cstddef>
#include <functional>

#include "zel/platform_services.h"

namespace zel::test {

// A stack small enough to catch a walk whose depth follows the input.
constexpr std::size_t kSmallStackBytes = 256 * 1024;

// Runs `work` on a new thread with a stack of kSmallStackBytes and waits for it.
void RunOnSmallStack(const std::function<void()>& work);

// The ready POSIX platform services, except that every thread they create runs on a stack
// of kSmallStackBytes.
const SS_PlatformServices* SmallStackPlatformServices();

}  // namespace zel::test
