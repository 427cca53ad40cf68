/* The smallest agent built against an installed sensor services library: one heartbeat to
 * the controller the group settings name, with the ready POSIX platform services. Exit
 * status 0 once the reply to it has been processed. */
#include <stdatomic.h>
#include <stdio.h>
#include <time.h>

#include <zel/platform_posix.h>
#include <zel/sensor_services.h>

static const char kAgentId[] = "6b1d2c3e-4f50-4a61-8b72-9c83d4e5f607";
static atomic_int g_completed;

static uint32_t OnResponseComplete(const char* responseTo) {
    (void)responseTo;
    atomic_store(&g_completed, 1);
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s PROPERTY-FILE GROUP-SETTINGS-FILE\n", argv[0]);
        return 2;
    }
    uint32_t status = SS_Init(SS_INTERFACE_VERSION, argv[1], argv[2], kAgentId, 0, ZEL_PosixPlatformServices(), NULL);
    if (status != 0) {
        fprintf(stderr, "SS_Init: 0x%08x\n", status);
        return 1;
    }
    RegisterResponseComplete(&OnResponseComplete);
    SS_Heartbeat heartbeat = NULL;
    status = CreateHeartbeat(&heartbeat, kAgentId, "consumer", "urn:example:consumer", "1.0", "127.0.0.1");
    if (status == 0) status = PostHeartbeat(heartbeat, NULL, NULL);
    const struct timespec pause = {0, 10 * 1000 * 1000};
    for (int i = 0; status == 0 && i < 2000 && !atomic_load(&g_completed); ++i) nanosleep(&pause, NULL);
    SS_ShutDown();
    if (status != 0 || !atomic_load(&g_completed)) {
        fprintf(stderr, "no reply processed (status 0x%08x)\n", status);
        return 1;
    }
    printf("heartbeat answered\n");
    return 0;
}
