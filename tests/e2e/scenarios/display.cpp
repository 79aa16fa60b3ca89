// The connected window at the display's scales: pictures fill their controls, the icons are
// drawn at the scaled size, the texts fit.
#include <algorithm>

#include "tests/e2e/scenarios.h"
#include "tests/e2e/steps.h"

namespace {

// A control's rectangle in the main window's client coordinates.
RECT clientRectOf(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, mainWindow(), reinterpret_cast<POINT *>(&r), 2);
    return r;
}

// The dialog's base units as its layout shows them (the status strip: x 4, 348 units wide; the
// log: y 64, 89 units high), so that template rectangles can be mapped from outside.
bool dialogBaseUnits(int &cx, int &cy) {
    const RECT strip = clientRectOf(GetDlgItem(mainWindow(), IDC_STATUS));
    const RECT log = clientRectOf(GetDlgItem(mainWindow(), IDC_LOG));
    cx = cy = 0;
    for (int u = 1; u < 100 && !cx; ++u)
        if (MulDiv(4, u, 4) == strip.left && MulDiv(348, u, 4) == strip.right - strip.left) cx = u;
    for (int u = 1; u < 100 && !cy; ++u)
        if (MulDiv(64, u, 8) == log.top && MulDiv(89, u, 8) == log.bottom - log.top) cy = u;
    REQUIRE(cx && cy, "no base units fit the status strip and the log");
    return true;
}

// Every picture starts where its template rectangle does, covers it whole, and is hardly larger;
// the band across the top shows no window background between the pictures.
bool picturesFill(int cx, int cy) {
    const struct {
        int id, x, y, w, h;
    } pictures[] = {{IDC_PICTURE_LEFT, 0, 0, 124, 50},
                    {IDC_PICTURE_CENTER, 124, 0, 164, 50},
                    {IDC_PICTURE_RIGHT, 288, 0, 68, 63}};
    int bandBottom = 1 << 20;
    for (const auto &p : pictures) {
        HWND control = GetDlgItem(mainWindow(), p.id);
        const RECT shown = clientRectOf(control);
        const int x = MulDiv(p.x, cx, 4), y = MulDiv(p.y, cy, 8);
        const int w = MulDiv(p.w, cx, 4), h = MulDiv(p.h, cy, 8);
        const int sw = shown.right - shown.left, sh = shown.bottom - shown.top;
        DWORD_PTR bitmap = 0;
        SendMessageTimeoutW(control, STM_GETIMAGE, IMAGE_BITMAP, 0, SMTO_ABORTIFHUNG, 5000, &bitmap);
        REQUIRE(bitmap != 0, "picture %d has no bitmap", p.id);
        REQUIRE(shown.left == x && shown.top == y && sw >= w && sh >= h && sw <= w + w / 10 + 2 &&
                    sh <= h + h / 10 + 2,
                "picture %d is %dx%d at %d,%d; its control is %dx%d at %d,%d", p.id, sw, sh,
                int(shown.left), int(shown.top), w, h, x, y);
        if (p.id != IDC_PICTURE_RIGHT) bandBottom = std::min(bandBottom, h);
    }
    RECT client;
    GetClientRect(mainWindow(), &client);
    MapWindowPoints(mainWindow(), nullptr, reinterpret_cast<POINT *>(&client), 2);
    std::vector<uint32_t> pixels;
    REQUIRE(capturePixels(client, pixels), "cannot read the screen");
    const int width = client.right - client.left;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const uint32_t background = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
    const int rightPicture = MulDiv(288, cx, 4);
    for (int row : {1, bandBottom - 1}) {
        const int end = row == 1 ? width : rightPicture;
        for (int x = 0; x < end; ++x)
            REQUIRE(pixels[size_t(row) * width + x] != background,
                    "the window's background shows between the pictures at %d,%d", x, row);
    }
    return true;
}

// The buttons' icons are drawn at `side` pixels: the widest drawing spans about that much (the
// Update face is a smaller one), and none spans more.
bool iconsScaled(int side) {
    int widest = 0;
    for (int id : {IDC_ERASE, IDC_READ, IDC_WRITE, IDC_UPDATE}) {
        RECT r;
        GetWindowRect(GetDlgItem(mainWindow(), id), &r);
        InflateRect(&r, -3, -3);  // the frame
        std::vector<uint32_t> pixels;
        REQUIRE(capturePixels(r, pixels), "cannot read the screen");
        const int w = r.right - r.left, h = r.bottom - r.top;
        const uint32_t face = pixels[size_t(h / 2) * w + 1];
        int left = w, top = h, right = -1, bottom = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (pixels[size_t(y) * w + x] != face) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
        const int spanX = right - left + 1, spanY = bottom - top + 1;
        REQUIRE(std::max(spanX, spanY) >= side * 3 / 4 && spanX <= side + 2 && spanY <= side + 2,
                "button %d shows a drawing of %dx%d pixels, expected at most %d", id, spanX, spanY, side);
        widest = std::max(widest, std::max(spanX, spanY));
    }
    REQUIRE(widest >= side - 3, "the largest icon spans %d pixels, expected about %d", widest, side);
    return true;
}

