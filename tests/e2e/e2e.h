// The end-to-end driver's harness: runs the real program beside the FTD2XX.dll stand-in, reads
// and presses its controls from outside, answers its file dialogs, and reads the stand-in's trace
// and memory dumps.
//
// Every wait polls a condition up to a generous deadline; a scenario fails with a message that
// says what was expected and what was seen.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Control identifiers of the main window and its class, as the program has them.
#include "res/resource.h"
#define WIDEN_(text) L##text
#define WIDEN(text) WIDEN_(text)
constexpr wchar_t MAIN_CLASS[] = WIDEN(MAIN_WINDOW_CLASS);

// --- the run ---

struct Paths {
    std::wstring program;  // KestaOBD1EMU.exe
    std::wstring standin;  // the stand-in FTD2XX.dll
    // The stand-in built for the other processor; empty: the win32 twin of a win64 `standin`.
    std::wstring otherStandin;
    std::wstring workRoot; // one folder per scenario is made below it
};
extern Paths g_paths;
// Scales the few limits that measure the program's own speed (closing with a dialog open).
// 1 for a native run; the 32-bit program under user-mode emulation gets its own, larger factor.
extern double g_timeFactor;

// The folder of the running scenario (with a trailing backslash): program, stand-in, scenario
// file, trace, dumps and the scenario's own files.
extern std::wstring g_runDir;

// Records the first failure (with the source line) and saves a screenshot of the moment.
void failAt(int line, const char *format, ...);
#define REQUIRE(condition, ...)            \
    do {                                   \
        if (!(condition)) {                \
            failAt(__LINE__, __VA_ARGS__); \
            return false;                  \
        }                                  \
    } while (0)
// Runs a check that reports its own failure.
#define CHECK(call)                                       \
    do {                                                  \
        if (!(call)) {                                    \
            failAt(__LINE__, "(from the check above)");   \
            return false;                                 \
        }                                                 \
    } while (0)
bool failed();

// Makes the scenario's folder afresh and fills it: the program, the stand-in and the scenario
// text (UTF-8).
bool prepareRun(const char *name, const std::string &scenario);
// Starts the program in the run folder and waits for its window (unless `waitForWindow` is
// false). With `withScenario` false the stand-in gets no scenario and shows its default adapter
// (and writes no files).
bool startProgram(bool withScenario = true, bool waitForWindow = true);
// Starts another process of the program (same folder and scenario); does not wait for a window.
bool startSecondInstance(PROCESS_INFORMATION &pi);
HWND mainWindow();
DWORD programId();
HANDLE programProcess();
// Waits for the program to end; false (with the time) when it did not within `seconds`.
bool waitForExit(double seconds, DWORD *exitCode = nullptr, double *took = nullptr);
// Ends whatever is left of the program.
void killProgram();

// Saves the screen area of the program's windows to screenshot.bmp in the run folder.
void screenshot();

// --- the window ---

// A process's top-level windows (the program's main window, dialogs and message boxes), in Z order.
std::vector<HWND> windowsOf(DWORD processId);
std::wstring classOf(HWND window);  // its class name
// The first of a process's top-level windows with this class and title (null: any), or null; the
// title as Windows keeps it (no message is sent).
HWND findWindow(DWORD processId, const wchar_t *className, const wchar_t *title);
std::wstring controlText(int id);  // WM_GETTEXT; a hung window gives "<no answer>"
std::wstring windowText(HWND window);
bool controlEnabled(int id);
bool controlVisible(int id);
int progressPosition();  // PBM_GETPOS; -1 without an answer
std::wstring logText();
// The four operation buttons as "ERWU" letters, a '-' for each disabled one, e.g. "ERW-".
std::string buttonStates();
bool pressButton(int id);  // BM_CLICK; fails when the button is disabled
void postKey(UINT key);     // WM_KEYDOWN and WM_KEYUP through the program's message loop
bool logAtLeftEdge();       // the log pane is not scrolled sideways
void closeWindow();         // WM_CLOSE, posted, after logAtLeftEdge
// Sends WM_LOG_APPEND with `text` copied into the program's memory, as the worker sends it;
// false unless the window answered 1.
bool appendToLog(const std::wstring &text);
// The text of a message box of the program, and one of its buttons pressed (IDOK, IDYES...).
std::wstring messageBoxText(HWND box);
bool pressMessageBoxButton(HWND box, int id);
bool pressMessageBoxOk(HWND box);

