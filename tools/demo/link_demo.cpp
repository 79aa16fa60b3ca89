// Finds the simulated adapter, asks its board for the status and reads the first memory block,
// saying in plain words what each step found. Runs in virtual time on the test host.
#include <cstdio>
#include <cstring>

#include "link/link.h"
#include "protocol/protocol.h"
#include "sim/sim.h"
#include "tests/support/recording_host.h"
#include "worker/worker.h"

namespace {

// The COM port the system gave a channel, 0 when it has none.
int comPort(FT_HANDLE channel) {
    int32_t port = -1;
    if (!channelOpen(channel) || testLink().d2xx->getComPortNumber(channel, &port) != FT_OK) return 0;
    return port > 0 ? port : 0;
}

}  // namespace

int main() {
    RecordingHost &host = installRecordingHost();
    const uint32_t startMs = host.ms();
    SimAdapterConfig config;
    config.comPortA = 5;
    config.comPortB = 6;
    const int adapter = simAddAdapter(config);
    SimBoard &board = simAdapter(adapter).board;
    board.version = 0x0102;
    for (uint32_t i = 0; i < sizeof board.memory; ++i) board.memory[i] = uint8_t(0xA0 + i);

    if (!findAdapter(testLink())) {
        printf("Could not allocate the device lists: %s\n", host.fatal.c_str());
        return 1;
    }
    if (!channelOpen(testLink().channels.channelA)) {
        printf("No adapter found.\n");
        return 1;
    }
    printf("Opened channel A%s.\n", channelOpen(testLink().channels.channelB) ? " and channel B" : " only");

    AdapterIdentity identity;
    if (!identifyAdapter(testLink(), identity)) {
        printf("The adapter did not say who it is.\n");
        return 1;
    }
    printf("USB id %04X/%04X, description \"%s\".\n", unsigned(identity.usbId >> 16),
           unsigned(identity.usbId & 0xFFFF), identity.description);

    BoardStatus status = {};
    if (!queryBoardStatus(testLink(), &status)) {
        printf("The link failed during the status query.\n");
        return 1;
    }
    if (status.answered)
        printf("The board answers: version %02X.%02X.\n", status.version >> 8, status.version & 0xFF);
    else
        printf("The board does not answer. Is it powered?\n");
    printf("RTP port COM%d, Datalog port COM%d.\n", comPort(testLink().channels.channelA),
           comPort(testLink().channels.channelB));

    if (!readBlock(testLink(), 0x0000, g_memoryImage)) {
        printf("Reading block 0x0000 failed.\n");
        return 1;
    }
    printf("Memory from 0x0000:");
    for (int i = 0; i < 16; ++i) printf(" %02X", g_memoryImage[i]);
    printf("\n%u library calls in %u ms of virtual time.\n", unsigned(simWorld().trace.size()),
           unsigned(host.ms() - startMs));

    closeChannel(testLink(), testLink().channels.channelA);
    closeChannel(testLink(), testLink().channels.channelB);
    return 0;
}
