// The host and clock seams on Win32, and the state behind them.
//
// The worker's window operations are sent to the main window and carried out there, on the GUI
// thread, each in one step. Only the block progress step and the file dialog request are posted;
// every WM_HOST_* message and WM_LOG_APPEND applies the posted progress first, so the window still
// changes in the order the worker asked. WM_FATAL_ERROR does not: it ends the program. After a
// stop request every one of them is dropped. The worker's waits end early on the stop request.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "link/clock.h"
#include "worker/host.h"

enum : UINT {
    WM_HOST_CLEAR_LOG = WM_APP + 1,
    WM_HOST_SET_TYPE_LABEL,   // wParam: 8-bit text
    WM_HOST_SET_INFO_LABEL,   // wParam: InfoLabel, lParam: UTF-16 text
    WM_HOST_SHOW_STATUS,      // wParam: UTF-16 text, lParam: hold
    WM_HOST_SHOW_PROGRESS,    // posted; the position waits in `pendingProgress`
    WM_HOST_SET_BUTTONS,      // wParam: ready
    WM_HOST_ASK_IMAGE_FILE,   // posted; the request waits in `dialogRequest`
};

// A file dialog the worker asked for. The worker fills it and posts the request; the GUI thread
// runs the dialog from its own message loop, fills in the answer and sets `answerEvent`. A worker
// that stops meanwhile never reads it again.
struct DialogRequest {
    FileDialogKind kind;
    wchar_t fileName[FILE_NAME_CAPACITY];
    bool chosen;
};

// The Win32 host's record. The GUI owns it beside the worker's record and hands it to the worker
// as the context of both seams. The events are made once on the GUI thread before the worker
// starts and live as long as the process.
struct Win32Host {
    Host seam;        // context: this record
    ClockSeam clock;  // context: this record
    HANDLE stopEvent = nullptr;     // manual reset: once set, every wait of the worker ends at once
    HANDLE requestEvent = nullptr;  // auto reset: a button press for a worker waiting for the user
    HANDLE answerEvent = nullptr;   // auto reset: the GUI thread has answered a file dialog request
    std::atomic<bool> stopFlag{false};  // set by the GUI thread; read by both
    // The block progress position the worker set last and the window has not shown yet; 0: none
    // (positions start at 1). Stored by the worker, taken by the GUI thread.
    std::atomic<uint32_t> pendingProgress{0};
    DWORD lastProgressPost = 0;  // worker thread only: when a progress message was last posted
    DialogRequest dialogRequest = {};
    // GUI thread only: the window holds the reason Windows shows while the session may not end.
    bool sessionEndReasonSet = false;
};

// Fills both seams and creates the stop, request and answer events; false when it cannot.
bool initWin32Host(Win32Host &host);
// Asks the worker to stop; from then on every window operation of the host does nothing.
void requestWorkerStop(Win32Host &host);
// Wakes a worker waiting for the user's choice.
void signalOperationRequest(Win32Host &host);
// Shows the block progress position the worker set last, if the window has not shown it yet and
// no stop was requested.
void applyPostedProgress(Win32Host &host);
// False while an operation that changes the board or the adapter runs (from its press until the
// worker has ended it), unless the window is closing anyway: the answer to WM_QUERYENDSESSION.
bool sessionMayEnd(const Win32Host &host);
// Gives the window the reason Windows shows while the session may not end, or takes it back. GUI
// thread; called at a press, at every message of the worker and on the timer, so that the reason
// goes with the operation's ending texts.
void syncSessionEndReason(Win32Host &host);
// The error box captioned "Fatal error...", then the end of the message loop.
void showFatalError(const wchar_t *text);
// Carries out one of the window's private messages (WM_LOG_APPEND, WM_FATAL_ERROR, WM_HOST_*),
// or drops it after a stop (the rule for each is at its definition); false when `message` is none
// of them.
bool handlePrivateMessage(Win32Host &host, UINT message, WPARAM wParam, LPARAM lParam,
                          LRESULT &result);
