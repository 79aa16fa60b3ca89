// Connection and closing: the search, the first connection and its report, the adapter
// lost and found again, the window's own behaviour while it waits, and every way of closing it.
#include <algorithm>
#include <iterator>

#include "tests/e2e/scenarios.h"
#include "tests/e2e/steps.h"

namespace {

bool startState() {
    CHECK(prepareRun("start_state", "# no adapter attached\n"));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING, 15));
    REQUIRE(windowText(mainWindow()) == L"Kesta OBD1 EMU, V1.0", "title %s",
            shown(windowText(mainWindow())).c_str());
    REQUIRE(buttonStates() == "----", "buttons %s", buttonStates().c_str());
    CHECK(infoLabels(L"", L"", L"", L""));
    CHECK(waitStatus(START_STATUS, 5));
    REQUIRE(progressPosition() == 0, "progress at %d", progressPosition());
    // The icon buttons are named for screen readers (and Tab) by window texts the icons hide.
    const struct {
        int id;
        const wchar_t *name;
    } named[] = {{IDC_ERASE, L"Erase"}, {IDC_READ, L"Read"}, {IDC_WRITE, L"Write"}, {IDC_UPDATE, L"Update"}};
    for (const auto &button : named) {
        const std::wstring text = controlText(button.id);
        const std::wstring name = accessibleName(GetDlgItem(mainWindow(), button.id));
        REQUIRE(text == button.name && name == button.name,
                "button %d: window text %s, accessible name %s, expected %s", button.id,
                shown(text).c_str(), shown(name).c_str(), utf8(button.name).c_str());
    }
    // The banner stays blank while no adapter was found, over several timer ticks.
    CHECK(holdsSteady(2));
    REQUIRE(controlText(IDC_BANNER).empty(), "banner %s", shown(controlText(IDC_BANNER)).c_str());
    CHECK(waitStatus(START_STATUS, 1));
    REQUIRE(traceCount("FT_CreateDeviceInfoList -/- st=0 count=0") > 1, "the program is not searching");
    REQUIRE(!traceHas("FT_OpenEx"), "a channel was opened with nothing attached");
    screenshot();
    CHECK(closeAndCheck());
    REQUIRE(traceHas("# exit open-handles=0"), "the stand-in saw no clean exit");
    return true;
}

