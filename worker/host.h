// The host seam: everything the worker needs from outside the device conversation.
//
// The window operations are made by the worker thread only. Each is synchronous: it returns
// after the GUI thread has carried it out, so a text may live in the caller's temporary storage.
// The one exception is the block progress step, which is posted so that it never holds up a
// block; the host carries out every posted step before the next synchronous operation (the fatal
// error excepted, which ends the program), so the window still changes in the order the worker
// asked. A file dialog is asked for without blocking
// the GUI thread's message handling, and the wait for its answer ends on a stop request.
// Once a stop has been requested the host may drop window operations, and the worker makes none
// of its own accord (see `workerWindowOpen`).
//
// Time and the stop request come from the clock seam (link/clock.h), which the host fills
// together with this table and which reaches the worker inside its `Link`. The one wait of its
// own here ends early on a request or a stop. The host reaches the worker as part of its record
// (`Worker`, worker/worker.h), never as a global.
#pragma once

#include <cstddef>
#include <cstdint>

#include "worker/app_state.h"

// The three value labels of the info box written in wide text (IDC_TYPE has its own call).
enum InfoLabel {
    LABEL_OSTRICH_VERSION,
    LABEL_RTP_PORT,
    LABEL_DATA_PORT,
};

enum FileDialogKind {
    FILE_DIALOG_SAVE,  // Read: "Saving binary file..."
    FILE_DIALOG_OPEN,  // Write: "Select the BIN-file to write..."
};

enum FileResult {
    FILE_OK,
    FILE_OPEN_FAILED,  // cannot be opened (load) or created (save)
    FILE_BAD_SIZE,     // load only: not exactly MEMORY_SIZE bytes
    FILE_IO_FAILED,    // not read or written whole
};

// Capacity of a file name passed to `askImageFile` in characters, the terminating NUL included.
constexpr size_t FILE_NAME_CAPACITY = 260;

// Positions of the progress bar run from 0 to this (a block or word step sets 1 and up).
constexpr uint32_t PROGRESS_MAX = 255;

// Every call is handed `context`, the record of whoever filled the table (the Win32 host's state,
// a test's recording host), so that the table itself holds no state.
struct Host {
    void *context;
    // --- window operations (worker thread; carried out on the GUI thread) ---
    void (*appendLog)(void *context, const wchar_t *text);
    void (*clearLog)(void *context);
    // IDC_TYPE takes the adapter's 8-bit text.
    void (*setTypeLabel)(void *context, const char *text);
    void (*setInfoLabel)(void *context, InfoLabel label, const wchar_t *text);
    // Shows the status line (hiding the progress bar), sets its text and the hold countdown in
    // one step on the GUI thread, so the timer's decrement cannot interleave with the store.
    void (*showStatus)(void *context, const wchar_t *text, uint32_t hold);
    // One block progress step: progress bar shown, status line hidden, hold 0, position set.
    // Posted, not sent: it may take effect after the call returns, but before any later operation.
    void (*showProgress)(void *context, uint32_t position);
    // Applies the enable rule of `buttonEnabledByRule` to the four buttons.
    void (*setButtonStates)(void *context, bool ready);
    // Asks for an image file. `fileName` holds FILE_NAME_CAPACITY characters: the initial name
    // on entry, the chosen full path on true. False: no file chosen, or a stop was requested
    // while the dialog was open (the buffer is then left as it was).
    bool (*askImageFile)(void *context, FileDialogKind kind, wchar_t *fileName);
    // Shows a fatal error; the program ends after the user has seen it.
    void (*fatalError)(void *context, const wchar_t *text);

    // --- files ---
    // Reads a whole image file into `image` (MEMORY_SIZE bytes).
    FileResult (*loadImageFile)(void *context, const wchar_t *path, uint8_t *image);
    // Saves `image` at `path`. A failure leaves no partial new file and an existing file as it was
    // (the Win32 host replaces through a temporary file and refuses where it cannot make one).
    FileResult (*saveImageFile)(void *context, const wchar_t *path, const uint8_t *image);
    // The full path of the running program into `buffer` (`capacity` characters, NUL included);
    // returns its length, 0 when unknown. A path that does not fit is cut and returns 0.
    size_t (*programPath)(void *context, wchar_t *buffer, size_t capacity);

    // --- the wait for the user ---
    // Waits until a request is stored, the time is up or a stop is requested.
    void (*waitForRequest)(void *context, uint32_t ms);
};

// The enable rule of the four operation buttons.
inline bool buttonEnabledByRule(Operation button, bool ready, bool updateRequired) {
    if (!ready) return false;
    return button == OP_UPDATE ? updateRequired : !updateRequired;
}
