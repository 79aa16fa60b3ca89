// Program entry, the main window's life and its message dispatch.
#include "app/main_window.h"

#include <commctrl.h>

#include <cwchar>

#include "app/controls.h"
#include "app/d2xx_loader.h"
#include "app/status_line.h"
#include "app/system_libraries.h"
#include "app/win32_host.h"
#include "worker/worker.h"

namespace {

constexpr UINT_PTR TIMER_ID = 0;
constexpr wchar_t FOREIGN_TITLE_PREFIX[] = L"QXV";
constexpr int FOREIGN_TITLE_PREFIX_LENGTH = 3;
constexpr int FOREIGN_TITLE_CAPACITY = 256;
// A foreign window that does not answer within this time is left alone.
constexpr UINT FOREIGN_SEND_TIMEOUT_MS = 3000;
// How long closing the window waits for the worker to notice its stop request. Most steps of
// the worker end within one vendor library read (300 ms) of it. Two run on regardless, and take
// longer: Update's 64 EEPROM writes with their read-back, so that a stop alone never leaves the
// adapter with half an image, and the search's probe of a blank chip (64 EEPROM reads). A worker
// that outlasts this wait is ended where it stands (TerminateThread below): an Update cut there
// leaves a half-written EEPROM that the next Update mends (where the library has FT_ReadEE, the
// search recognises the adapter even when it comes up blank; without it the blank adapter is not
// found again, as before the Update could be mended), and a probe cut there has only read.
constexpr DWORD WORKER_STOP_TIMEOUT_MS = 2000;

D2xxApi library;  // filled from FTD2XX.dll before the worker starts
// The worker thread's record. Only the worker touches it while it runs; the shutdown closes its
// channels after the worker has stopped.
Worker worker;
// The state behind the worker's host and clock seams (app/win32_host.h says which thread touches
// what).
Win32Host host;

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void centreWindow(HWND reference);
BOOL CALLBACK findForeignWindow(HWND window, LPARAM unused);
int startWorker();
bool shutdownWorker();
void closeProgram();

DWORD WINAPI workerThreadProc(LPVOID record) {
    return static_cast<DWORD>(workerMain(*static_cast<Worker *>(record)));
}

bool registerMainClass(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    wc.lpszClassName = MAIN_CLASS_NAME;
    // 16 pixels at 100 %; the system says what it is at this display's scale.
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    return RegisterClassExW(&wc) != 0;
}

// Another application's window that must not hold the adapter while we run; asked to close
// once at start.
void closeForeignWindow() {
    g_appState.foreignWindow = nullptr;
    EnumWindows(findForeignWindow, 0);
    HWND foreign = static_cast<HWND>(g_appState.foreignWindow.load());
    if (!foreign) return;
    // Timed sends: a hung foreign window must not hang our start-up.
    SendMessageTimeoutW(foreign, WM_QUIT, 0, 0, SMTO_ABORTIFHUNG, FOREIGN_SEND_TIMEOUT_MS,
                        nullptr);
    SendMessageTimeoutW(foreign, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, FOREIGN_SEND_TIMEOUT_MS,
                        nullptr);
}

BOOL CALLBACK cancelOwnedDialog(HWND window, LPARAM owner) {
    wchar_t className[16];
    if (GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
        GetClassNameW(window, className, 16) && lstrcmpW(className, L"#32770") == 0)
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

// A file dialog open over the closing window is cancelled, so that the program ends at once.
void cancelOpenDialogs() {
    EnumThreadWindows(GetCurrentThreadId(), cancelOwnedDialog,
                      reinterpret_cast<LPARAM>(mainWindow()));
}

void initialiseOnFirstShow(HWND window) {
    g_appState.mainWindow = window;
    centreWindow(GetDesktopWindow());
    initMainWindowControls();
    if (const wchar_t *failure = loadD2xxLibrary(library)) {
        showFatalError(failure);
        return;
    }
    startWorker();
    closeForeignWindow();
    SetTimer(window, TIMER_ID, STATUS_TICK_MS, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    restrictLibrarySearch();
    InitCommonControls();
    g_appState.instance = instance;

    // The mutex is held, never released, until the process ends.
    HANDLE guard = CreateMutexW(nullptr, TRUE, MAIN_CLASS_NAME);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (guard) CloseHandle(guard);
        return 0;
    }

    g_appState.deviceFound = 0;
    g_appState.updateRequired = 0;
    if (!registerMainClass(instance)) return 0;

    // No dialog procedure: template 100 names our class, so mainWindowProc gets every message.
    HWND window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, nullptr, 0);
    if (!window) return 0;
    g_appState.mainWindow = window;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // However the loop ended (a close, a fatal error, a WM_QUIT posted to this thread by someone
    // else), the worker stops and the channels close before the process goes; after a close this
    // does nothing.
    shutdownWorker();
    return 0;
}

namespace {

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
    case WM_QUIT:  // only when sent straight to the window
        closeProgram();
        return 0;
    case WM_QUERYENDSESSION:
        syncSessionEndReason(host);
        return sessionMayEnd(host) ? TRUE : FALSE;
    case WM_ENDSESSION:
        // Windows ends the process once this returns, wherever its threads stand: the worker is
        // stopped and both channels closed first.
        if (wParam) closeProgram();
        return 0;
    case WM_SHOWWINDOW:
        if (!mainWindow()) initialiseOnFirstShow(window);
        return 0;
    case WM_NOTIFY:
        if (reinterpret_cast<const NMHDR *>(lParam)->code == TTN_GETDISPINFOW)
            onButtonHover(lParam);
        return 0;
    case WM_COMMAND:
        if (onButtonCommand(wParam)) {
            syncSessionEndReason(host);
            signalOperationRequest(host);
        }
        return 1;
    case WM_TIMER:
        if (wParam != TIMER_ID) return 1;
        applyPostedProgress(host);  // a block position not yet posted is drawn within a tick
        syncSessionEndReason(host);
        bannerAndStatusTick();
        return 0;
    case WM_CTLCOLORSTATIC:
        if (HBRUSH brush = statusColours(reinterpret_cast<HDC>(wParam),
                                         reinterpret_cast<HWND>(lParam)))
            return reinterpret_cast<LRESULT>(brush);
        return DefWindowProcW(window, message, wParam, lParam);
    default: {
        LRESULT result = 0;
        if (handlePrivateMessage(host, message, wParam, lParam, result)) return result;
        return DefDlgProcW(window, message, wParam, lParam);
    }
    }
}

