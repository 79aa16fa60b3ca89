// Erase, Read and Write on the chip model: the adapter chip's packets and latency timer, the
// library's cost per call, the board's time to answer.
#include "tests/e2e/scenarios.h"
#include "tests/e2e/steps.h"

namespace {

const char CHIP_WORLD[] = "adapter\n  memory random 13\n  chip on\n";

bool latencyTimerSet() {
    REQUIRE(traceCount("FT_SetLatencyTimer a0/A st=0 ms=2") >= 1 &&
                traceCount("FT_SetLatencyTimer a0/B st=0 ms=2") >= 1,
            "the latency timer was not set to 2 ms on both channels");
    return true;
}

bool chipErase() {
    CHECK(eraseIn("chip_erase", CHIP_WORLD));
    return latencyTimerSet();
}

bool chipRead() {
    CHECK(connect("chip_read", CHIP_WORLD));
    CHECK(readTo(g_runDir + L"image.bin"));
    CHECK(closeAndCheck());
    return latencyTimerSet();
}

bool chipWrite() {
    CHECK(writeIn("chip_write", CHIP_WORLD));
    return latencyTimerSet();
}

const Scenario SCENARIOS[] = {
    {"chip_erase", chipErase},
    {"chip_read", chipRead},
    {"chip_write", chipWrite},
};

}  // namespace

const Scenario *chipScenarios(size_t &count) { return tableOf(SCENARIOS, count); }