// A file dialog of the program with this title, or null.
HWND findDialog(const std::wstring &title);
bool waitForDialog(const std::wstring &title, double seconds, HWND &dialog);
// Types `path` as the file name and presses OK / presses Cancel.
bool answerDialog(HWND dialog, const std::wstring &path);
bool cancelDialog(HWND dialog);
// Types `path` and presses OK where the dialog is expected to ask first: the question's message
// box, owned by the dialog, is found and returned.
bool answerDialogAsked(HWND dialog, const std::wstring &path, HWND &question);

// --- waiting ---

double secondsSince(ULONGLONG startMs);
// Polls `condition(context)` every 50 ms until it holds or `seconds` have passed.
template <typename Condition>
bool waitUntil(double seconds, Condition condition) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (condition()) return true;
        if (secondsSince(start) > seconds) return false;
        Sleep(50);
    }
}
// Waits until the log reads exactly `expected`; the message shows both texts.
bool waitLogEquals(const std::wstring &expected, double seconds);
// Waits until the log ends with `tail`.
bool waitLogEndsWith(const std::wstring &tail, double seconds);
bool waitControlText(int id, const std::wstring &expected, double seconds);
bool waitButtons(const std::string &expected, double seconds);
// Holds for `seconds` and fails if the log or the buttons change meanwhile.
bool holdsSteady(double seconds);

// --- files ---

// Reads `path` from byte `from` to its end, however far that is (files in /proc report no size).
bool readFile(const std::wstring &path, std::vector<uint8_t> &bytes, uint64_t from = 0);
bool writeFile(const std::wstring &path, const std::vector<uint8_t> &bytes);
bool fileExists(const std::wstring &path);
// A folder's entries (the folder with a trailing backslash), but "." and "..".
std::vector<WIN32_FIND_DATAW> entriesIn(const std::wstring &folder);
std::vector<std::wstring> filesIn(const std::wstring &folder);  // names, without folders
std::vector<uint8_t> pattern(uint32_t seed, size_t size);
// The stand-in's dump of adapter 0's board memory (re-read until it is whole).
bool boardMemory(std::vector<uint8_t> &memory);
bool eeprom(std::vector<uint8_t> &bytes);

// --- the stand-in ---

std::vector<std::string> traceLines();
int traceCount(const std::string &text);  // lines containing `text`
bool traceHas(const std::string &text);
// The trace's lines from byte `offset` on, and its size now (to skip what is there already).
std::vector<std::string> traceLinesFrom(uint64_t offset);
uint64_t traceSize();
// Appends a command for the stand-in (e.g. "unplug 0") and waits until it was taken.
bool control(const std::string &command);
// The stand-in's count of the adapter handles the program holds (given out and not closed);
// -1 when it cannot be read.
int adapterHandlesOpen();
// After the program ended: no malformed packet, both channels of the last connection closed
// and nothing left open.
bool checkTraceClean();
bool checkChannelsClosedAtExit();

// --- the program's surroundings ---

// Whether the program under test is a 32-bit one (from its file's header).
bool programIs32Bit();
// The system folder as the program sees it (system32, or syswow64 for a 32-bit program), with a
// trailing backslash.
std::wstring programSystemFolder();
// A stranger's FTD2XX.dll for the program's processor (tests/e2e/planted/): it exports nothing
// the program needs and leaves planted-library-ran.txt in its own folder when it is loaded.
std::wstring plantedLibrary();
constexpr wchar_t PLANTED_LIBRARY_MARK[] = L"planted-library-ran.txt";

// HKCU\Control Panel\Desktop\LogPixels, which Wine reads once per process: the display's DPI
// for programs started from then on. 0: the value is absent (Wine then takes 96).
DWORD logPixels();
bool setLogPixels(DWORD dpi);  // 0 removes the value

// The screen's pixels in `r` (screen coordinates), rows top-down, each 0x00RRGGBB.
bool capturePixels(const RECT &r, std::vector<uint32_t> &pixels);

// The name a screen reader announces for a control (AccessibleObjectFromWindow, accName).
std::wstring accessibleName(HWND control);

// --- text ---

std::string utf8(const std::wstring &text);
std::wstring wide(const std::string &text);
// Shows \r, \n and \t so that texts in messages can be compared by eye.
std::string shown(const std::wstring &text);
