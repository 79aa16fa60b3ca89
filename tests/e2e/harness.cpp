// The driver's harness: the program's process, its window and dialogs seen from outside, files,
// and the stand-in's trace and dumps.
#include "tests/e2e/e2e.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

Paths g_paths;
double g_timeFactor = 1;
std::wstring g_runDir;

namespace {

// A window that does not answer a message within this time counts as hung.
constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr int MEMORY_BYTES = 32768;

PROCESS_INFORMATION g_program = {};
HWND g_window = nullptr;
bool g_failed = false;

// Gathers the windows EnumWindows and EnumChildWindows hand over, in their order.
BOOL CALLBACK collectWindow(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND> *>(param)->push_back(window);
    return TRUE;
}

// The header of a 32-bit bitmap with its rows top-down (a negative height), as the screen is
// captured and saved.
BITMAPINFOHEADER topDownHeader(LONG width, LONG height) {
    return {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
}

bool sendTimed(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR *result) {
    DWORD_PTR r = 0;
    const bool ok =
        SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &r) != 0;
    if (result) *result = r;
    return ok;
}

void deleteTree(const std::wstring &folder) {
    for (const WIN32_FIND_DATAW &entry : entriesIn(folder)) {
        const std::wstring path = folder + entry.cFileName;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            deleteTree(path + L"\\");
        else
            DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

bool makeFolders(const std::wstring &folder) {
    for (size_t i = 3; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == L'\\') {
            const std::wstring part = folder.substr(0, i);
            if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
        }
    }
    return true;
}

}  // namespace

// --- the run ---

void failAt(int line, const char *format, ...) {
    char message[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    printf("FAIL (e2e line %d): %s\n", line, message);
    fflush(stdout);
    if (!g_failed && g_window) screenshot();
    g_failed = true;
}

bool failed() { return g_failed; }

bool prepareRun(const char *name, const std::string &scenario) {
    g_runDir = g_paths.workRoot + wide(name) + L"\\";
    deleteTree(g_runDir);
    REQUIRE(makeFolders(g_runDir), "cannot make the run folder %s", utf8(g_runDir).c_str());
    REQUIRE(CopyFileW(g_paths.program.c_str(), (g_runDir + L"KestaOBD1EMU.exe").c_str(), FALSE),
            "cannot copy the program from %s", utf8(g_paths.program).c_str());
    REQUIRE(CopyFileW(g_paths.standin.c_str(), (g_runDir + L"FTD2XX.dll").c_str(), FALSE),
            "cannot copy the stand-in from %s", utf8(g_paths.standin).c_str());
    CHECK(writeFile(g_runDir + L"scenario.txt", std::vector<uint8_t>(scenario.begin(), scenario.end())));
    return true;
}

namespace {

bool launch(PROCESS_INFORMATION &pi, bool withScenario) {
    SetEnvironmentVariableW(L"KESTA_SIM_SCENARIO",
                            withScenario ? (g_runDir + L"scenario.txt").c_str() : nullptr);
    const std::wstring program = g_runDir + L"KestaOBD1EMU.exe";
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    pi = PROCESS_INFORMATION();
    REQUIRE(CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                           g_runDir.c_str(), &si, &pi),
            "cannot start %s (error %lu)", utf8(program).c_str(), GetLastError());
    return true;
}

}  // namespace

bool startProgram(bool withScenario, bool waitForWindow) {
    CHECK(launch(g_program, withScenario));
    if (!waitForWindow) return true;
    const bool appeared = waitUntil(30, [] {
        g_window = findWindow(g_program.dwProcessId, MAIN_CLASS, nullptr);
        return g_window && IsWindowVisible(g_window);
    });
    REQUIRE(appeared, "the program showed no window of class KESTA_Class1 within 30 s");
    return true;
}

bool startSecondInstance(PROCESS_INFORMATION &pi) { return launch(pi, true); }

HWND mainWindow() { return g_window; }
DWORD programId() { return g_program.dwProcessId; }
HANDLE programProcess() { return g_program.hProcess; }

bool waitForExit(double seconds, DWORD *exitCode, double *took) {
    if (!g_program.hProcess) return true;
    const ULONGLONG start = GetTickCount64();
    const DWORD wait = WaitForSingleObject(g_program.hProcess, DWORD(seconds * 1000));
    if (took) *took = secondsSince(start);
    if (wait != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(g_program.hProcess, &code);
    if (exitCode) *exitCode = code;
    g_window = nullptr;
    return true;
}

void killProgram() {
    if (!g_program.hProcess) return;
    if (WaitForSingleObject(g_program.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(g_program.hProcess, 99);
        WaitForSingleObject(g_program.hProcess, 10000);
    }
    CloseHandle(g_program.hProcess);
    CloseHandle(g_program.hThread);
    g_program = PROCESS_INFORMATION();
    g_window = nullptr;
}

void screenshot() {
    RECT r = {};
    for (HWND window : windowsOf(g_program.dwProcessId)) {
        RECT shown;
        if (IsWindowVisible(window) && GetWindowRect(window, &shown)) UnionRect(&r, &r, &shown);
    }
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (IsRectEmpty(&r)) r = screen;
    IntersectRect(&r, &r, &screen);
    std::vector<uint32_t> pixels;
    if (!capturePixels(r, pixels)) return;
    // A .bmp file of the pixels as captured, rows top-down.
    const BITMAPINFOHEADER info = topDownHeader(r.right - r.left, r.bottom - r.top);
    const DWORD imageSize = DWORD(pixels.size() * sizeof pixels[0]);
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
    const BITMAPFILEHEADER file = {0x4D42 /* "BM" */, offset + imageSize, 0, 0, offset};
    std::vector<uint8_t> out(offset + imageSize);
    memcpy(out.data(), &file, sizeof file);
    memcpy(out.data() + sizeof file, &info, sizeof info);
    memcpy(out.data() + offset, pixels.data(), imageSize);
    writeFile(g_runDir + L"screenshot.bmp", out);
}

// --- the window ---

std::vector<HWND> windowsOf(DWORD processId) {
    std::vector<HWND> all, theirs;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&all));
    for (HWND window : all) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == processId) theirs.push_back(window);
    }
    return theirs;
}

