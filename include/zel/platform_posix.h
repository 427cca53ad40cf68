/* A ready implementation of SS_PlatformServices on POSIX threads, for agents and tests
 * (static library zel_platform_posix). Compiles as C and C++.
 *
 * Threads are detached: they need no join, and a thread handle is only a name for the
 * thread (waitThread on an ended thread returns at once; closeThread forgets nothing).
 * Events and locks are objects of this library until destroyed. Failures: ZEL_E_INVALIDARG
 * for a missing out-pointer or routine, ZEL_E_INVALID_HANDLE for a null handle,
 * ZEL_E_NO_VIRTUAL_MEMORY, or a platform error number (EAGAIN when no thread can be
 * started, ETIMEDOUT for a wait that timed out, EBUSY for a lock held elsewhere). */
#ifndef ZEL_PLATFORM_POSIX_H
#define ZEL_PLATFORM_POSIX_H

#include "zel/platform_services.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The table; it lives as long as the process. Locks are recursive whatever createLock is
 * asked for; SS_PROCESS_LOCK names one recursive lock shared by the whole process. */
const SS_PlatformServices* ZEL_PosixPlatformServices(void);

#ifdef __cplusplus
}
#endif

#endif /* ZEL_PLATFORM_POSIX_H */
