// What keeps the window alive between the worker's messages: the warning banner, the status
// line's countdown and hover descriptions, the colours of both, and the operation buttons.
#include "app/status_line.h"

#include <commctrl.h>

#include <cwchar>

#include "app/main_window.h"
#include "app/ui_rules.h"
#include "worker/host.h"

namespace {

// The code WM_COMMAND carries from an accelerator key. The window has no accelerator table of its
// own, but a command that comes this way is taken like a click, as it always was. (For a button
// the same 1 would be BN_PAINT, which only the obsolete user buttons send.)
constexpr WORD ACCELERATOR_NOTIFICATION = 1;

// How long a hover description stays.
constexpr uint32_t HOVER_STATUS_HOLD = statusHoldTicks(1000);

uint32_t bannerTick = BANNER_TICK_START;
const wchar_t *shownBanner = L"";  // the template's empty banner

const OperationButton *findButton(int controlId) {
    for (const OperationButton &button : OPERATION_BUTTONS)
        if (button.controlId == controlId) return &button;
    return nullptr;
}

void showStrip(HWND window, bool progress) {
    ShowWindow(GetDlgItem(window, IDC_PROGRESS), progress ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(window, IDC_STATUS), progress ? SW_HIDE : SW_SHOW);
}

// The buttons go off before the worker can see the request, so a second press cannot arrive
// until the worker enables them again. The session may not end from the press on, before the
// worker has even taken the request.
void requestOperation(Operation operation) {
    for (const OperationButton &button : OPERATION_BUTTONS)
        EnableWindow(GetDlgItem(mainWindow(), button.controlId), FALSE);
    g_appState.blockingOperation = operationBlocksSessionEnd(operation);
    g_appState.requestedOperation = operation;
}

}  // namespace

const OperationButton OPERATION_BUTTONS[OPERATION_BUTTON_COUNT] = {
    {IDC_ERASE, OP_ERASE, IDI_ERASE, L"Erase memory"},
    {IDC_READ, OP_READ, IDI_READ, L"Read memory"},
    {IDC_WRITE, OP_WRITE, IDI_WRITE, L"Write memory"},
    {IDC_UPDATE, OP_UPDATE, IDI_UPDATE, L"Update memory"},
};

void showStatusText(const wchar_t *text, uint32_t hold) {
    HWND window = mainWindow();
    showStrip(window, false);
    SetDlgItemTextW(window, IDC_STATUS, text);
    g_appState.statusHold = hold;
}

void showProgressPosition(uint32_t position) {
    HWND window = mainWindow();
    showStrip(window, true);
    g_appState.statusHold = 0;
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETPOS, position, 0);
}

void bannerAndStatusTick() {
    HWND window = mainWindow();
    const BannerStep banner = nextBannerStep(bannerTick, g_appState.deviceFound != 0);
    bannerTick = banner.tick;
    // Setting the text repaints the line; most ticks leave it as it is.
    const wchar_t *text = bannerText(banner.text);
    if (text && wcscmp(text, shownBanner) != 0) {
        SetDlgItemTextW(window, IDC_BANNER, text);
        shownBanner = text;
    }

    const StatusCountdownStep countdown = nextStatusCountdown(g_appState.statusHold);
    g_appState.statusHold = countdown.hold;
    if (countdown.clearText) SetDlgItemTextW(window, IDC_STATUS, L"");
}

void onButtonHover(LPARAM notification) {
    auto *request = reinterpret_cast<NMTTDISPINFOW *>(notification);
    // No tip is ever drawn: the request is answered with an empty text.
    request->szText[0] = L'\0';
    request->lpszText = request->szText;
    const OperationButton *button = findButton(static_cast<int>(request->lParam));
    if (!button) return;
    if (IsWindowEnabled(GetDlgItem(mainWindow(), button->controlId)))
        showStatusText(button->description, HOVER_STATUS_HOLD);
}

bool onButtonCommand(WPARAM wParam) {
    const WORD code = HIWORD(wParam);
    if (code != BN_CLICKED && code != ACCELERATOR_NOTIFICATION) return false;
    const int controlId = LOWORD(wParam);
    // Keeps the pressed button flat instead of drawn as the default button. Enter and Esc come
    // with ids 1 and 2, which name no control.
    HWND control = GetDlgItem(mainWindow(), controlId);
    if (!control) return false;
    SendMessageW(control, BM_SETSTYLE, BS_FLAT, TRUE);
    const OperationButton *button = findButton(controlId);
    if (button) requestOperation(button->operation);
    return button != nullptr;
}

HBRUSH statusColours(HDC dc, HWND control) {
    COLORREF colour;
    const int controlId = GetDlgCtrlID(control);
    if (controlId == IDC_BANNER)
        colour = BANNER_RED;
    else if (controlId == IDC_STATUS)
        colour = STATUS_GREEN;
    else
        return nullptr;
    SetTextColor(dc, colour);
    SetBkMode(dc, TRANSPARENT);
    return GetSysColorBrush(COLOR_BTNFACE);
}

void setButtonStates(bool ready) {
    const bool updateRequired = g_appState.updateRequired != 0;
    for (const OperationButton &button : OPERATION_BUTTONS)
        EnableWindow(GetDlgItem(mainWindow(), button.controlId),
                     buttonEnabledByRule(button.operation, ready, updateRequired));
}
