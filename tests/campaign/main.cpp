// The seeded fault campaign: thousands of random hostile worlds per run, each played against the
// whole worker in virtual time and checked while it runs.
//
// A seed draws a world: adapters and foreign devices coming and going, board and library faults,
// the user's presses and file answers, and a stop. The worker meets it through two wrappers, one
// around the simulator's library table and one around the recording host: they inject the
// library's faults, fire the world's events and check each invariant where it can break.
//
//   kesta_campaign               the fixed seeds, then 10000 fresh ones; one summary line
//   kesta_campaign --worlds N    N fresh seeds instead
//   kesta_campaign --seed S      replays world S: the world in words and its trace
//
// The rooms: world.cpp draws the world and fires its events, invariants.cpp checks the program,
// wrappers.cpp stands between the worker and its library and window, and this file plays worlds.
#include <sanitizer/common_interface_defs.h>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/campaign/campaign.h"

namespace campaign {

// --- one world ---

// Plays world `seed` and gives its first violation, or nothing.
std::string runWorld(uint64_t seed, bool tracing) {
    g_run = Run();
    g_run.seed = seed;
    g_run.tracing = tracing;
    g_run.faults = Rng{seed * 0x2545F4914F6CDD1Dull + 1};
    static RecordingHost record(0);
    record.reset(0);
    g_run.host = &record;
    wrapWorker(record);
    drawWorld();
    record.atMs(START_US / 1000 + g_run.lengthMs, [] { requestStop("as the world's time is up"); });
    record.limitUs = START_US + (g_run.lengthMs + 2000) * 1000ull;

    workerMain(record.worker);
    const uint64_t returned = now();
    // The window's shutdown: both slots closed once the worker has stopped.
    closeChannels(record.worker.link);

    if (g_run.host->hitLimit) violate("the worker did not end within the world's time");
    if (!g_run.stopped) violate("the worker ended on its own");
    if (g_run.host->windowOpsAfterStop) violate("a window operation after the stop");
    // Within one read time-out of the stop, or of the end of the library call then in flight.
    if (g_run.stopped && returned > std::max(g_run.stopUs, g_run.settleUs) + LINK_TIMEOUT_MS * 1000)
        violate(format("the worker ended %.1f ms after the stop", double(returned - g_run.stopUs) / 1000));
    if (!g_run.stopped && (!g_run.expectLog.empty() || !g_run.expectStatus.empty()))
        violate("a failure was not reported");
    finishOp();
    if (!g_run.held.empty()) violate(channelName(*g_run.held.begin()) + " left open");
    if (g_run.host->sim.world.openHandles != 0) violate("the simulator has channels left open");
    for (const SimAdapter &a : record.sim.world.adapters)
        if (a.board.protocolErrors) violate("the board saw a malformed packet: " + a.board.lastProtocolError);
    return g_run.violation;
}

// Names the world the process dies in. AddressSanitizer calls back; UndefinedBehaviorSanitizer,
// which has a runtime of its own, aborts (see below), as does a hang that outlasts the stop.
void onDeath() {
    char text[160];
    const int n = snprintf(text, sizeof text, "campaign: world %llu died (replay: --seed %llu)\n",
                           (unsigned long long)g_run.seed, (unsigned long long)g_run.seed);
    if (g_run.seed && n > 0 && write(2, text, size_t(n)) < 0) return;
}

// Replays a world with its trace and prints both, the trace up to the violation.
void printWorld(uint64_t seed, size_t lines) {
    const std::string violation = runWorld(seed, true);
    printf("%s", g_run.world.c_str());
    const size_t shown = std::min(g_run.trace.size(), lines);
    if (shown < g_run.trace.size())
        printf("  ... %zu earlier trace lines\n", g_run.trace.size() - shown);
    for (size_t i = g_run.trace.size() - shown; i < g_run.trace.size(); ++i)
        printf("  %s\n", g_run.trace[i].c_str());
    printf("world %llu: %s\n", (unsigned long long)seed,
           violation.empty() ? "no violation" : violation.c_str());
}

uint64_t freshBase() {
    uint64_t base = 0;
    if (FILE *f = fopen("/dev/urandom", "rb")) {
        if (fread(&base, sizeof base, 1, f) != 1) base = 0;
        fclose(f);
    }
    // Short enough to type back in; runs of 100000 seeds from different bases rarely overlap.
    return (base % 1000000000000ull) * 100000;
}

}  // namespace campaign

using namespace campaign;

extern "C" const char *__ubsan_default_options() { return "abort_on_error=1:print_stacktrace=1"; }

int main(int argc, char **argv) {
    __sanitizer_set_death_callback(onDeath);
    signal(SIGABRT, [](int) { onDeath(); });
    uint64_t fresh = DEFAULT_FRESH_WORLDS;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--seed") == 0) {
            printWorld(strtoull(argv[i + 1], nullptr, 10), SIZE_MAX);
            return g_run.violation.empty() ? 0 : 1;
        }
        if (strcmp(argv[i], "--worlds") == 0) fresh = strtoull(argv[i + 1], nullptr, 10);
    }
    const uint64_t base = freshBase();
    std::vector<uint64_t> seeds(std::begin(FIXED_SEEDS), std::end(FIXED_SEEDS));
    for (uint64_t s = 0; s < fresh; ++s) seeds.push_back(base + s);
    int violations = 0, memoryFaults = 0, readBacksOverFaults = 0;
    for (uint64_t seed : seeds) {
        const std::string violation = runWorld(seed, false);
        memoryFaults += g_run.memoryFault;
        readBacksOverFaults += g_run.readBackOverFault;
        if (violation.empty()) continue;
        printf("campaign: world %llu breaks an invariant %s (replay: kesta_campaign --seed %llu)\n",
               (unsigned long long)seed, violation.c_str(), (unsigned long long)seed);
        if (++violations <= 3) printWorld(seed, 400);
    }
    g_run.seed = 0;
    printf("campaign: %zu worlds, %d violations, seeds %llu..%llu; %d drew a memory fault, "
           "%d read one back\n", seeds.size(), violations, (unsigned long long)base,
           (unsigned long long)(base + fresh - 1), memoryFaults, readBacksOverFaults);
    return violations ? 1 : 0;
}