std::wstring classOf(HWND window) {
    wchar_t name[256];
    return std::wstring(name, size_t(GetClassNameW(window, name, 256)));
}

HWND findWindow(DWORD processId, const wchar_t *className, const wchar_t *title) {
    for (HWND window : windowsOf(processId)) {
        wchar_t text[256];
        if ((!className || classOf(window) == className) &&
            (!title || std::wstring(text, size_t(GetWindowTextW(window, text, 256))) == title))
            return window;
    }
    return nullptr;
}

std::wstring windowText(HWND window) {
    DWORD_PTR length = 0;
    if (!sendTimed(window, WM_GETTEXTLENGTH, 0, 0, &length)) return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!sendTimed(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), &got))
        return L"<no answer>";
    text.resize(std::min<size_t>(got, length));
    return text;
}

std::wstring controlText(int id) { return windowText(GetDlgItem(g_window, id)); }
bool controlEnabled(int id) { return IsWindowEnabled(GetDlgItem(g_window, id)) != FALSE; }
bool controlVisible(int id) { return IsWindowVisible(GetDlgItem(g_window, id)) != FALSE; }

int progressPosition() {
    DWORD_PTR position = 0;
    if (!sendTimed(GetDlgItem(g_window, IDC_PROGRESS), PBM_GETPOS, 0, 0, &position)) return -1;
    return int(position);
}

std::wstring logText() { return controlText(IDC_LOG); }

std::string buttonStates() {
    const int ids[] = {IDC_ERASE, IDC_READ, IDC_WRITE, IDC_UPDATE};
    std::string s = "ERWU";
    for (size_t i = 0; i < s.size(); ++i)
        if (!controlEnabled(ids[i])) s[i] = '-';
    return s;
}

bool pressButton(int id) {
    HWND button = GetDlgItem(g_window, id);
    REQUIRE(button, "no button %d", id);
    REQUIRE(IsWindowEnabled(button), "button %d is disabled (buttons %s)", id, buttonStates().c_str());
    REQUIRE(sendTimed(button, BM_CLICK, 0, 0, nullptr), "button %d: the window does not answer", id);
    return true;
}

