// The host seam on Win32. The worker's window operations are sent to the main window and carried
// out there, on the GUI thread, each in one step; its waits end early on the stop request.
#include "app/main_window.h"

#include "app/image_files.h"

#include <commctrl.h>
#include <commdlg.h>

#include <atomic>

#include "link/clock.h"
#include "worker/host.h"

namespace {

// An existing file is replaced only after the dialog's own question: Yes saves, No goes back to
// the dialog.
constexpr DWORD SAVE_DIALOG_FLAGS =
    OFN_EXPLORER | OFN_NONETWORKBUTTON | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
constexpr DWORD OPEN_DIALOG_FLAGS = OFN_EXPLORER | OFN_NONETWORKBUTTON | OFN_FILEMUSTEXIST |
                                    OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
static_assert(SAVE_DIALOG_FLAGS == 0xA0006 && OPEN_DIALOG_FLAGS == 0xA1804, "dialog flags");

constexpr DWORD INITIAL_DIR_CAPACITY = 260;
constexpr wchar_t IMAGE_FILE_FILTER[] = L"Binary data (*.bin)\0*.bin\0All files(*.*)\0*.*\0\0";

HANDLE stopEvent = nullptr;     // manual reset: once set, every wait of the worker ends at once
HANDLE requestEvent = nullptr;  // auto reset: a button press for a worker waiting for the user
HANDLE answerEvent = nullptr;   // auto reset: the GUI thread has answered a file dialog request
std::atomic<bool> stopFlag{false};
// The block progress position the worker set last and the window has not shown yet; 0: none
// (positions start at 1).
std::atomic<uint32_t> pendingProgress{0};
constexpr DWORD PROGRESS_POST_MS = 50;

// A file dialog the worker asked for. The worker fills it and posts the request; the GUI thread
// runs the dialog from its own message loop, fills in the answer and sets `answerEvent`. A worker
// that stops meanwhile never reads it again.
struct DialogRequest {
    FileDialogKind kind;
    wchar_t fileName[FILE_NAME_CAPACITY];
    bool chosen;
} dialogRequest;

// Sends one window operation to the GUI thread and waits for it to be carried out. After a
// stop request nothing is sent: the window is going away.
LRESULT sendToWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = mainWindow();
    if (stopFlag || !window) return 0;
    return SendMessageW(window, message, wParam, lParam);
}

int infoLabelControl(InfoLabel label) {
    switch (label) {
    case LABEL_OSTRICH_VERSION: return IDC_OSTRICH_VERSION;
    case LABEL_RTP_PORT: return IDC_RTP_PORT;
    case LABEL_DATA_PORT: return IDC_DATA_PORT;
    }
    return 0;
}

// --- worker side ---

void hostAppendLog(const wchar_t *text) {
    sendToWindow(WM_LOG_APPEND, reinterpret_cast<WPARAM>(text), 0);
}

void hostClearLog() { sendToWindow(WM_HOST_CLEAR_LOG, 0, 0); }

void hostSetTypeLabel(const char *text) {
    sendToWindow(WM_HOST_SET_TYPE_LABEL, reinterpret_cast<WPARAM>(text), 0);
}

void hostSetInfoLabel(InfoLabel label, const wchar_t *text) {
    sendToWindow(WM_HOST_SET_INFO_LABEL, label, reinterpret_cast<LPARAM>(text));
}

void hostShowStatus(const wchar_t *text, uint32_t hold) {
    sendToWindow(WM_HOST_SHOW_STATUS, reinterpret_cast<WPARAM>(text), static_cast<LPARAM>(hold));
}

// Posted, not sent: a block's progress step must not hold up the block. Even a post costs the
// worker about 0.2 ms under Wine, enough for the adapter chip's next packet to go without the
// block's answer, so the latest position is kept here and a message is posted at most every
// PROGRESS_POST_MS. The GUI takes the latest position with that message, before any message the
// worker sends, and on its timer; only the positions in between are never drawn.
void hostShowProgress(uint32_t position) {
    static DWORD lastPost = 0;
    HWND window = mainWindow();
    if (stopFlag || !window) return;
    pendingProgress = position;
    const DWORD now = GetTickCount();
    if (lastPost != 0 && now - lastPost < PROGRESS_POST_MS) return;
    lastPost = now == 0 ? 1 : now;
    PostMessageW(window, WM_HOST_SHOW_PROGRESS, 0, 0);
}

void hostSetButtonStates(bool ready) { sendToWindow(WM_HOST_SET_BUTTONS, ready, 0); }

// Posted, never sent: the dialog must not run inside a message sent by another thread, where
// Windows refuses the COM calls that some shell folders make. The wait ends on the answer or on a
// stop request, so closing the window never waits for the dialog.
bool hostAskImageFile(FileDialogKind kind, wchar_t *fileName) {
    HWND window = mainWindow();
    if (stopFlag || !window) return false;
    dialogRequest.kind = kind;
    lstrcpynW(dialogRequest.fileName, fileName, FILE_NAME_CAPACITY);
    dialogRequest.chosen = false;
    ResetEvent(answerEvent);
    if (!PostMessageW(window, WM_HOST_ASK_IMAGE_FILE, 0, 0)) return false;
    const HANDLE events[] = {answerEvent, stopEvent};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 || stopFlag)
        return false;
    if (!dialogRequest.chosen) return false;
    lstrcpynW(fileName, dialogRequest.fileName, FILE_NAME_CAPACITY);
    return true;
}

