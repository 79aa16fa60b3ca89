// One-time set-up of the main window's controls: title, pictures, icon buttons with their
// hover reporters, the status font and the progress bar.
#include "app/controls.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <type_traits>

#include "app/main_window.h"
#include "app/status_line.h"
#include "app/system_libraries.h"
#include "res/version.h"
#include "worker/host.h"

namespace {

constexpr wchar_t PRODUCT_NAME[] = L"Kesta OBD1 EMU";
constexpr wchar_t PRODUCT_VERSION[] = KESTA_VERSION_WIDE_TEXT;

constexpr UINT HOVER_REPORT_DELAY_MS = 50;

// Sizes at 100 % (96 DPI); everything drawn grows from these with the display's scale.
constexpr int BASE_DPI = 96;
constexpr int STATUS_FONT_HEIGHT = 14;
constexpr int BUTTON_FACE_SIZE = 32;

// The scales the pictures and button faces are drawn for (tools/art/make_art.py); the art for
// ART_DPIS[i] has the resource id of the 100 % art plus i * ART_ID_STEP.
constexpr int ART_DPIS[] = {96, 120, 144, 192};
constexpr int ART_SCALE_COUNT = sizeof ART_DPIS / sizeof ART_DPIS[0];

// The picture controls with their template sizes in dialog units (res/app.rc).
struct Picture {
    int controlId;
    int bitmapId;
    int widthUnits;
    int heightUnits;
};
constexpr Picture PICTURE_LEFT = {IDC_PICTURE_LEFT, IDB_PICTURE_LEFT, 124, 50};
constexpr Picture PICTURE_CENTRE = {IDC_PICTURE_CENTER, IDB_PICTURE_CENTER, 164, 50};
constexpr Picture PICTURE_RIGHT = {IDC_PICTURE_RIGHT, IDB_PICTURE_RIGHT, 68, 63};

// The display's scale, read once: this program is DPI aware for the whole system.
int displayDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : BASE_DPI;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : BASE_DPI;
}

// The first art scale at or above `dpi`; the largest beyond it.
int artScaleFor(int dpi) {
    for (int i = 0; i < ART_SCALE_COUNT; ++i)
        if (ART_DPIS[i] >= dpi) return i;
    return ART_SCALE_COUNT - 1;
}

SIZE bitmapSize(HBITMAP bitmap) {
    BITMAP info = {};
    GetObjectW(bitmap, sizeof info, &info);
    return {info.bmWidth, info.bmHeight};
}

HFONT createStatusFont(int dpi) {
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(STATUS_FONT_HEIGHT, dpi, BASE_DPI);
    font.lfWeight = FW_BOLD;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = FIXED_PITCH | FF_DONTCARE;
    lstrcpyW(font.lfFaceName, L"MS Sans Serif");
    return CreateFontIndirectW(&font);
}

// A copy of `bitmap` scaled to `size` (with halftone averaging, so a smaller picture stays
// smooth); `bitmap` itself is deleted. On failure `bitmap` is kept and returned as it is.
HBITMAP scaleBitmap(HBITMAP bitmap, SIZE size) {
    const SIZE from = bitmapSize(bitmap);
    if (from.cx == size.cx && from.cy == size.cy) return bitmap;
    HDC screen = GetDC(nullptr);
    HDC source = CreateCompatibleDC(screen);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, size.cx, size.cy);
    ReleaseDC(nullptr, screen);
    if (source && target && scaled) {
        HGDIOBJ oldSource = SelectObject(source, bitmap);
        HGDIOBJ oldTarget = SelectObject(target, scaled);
        SetStretchBltMode(target, HALFTONE);
        SetBrushOrgEx(target, 0, 0, nullptr);
        StretchBlt(target, 0, 0, size.cx, size.cy, source, 0, 0, from.cx, from.cy, SRCCOPY);
        SelectObject(target, oldTarget);
        SelectObject(source, oldSource);
        DeleteObject(bitmap);
    } else if (scaled) {
        DeleteObject(scaled);
        scaled = bitmap;
    } else {
        scaled = bitmap;
    }
    if (target) DeleteDC(target);
    if (source) DeleteDC(source);
    return scaled;
}

