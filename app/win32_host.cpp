// The host seam on Win32 (app/win32_host.h says what crosses between the threads).
#include "app/win32_host.h"

#include <commctrl.h>
#include <commdlg.h>

#include "app/image_files.h"
#include "app/logpane.h"
#include "app/main_window.h"
#include "app/status_line.h"
#include "app/system_libraries.h"

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

constexpr DWORD PROGRESS_POST_MS = 50;

constexpr wchar_t FATAL_ERROR_CAPTION[] = L"Fatal error...";

constexpr wchar_t SESSION_END_REASON[] =
    L"An operation on the ECU memory or the adapter is running. Wait until it ends.";

Win32Host &hostOf(void *context) { return *static_cast<Win32Host *>(context); }

// Sends one window operation to the GUI thread and waits for it to be carried out. After a
// stop request nothing is sent: the window is going away.
LRESULT sendToWindow(void *context, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = mainWindow();
    if (hostOf(context).stopFlag || !window) return 0;
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

void hostAppendLog(void *context, const wchar_t *text) {
    sendToWindow(context, WM_LOG_APPEND, reinterpret_cast<WPARAM>(text), 0);
}

void hostClearLog(void *context) { sendToWindow(context, WM_HOST_CLEAR_LOG, 0, 0); }

void hostSetTypeLabel(void *context, const char *text) {
    sendToWindow(context, WM_HOST_SET_TYPE_LABEL, reinterpret_cast<WPARAM>(text), 0);
}

void hostSetInfoLabel(void *context, InfoLabel label, const wchar_t *text) {
    sendToWindow(context, WM_HOST_SET_INFO_LABEL, label, reinterpret_cast<LPARAM>(text));
}

void hostShowStatus(void *context, const wchar_t *text, uint32_t hold) {
    sendToWindow(context, WM_HOST_SHOW_STATUS, reinterpret_cast<WPARAM>(text),
                 static_cast<LPARAM>(hold));
}

// Posted, not sent: a block's progress step must not hold up the block. Even a post costs the
// worker about 0.2 ms under Wine, enough for the adapter chip's next packet to go without the
// block's answer, so the latest position is kept here and a message is posted at most every
// PROGRESS_POST_MS. The GUI takes the latest position with that message, before any message the
// worker sends, and on its timer; only the positions in between are never drawn.
void hostShowProgress(void *context, uint32_t position) {
    Win32Host &host = hostOf(context);
    HWND window = mainWindow();
    if (host.stopFlag || !window) return;
    host.pendingProgress = position;
    const DWORD now = GetTickCount();
    if (host.lastProgressPost != 0 && now - host.lastProgressPost < PROGRESS_POST_MS) return;
    host.lastProgressPost = now == 0 ? 1 : now;
    PostMessageW(window, WM_HOST_SHOW_PROGRESS, 0, 0);
}

void hostSetButtonStates(void *context, bool ready) {
    sendToWindow(context, WM_HOST_SET_BUTTONS, ready, 0);
}

// Posted, never sent: the dialog must not run inside a message sent by another thread, where
// Windows refuses the COM calls that some shell folders make. The wait ends on the answer or on a
// stop request, so closing the window never waits for the dialog.
bool hostAskImageFile(void *context, FileDialogKind kind, wchar_t *fileName) {
    Win32Host &host = hostOf(context);
    DialogRequest &request = host.dialogRequest;
    HWND window = mainWindow();
    if (host.stopFlag || !window) return false;
    request.kind = kind;
    lstrcpynW(request.fileName, fileName, FILE_NAME_CAPACITY);
    request.chosen = false;
    ResetEvent(host.answerEvent);
    if (!PostMessageW(window, WM_HOST_ASK_IMAGE_FILE, 0, 0)) return false;
    const HANDLE events[] = {host.answerEvent, host.stopEvent};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 || host.stopFlag)
        return false;
    if (!request.chosen) return false;
    lstrcpynW(fileName, request.fileName, FILE_NAME_CAPACITY);
    return true;
}

void hostFatalError(void *context, const wchar_t *text) {
    sendToWindow(context, WM_FATAL_ERROR, reinterpret_cast<WPARAM>(text), 0);
}

