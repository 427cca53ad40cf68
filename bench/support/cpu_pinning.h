// Keeps a benchmark's client and its server on processors of their own. Left to the
// scheduler, a loopback exchange between two busy threads often lands both on one core of
// this two-core machine; each side then refills its caches after the other and costs more
// CPU, and the ratio of a figure to its baseline swings by a fifth between runs for that
// alone. Pinning applies to a figure and its baseline alike.
#pragma once

#include <pthread.h>
#include <sched.h>

namespace zel::bench {

// The processor of the calling thread's allowed set at `index` (0 the first), or -1 when the
// set holds fewer.
inline int AllowedCpu(int index) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed) != 0) return -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed) && index-- == 0) return cpu;
    }
    return -1;
}

// Restricts the calling thread, and the threads and processes it starts from then on, to
// `cpu`; nothing changes when `cpu` is negative.
inline void PinCallingThread(int cpu) {
    if (cpu < 0) return;
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(cpu, &only);
    pthread_setaffinity_np(pthread_self(), sizeof only, &only);
}

// The processors for the client and the server side: the first two allowed ones, or -1 for
// both (no pinning) on a machine with a single one.
struct CpuPair {
    int client = -1;
    int server = -1;
};
inline CpuPair ClientAndServerCpus() {
    const int second = AllowedCpu(1);
    if (second < 0) return {};
    return {AllowedCpu(0), second};
}

}  // namespace zel::bench
