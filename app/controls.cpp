// One-time set-up of the main window's controls: title, pictures, icon buttons with their
// hover reporters, the status font and the progress bar.
#include "app/controls.h"

#include <commctrl.h>
#include <uxtheme.h>

#include "app/main_window.h"
#include "app/status_line.h"
#include "res/version.h"
#include "worker/host.h"

namespace {

constexpr wchar_t PRODUCT_NAME[] = L"Kesta OBD1 EMU";
constexpr wchar_t PRODUCT_VERSION[] = KESTA_VERSION_WIDE_TEXT;

// The two ends of the right picture's bottom row: its background touches both.
constexpr int RIGHT_PICTURE_LAST_PIXEL = 101;

constexpr UINT HOVER_REPORT_DELAY_MS = 50;

HFONT createStatusFont() {
    LOGFONTW font = {};
    font.lfHeight = -14;
    font.lfWeight = FW_BOLD;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = FIXED_PITCH | FF_DONTCARE;
    lstrcpyW(font.lfFaceName, L"MS Sans Serif");
    return CreateFontIndirectW(&font);
}

void setPicture(int controlId, HBITMAP bitmap) {
    SendDlgItemMessageW(mainWindow(), controlId, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(bitmap));
}

}  // namespace

void initMainWindowControls() {
    HWND window = mainWindow();
    HINSTANCE instance = appInstance();

    SendMessageW(window, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM))));

    wchar_t title[64];
    wsprintfW(title, L"%s, V%s", PRODUCT_NAME, PRODUCT_VERSION);
    SetWindowTextW(window, title);

    HBITMAP right = LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_PICTURE_RIGHT));
    if (right) setPicture(IDC_PICTURE_RIGHT, recolourBitmapBackground(right, GetSysColor(COLOR_MENU)));
    setPicture(IDC_PICTURE_CENTER, LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_PICTURE_CENTER)));

    for (const OperationButton &button : OPERATION_BUTTONS) {
        HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(button.iconId));
        SendDlgItemMessageW(window, button.controlId, BM_SETIMAGE, IMAGE_ICON,
                            reinterpret_cast<LPARAM>(icon));
        addButtonTooltip(button.controlId);
        SendDlgItemMessageW(window, button.controlId, BM_SETSTYLE, BS_FLAT, TRUE);
    }

    SendDlgItemMessageW(window, IDC_STATUS, WM_SETFONT,
                        reinterpret_cast<WPARAM>(createStatusFont()), TRUE);

    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, PROGRESS_MAX));
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    // Visual styles draw the bar in the theme's colour and ignore PBM_SETBARCOLOR; the bar keeps
    // the status line's green only when unthemed.
    SetWindowTheme(GetDlgItem(window, IDC_PROGRESS), L" ", L" ");
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETBARCOLOR, 0, STATUS_GREEN);

    for (const OperationButton &button : OPERATION_BUTTONS)
        EnableWindow(GetDlgItem(window, button.controlId), FALSE);

    // The pane bounds itself by trimming; the edit control's default limit would refuse
    // appends before a trim is ever due.
    SendDlgItemMessageW(window, IDC_LOG, EM_LIMITTEXT, 0, 0);

    SetDlgItemTextA(window, IDC_TYPE, "");
    SetDlgItemTextW(window, IDC_OSTRICH_VERSION, L"");
    SetDlgItemTextW(window, IDC_RTP_PORT, L"");
    SetDlgItemTextW(window, IDC_DATA_PORT, L"");
}

// Repaints the key-coloured background of the right picture, which reaches both bottom
// corners, so that the picture blends into the window. Key-coloured areas that touch neither
// corner are part of the drawing and keep their colour.
HBITMAP recolourBitmapBackground(HBITMAP bitmap, COLORREF colour) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldBrush = SelectObject(dc, brush);

    const COLORREF key = GetPixel(dc, RIGHT_PICTURE_LAST_PIXEL, RIGHT_PICTURE_LAST_PIXEL);
    ExtFloodFill(dc, 0, RIGHT_PICTURE_LAST_PIXEL, key, FLOODFILLSURFACE);
    ExtFloodFill(dc, RIGHT_PICTURE_LAST_PIXEL, RIGHT_PICTURE_LAST_PIXEL, key, FLOODFILLSURFACE);

    SelectObject(dc, oldBrush);
    DeleteObject(brush);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
    return bitmap;
}

// The tooltip never shows a tip: it only reports that the pointer rests on the button, so
// that the status line can describe it.
HWND addButtonTooltip(int controlId) {
    HWND window = mainWindow();
    HWND button = GetDlgItem(window, controlId);
    HWND tooltip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_BALLOON | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                                   appInstance(), nullptr);
    if (!button || !tooltip) return nullptr;

    TTTOOLINFOW tool = {};
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS | TTF_TRANSPARENT;
    tool.hwnd = window;
    tool.uId = reinterpret_cast<UINT_PTR>(button);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    tool.lParam = controlId;
    // The full record needs Common Controls 6; an older comctl32 refuses it, and the hover
    // report would then be lost silently. The shorter record still carries lParam.
    const UINT sizes[] = {sizeof(TTTOOLINFOW), TTTOOLINFOW_V2_SIZE};
    for (UINT size : sizes) {
        tool.cbSize = size;
        if (SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool))) break;
    }
    SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(HOVER_REPORT_DELAY_MS, 0));
    return tooltip;
}