size_t hostProgramPath(void *, wchar_t *buffer, size_t capacity) {
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

uint32_t hostTickCount(void *) { return GetTickCount(); }

void hostSleep(void *context, uint32_t ms) { WaitForSingleObject(hostOf(context).stopEvent, ms); }

void hostWaitForRequest(void *context, uint32_t ms) {
    const Win32Host &host = hostOf(context);
    const HANDLE events[] = {host.requestEvent, host.stopEvent};
    WaitForMultipleObjects(2, events, FALSE, ms);
}

bool hostStopRequested(void *context) { return hostOf(context).stopFlag; }

FileResult hostLoadImageFile(void *, const wchar_t *path, uint8_t *image) {
    return loadImageFileWin32(path, image);
}

FileResult hostSaveImageFile(void *, const wchar_t *path, const uint8_t *image) {
    return saveImageFileWin32(IMAGE_FILE_CALLS, path, image);
}

// Filled member by member: appendLog and fatalError share a type, so an initializer by position
// could swap them unseen.
Host win32Host() {
    Host h = {};
    h.appendLog = hostAppendLog, h.clearLog = hostClearLog, h.setTypeLabel = hostSetTypeLabel;
    h.setInfoLabel = hostSetInfoLabel, h.showStatus = hostShowStatus;
    h.showProgress = hostShowProgress;
    h.setButtonStates = hostSetButtonStates, h.askImageFile = hostAskImageFile;
    h.fatalError = hostFatalError, h.loadImageFile = hostLoadImageFile;
    h.saveImageFile = hostSaveImageFile, h.programPath = hostProgramPath;
    h.waitForRequest = hostWaitForRequest;
    return h;
}
const Host WIN32_HOST = win32Host();

const ClockSeam WIN32_CLOCK = {nullptr, hostTickCount, hostSleep, hostStopRequested};

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

bool initWin32Host(Win32Host &host) {
    host.seam = WIN32_HOST;
    host.seam.context = &host;
    host.clock = WIN32_CLOCK;
    host.clock.context = &host;
    if (!host.stopEvent) host.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!host.requestEvent) host.requestEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!host.answerEvent) host.answerEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return host.stopEvent && host.requestEvent && host.answerEvent;
}

void requestWorkerStop(Win32Host &host) {
    host.stopFlag = true;
    if (host.stopEvent) SetEvent(host.stopEvent);
}

void signalOperationRequest(Win32Host &host) {
    if (host.requestEvent) SetEvent(host.requestEvent);
}

void applyPostedProgress(Win32Host &host) {
    if (host.stopFlag) return;  // the stop rule of the private messages, on the timer too
    const uint32_t position = host.pendingProgress.exchange(0);
    if (position != 0) showProgressPosition(position);
}

bool sessionMayEnd(const Win32Host &host) {
    return host.stopFlag || g_appState.blockingOperation == 0;
}

void syncSessionEndReason(Win32Host &host) {
    const bool blocked = !sessionMayEnd(host);
    if (blocked == host.sessionEndReasonSet) return;
    host.sessionEndReasonSet = blocked;
    setShutdownBlockReason(mainWindow(), blocked ? SESSION_END_REASON : nullptr);
}

void showFatalError(const wchar_t *text) {
    MessageBoxW(mainWindow(), text, FATAL_ERROR_CAPTION, MB_ICONERROR | MB_OK);
    PostQuitMessage(0);
}

// The one way in for the window's private messages. The stop rule holds for all of them alike: a
// message handled once a stop was requested (sent before it, handled while the closing window
// waits for the worker) is dropped, so that no box or dialog opens and no control changes on the
// way out:
//   WM_LOG_APPEND                       dropped (result 1): the log keeps what it had
//   WM_FATAL_ERROR                      dropped (result 1): no box; the close ends the program
//   WM_HOST_CLEAR_LOG, _SET_TYPE_LABEL,
//   _SET_INFO_LABEL, _SHOW_STATUS,
//   _SET_BUTTONS                        dropped (result 0)
//   WM_HOST_SHOW_PROGRESS (posted)      dropped, and the position it stands for is not drawn
//   WM_HOST_ASK_IMAGE_FILE (posted)     dropped: no dialog; the worker's wait ends on the stop
// Before a stop, every one but WM_FATAL_ERROR first draws the progress posted before it.
bool handlePrivateMessage(Win32Host &host, UINT message, WPARAM wParam, LPARAM lParam,
                          LRESULT &result) {
    const bool hostMessage = message >= WM_HOST_CLEAR_LOG && message <= WM_HOST_ASK_IMAGE_FILE;
    if (!hostMessage && message != WM_LOG_APPEND && message != WM_FATAL_ERROR) return false;
    result = hostMessage ? 0 : 1;
    syncSessionEndReason(host);
    if (host.stopFlag) return true;
    if (message == WM_FATAL_ERROR) {
        showFatalError(reinterpret_cast<const wchar_t *>(wParam));
        return true;
    }
    // What the worker posted before this came first.
    applyPostedProgress(host);
    HWND window = mainWindow();
    switch (message) {
    case WM_LOG_APPEND:
        appendLog(reinterpret_cast<const wchar_t *>(wParam));
        break;
    case WM_HOST_CLEAR_LOG:  // the pane's limit, set once at start, stays
        SetDlgItemTextW(window, IDC_LOG, L"");
        break;
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
        host.dialogRequest.chosen =
            askImageFile(host.dialogRequest.kind, host.dialogRequest.fileName);
        SetEvent(host.answerEvent);
        break;
    }
    return true;
}
