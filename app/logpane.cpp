// The log pane: appends at the very end, keeps the start of its lines in view and cuts the
// oldest lines once the text grows long.
#include "app/logpane.h"

#include "app/main_window.h"
#include "app/ui_rules.h"

namespace {

void trimLog(HWND log, size_t lengthBefore) {
    const int length = GetWindowTextLengthW(log);
    HGLOBAL memory = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT,
                                 (static_cast<SIZE_T>(length) + 1) * sizeof(wchar_t));
    // Without memory the piece stays appended and the next append tries again.
    if (!memory) return;
    wchar_t *text = static_cast<wchar_t *>(memory);
    // Read back with the new piece, so that the piece survives a cut whole.
    const LRESULT read = SendMessageW(log, WM_GETTEXT, static_cast<WPARAM>(length) + 1,
                                      reinterpret_cast<LPARAM>(text));
    if (read > 0) {
        const size_t textLength = static_cast<size_t>(read);
        size_t keepFrom = logKeepFrom(text, textLength, lengthBefore);
        if (keepFrom > textLength) keepFrom = textLength;
        if (keepFrom != 0) SetDlgItemTextW(mainWindow(), IDC_LOG, text + keepFrom);
    }
    GlobalFree(memory);
}

}  // namespace

void appendLog(const wchar_t *text) {
    HWND log = GetDlgItem(mainWindow(), IDC_LOG);
    if (!log || !text) return;
    const int lengthBefore = GetWindowTextLengthW(log);
    // Whatever the user selected, the piece goes to the end.
    SendMessageW(log, EM_SETSEL, lengthBefore, lengthBefore);
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    if (static_cast<size_t>(lengthBefore) > LOG_TRIM_THRESHOLD)
        trimLog(log, static_cast<size_t>(lengthBefore));
    // The caret at the end scrolls the newest text into view.
    const int end = GetWindowTextLengthW(log);
    SendMessageW(log, EM_SETSEL, end, end);
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
    // ES_AUTOHSCROLL has also scrolled sideways to the caret when the last line is wider than
    // the pane, hiding the first letters of every line. Back to the left edge, so that a long
    // line is cut at its end instead; the caret and the vertical scroll stay.
    SendMessageW(log, WM_HSCROLL, SB_LEFT, 0);
}
