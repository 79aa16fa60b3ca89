// The Win32 shell's shared declarations: the main window, its private messages and the
// GUI-thread routines behind them. Everything declared here runs on the GUI thread unless its
// comment says otherwise.
#pragma once

#include <windows.h>

#include <cstdint>

#include "res/resource.h"
#include "worker/app_state.h"

// Sent, never posted; both return 1. wParam: a NUL-terminated UTF-16 text.
constexpr UINT WM_LOG_APPEND = WM_USER + 1;
constexpr UINT WM_FATAL_ERROR = WM_USER + 2;

// The GUI-thread halves of the worker's window operations (win32_host.cpp). Each is sent by the
// worker so that the controls it touches change in one step on the GUI thread; only the block
// progress step and the file dialog request are posted, and every message the worker sends
// applies the posted steps first, so the window still changes in the order the worker asked.
enum : UINT {
    WM_HOST_CLEAR_LOG = WM_APP + 1,
    WM_HOST_SET_TYPE_LABEL,   // wParam: 8-bit text
    WM_HOST_SET_INFO_LABEL,   // wParam: InfoLabel, lParam: UTF-16 text
    WM_HOST_SHOW_STATUS,      // wParam: UTF-16 text, lParam: hold
    WM_HOST_SHOW_PROGRESS,    // posted; the position waits in win32_host.cpp
    WM_HOST_SET_BUTTONS,      // wParam: ready
    WM_HOST_ASK_IMAGE_FILE,   // posted; the request waits in win32_host.cpp
};

constexpr UINT_PTR TIMER_ID = 0;
constexpr UINT TIMER_TICK_MS = 200;

// The status line's text and the progress bar share this green.
constexpr COLORREF STATUS_GREEN = RGB(53, 132, 47);
constexpr COLORREF BANNER_RED = RGB(255, 0, 0);

constexpr wchar_t MAIN_CLASS_NAME[] = L"KESTA_Class1";
constexpr wchar_t FATAL_ERROR_CAPTION[] = L"Fatal error...";

inline HWND mainWindow() { return static_cast<HWND>(g_appState.mainWindow.load()); }
inline HINSTANCE appInstance() { return static_cast<HINSTANCE>(g_appState.instance.load()); }

// The four operation buttons, in the window's order: control, operation, icon and hover text.
struct OperationButton {
    int controlId;
    Operation operation;
    int iconId;
    const wchar_t *description;
};
constexpr int OPERATION_BUTTON_COUNT = 4;
extern const OperationButton OPERATION_BUTTONS[OPERATION_BUTTON_COUNT];

// main_window.cpp
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void centreWindow(HWND reference);
BOOL CALLBACK findForeignWindow(HWND window, LPARAM unused);
int startWorker();
// Stops the worker and closes both channels; true for the call that did it, false for any later
// (or nested) call, which does nothing.
bool shutdownWorker();
// Shows `text` in the fatal error box and ends the message loop.
void showFatalError(const wchar_t *text);

// controls.cpp
void initMainWindowControls();
HBITMAP recolourBitmapBackground(HBITMAP bitmap, COLORREF colour);
HWND addButtonTooltip(int controlId);

// log_pane.cpp
void appendLog(const wchar_t *text);

// status_line.cpp
// The status line and the progress bar share one place: each of these shows its own and hides
// the other, and sets the status hold (a progress position has none).
void showStatusText(const wchar_t *text, uint32_t hold);
void showProgressPosition(uint32_t position);
void bannerAndStatusTick();
// Answers a tooltip's text request with nothing and reports the hovered button instead.
void onButtonHover(LPARAM notification);
void onButtonCommand(WPARAM wParam);
// Returns the brush for a static control's colour request, or 0 when the control is not ours.
HBRUSH statusColours(HDC dc, HWND control);
void requestOperation(Operation operation);
void setButtonStates(bool ready);

// win32_host.cpp
struct Host;
struct ClockSeam;
// Creates the stop, request and answer events; false when it cannot.
bool initWin32Host();
// The Win32 host and its clock, for the worker's record.
const Host *win32Host();
const ClockSeam *win32Clock();
// Asks the worker to stop; from then on every window operation of the host does nothing.
void requestWorkerStop();
bool workerStopRequested();
// Wakes a worker waiting for the user's choice.
void signalOperationRequest();
// Shows the block progress position the worker set last, if the window has not shown it yet.
void applyPostedProgress();
// Carries out one WM_HOST_* message; false when `message` is not one of them.
bool handleHostMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);
