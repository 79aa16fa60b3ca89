// Update: rewrites the adapter's configuration EEPROM so that it enumerates with the identity
// and channel names this program looks for. The success tail's port cycle makes it take effect.
#include "worker/window_ops.h"
#include "worker/worker.h"

namespace {

// A word read back different is written again this many times at most.
constexpr int REWRITES_PER_WORD = 3;

// The chip reads its EEPROM only when it enumerates, so a word it failed to store would show only
// after the port cycle, as an adapter that comes back blank. Read back before cycling instead.
// False when a word stays different or cannot be read.
bool verifyImage(const Link &link) {
    const D2xxApi &d2xx = *link.d2xx;
    const FT_HANDLE channel = link.channels.channelA;
    for (int i = 0; i < EEPROM_WORDS; ++i) {
        for (int rewrites = 0;; ++rewrites) {
            uint16_t stored = 0;
            if (d2xx.readEE(channel, uint32_t(i), &stored) != FT_OK) return false;
            if (stored == AdapterEepromImage[i]) break;
            if (rewrites == REWRITES_PER_WORD ||
                d2xx.writeEE(channel, uint32_t(i), AdapterEepromImage[i]) != FT_OK)
                return false;
        }
    }
    return true;
}

OperationOutcome cannotProgram(const Worker &w) {
    logText(w, "Fail! Can't program FTDI chip!");
    pauseMs(w, FAILURE_PAUSE_MS);
    logText(w, "\r\n");
    return {OUTCOME_LINK_LOST, nullptr, nullptr};
}

}  // namespace

OperationOutcome updateAdapterEeprom(Worker &w) {
    const Link &link = w.link;
    logText(w, " Update.\r\nUpdate, wait... ");
    for (int i = 0; i < EEPROM_WORDS; ++i) {
        // The last word fills the bar.
        showProgressStep(w, uint32_t((i + 1) * (PROGRESS_MAX + 1) / EEPROM_WORDS - 1));
        // Words before a failed one stay written; the adapter is not cycled, so it keeps running
        // on what it enumerated with.
        if (link.d2xx->writeEE(link.channels.channelA, uint32_t(i), AdapterEepromImage[i]) != FT_OK)
            return cannotProgram(w);
    }
    // Without FT_ReadEE in the library there is nothing to read back with.
    if (link.d2xx->readEE && !verifyImage(link)) return cannotProgram(w);
    return {OUTCOME_DONE, nullptr, nullptr};
}