void postKey(UINT key) {
    const LPARAM scan = LPARAM(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(g_window, WM_KEYDOWN, key, 1 | scan);
    PostMessageW(g_window, WM_KEYUP, key, 1 | scan | (LPARAM(3) << 30));
}

// Every scenario that opened the window closes it here, so here each one checks that the log
// pane shows the start of its lines: the first visible line's first letter is not left of the
// pane's edge, as it is when ES_AUTOHSCROLL has scrolled sideways to a long line's end.
bool logAtLeftEdge() {
    HWND log = GetDlgItem(g_window, IDC_LOG);
    DWORD_PTR first = 0, index = 0, position = 0, length = 0;
    if (!log || !sendTimed(log, WM_GETTEXTLENGTH, 0, 0, &length) || length == 0) return true;
    REQUIRE(sendTimed(log, EM_GETFIRSTVISIBLELINE, 0, 0, &first) && sendTimed(log, EM_LINEINDEX, first, 0, &index),
            "the log pane does not say its first visible line");
    if (index >= length) return true;
    REQUIRE(sendTimed(log, EM_POSFROMCHAR, index, 0, &position), "the log pane does not place its text");
    const int x = static_cast<short>(LOWORD(position));
    REQUIRE(x >= 0, "the log pane is scrolled sideways: its lines start at x = %d", x);
    return true;
}

void closeWindow() {
    if (g_window && !logAtLeftEdge()) g_failed = true;
    PostMessageW(g_window, WM_CLOSE, 0, 0);
}

bool appendToLog(const std::wstring &text) {
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    void *remote = VirtualAllocEx(g_program.hProcess, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    REQUIRE(remote, "cannot reserve memory in the program (error %lu)", GetLastError());
    DWORD_PTR result = 0;
    const bool sent = WriteProcessMemory(g_program.hProcess, remote, text.c_str(), bytes, nullptr) &&
                      sendTimed(g_window, WM_USER + 1, reinterpret_cast<WPARAM>(remote), 0, &result);
    VirtualFreeEx(g_program.hProcess, remote, 0, MEM_RELEASE);
    REQUIRE(sent && result == 1, "WM_LOG_APPEND was not taken (result %lu)", static_cast<unsigned long>(result));
    return true;
}

// A message box keeps its text in a static control with this identifier.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

std::wstring messageBoxText(HWND box) { return windowText(GetDlgItem(box, MESSAGE_BOX_TEXT_ID)); }

bool pressMessageBoxButton(HWND box, int id) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    const bool closed = waitUntil(10, [&] { return !IsWindow(box) || !IsWindowVisible(box); });
    REQUIRE(closed, "the message box stayed open after button %d", id);
    return true;
}

bool pressMessageBoxOk(HWND box) { return pressMessageBoxButton(box, IDOK); }

HWND findDialog(const std::wstring &title) { return findWindow(g_program.dwProcessId, nullptr, title.c_str()); }

bool waitForDialog(const std::wstring &title, double seconds, HWND &dialog) {
    dialog = nullptr;
    const bool appeared = waitUntil(seconds, [&] {
        dialog = findDialog(title);
        return dialog && IsWindowVisible(dialog);
    });
    REQUIRE(appeared, "no dialog \"%s\" within %.0f s; log: %s", utf8(title).c_str(), seconds,
            shown(logText()).c_str());
    return true;
}

namespace {

// The first visible edit control below `parent`, or null.
HWND editIn(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(parent, collectWindow, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children)
        if (lstrcmpiW(classOf(child).c_str(), L"Edit") == 0 && IsWindowVisible(child)) return child;
    return nullptr;
}

// The file name box: cmb13 (a combo box with an edit inside) or edt1, else the first edit.
HWND fileNameEdit(HWND dialog) {
    HWND box = GetDlgItem(dialog, 0x47C);
    if (!box) box = GetDlgItem(dialog, 0x480);
    if (box && lstrcmpiW(classOf(box).c_str(), L"Edit") == 0) return box;
    HWND edit = box ? editIn(box) : nullptr;
    return edit ? edit : editIn(dialog);
}

bool pressDialogButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(dialog, id)));
    const bool closed = waitUntil(10, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
    REQUIRE(closed, "the dialog \"%s\" stayed open after button %d", utf8(windowText(dialog)).c_str(), id);
    return true;
}