// Shows a picture drawn for the display's scale. At 100 % that is the art as drawn, when it covers
// its control (the template is laid out for it); otherwise the art of the first scale at or above
// the DPI that is large enough for the picture's control, scaled down to the control's size, which
// grows with the dialog's font (beyond the largest art, that one is scaled up). A dialog font wider
// than the usual one thus gets larger art at 100 % too. The right picture's background takes the
// window's colour first, on the art's own pixels.
void setPicture(const Picture &picture, int dpi, bool recolour) {
    HINSTANCE instance = appInstance();
    RECT control = {0, 0, picture.widthUnits, picture.heightUnits};
    MapDialogRect(mainWindow(), &control);
    HBITMAP art = nullptr;
    bool covers = false;
    int scale = artScaleFor(dpi);
    for (int i = scale; i < ART_SCALE_COUNT && !covers; ++i) {
        HBITMAP larger =
            LoadBitmapW(instance, MAKEINTRESOURCEW(picture.bitmapId + i * ART_ID_STEP));
        if (!larger) continue;
        if (art) DeleteObject(art);
        art = larger;
        scale = i;
        const SIZE own = bitmapSize(art);
        covers = own.cx >= control.right && own.cy >= control.bottom;
    }
    if (!art) return;
    if (recolour) art = recolourBitmapBackground(art, GetSysColor(COLOR_MENU));
    const bool asDrawn = dpi == BASE_DPI && scale == 0 && covers;
    if (!asDrawn) art = scaleBitmap(art, {control.right, control.bottom});
    // The control hands back the picture it had (the template's, for the left one): ours to free.
    auto previous = reinterpret_cast<HBITMAP>(
        SendDlgItemMessageW(mainWindow(), picture.controlId, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(art)));
    if (previous && previous != art) DeleteObject(previous);
}

// A button face at the display's scale: from the art of the first scale at or above the DPI,
// scaled down by the system where the sizes differ.
HICON loadButtonFace(int iconId, int dpi) {
    const int size = MulDiv(BUTTON_FACE_SIZE, dpi, BASE_DPI);
    const int id = iconId + artScaleFor(dpi) * ART_ID_STEP;
    return static_cast<HICON>(
        LoadImageW(appInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// Visual styles draw the bar in the theme's colour and ignore PBM_SETBARCOLOR; the bar keeps the
// status line's green only when unthemed. UxTheme is not imported but loaded from the system
// folder; without it the bar keeps the theme's colour.
void removeVisualStyle(HWND control) {
    using SetWindowThemeFn = HRESULT(WINAPI *)(HWND, LPCWSTR, LPCWSTR);
    static_assert(std::is_same_v<SetWindowThemeFn, decltype(&SetWindowTheme)>);
    HMODULE uxtheme = loadSystemLibrary(L"uxtheme.dll");
    if (!uxtheme) return;
    auto setTheme = reinterpret_cast<SetWindowThemeFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(uxtheme, "SetWindowTheme")));
    if (setTheme) setTheme(control, L" ", L" ");
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

    const int dpi = displayDpi();
    setPicture(PICTURE_RIGHT, dpi, true);
    setPicture(PICTURE_CENTRE, dpi, false);
    // The template names the left picture's 100 % art; it is chosen like the others all the same.
    setPicture(PICTURE_LEFT, dpi, false);

    for (const OperationButton &button : OPERATION_BUTTONS) {
        HICON icon = loadButtonFace(button.iconId, dpi);
        SendDlgItemMessageW(window, button.controlId, BM_SETIMAGE, IMAGE_ICON,
                            reinterpret_cast<LPARAM>(icon));
        addButtonTooltip(button.controlId);
        SendDlgItemMessageW(window, button.controlId, BM_SETSTYLE, BS_FLAT, TRUE);
    }

    SendDlgItemMessageW(window, IDC_STATUS, WM_SETFONT,
                        reinterpret_cast<WPARAM>(createStatusFont(dpi)), TRUE);

    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, PROGRESS_MAX));
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    removeVisualStyle(GetDlgItem(window, IDC_PROGRESS));
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETBARCOLOR, 0, STATUS_GREEN);

    for (const OperationButton &button : OPERATION_BUTTONS)
        EnableWindow(GetDlgItem(window, button.controlId), FALSE);

    // The pane bounds itself by trimming; the edit control's default limit would refuse
    // appends before a trim is ever due. Set once: emptying the pane keeps it.
    SendDlgItemMessageW(window, IDC_LOG, EM_LIMITTEXT, static_cast<WPARAM>(-1), 0);

    SetDlgItemTextA(window, IDC_TYPE, "");
    SetDlgItemTextW(window, IDC_OSTRICH_VERSION, L"");
    SetDlgItemTextW(window, IDC_RTP_PORT, L"");
    SetDlgItemTextW(window, IDC_DATA_PORT, L"");
}

// Repaints the key-coloured background of the right picture, which reaches both bottom
// corners, so that the picture blends into the window. Key-coloured areas that touch neither
// corner are part of the drawing and keep their colour. Works on the bitmap's own size, so the
// art of every scale is recoloured alike.
HBITMAP recolourBitmapBackground(HBITMAP bitmap, COLORREF colour) {
    const SIZE size = bitmapSize(bitmap);
    const int right = size.cx - 1, bottom = size.cy - 1;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldBrush = SelectObject(dc, brush);

    // The two ends of the bottom row: the background touches both.
    const COLORREF key = GetPixel(dc, right, bottom);
    ExtFloodFill(dc, 0, bottom, key, FLOODFILLSURFACE);
    ExtFloodFill(dc, right, bottom, key, FLOODFILLSURFACE);

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