// Centres the main window over `reference`, keeping it on the screen.
void centreWindow(HWND reference) {
    HWND window = mainWindow();
    RECT own, ref;
    GetWindowRect(window, &own);
    GetWindowRect(reference, &ref);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;

    HDC dc = GetDC(window);
    const int screenWidth = GetDeviceCaps(dc, HORZRES);
    const int screenHeight = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(window, dc);

    int x = ref.left + ((ref.right - ref.left) - width) / 2;
    if (x < 0)
        x = 0;
    else if (x + width > screenWidth)
        x = screenWidth - width;
    int y = ref.top + ((ref.bottom - ref.top) - height) / 2;
    if (y < 0)
        y = 0;
    else if (y + height > screenHeight)
        y = screenHeight - height;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

BOOL CALLBACK findForeignWindow(HWND window, LPARAM) {
    wchar_t title[FOREIGN_TITLE_CAPACITY];
    if (GetWindowTextW(window, title, FOREIGN_TITLE_CAPACITY) <= 0) return TRUE;
    if (wcsncmp(title, FOREIGN_TITLE_PREFIX, FOREIGN_TITLE_PREFIX_LENGTH) != 0) return TRUE;
    g_appState.foreignWindow = window;
    return FALSE;
}

int startWorker() {
    HANDLE thread = nullptr;
    if (initWin32Host(host)) {
        worker = makeWorker(&library, &host.clock, &host.seam);
        thread = CreateThread(nullptr, 0, workerThreadProc, &worker, 0, nullptr);
    }
    g_appState.workerThread = thread;
    if (!thread) {
        SendMessageW(mainWindow(), WM_LOG_APPEND,
                     reinterpret_cast<WPARAM>(L"\r\nERROR: can't launch thread!"), 0);
        return 0;
    }
    return 1;
}

// Stops the worker and closes both adapter channels. The worker may be blocked in a window
// operation sent to this thread, so sent messages keep being handled while we wait for it.
bool shutdownWorker() {
    static bool started = false;
    if (started) return false;
    started = true;
    requestWorkerStop(host);
    if (HANDLE thread = static_cast<HANDLE>(g_appState.workerThread.load())) {
        const DWORD start = GetTickCount();
        bool stopped = false;
        for (;;) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= WORKER_STOP_TIMEOUT_MS) break;
            const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE,
                                                         WORKER_STOP_TIMEOUT_MS - elapsed,
                                                         QS_SENDMESSAGE);
            if (woke == WAIT_OBJECT_0) {
                stopped = true;
                break;
            }
            if (woke != WAIT_OBJECT_0 + 1) break;
            MSG pending;
            PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        // Last resort: a worker stuck inside the vendor library must not keep the program alive.
        if (!stopped) {
            TerminateThread(thread, 0);
            WaitForSingleObject(thread, WORKER_STOP_TIMEOUT_MS);
        }
        CloseHandle(thread);
        g_appState.workerThread = nullptr;
        // A terminated worker may have died inside the library, holding its lock, or in
        // `closeChannel` between the close and the slot's reset: no further library call is made,
        // not even FT_Close. The handles go with the process.
        if (!stopped) return true;
    }
    // Before any start the record holds no library and no channel.
    if (worker.link.d2xx) closeChannels(worker.link);
    return true;
}

// A close, and the end of the session: the worker stops, the channels close, the loop ends. One
// that arrives while the first waits for the worker changes nothing.
void closeProgram() {
    if (!shutdownWorker()) return;
    cancelOpenDialogs();
    PostQuitMessage(0);
}

}  // namespace