bool typeFileName(HWND dialog, const std::wstring &path) {
    HWND edit = fileNameEdit(dialog);
    REQUIRE(edit, "the dialog has no file name box");
    DWORD_PTR result = 0;
    REQUIRE(sendTimed(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), &result),
            "the dialog does not answer");
    REQUIRE(windowText(edit) == path, "the file name box reads %s", utf8(windowText(edit)).c_str());
    return true;
}

}  // namespace

bool answerDialog(HWND dialog, const std::wstring &path) {
    CHECK(typeFileName(dialog, path));
    return pressDialogButton(dialog, IDOK);
}

bool answerDialogAsked(HWND dialog, const std::wstring &path, HWND &question) {
    CHECK(typeFileName(dialog, path));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(GetDlgItem(dialog, IDOK)));
    // The first visible box of the dialog class that the file dialog owns.
    question = nullptr;
    const bool asked = waitUntil(10, [&] {
        for (HWND window : windowsOf(g_program.dwProcessId))
            if (!question && GetWindow(window, GW_OWNER) == dialog && IsWindowVisible(window) &&
                classOf(window) == L"#32770")
                question = window;
        return question != nullptr;
    });
    REQUIRE(asked, "the dialog asked nothing before replacing %s (dialog %s)", utf8(path).c_str(),
            IsWindow(dialog) ? "still open" : "closed");
    return true;
}

bool cancelDialog(HWND dialog) { return pressDialogButton(dialog, IDCANCEL); }

// --- waiting ---

double secondsSince(ULONGLONG startMs) { return double(GetTickCount64() - startMs) / 1000.0; }

bool waitLogEquals(const std::wstring &expected, double seconds) {
    std::wstring seen;
    const bool ok = waitUntil(seconds, [&] { return (seen = logText()) == expected; });
    REQUIRE(ok, "after %.0f s the log reads\n    %s\n  expected\n    %s", seconds, shown(seen).c_str(),
            shown(expected).c_str());
    return true;
}

bool waitLogEndsWith(const std::wstring &tail, double seconds) {
    std::wstring seen;
    const bool ok = waitUntil(seconds, [&] {
        seen = logText();
        return seen.size() >= tail.size() && seen.compare(seen.size() - tail.size(), tail.size(), tail) == 0;
    });
    REQUIRE(ok, "after %.0f s the log reads\n    %s\n  expected it to end with\n    %s", seconds,
            shown(seen).c_str(), shown(tail).c_str());
    return true;
}

bool waitControlText(int id, const std::wstring &expected, double seconds) {
    std::wstring seen;
    const bool ok = waitUntil(seconds, [&] { return (seen = controlText(id)) == expected; });
    REQUIRE(ok, "after %.0f s control %d reads \"%s\", expected \"%s\"", seconds, id, shown(seen).c_str(),
            shown(expected).c_str());
    return true;
}

bool waitButtons(const std::string &expected, double seconds) {
    std::string seen;
    const bool ok = waitUntil(seconds, [&] { return (seen = buttonStates()) == expected; });
    REQUIRE(ok, "after %.0f s the buttons are %s, expected %s; log: %s", seconds, seen.c_str(),
            expected.c_str(), shown(logText()).c_str());
    return true;
}

bool holdsSteady(double seconds) {
    const std::wstring log = logText();
    const std::string buttons = buttonStates();
    std::wstring nowLog;
    std::string nowButtons;
    const bool changed = waitUntil(seconds, [&] {
        nowLog = logText();
        nowButtons = buttonStates();
        return nowLog != log || nowButtons != buttons || !IsWindow(g_window);
    });
    REQUIRE(IsWindow(g_window), "the window went away");
    REQUIRE(!changed, "something changed: log\n    %s\n  became\n    %s\n  buttons %s became %s",
            shown(log).c_str(), shown(nowLog).c_str(), buttons.c_str(), nowButtons.c_str());
    return true;
}

// --- files ---

bool readFile(const std::wstring &path, std::vector<uint8_t> &bytes, uint64_t from) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(from);
    bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
    bytes.clear();
    uint8_t chunk[65536];
    DWORD got = 0;
    while (ok && (ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != FALSE) && got > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(file);
    return ok;
}

