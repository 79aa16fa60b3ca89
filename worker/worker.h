// The worker: the background thread that owns the device connection.
#pragma once

#include <cstdint>

#include "link/eeprom_rules.h"
#include "protocol/protocol.h"
#include "worker/host.h"

// How an operation hands control back to the connection loop.
enum OperationKind {
    OUTCOME_DONE,         // success tail: re-connect
    OUTCOME_FAILED_STAY,  // failure hold, then report again on the same connection
    OUTCOME_FAILED_DROP,  // failure hold, then disconnect
    OUTCOME_LINK_LOST,    // disconnect at once
};

struct OperationOutcome {
    OperationKind kind;
    const wchar_t *logText;     // failures that are held only
    const wchar_t *statusText;  // failures that are held only
};

// The worker thread's routine. Returns 0 when the device lists cannot be allocated or when a
// stop was requested; it touches no window after a stop request.
int workerMain();

// --- adapter identity and port report ---

enum AdapterClass {
    ADAPTER_ID_INVALID = 0,
    ADAPTER_ID_CURRENT = 1,
    ADAPTER_ID_OLD = 2,
    // Ours, recognised by its EEPROM after an Update was cut short; its USB id is the chip's
    // blank default, so the id cannot tell.
    ADAPTER_ID_DAMAGED = 3,
};

constexpr uint32_t USB_ID_CURRENT = 0x04036010;
constexpr uint32_t USB_ID_OLD = 0x04036D20;

struct AdapterIdentity {
    uint32_t usbId;
    AdapterClass adapterClass;
    char description[65];  // channel A's description without its " A"; always terminated
};

AdapterClass classifyUsbId(uint32_t usbId);
bool identifyAdapter(AdapterIdentity &identity);
void announceAdapter(const AdapterIdentity &identity);
void reportConnection(const BoardStatus &status, const AdapterIdentity &identity);
void clearAdapterInfo();

// --- operations (run from the worker's dispatch) ---

// The worker's file name buffer: the initial name of both file dialogs and keeper of the
// path chosen last.
extern wchar_t g_fileNameBuffer[FILE_NAME_CAPACITY];

OperationOutcome eraseMemory();
OperationOutcome readMemory();
OperationOutcome writeMemory();
OperationOutcome updateAdapterEeprom();

// --- adapter configuration EEPROM ---

// The image the Update writes: built from its strings, word 63 the checksum of words 0 to 62
// (the chip's rule, link/eeprom_rules.h).
extern const uint16_t *const AdapterEepromImage;
// Builds an image with the given strings into `image` (EEPROM_WORDS words); false when the
// strings do not fit.
bool buildEepromImage(const char *manufacturer, const char *product, const char *serial,
                      uint16_t *image);

// True while the worker may still drive the window: false once a stop was requested.
bool workerWindowOpen();