// The texts of the static controls fit them, in fonts like the program's: the dialog's 8 points
// and the status line's bold 14 pixels at 96 DPI, both grown with `dpi`.
struct TextFit {
    HFONT dialogFont, statusFont;
    HDC dc;
    std::string failure;
};

bool textFits(TextFit &fit, HWND control, const std::wstring &text) {
    if (text.empty()) return true;
    HGDIOBJ old = SelectObject(fit.dc, GetDlgCtrlID(control) == IDC_STATUS ? fit.statusFont : fit.dialogFont);
    SIZE extent = {};
    GetTextExtentPoint32W(fit.dc, text.c_str(), int(text.size()), &extent);
    SelectObject(fit.dc, old);
    RECT client;
    GetClientRect(control, &client);
    if (extent.cx <= client.right && extent.cy <= client.bottom) return true;
    fit.failure = "\"" + utf8(text) + "\" needs " + std::to_string(extent.cx) + "x" +
                  std::to_string(extent.cy) + " pixels in " + std::to_string(client.right) + "x" +
                  std::to_string(client.bottom);
    return false;
}

BOOL CALLBACK checkTextFits(HWND control, LPARAM param) {
    TextFit &fit = *reinterpret_cast<TextFit *>(param);
    const LONG type = GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK;
    if (lstrcmpiW(classOf(control).c_str(), L"Static") != 0 || (type != SS_LEFT && type != SS_CENTER)) return TRUE;
    return textFits(fit, control, windowText(control));
}

bool textsFit(int dpi) {
    TextFit fit = {};
    fit.dialogFont = CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                                 0, 0, L"MS Sans Serif");
    fit.statusFont = CreateFontW(-MulDiv(14, dpi, 96), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 0, 0, 0, FIXED_PITCH | FF_DONTCARE, L"MS Sans Serif");
    fit.dc = CreateCompatibleDC(nullptr);
    EnumChildWindows(mainWindow(), checkTextFits, reinterpret_cast<LPARAM>(&fit));
    // Texts shown at other times: the banner's two and the status line's longest.
    const struct {
        int id;
        std::wstring text;
    } later[] = {{IDC_BANNER, BANNER_FIRST},
                 {IDC_BANNER, BANNER_SECOND},
                 {IDC_STATUS, START_STATUS}};
    for (const auto &t : later)
        if (fit.failure.empty()) textFits(fit, GetDlgItem(mainWindow(), t.id), t.text);
    DeleteDC(fit.dc);
    DeleteObject(fit.dialogFont);
    DeleteObject(fit.statusFont);
    REQUIRE(fit.failure.empty(), "a text does not fit: %s", fit.failure.c_str());
    return true;
}

// The connected window at `dpi`: pictures fill their controls, icons are drawn at the scaled
// size, texts fit. Wine reads the DPI once per process, so the value is set before the start.
bool connectedAt(DWORD dpi) {
    const std::string name = "display_" + std::to_string(dpi);
    REQUIRE(setLogPixels(dpi), "cannot set LogPixels to %lu", dpi);
    CHECK(connect(name.c_str(), "adapter\n"));
    CHECK(infoConnected());
    RECT window;
    GetWindowRect(mainWindow(), &window);
    printf("  window %ldx%ld at %lu DPI\n", window.right - window.left, window.bottom - window.top, dpi);
    // The banner blinks: the picture is taken while it shows its text.
    for (int i = 0; i < 10; ++i) {
        CHECK(waitControlText(IDC_BANNER, BANNER_FIRST, 5));
        Sleep(60);  // painted
        screenshot();
        if (controlText(IDC_BANNER) == BANNER_FIRST) break;
    }
    int cx = 0, cy = 0;
    CHECK(dialogBaseUnits(cx, cy));
    CHECK(picturesFill(cx, cy));
    CHECK(iconsScaled(MulDiv(32, int(dpi), 96)));
    CHECK(textsFit(int(dpi)));
    CHECK(closeAndCheck());
    return true;
}

// Runs connectedAt and puts the DPI back as it was, whatever happened.
bool displayAt(DWORD dpi) {
    const DWORD before = logPixels();
    const bool passed = connectedAt(dpi);
    killProgram();
    REQUIRE(setLogPixels(before), "cannot put LogPixels back to %lu", before);
    return passed;
}

const Scenario SCENARIOS[] = {
    {"display_96", [] { return displayAt(96); }},
    {"display_120", [] { return displayAt(120); }},
    {"display_144", [] { return displayAt(144); }},
    {"display_192", [] { return displayAt(192); }},
};

}  // namespace

const Scenario *displayScenarios(size_t &count) { return tableOf(SCENARIOS, count); }