bool writeFile(const std::wstring &path, const std::vector<uint8_t> &bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE, "cannot create %s", utf8(path).c_str());
    DWORD written = 0;
    const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                                      written == bytes.size());
    CloseHandle(file);
    REQUIRE(ok, "cannot write %s", utf8(path).c_str());
    return true;
}

bool fileExists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<WIN32_FIND_DATAW> entriesIn(const std::wstring &folder) {
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        if (lstrcmpW(found.cFileName, L".") != 0 && lstrcmpW(found.cFileName, L"..") != 0) entries.push_back(found);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

std::vector<std::wstring> filesIn(const std::wstring &folder) {
    std::vector<std::wstring> names;
    for (const WIN32_FIND_DATAW &entry : entriesIn(folder))
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> pattern(uint32_t seed, size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t &b : bytes) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return bytes;
}

namespace {

// The stand-in rewrites a dump whole; two equal reads of the right size are a whole one.
bool readDump(const wchar_t *name, size_t size, std::vector<uint8_t> &bytes) {
    std::vector<uint8_t> again;
    const bool ok = waitUntil(5, [&] {
        return readFile(g_runDir + name, bytes) && bytes.size() == size &&
               readFile(g_runDir + name, again) && again == bytes;
    });
    REQUIRE(ok, "no whole dump %s", utf8(name).c_str());
    return true;
}

}  // namespace

bool boardMemory(std::vector<uint8_t> &memory) { return readDump(L"memory-0.bin", MEMORY_BYTES, memory); }
bool eeprom(std::vector<uint8_t> &bytes) { return readDump(L"eeprom-0.bin", 128, bytes); }

// --- the stand-in ---

uint64_t traceSize() {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW((g_runDir + L"trace.txt").c_str(), GetFileExInfoStandard, &info)) return 0;
    return uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
}

std::vector<std::string> traceLines() { return traceLinesFrom(0); }

std::vector<std::string> traceLinesFrom(uint64_t offset) {
    std::vector<uint8_t> bytes;
    readFile(g_runDir + L"trace.txt", bytes, offset);
    std::vector<std::string> lines;
    std::string line;
    for (uint8_t b : bytes) {
        if (b == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (b != '\r') {
            line += char(b);
        }
    }
    return lines;
}

int traceCount(const std::string &text) {
    int n = 0;
    for (const std::string &line : traceLines())
        if (line.find(text) != std::string::npos) ++n;
    return n;
}

bool traceHas(const std::string &text) { return traceCount(text) > 0; }

bool control(const std::string &command) {
    // Only what the stand-in notes from now on counts: an earlier, equal command was taken before.
    const uint64_t from = traceSize();
    HANDLE file = CreateFileW((g_runDir + L"control.txt").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE, "cannot open the control file");
    const std::string line = command + "\n";
    DWORD written = 0;
    const bool ok = WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr) != FALSE;
    CloseHandle(file);
    REQUIRE(ok, "cannot write the control file");
    const std::string note = "# control " + command;
    const bool taken = waitUntil(10, [&] {
        for (const std::string &line : traceLinesFrom(from))
            if (line.find(note) != std::string::npos) return true;
        return false;
    });
    REQUIRE(taken, "the stand-in did not take \"%s\"", command.c_str());
    return true;
}

int adapterHandlesOpen() {
    std::vector<uint8_t> bytes;
    if (!readFile(g_runDir + L"adapter-handles.txt", bytes)) return -1;
    const std::string text(bytes.begin(), bytes.end());
    unsigned open = 0;
    return sscanf(text.c_str(), "open=%u", &open) == 1 ? int(open) : -1;
}

bool checkTraceClean() {
    for (const std::string &line : traceLines()) {
        REQUIRE(line.find("# protocol-error") == std::string::npos &&
                    line.find("-error") == std::string::npos,
                "the stand-in reports: %s", line.c_str());
    }
    return true;
}

