// Keeps a benchmark's client and its server on processors of their own. Left to the
// scheduler, a loopback exchange between two busy threads often lands both on one core of
// this two-core machine; each side then refills its caches after the other and costs more
// CPU, and the ratio of a figure to its baseline swings by a fifth between runs for that
// alone. Pinning applies to a figure and its baseline alike.
#pragma once

#include <pthread.h>
#include <sched.h>

namespace zel::bench {

// Restricts the calling thread, and the threads and processes it starts from then on, to
// `cpu`; nothing changes when `cpu` is negative.
inline void PinCallingThread(int cpu) {
    if (cpu < 0) return;
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(cpu, &only);
    pthread_setaffinity_np(pthread_self(), sizeof only, &only);
}

// The processors for the client and the server side: the first two of the calling thread's
// allowed set, or -1 for both (no pinning) when it holds fewer.
struct CpuPair {
    int client = -1;
    int server = -1;
};
inline CpuPair ClientAndServerCpus() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed) != 0) return {};
    int found[2] = {-1, -1};
    for (int cpu = 0, count = 0; cpu < CPU_SETSIZE && count < 2; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) found[count++] = cpu;
    }
    if (found[1] < 0) return {};
    return {found[0], found[1]};
}

}  // namespace zel::bench
