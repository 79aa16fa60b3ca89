// The worker's connection loop: search, identify, connect, report, wait for the user's choice,
// run the operation and end in one of its tails. Every dropped connection closes both channels
// and starts a new search.
#include <cstring>

#include "worker/window_ops.h"
#include "worker/worker.h"

namespace {

constexpr uint32_t POLL_PERIOD_MS = 500;
constexpr int CONNECT_QUERIES = 3;
constexpr uint32_t RECONNECT_PAUSE_MS = 2000;
constexpr uint32_t FAILURE_STATUS_HOLD = statusHoldTicks(10000);
// Empties the status line at the next tick.
constexpr uint32_t NEXT_TICK_HOLD = 1;
// Between searches that found nothing usable: short enough to notice a new adapter at once,
// long enough not to keep the driver busy.
constexpr uint32_t IDLE_SEARCH_PAUSE_MS = 50;

// What the loop remembers between its steps.
struct LoopState {
    bool buttonsEnabled;   // what setButtonStates was last asked for
    bool connectedBefore;  // an adapter was identified earlier in this run
    bool infoShown;        // the info box shows this pass's adapter
    BoardStatus status;    // the latest status query
    AdapterIdentity identity;
    int32_t operation;     // the operation run last on this connection
};

void forgetConnection(LoopState &loop) {
    g_appState.updateRequired = 0;
    loop.status = BoardStatus{false, 0};
    memset(&loop.identity, 0, sizeof loop.identity);
}

// The folder of the program followed by "*.bin", cut to nothing but the pattern when the folder
// does not fit the dialogs' buffer.
void prepareFileName(Worker &w) {
    static const wchar_t PATTERN[] = L"*.bin";
    constexpr size_t PATTERN_LENGTH = sizeof PATTERN / sizeof PATTERN[0] - 1;
    wchar_t path[1024] = {};
    const size_t full = w.host->programPath(w.host->context, path, sizeof path / sizeof path[0]);
    size_t length = full;
    while (length > 0 && path[length - 1] != L'\\') --length;
    if (length == 0) length = full;  // no folder in it: the whole path stays
    if (length + PATTERN_LENGTH >= FILE_NAME_CAPACITY) length = 0;
    memcpy(w.fileName, path, length * sizeof(wchar_t));
    memcpy(w.fileName + length, PATTERN, sizeof PATTERN);
}

void setButtonsReady(const Worker &w, LoopState &loop, bool ready) {
    if (loop.buttonsEnabled == ready) return;
    loop.buttonsEnabled = ready;
    applyButtonStates(w, ready);
}

void disconnectTail(const Worker &w, LoopState &loop) {
    setButtonsReady(w, loop, false);
    if (loop.infoShown) {
        clearAdapterInfo(w);
        logText(w, "\r\nECU was disconnected, wait for connect...");
    }
}

// After Erase, Read or Write a failed cycle does no harm: the search finds the adapter either way.
// After an Update it keeps its old identity until it is unplugged, and would be offered the Update
// again for ever, so the user is told to re-plug it.
void successTail(Worker &w, LoopState &loop) {
    // The press that started the operation disabled the buttons.
    loop.buttonsEnabled = false;
    logText(w, " Ok.\r\nRe-connect...");
    pauseMs(w, RECONNECT_PAUSE_MS);
    if (stopRequested(w)) return;
    const FT_STATUS cycled = w.link.d2xx->cyclePort(w.link.channels.channelA);
    closeChannels(w.link);
    if (cycled == FT_OK || loop.operation != OP_UPDATE) return;
    logText(w, "\r\nUnplug the adapter and plug it in again.");
    showStatusLine(w, L"Re-plug the adapter!", FAILURE_STATUS_HOLD);
    pauseMs(w, FAILURE_PAUSE_MS);
}

void failureHold(const Worker &w, const OperationOutcome &outcome) {
    logWide(w, outcome.logText);
    showStatusLine(w, outcome.statusText, FAILURE_STATUS_HOLD);
    pauseMs(w, FAILURE_PAUSE_MS);
}

// Re-enables the buttons after a failure that keeps the connection. The pending request is
// emptied first: a press made once the buttons are back must survive. All four change in one
// window operation: between single-button changes a press of the first button back would be
// followed by the next ones coming on, and a second press would overwrite the first request.
void restoreButtons(const Worker &w) {
    g_appState.requestedOperation = OP_NONE;
    applyButtonStates(w, true);
}

// Offers the choice when the board answers or an update is due. False: the link is lost.
bool offerChoice(const Worker &w, LoopState &loop) {
    if (!queryBoardStatus(w.link, &loop.status)) return false;
    if (loop.status.answered || g_appState.updateRequired) {
        logText(w, "Waiting for your choice...");
        // Empty the request before the buttons come on, never after: a press in between would
        // be lost with the buttons left disabled.
        if (!loop.buttonsEnabled) g_appState.requestedOperation = OP_NONE;
        setButtonsReady(w, loop, true);
    } else {
        logText(w, "Unable to determine device status.\r\nIs ECU power connected?");
        setButtonsReady(w, loop, false);
        g_appState.requestedOperation = OP_NONE;
    }
    return true;
}

// Waits for a request while querying the board every POLL_PERIOD_MS to notice a lost adapter.
// Returns the operation, or OP_NONE when the link was lost or a stop requested.
int32_t waitForChoice(const Worker &w, LoopState &loop) {
    bool polled = false;
    uint32_t lastPoll = 0;
    for (;;) {
        if (stopRequested(w)) return OP_NONE;
        if (!polled || tickCount(w) - lastPoll >= POLL_PERIOD_MS) {
            polled = true;
            lastPoll = tickCount(w);
            if (!queryBoardStatus(w.link, &loop.status)) return OP_NONE;
        }
        const int32_t op = g_appState.requestedOperation.exchange(OP_NONE);
        if (op != OP_NONE) return op;
        const uint32_t elapsed = tickCount(w) - lastPoll;
        w.host->waitForRequest(w.host->context,
                               elapsed >= POLL_PERIOD_MS ? 0 : POLL_PERIOD_MS - elapsed);
    }
}

// Runs the requested operation. A code that names none is ignored: nothing runs and the
// connection stays as it was.
OperationOutcome dispatch(Worker &w, int32_t op) {
    switch (op) {
    case OP_ERASE: return eraseMemory(w);
    case OP_READ: return readMemory(w);
    case OP_WRITE: return writeMemory(w);
    case OP_UPDATE: return updateAdapterEeprom(w);
    }
    return {OUTCOME_IGNORED, nullptr, nullptr};
}

// How a connection ended, and so which tail follows it.
enum ConnectionEnd {
    END_LOST_BEFORE_CHOICE,  // lost before the choice was offered: disconnect tail, then a pause
    END_LOST,                // lost after the choice was offered: disconnect tail
    END_DONE,                // an operation was completed: success tail
    END_STOPPED,             // a stop was requested: no tail
};

// From identification to the end of the connection, on the channels the search opened.
ConnectionEnd runConnection(Worker &w, LoopState &loop) {
    g_appState.updateRequired = loop.identity.adapterClass != ADAPTER_ID_CURRENT;
    if (loop.connectedBefore) clearLogPane(w);
    loop.connectedBefore = true;
    loop.infoShown = true;
    announceAdapter(w, loop.identity);
    g_appState.deviceFound = 1;
    showStatusLine(w, L"", NEXT_TICK_HOLD);

    for (int i = 0; i < CONNECT_QUERIES; ++i) {
        if (!queryBoardStatus(w.link, &loop.status)) return END_LOST_BEFORE_CHOICE;
        if (loop.status.answered) break;
    }
    logText(w, loop.status.answered ? "Ok." : "Fail.");

    for (ConnectionEnd lost = END_LOST_BEFORE_CHOICE;; lost = END_LOST) {
        logText(w, "\r\n");
        reportConnection(w, loop.status, loop.identity);
        if (!offerChoice(w, loop)) return lost;
        OperationOutcome outcome;
        do {
            const int32_t op = waitForChoice(w, loop);
            // Lost, or stopped: after a stop the disconnect tail's window operations are dropped.
            if (op == OP_NONE) return END_LOST;
            loop.operation = op;
            outcome = dispatch(w, op);
            // Its ending texts follow; from here on the session may end.
            g_appState.blockingOperation = 0;
        } while (outcome.kind == OUTCOME_IGNORED);
        if (stopRequested(w)) return END_STOPPED;
        switch (outcome.kind) {
        case OUTCOME_DONE: return END_DONE;
        case OUTCOME_LINK_LOST: return END_LOST;
        case OUTCOME_FAILED_DROP:
            failureHold(w, outcome);
            return END_LOST;
        case OUTCOME_FAILED_STAY:
            failureHold(w, outcome);
            if (stopRequested(w)) return END_STOPPED;
            restoreButtons(w);
            break;
        case OUTCOME_IGNORED: break;
        }
    }
}

// One search pass after `findAdapter`, ending in the tail its connection asks for. True when the
// pass got as far as offering the choice: an adapter that identifies but is lost before that
// (its first query fails at once) is paused after like an unusable one, or the search would
// spin a core rewriting the log.
bool runPass(Worker &w, LoopState &loop) {
    loop.infoShown = false;
    const ChannelHandles &channels = w.link.channels;
    const bool usable = channelOpen(channels.channelA) && identifyAdapter(w.link, loop.identity) &&
                        channelOpen(channels.channelB);
    const ConnectionEnd end = usable ? runConnection(w, loop) : END_LOST_BEFORE_CHOICE;
    switch (end) {
    case END_LOST_BEFORE_CHOICE:
    case END_LOST: disconnectTail(w, loop); break;
    case END_DONE: successTail(w, loop); break;
    case END_STOPPED: break;
    }
    closeChannels(w.link);
    forgetConnection(loop);
    // A press the worker never took up (the link was lost first) runs nothing either.
    g_appState.blockingOperation = 0;
    return end != END_LOST_BEFORE_CHOICE;
}

}  // namespace

int workerMain(Worker &w) {
    LoopState loop = {};
    prepareFileName(w);
    logText(w, "Searching for device...\r\n");
    showStatusLine(w, L"Connect the ECU with Kesta OBD1 EMU installed", STATUS_HOLD_FOREVER);
    forgetConnection(loop);

    while (!stopRequested(w)) {
        if (!findAdapter(w.link)) {
            if (workerWindowOpen(w)) w.host->fatalError(w.host->context, L"Can't allocate memory!");
            return 0;
        }
        if (!runPass(w, loop)) pauseMs(w, IDLE_SEARCH_PAUSE_MS);
    }
    return 0;
}