bool checkChannelsClosedAtExit() {
    const std::vector<std::string> lines = traceLines();
    REQUIRE(!lines.empty() && lines.back().find("# exit open-handles=0") != std::string::npos,
            "the program left channels open; last trace line: %s",
            lines.empty() ? "(none)" : lines.back().c_str());
    size_t lastOpen = 0;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find("FT_OpenEx a0/A st=0") != std::string::npos) lastOpen = i;
    REQUIRE(lastOpen > 0, "no channel A was ever opened");
    bool closedA = false, closedB = false;
    for (size_t i = lastOpen; i < lines.size(); ++i) {
        closedA = closedA || lines[i].find("FT_Close a0/A st=0") != std::string::npos;
        closedB = closedB || lines[i].find("FT_Close a0/B st=0") != std::string::npos;
    }
    REQUIRE(closedA && closedB, "after the last connection FT_Close came for%s%s",
            closedA ? " A" : "", closedB ? " B" : closedA ? " A only" : " neither channel");
    return true;
}

// --- text ---

std::string utf8(const std::wstring &text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string &text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

std::string shown(const std::wstring &text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'\r') out += L"\\r";
        else if (c == L'\n') out += L"\\n";
        else if (c == L'\t') out += L"\\t";
        else out += c;
    }
    return utf8(out + L"\"");
}

// --- the program's surroundings: its processor, the system folder, the display's scale ---

bool programIs32Bit() {
    std::vector<uint8_t> bytes;
    if (!readFile(g_paths.program, bytes) || bytes.size() < 0x40) return false;
    uint32_t header = 0;
    memcpy(&header, &bytes[0x3C], sizeof header);
    if (size_t(header) + 6 > bytes.size()) return false;
    uint16_t machine = 0;
    memcpy(&machine, &bytes[header + 4], sizeof machine);
    return machine == IMAGE_FILE_MACHINE_I386;
}

std::wstring programSystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT n = programIs32Bit() ? GetSystemWow64DirectoryW(folder, MAX_PATH)
                                    : GetSystemDirectoryW(folder, MAX_PATH);
    return n && n < MAX_PATH ? std::wstring(folder, n) + L"\\" : std::wstring();
}

std::wstring plantedLibrary() {
    wchar_t self[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring path(self, length);
    path.erase(path.find_last_of(L'\\') + 1);
    path += L"planted\\FTD2XX.dll";
    const size_t at = path.rfind(L"\\win64\\");
    if (programIs32Bit() && at != std::wstring::npos) path.replace(at, 7, L"\\win32\\");
    return path;
}

namespace {

const wchar_t DESKTOP_KEY[] = L"Control Panel\\Desktop";

}  // namespace

DWORD logPixels() {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, DESKTOP_KEY, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

bool setLogPixels(DWORD dpi) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, DESKTOP_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LSTATUS status =
        dpi ? RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dpi), sizeof dpi)
            : RegDeleteValueW(key, L"LogPixels");
    RegCloseKey(key);
    return status == ERROR_SUCCESS || (!dpi && status == ERROR_FILE_NOT_FOUND);
}

bool capturePixels(const RECT &r, std::vector<uint32_t> &pixels) {
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    const BITMAPINFO info = {topDownHeader(width, height), {}};
    HDC screenDc = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screenDc);
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screenDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const bool ok = bitmap && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screenDc, r.left, r.top, SRCCOPY);
        GdiFlush();
        pixels.assign(static_cast<const uint32_t *>(bits), static_cast<const uint32_t *>(bits) + width * height);
        for (uint32_t &p : pixels) p &= 0xFFFFFF;
        SelectObject(memory, old);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screenDc);
    return ok;
}

std::wstring accessibleName(HWND control) {
    static const bool initialised = SUCCEEDED(CoInitialize(nullptr));
    if (!initialised) return L"<no COM>";
    IAccessible *object = nullptr;
    // MinGW's oleacc import library holds no usable IID_IAccessible; the header's uuid serves.
    const HRESULT found = AccessibleObjectFromWindow(control, DWORD(OBJID_CLIENT), __uuidof(IAccessible),
                                                     reinterpret_cast<void **>(&object));
    if (FAILED(found) || !object) {
        wchar_t text[64];
        wsprintfW(text, L"<no accessible object: %08lx>", static_cast<unsigned long>(found));
        return text;
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    const HRESULT got = object->get_accName(self, &name);
    std::wstring result = SUCCEEDED(got) && name ? std::wstring(name, SysStringLen(name)) : L"<no name>";
    SysFreeString(name);
    object->Release();
    return result;
}