void hostFatalError(const wchar_t *text) {
    sendToWindow(WM_FATAL_ERROR, reinterpret_cast<WPARAM>(text), 0);
}

size_t hostProgramPath(wchar_t *buffer, size_t capacity) {
    if (!buffer || capacity == 0) return 0;
    const DWORD limit = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    const DWORD length = GetModuleFileNameW(nullptr, buffer, limit);
    if (length == 0) {
        buffer[0] = L'\0';
        return 0;
    }
    // A path that fills the buffer was cut (and older systems leave it unterminated).
    if (length >= limit) {
        buffer[limit - 1] = L'\0';
        return 0;
    }
    return length;
}

uint32_t hostTickCount() { return GetTickCount(); }

void hostSleep(uint32_t ms) { WaitForSingleObject(stopEvent, ms); }

void hostWaitForRequest(uint32_t ms) {
    const HANDLE events[] = {requestEvent, stopEvent};
    WaitForMultipleObjects(2, events, FALSE, ms);
}

bool hostStopRequested() { return stopFlag; }

const Host WIN32_HOST = {
    hostAppendLog,      hostClearLog,     hostSetTypeLabel,    hostSetInfoLabel,
    hostShowStatus,     hostShowProgress, hostSetButtonStates, hostAskImageFile,
    hostFatalError,     loadImageFileWin32, saveImageFileWin32, hostProgramPath,
    hostWaitForRequest,
};

const ClockSeam WIN32_CLOCK = {hostTickCount, hostSleep, hostStopRequested};

// --- GUI side ---

bool askImageFile(FileDialogKind kind, wchar_t *fileName) {
    wchar_t initialDir[INITIAL_DIR_CAPACITY] = {};
    const DWORD dirLength = GetCurrentDirectoryW(INITIAL_DIR_CAPACITY, initialDir);
    if (dirLength == 0 || dirLength >= INITIAL_DIR_CAPACITY) initialDir[0] = L'\0';

    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = mainWindow();
    dialog.lpstrFilter = IMAGE_FILE_FILTER;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = FILE_NAME_CAPACITY;
    dialog.lpstrInitialDir = initialDir;
    if (kind == FILE_DIALOG_SAVE) {
        dialog.lpstrTitle = L"Saving binary file...";
        dialog.Flags = SAVE_DIALOG_FLAGS;
        return GetSaveFileNameW(&dialog) != FALSE;
    }
    dialog.lpstrTitle = L"Select the BIN-file to write...";
    dialog.Flags = OPEN_DIALOG_FLAGS;
    return GetOpenFileNameW(&dialog) != FALSE;
}

}  // namespace

bool initWin32Host() {
    if (!stopEvent) stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!requestEvent) requestEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!answerEvent) answerEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return stopEvent && requestEvent && answerEvent;
}

const Host *win32Host() { return &WIN32_HOST; }
const ClockSeam *win32Clock() { return &WIN32_CLOCK; }

void requestWorkerStop() {
    stopFlag = true;
    if (stopEvent) SetEvent(stopEvent);
}

bool workerStopRequested() { return stopFlag; }

void signalOperationRequest() {
    if (requestEvent) SetEvent(requestEvent);
}

void applyPostedProgress() {
    const uint32_t position = pendingProgress.exchange(0);
    if (position != 0) showProgressPosition(position);
}

bool handleHostMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) {
    if (message < WM_HOST_CLEAR_LOG || message > WM_HOST_ASK_IMAGE_FILE) return false;
    result = 0;
    // What the worker posted before this came first.
    applyPostedProgress();
    // Sent before the stop request but handled while the window closes: dropped, so that no
    // dialog opens and no control changes on the way out.
    if (stopFlag) return true;
    HWND window = mainWindow();
    switch (message) {
    case WM_HOST_CLEAR_LOG: {
        HWND log = GetDlgItem(window, IDC_LOG);
        SendMessageW(log, EM_LIMITTEXT, static_cast<WPARAM>(-1), 0);
        SetWindowTextW(log, L"");
        break;
    }
    case WM_HOST_SET_TYPE_LABEL:
        SetDlgItemTextA(window, IDC_TYPE, reinterpret_cast<const char *>(wParam));
        break;
    case WM_HOST_SET_INFO_LABEL:
        if (int control = infoLabelControl(static_cast<InfoLabel>(wParam)))
            SetDlgItemTextW(window, control, reinterpret_cast<const wchar_t *>(lParam));
        break;
    case WM_HOST_SHOW_STATUS:
        showStatusText(reinterpret_cast<const wchar_t *>(wParam), static_cast<uint32_t>(lParam));
        break;
    case WM_HOST_SHOW_PROGRESS:  // taken above
        break;
    case WM_HOST_SET_BUTTONS:
        setButtonStates(wParam != 0);
        break;
    case WM_HOST_ASK_IMAGE_FILE:
        dialogRequest.chosen = askImageFile(dialogRequest.kind, dialogRequest.fileName);
        SetEvent(answerEvent);
        break;
    }
    return true;
}
