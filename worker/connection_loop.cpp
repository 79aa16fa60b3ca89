// The worker's connection loop: search, identify, connect, report, wait for the user's choice,
// run the operation and end in one of its tails. Every dropped connection closes both channels
// and starts a new search.
#include <cstring>

#include "link/link.h"
#include "worker/window_ops.h"
#include "worker/worker.h"

namespace {

constexpr uint32_t POLL_PERIOD_MS = 500;
constexpr int CONNECT_QUERIES = 3;
constexpr uint32_t RECONNECT_PAUSE_MS = 2000;
constexpr uint32_t FAILURE_HOLD_MS = 5000;
constexpr uint32_t FAILURE_STATUS_TICKS = 50;
// Between searches that found nothing usable: short enough to notice a new adapter at once,
// long enough not to keep the driver busy.
constexpr uint32_t IDLE_SEARCH_PAUSE_MS = 50;

struct WorkerState {
    bool buttonsEnabled;   // what setButtonStates was last asked for
    bool connectedBefore;  // an adapter was identified earlier in this run
    bool infoShown;        // the info box shows this pass's adapter
    BoardStatus status;    // the latest status query
    AdapterIdentity identity;
};

void forgetConnection(WorkerState &w) {
    g_appState.updateRequired = 0;
    w.status = BoardStatus{false, 0};
    memset(&w.identity, 0, sizeof w.identity);
}

// The folder of the program followed by "*.bin", cut to nothing but the pattern when the folder
// does not fit the dialogs' buffer.
void prepareFileNameBuffer() {
    static const wchar_t PATTERN[] = L"*.bin";
    constexpr size_t PATTERN_LENGTH = sizeof PATTERN / sizeof PATTERN[0] - 1;
    wchar_t path[1024] = {};
    const size_t full = g_host->programPath(path, sizeof path / sizeof path[0]);
    size_t length = full;
    while (length > 0 && path[length - 1] != L'\\') --length;
    if (length == 0) length = full;  // no folder in it: the whole path stays
    if (length + PATTERN_LENGTH >= FILE_NAME_CAPACITY) length = 0;
    memcpy(g_fileNameBuffer, path, length * sizeof(wchar_t));
    memcpy(g_fileNameBuffer + length, PATTERN, sizeof PATTERN);
}

void setButtonsReady(WorkerState &w, bool ready) {
    if (w.buttonsEnabled == ready) return;
    w.buttonsEnabled = ready;
    applyButtonStates(ready);
}

void disconnectTail(WorkerState &w) {
    setButtonsReady(w, false);
    if (w.infoShown) {
        clearAdapterInfo();
        logText("\r\nECU was disconnected, wait for connect...");
    }
}

void successTail(WorkerState &w) {
    // The press that started the operation disabled the buttons.
    w.buttonsEnabled = false;
    logText(" Ok.\r\nRe-connect...");
    pauseMs(RECONNECT_PAUSE_MS);
    if (stopRequested()) return;
    g_d2xx->cyclePort(g_channels.channelA);
    closeChannel(g_channels.channelA);
    closeChannel(g_channels.channelB);
}

void failureHold(const OperationOutcome &outcome) {
    logWide(outcome.logText);
    showStatusLine(outcome.statusText, FAILURE_STATUS_TICKS);
    pauseMs(FAILURE_HOLD_MS);
}

// Re-enables the buttons after a failure that keeps the connection. The pending request is
// emptied first: a press made once the buttons are back must survive. All four change in one
// window operation: between single-button changes a press of the first button back would be
// followed by the next ones coming on, and a second press would overwrite the first request.
void restoreButtons() {
    g_appState.requestedOperation = OP_NONE;
    applyButtonStates(true);
}

// Offers the choice when the board answers or an update is due. False: the link is lost.
bool offerChoice(WorkerState &w) {
    if (!queryBoardStatus(&w.status)) return false;
    if (w.status.answered || g_appState.updateRequired) {
        logText("Waiting for your choice...");
        // Empty the request before the buttons come on, never after: a press in between would
        // be lost with the buttons left disabled.
        if (!w.buttonsEnabled) g_appState.requestedOperation = OP_NONE;
        setButtonsReady(w, true);
    } else {
        logText("Unable to determine device status.\r\nIs ECU power connected?");
        setButtonsReady(w, false);
        g_appState.requestedOperation = OP_NONE;
    }
    return true;
}

// Waits for a request while querying the board every POLL_PERIOD_MS to notice a lost adapter.
// Returns the operation, or OP_NONE when the link was lost or a stop requested.
int32_t waitForChoice(WorkerState &w) {
    bool polled = false;
    uint32_t lastPoll = 0;
    for (;;) {
        if (stopRequested()) return OP_NONE;
        if (!polled || tickCount() - lastPoll >= POLL_PERIOD_MS) {
            polled = true;
            lastPoll = tickCount();
            if (!queryBoardStatus(&w.status)) return OP_NONE;
        }
        const int32_t op = g_appState.requestedOperation.exchange(OP_NONE);
        if (op != OP_NONE) return op;
        const uint32_t elapsed = tickCount() - lastPoll;
        g_host->waitForRequest(elapsed >= POLL_PERIOD_MS ? 0 : POLL_PERIOD_MS - elapsed);
    }
}

OperationOutcome dispatch(int32_t op) {
    switch (op) {
    case OP_ERASE: return eraseMemory();
    case OP_READ: return readMemory();
    case OP_WRITE: return writeMemory();
    default: return updateAdapterEeprom();
    }
}

// From identification to one of the tails, on the channels the search opened. Returns true when
// the connection got as far as offering the choice.
bool runConnection(WorkerState &w) {
    g_appState.updateRequired = w.identity.adapterClass != ADAPTER_ID_CURRENT;
    if (w.connectedBefore) clearLogPane();
    w.connectedBefore = true;
    w.infoShown = true;
    announceAdapter(w.identity);
    g_appState.deviceFound = 1;
    showStatusLine(L"", 1);

    for (int i = 0; i < CONNECT_QUERIES; ++i) {
        if (!queryBoardStatus(&w.status)) return disconnectTail(w), false;
        if (w.status.answered) break;
    }
    logText(w.status.answered ? "Ok." : "Fail.");

    bool offered = false;
    for (;;) {
        logText("\r\n");
        reportConnection(w.status, w.identity);
        if (!offerChoice(w)) return disconnectTail(w), offered;
        offered = true;
        const int32_t op = waitForChoice(w);
        if (op == OP_NONE) return disconnectTail(w), true;

        const OperationOutcome outcome = dispatch(op);
        if (stopRequested()) return true;
        switch (outcome.kind) {
        case OUTCOME_DONE: return successTail(w), true;
        case OUTCOME_LINK_LOST: return disconnectTail(w), true;
        case OUTCOME_FAILED_DROP:
            failureHold(outcome);
            return disconnectTail(w), true;
        case OUTCOME_FAILED_STAY:
            failureHold(outcome);
            if (stopRequested()) return true;
            restoreButtons();
            break;
        }
    }
}

// One search pass after `findAdapter`. Returns true when the pass got as far as offering the
// choice: an adapter that identifies but is lost before that (its first query fails at once) is
// paused after like an unusable one, or the search would spin a core rewriting the log.
bool runPass(WorkerState &w) {
    w.infoShown = false;
    const bool usable = channelOpen(g_channels.channelA) && identifyAdapter(w.identity) &&
                        channelOpen(g_channels.channelB);
    bool settled = false;
    if (usable)
        settled = runConnection(w);
    else
        disconnectTail(w);

    closeChannel(g_channels.channelA);
    closeChannel(g_channels.channelB);
    forgetConnection(w);
    return settled;
}

}  // namespace

int workerMain() {
    WorkerState w = {};
    prepareFileNameBuffer();
    logText("Searching for device...\r\n");
    showStatusLine(L"Connect the ECU with Kesta OBD1 EMU installed", STATUS_HOLD_FOREVER);
    forgetConnection(w);

    while (!stopRequested()) {
        if (!findAdapter()) {
            if (workerWindowOpen()) g_host->fatalError(L"Can't allocate memory!");
            return 0;
        }
        if (!runPass(w)) pauseMs(IDLE_SEARCH_PAUSE_MS);
    }
    return 0;
}
