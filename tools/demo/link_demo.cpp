// Finds the simulated adapter, asks its board for the status and reads the first memory block,
// saying in plain words what each step found. Runs in virtual time, on the product's link and
// protocol code and the simulator alone.
#include <cstdio>
#include <cstring>

#include "link/link.h"
#include "protocol/protocol.h"
#include "sim/sim.h"
#include "worker/worker.h"

namespace {

// The demo's virtual clock, shared by the link's waits and the simulator.
struct VirtualClock {
    uint64_t nowUs = 1000000;
};

VirtualClock &clockOf(void *context) { return *static_cast<VirtualClock *>(context); }
uint32_t tickCount(void *context) { return uint32_t(clockOf(context).nowUs / 1000); }
void sleepMs(void *context, uint32_t ms) { clockOf(context).nowUs += uint64_t(ms) * 1000; }
bool neverStopped(void *) { return false; }
uint64_t nowUs(void *context) { return clockOf(context).nowUs; }
void sleepUs(void *context, uint64_t us) { clockOf(context).nowUs += us; }

// The COM port the system gave a channel, 0 when it has none.
int comPort(const Link &link, FT_HANDLE channel) {
    int32_t port = -1;
    if (!channelOpen(channel) || link.d2xx->getComPortNumber(channel, &port) != FT_OK) return 0;
    return port > 0 ? port : 0;
}

}  // namespace

int main() {
    VirtualClock time;
    Sim sim;
    simReset(sim, SimClock{&time, nowUs, sleepUs});
    const ClockSeam clock = {&time, tickCount, sleepMs, neverStopped};
    Link link = makeLink(simD2xx(sim), &clock);
    const uint32_t startMs = tickCount(&time);
    SimAdapterConfig config;
    config.comPortA = 5;
    config.comPortB = 6;
    const int adapter = simAddAdapter(sim, config);
    SimBoard &board = simAdapter(sim, adapter).board;
    board.version = 0x0102;
    for (uint32_t i = 0; i < sizeof board.memory; ++i) board.memory[i] = uint8_t(0xA0 + i);

    if (!findAdapter(link)) {
        printf("Could not allocate the device lists.\n");
        return 1;
    }
    if (!channelOpen(link.channels.channelA)) {
        printf("No adapter found.\n");
        return 1;
    }
    printf("Opened channel A%s.\n", channelOpen(link.channels.channelB) ? " and channel B" : " only");

    AdapterIdentity identity;
    if (!identifyAdapter(link, identity)) {
        printf("The adapter did not say who it is.\n");
        return 1;
    }
    printf("USB id %04X/%04X, description \"%s\".\n", unsigned(identity.usbId >> 16),
           unsigned(identity.usbId & 0xFFFF), identity.description);

    BoardStatus status = {};
    if (!queryBoardStatus(link, &status)) {
        printf("The link failed during the status query.\n");
        return 1;
    }
    if (status.answered)
        printf("The board answers: version %02X.%02X.\n", status.version >> 8, status.version & 0xFF);
    else
        printf("The board does not answer. Is it powered?\n");
    printf("RTP port COM%d, Datalog port COM%d.\n", comPort(link, link.channels.channelA),
           comPort(link, link.channels.channelB));

    uint8_t block[BLOCK_READ_SIZE];
    if (!readBlock(link, 0x0000, block)) {
        printf("Reading block 0x0000 failed.\n");
        return 1;
    }
    printf("Memory from 0x0000:");
    for (int i = 0; i < 16; ++i) printf(" %02X", block[i]);
    printf("\n%u library calls in %u ms of virtual time.\n", unsigned(sim.world.trace.size()),
           unsigned(tickCount(&time) - startMs));

    closeChannels(link);
    return 0;
}
