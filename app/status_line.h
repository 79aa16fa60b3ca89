// The status line, the warning banner and the operation buttons (GUI thread).
#pragma once

#include <windows.h>

#include <cstdint>

#include "worker/app_state.h"

// The status line's text and the progress bar share this green.
constexpr COLORREF STATUS_GREEN = RGB(53, 132, 47);
constexpr COLORREF BANNER_RED = RGB(255, 0, 0);

// The four operation buttons, in the window's order: control, operation, icon and hover text.
struct OperationButton {
    int controlId;
    Operation operation;
    int iconId;
    const wchar_t *description;
};
constexpr int OPERATION_BUTTON_COUNT = 4;
extern const OperationButton OPERATION_BUTTONS[OPERATION_BUTTON_COUNT];

// The status line and the progress bar share one place: each of these shows its own and hides
// the other, and sets the status hold (a progress position has none).
void showStatusText(const wchar_t *text, uint32_t hold);
void showProgressPosition(uint32_t position);
// One tick of the status timer (STATUS_TICK_MS): the banner's blink and the status countdown.
void bannerAndStatusTick();
// Answers a tooltip's text request with nothing and reports the hovered button instead.
void onButtonHover(LPARAM notification);
// A press of one of the four buttons disables all four and stores its request in `AppState`.
// True when it stored one: the caller then wakes the worker.
bool onButtonCommand(WPARAM wParam);
// Returns the brush for a static control's colour request, or 0 when the control is not ours.
HBRUSH statusColours(HDC dc, HWND control);
// Applies the enable rule of `buttonEnabledByRule` to the four buttons.
void setButtonStates(bool ready);
