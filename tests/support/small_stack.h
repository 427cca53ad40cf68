// Runs work on a thread whose stack is much smaller than a main thread's, the way an agent
// may start the library's dispatch thread: a recursion over untrusted input that a main
// thread survives overflows here.
#pragma once

#include <functional>

#include "zel/platform_services.h"

namespace zel::test {

// Runs `work` on a new thread with a stack of 256 KiB and waits for it.
void RunOnSmallStack(const std::function<void()>& work);

// The ready POSIX platform services, except that every thread they create runs on such a stack.
const SS_PlatformServices* SmallStackPlatformServices();

}  // namespace zel::test
