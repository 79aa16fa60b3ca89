// Update: rewrites the adapter's configuration EEPROM so that it enumerates with the identity
// and channel names this program looks for. The success tail's port cycle makes it take effect.
#include "link/link.h"
#include "worker/window_ops.h"
#include "worker/worker.h"

namespace {
constexpr uint32_t FAILURE_PAUSE_MS = 5000;
}

OperationOutcome updateAdapterEeprom() {
    logText(" Update.\r\nUpdate, wait... ");
    for (int i = 0; i < EEPROM_WORDS; ++i) {
        showProgressStep(uint32_t(4 * i + 3));
        if (g_d2xx->writeEE(g_channels.channelA, uint32_t(i), AdapterEepromImage[i]) != FT_OK) {
            // Words before this one stay written; nothing is retried.
            logText("Fail! Can't program FTDI chip!");
            pauseMs(FAILURE_PAUSE_MS);
            logText("\r\n");
            return {OUTCOME_LINK_LOST, nullptr, nullptr};
        }
    }
    return {OUTCOME_DONE, nullptr, nullptr};
}
