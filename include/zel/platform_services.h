/* The two blocks an agent hands to SS_Init and that are passed on to the session-config
 * module: the platform services table (threads, events, locks) and the trace sink.
 * Compiles as C and C++. */
#ifndef ZEL_PLATFORM_SERVICES_H
#define ZEL_PLATFORM_SERVICES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An opaque handle of a thread, event or lock created by the platform services. */
typedef void* SS_Handle;

/* The lock handle that names the process-wide lock (no create call needed). */
#define SS_PROCESS_LOCK ((SS_Handle)(uintptr_t)0xFFFFFFFFu)

/* Wait without a time limit. */
#define SS_INFINITE 0xFFFFFFFFu

/* Start routine of a thread created through the platform services. */
typedef uint32_t (*SS_ThreadRoutine)(void* argument);

/* The agent's platform services. Every entry returns 0 on success or a status; entries
 * keep their positions (the numbers in the comments) even where this code base does not
 * use them. */
typedef struct SS_PlatformServices {
    /* 0: starts routine(argument) on a new thread; the handle goes to *thread. */
    uint32_t (*createThread)(SS_ThreadRoutine routine, void* argument, SS_Handle* thread);
    /* 1: waits up to timeoutMs (SS_INFINITE: no limit) for the thread to end. */
    uint32_t (*waitThread)(SS_Handle thread, uint32_t timeoutMs);
    /* 2: releases a thread handle (the thread itself goes on). */
    uint32_t (*closeThread)(SS_Handle thread);
    /* 3: creates an event; manualReset and initialState are 0 or 1. */
    uint32_t (*createEvent)(uint32_t manualReset, uint32_t initialState, SS_Handle* event);
    /* 4: signals an event. */
    uint32_t (*signalEvent)(SS_Handle event);
    /* 5: resets a manual-reset event. */
    uint32_t (*resetEvent)(SS_Handle event);
    /* 6: waits up to timeoutMs (SS_INFINITE: no limit) for the event. */
    uint32_t (*waitEvent)(SS_Handle event, uint32_t timeoutMs);
    /* 7: suspends the calling thread for milliseconds. */
    uint32_t (*sleep)(uint32_t milliseconds);
    /* 8: destroys an event. */
    uint32_t (*destroyEvent)(SS_Handle event);
    /* 9: creates a lock; recursive is 0 or 1. */
    uint32_t (*createLock)(uint32_t recursive, SS_Handle* lock);
    /* 10: acquires a lock; SS_PROCESS_LOCK is the process-wide lock. */
    uint32_t (*acquireLock)(SS_Handle lock);
    /* 11: acquires a lock only when it is free at once. */
    uint32_t (*tryAcquireLock)(SS_Handle lock);
    /* 12: releases a lock. */
    uint32_t (*releaseLock)(SS_Handle lock);
    /* 13: destroys a lock. */
    uint32_t (*destroyLock)(SS_Handle lock);
} SS_PlatformServices;

/* Trace levels: a bit set, tested against the sink's level mask. */
#define SS_TRACE_ERROR 1u
#define SS_TRACE_WARNING 2u
#define SS_TRACE_INFO 8u

/* Receives one trace line; message and where are UTF-8 texts, where names the operation
 * ("SCS_PostData()"). The result is ignored. */
typedef uint32_t (*SS_TraceFunction)(void* context, uint32_t level, const char* message,
                                     const char* where);

/* The agent's trace sink: a line of level L is written only when levelMask & L != 0. */
typedef struct SS_TraceSink {
    void* context;          /* handed back unchanged to trace */
    uint32_t levelMask;     /* enabled levels */
    SS_TraceFunction trace; /* may be null: nothing is traced */
} SS_TraceSink;

#ifdef __cplusplus
}
#endif

#endif /* ZEL_PLATFORM_SERVICES_H */
