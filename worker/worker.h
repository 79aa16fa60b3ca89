// The worker: the background thread that owns the device connection.
#pragma once

#include <cstdint>

#include "link/adapter_identity.h"
#include "link/link.h"
#include "protocol/protocol.h"
#include "worker/host.h"
#include "worker/verify_report.h"

// The worker's record: the link it talks to the adapter over, the host it reports to, the file
// name its dialogs start from, and what its latest verify read back and said. Whoever starts the
// worker thread makes it and hands it to `workerMain`; while the worker runs, only the worker
// thread touches it, and after it has stopped the owner closes the link's channels.
struct Worker {
    Link link;
    const Host *host;
    // The initial name of both file dialogs and keeper of the path chosen last.
    wchar_t fileName[FILE_NAME_CAPACITY];
    // The memory as the latest verify read it back, all of it.
    uint8_t readBack[MEMORY_SIZE];
    // The log text of the latest failed verify ("Mismatch!\r\nAt 0x1234 read 5E, sent 5A...."),
    // which its outcome names.
    wchar_t verifyText[VERIFY_TEXT_CAPACITY];
};

// A worker on `d2xx`, `clock` and `host`, with no channel open and an empty file name.
Worker makeWorker(const D2xxApi *d2xx, const ClockSeam *clock, const Host *host);

// How an operation hands control back to the connection loop.
enum OperationKind {
    OUTCOME_DONE,         // success tail: re-connect
    OUTCOME_FAILED_STAY,  // failure hold, then report again on the same connection
    OUTCOME_FAILED_DROP,  // failure hold, then disconnect
    OUTCOME_LINK_LOST,    // disconnect at once
    OUTCOME_IGNORED,      // the request named no operation: nothing ran, the wait goes on
};

struct OperationOutcome {
    OperationKind kind;
    const wchar_t *logText;     // failures that are held only
    const wchar_t *statusText;  // failures that are held only
};

// How long a failure stays on screen before the worker goes on: the failure hold of the
// connection loop, and the Update's own pause after a word it could not program.
constexpr uint32_t FAILURE_PAUSE_MS = 5000;

// The worker thread's routine. Returns 0 when the device lists cannot be allocated or when a
// stop was requested; it touches no window after a stop request.
int workerMain(Worker &w);

// --- adapter identity and port report ---

enum AdapterClass {
    ADAPTER_ID_INVALID = 0,
    ADAPTER_ID_CURRENT = 1,
    ADAPTER_ID_OLD = 2,
    // Ours, recognised by its EEPROM after an Update was cut short; its USB id is the chip's
    // blank default, so the id cannot tell.
    ADAPTER_ID_DAMAGED = 3,
};

struct AdapterIdentity {
    uint32_t usbId;
    AdapterClass adapterClass;
    char description[65];  // channel A's description without its " A"; always terminated
};

AdapterClass classifyUsbId(uint32_t usbId);
// Reads channel A's identity; the class is ADAPTER_ID_DAMAGED when the search recognised the
// adapter by its EEPROM.
bool identifyAdapter(const Link &link, AdapterIdentity &identity);
void announceAdapter(const Worker &w, const AdapterIdentity &identity);
void reportConnection(const Worker &w, const BoardStatus &status, const AdapterIdentity &identity);
void clearAdapterInfo(const Worker &w);

// --- operations (run from the worker's dispatch) ---

OperationOutcome eraseMemory(Worker &w);
OperationOutcome readMemory(Worker &w);
OperationOutcome writeMemory(Worker &w);
OperationOutcome updateAdapterEeprom(Worker &w);