bool firstConnection() {
    CHECK(connect("first_connection", "adapter\n"));
    CHECK(infoConnected());
    CHECK(waitStatus(L"", 3));
    CHECK(waitControlText(IDC_BANNER, BANNER_FIRST, 5));
    screenshot();
    REQUIRE(traceHas("FT_SetBaudRate a0/A st=0 baud=115200") &&
                traceHas("FT_SetDataCharacteristics a0/B st=0 bits=8 stop=2 parity=0") &&
                traceHas("FT_SetTimeouts a0/A st=0 read=300 write=300"),
            "the channels were not set to 115200 8-N-2 with 300 ms time-outs");
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool defaultWorld() {
    CHECK(prepareRun("default_world", ""));
    CHECK(startProgram(false));
    CHECK(waitLogEquals(FIRST_CONNECTION, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    screenshot();
    REQUIRE(!fileExists(g_runDir + L"trace.txt"), "the stand-in wrote a trace without a scenario");
    CHECK(closeAndCheck());
    return true;
}

bool secondInstance() {
    CHECK(connect("second_instance", "adapter\n"));
    PROCESS_INFORMATION second;
    CHECK(startSecondInstance(second));
    bool windowSeen = false;
    const bool ended = waitUntil(20, [&] {
        windowSeen = windowSeen || findWindow(second.dwProcessId, MAIN_CLASS, nullptr);
        return WaitForSingleObject(second.hProcess, 0) == WAIT_OBJECT_0;
    });
    DWORD code = 1;
    GetExitCodeProcess(second.hProcess, &code);
    if (!ended) TerminateProcess(second.hProcess, 99);
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
    REQUIRE(ended, "the second instance is still running after 20 s");
    REQUIRE(code == 0, "the second instance ended with code %lu", code);
    REQUIRE(!windowSeen, "the second instance showed a window");
    CHECK(waitLogEquals(FIRST_CONNECTION, 1));
    REQUIRE(traceCount("FT_OpenEx a0/A st=0") == 1, "the connection was disturbed");
    screenshot();
    CHECK(closeAndCheck());
    return true;
}

bool escapeAndEnter() {
    CHECK(connect("escape_and_enter", "adapter\n"));
    postKey(VK_ESCAPE);
    postKey(VK_RETURN);
    CHECK(holdsSteady(2.5));
    REQUIRE(traceCount(BLOCK_WRITES) == 0 && traceCount(BLOCK_REQUESTS) == 0,
            "a key started an operation");
    screenshot();
    CHECK(closeAndCheck());
    return true;
}

bool closeWhileWaiting() {
    CHECK(connect("close_while_waiting", "adapter\n"));
    screenshot();
    return closeWithin(1.5);
}

// Windows ends the session while the program waits for the choice: it may, and once told so it
// closes both channels before it answers and ends.
bool endSessionWhileWaiting() {
    CHECK(connect("end_session_while_waiting", "adapter\n"));
    screenshot();
    CHECK(sessionMayEnd(true, "while waiting for the choice"));
    SendMessageTimeoutW(mainWindow(), WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
    const int open = adapterHandlesOpen();
    printf("  adapter handles open when WM_ENDSESSION returned: %d\n", open);
    REQUIRE(open == 0, "%d adapter handles open when WM_ENDSESSION returned", open);
    return endedWithin(1.5);
}

bool unplugWhileWaiting() {
    CHECK(connect("unplug_while_waiting", "adapter\n"));
    CHECK(control("unplug 0"));
    CHECK(waitDropped(CHOICE));
    screenshot();
    CHECK(holdsSteady(1.5));
    CHECK(control("plug 0"));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(infoConnected());
    CHECK(waitButtons("ERW-", 5));
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool timedUnplugAndPlug() {
    // The unplug comes well after the connection, even on a loaded machine.
    CHECK(connect("timed_unplug_and_plug", "adapter\nat 12000 unplug 0\nat 15000 plug 0\n"));
    CHECK(waitDropped(CHOICE));
    screenshot();
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    REQUIRE(traceHas("# event unplug 0") && traceHas("# event plug 0"), "the timed events did not run");
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool silentBoard() {
    CHECK(prepareRun("silent_board", "adapter\n  reply silent\n"));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING + FOUND + L"Fail.\r\n---\r\n" + NO_STATUS, CONNECT_S));
    CHECK(waitButtons("----", 1));
    CHECK(infoLabels(L"KESTA OBD1 EMU", L"", L"", L""));
    CHECK(holdsSteady(2));
    screenshot();
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool twoAdapters() {
    CHECK(prepareRun("two_adapters", "adapter\nadapter\n"));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING, 15));
    REQUIRE(waitUntil(10, [] { return traceCount("FT_GetDeviceInfoList -/- st=0 count=4") >= 3; }),
            "the program does not list the four channels");
    CHECK(holdsSteady(3));
    REQUIRE(logText() == SEARCHING, "log %s", shown(logText()).c_str());
    REQUIRE(!traceHas("FT_OpenEx"), "a channel of one of two adapters was opened");
    CHECK(infoLabels(L"", L"", L"", L""));
    screenshot();
    CHECK(closeAndCheck());
    return true;
}

bool foreignDevicesIgnored() {
    CHECK(connect("foreign_devices_ignored",
                  "foreign 4 04036010 \"Dual RS232-HS A\" \"\"\n"
                  "foreign 5 04036001 \"KESTA OBD1 EMU A\" KESTAA\n"
                  "adapter\n"));
    REQUIRE(traceCount("FT_OpenEx a0/A st=0") == 1 && traceCount("FT_OpenEx -/-") == 0,
            "a foreign device was opened");
    screenshot();
    CHECK(closeAndCheck());
    return true;
}

bool closeMidErase() {
    CHECK(connect("close_mid_erase", "adapter\n  memory random 4\n"));
    CHECK(pressButton(IDC_ERASE));
    REQUIRE(waitUntil(OPERATION_S, [] { return progressShowing() && progressPosition() >= 60; }),
            "Erase did not get going (progress %d)", progressPosition());
    screenshot();
    CHECK(closeWithin(1.5));
    const int blocks = traceCount(BLOCK_WRITES);
    REQUIRE(blocks >= 60 && blocks < 256, "%d blocks were written", blocks);
    REQUIRE(!traceHas("FT_CyclePort"), "the erase went on to the re-connect");
    return true;
}

// Resting the pointer on an enabled button describes it in the status line for about a second;
// on a disabled one nothing shows.
bool hoverDescription() {
    CHECK(connect("hover_description", "adapter\n"));
    CHECK(waitStatus(L"", 3));
    auto restOn = [](int id) {
        RECT r;
        GetWindowRect(GetDlgItem(mainWindow(), id), &r);
        SetCursorPos((r.left + r.right) / 2 + 3, (r.top + r.bottom) / 2);
        Sleep(30);
        SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    };
    restOn(IDC_READ);
    CHECK(waitStatus(L"Read memory", 5));
    screenshot();
    const ULONGLONG shownAt = GetTickCount64();
    CHECK(waitStatus(L"", 3));
    const double held = secondsSince(shownAt);
    // About a second; the upper bound leaves room for a loaded machine's late timer ticks.
    REQUIRE(held >= 0.5 && held <= 3.0, "the description stayed %.2f s", held);
    restOn(IDC_UPDATE);
    CHECK(holdsSteady(1.5));
    REQUIRE(controlText(IDC_STATUS).empty(), "a disabled button was described: %s",
            shown(controlText(IDC_STATUS)).c_str());
    // Far from the buttons again, so the pointer does not disturb the next scenario.
    SetCursorPos(0, 0);
    CHECK(closeAndCheck());
    return true;
}

// Once a board was found the banner blinks its first text, then its second.
bool bannerCycle() {
    CHECK(connect("banner_cycle", "adapter\n"));
    CHECK(waitControlText(IDC_BANNER, BANNER_FIRST, 5));
    // Blank for one 200 ms tick in four: a poll may miss one blink, never a dozen.
    CHECK(waitControlText(IDC_BANNER, L"", 10));
    CHECK(waitControlText(IDC_BANNER, BANNER_SECOND, 30));
    screenshot();
    CHECK(closeAndCheck());
    return true;
}

// The log pane in the real edit control: the worker's texts and 40000 more characters appended
// as the worker appends them; every piece is taken, and the pane cuts its oldest lines exactly
// by its rule once it holds more than 32768 characters.
bool logTrim() {
    CHECK(connect("log_trim", "adapter\n"));
    std::wstring expected = FIRST_CONNECTION;
    for (int i = 0; i < 400; ++i) {
        const std::wstring line = L"line " + std::to_wstring(1000 + i).substr(1) + L" " +
                                  std::wstring(86, wchar_t(L'a' + i % 26)) + L"\r\n";
        CHECK(appendToLog(line));
        const size_t before = expected.size();
        expected += line;
        if (before > 32768) {
            const size_t lf = expected.find(L'\n', 16383);
            expected.erase(0, lf != std::wstring::npos && lf < before ? lf + 1 : before);
        }
    }
    const std::wstring shownText = logText();
    screenshot();
    REQUIRE(shownText == expected, "the pane holds %u characters, expected %u; it begins %s",
            unsigned(shownText.size()), unsigned(expected.size()), shown(shownText.substr(0, 40)).c_str());
    REQUIRE(expected.size() < 32768 + 100, "the model never trimmed");
    CHECK(closeAndCheck());
    return true;
}

// Closing the window while a file dialog is open ends the program at once: the worker is not
// stuck in a sent message, so it stops without being terminated, and nothing is written.
bool closeDuringDialog(const char *name, int button, const std::wstring &title) {
    CHECK(connect(name, "adapter\n  memory random 6\n"));
    std::vector<uint8_t> before;
    CHECK(boardMemory(before));
    CHECK(pressButton(button));
    HWND dialog;
    CHECK(waitForDialog(title, OPERATION_S, dialog));
    screenshot();
    const int blocksBefore = traceCount(BLOCK_WRITES);
    // A worker stuck in a sent message would cost the 2 s shutdown wait and a TerminateThread.
    CHECK(closeWithin(0.5 * g_timeFactor));
    REQUIRE(traceCount(BLOCK_WRITES) == blocksBefore, "a block was written after the close");
    std::vector<uint8_t> after;
    CHECK(boardMemory(after));
    REQUIRE(after == before, "the board's memory changed");
    const std::wstring ours[] = {L"KestaOBD1EMU.exe", L"FTD2XX.dll", L"scenario.txt", L"trace.txt",
                                 L"screenshot.bmp", L"memory-0.bin", L"eeprom-0.bin", L"adapter-handles.txt"};
    for (const std::wstring &file : filesIn(g_runDir))
        REQUIRE(std::find(std::begin(ours), std::end(ours), file) != std::end(ours),
                "the close left a file behind: %s", utf8(file).c_str());
    return true;
}

// Closes sent to the window while the first close waits for the worker (here inside a silent
// board's read) do nothing: one shutdown, one clean exit.
bool repeatedClose() {
    CHECK(prepareRun("repeated_close", "adapter\n  power off\n"));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING + FOUND + L"Fail.\r\n---\r\n" + NO_STATUS, CONNECT_S));
    const HWND window = mainWindow();
    closeWindow();
    for (int i = 0; i < 20 && IsWindow(window); ++i)
        SendMessageTimeoutW(window, i % 2 ? WM_QUIT : WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 100, nullptr);
    DWORD code = 1;
    REQUIRE(waitForExit(10, &code), "the program did not end");
    REQUIRE(code == 0, "exit code %lu", code);
    CHECK(checkTraceClean());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

const Scenario SCENARIOS[] = {
    {"start_state", startState},
    {"first_connection", firstConnection},
    {"default_world", defaultWorld},
    {"close_while_waiting", closeWhileWaiting},
    {"end_session_while_waiting", endSessionWhileWaiting},
    {"unplug_while_waiting", unplugWhileWaiting},
    {"timed_unplug_and_plug", timedUnplugAndPlug},
    {"close_mid_erase", closeMidErase},
    {"second_instance", secondInstance},
    {"escape_and_enter", escapeAndEnter},
    {"silent_board", silentBoard},
    {"two_adapters", twoAdapters},
    {"foreign_devices_ignored", foreignDevicesIgnored},
    {"hover_description", hoverDescription},
    {"banner_cycle", bannerCycle},
    {"log_trim", logTrim},
    {"close_during_save_dialog", [] { return closeDuringDialog("close_during_save_dialog", IDC_READ, SAVE_TITLE); }},
    {"close_during_open_dialog", [] { return closeDuringDialog("close_during_open_dialog", IDC_WRITE, OPEN_TITLE); }},
    {"repeated_close", repeatedClose},
};

}  // namespace

const Scenario *connectionScenarios(size_t &count) { return tableOf(SCENARIOS, count); }
