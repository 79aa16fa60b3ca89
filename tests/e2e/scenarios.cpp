// The end-to-end scenarios: the real program, seen and driven from outside, against the
// stand-in's simulated adapter and board.
#include "tests/e2e/scenarios.h"

#include <algorithm>
#include <cstring>

#include "tests/e2e/e2e.h"
#include "tests/e2e/texts.h"

namespace {

constexpr size_t IMAGE = 32768;
// Generous deadlines for Wine: a search and connection, a whole block operation.
constexpr double CONNECT_S = 30;
constexpr double OPERATION_S = 40;

// Starts the program against `scenario` and waits for the first connection to be reported.
bool connect(const char *name, const std::string &scenario) {
    CHECK(prepareRun(name, scenario));
    CHECK(startProgram());
    CHECK(waitLogEquals(FIRST_CONNECTION, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    return true;
}

// Closes the window and checks the program ended cleanly within `seconds`.
bool closeAndCheck(double seconds = 5) {
    closeWindow();
    DWORD code = 1;
    double took = 0;
    REQUIRE(waitForExit(seconds, &code, &took), "the program did not end within %.1f s of WM_CLOSE", seconds);
    REQUIRE(code == 0, "exit code %lu", code);
    printf("  ended %.2f s after WM_CLOSE\n", took);
    CHECK(checkTraceClean());
    return true;
}

bool infoLabels(const std::wstring &type, const std::wstring &version, const std::wstring &rtp,
                const std::wstring &data) {
    const std::wstring seen[4] = {controlText(IDC_TYPE), controlText(IDC_OSTRICH_VERSION),
                                  controlText(IDC_RTP_PORT), controlText(IDC_DATA_PORT)};
    REQUIRE(seen[0] == type && seen[1] == version && seen[2] == rtp && seen[3] == data,
            "info box reads %s %s %s %s, expected %s %s %s %s", shown(seen[0]).c_str(),
            shown(seen[1]).c_str(), shown(seen[2]).c_str(), shown(seen[3]).c_str(),
            shown(type).c_str(), shown(version).c_str(), shown(rtp).c_str(), shown(data).c_str());
    return true;
}

bool progressShowing() {
    const int position = progressPosition();
    return controlVisible(IDC_PROGRESS) && !controlVisible(IDC_STATUS) && position >= 1 && position <= 255;
}

bool waitProgressShowing(double seconds) {
    REQUIRE(waitUntil(seconds, progressShowing),
            "no progress bar in place of the status line (progress %s at %d, status %s)",
            controlVisible(IDC_PROGRESS) ? "shown" : "hidden", progressPosition(),
            controlVisible(IDC_STATUS) ? "shown" : "hidden");
    return true;
}

// The status line shown in the strip with `text` (a hidden status line may keep an older text).
bool waitStatus(const std::wstring &text, double seconds) {
    std::wstring seen;
    const bool ok = waitUntil(seconds, [&] {
        seen = controlText(IDC_STATUS);
        return seen == text && controlVisible(IDC_STATUS) && !controlVisible(IDC_PROGRESS);
    });
    REQUIRE(ok, "after %.0f s the status line %s reads %s, expected %s", seconds,
            controlVisible(IDC_STATUS) ? "(shown)" : "(hidden)", shown(seen).c_str(), shown(text).c_str());
    return true;
}

bool allBytes(const std::vector<uint8_t> &bytes, size_t from, size_t to, uint8_t value) {
    for (size_t i = from; i < to; ++i)
        if (bytes[i] != value) return false;
    return true;
}

bool sameBytes(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, size_t from, size_t to) {
    return a.size() >= to && b.size() >= to && memcmp(a.data() + from, b.data() + from, to - from) == 0;
}

// Presses Write and answers its dialog with `path`.
bool writeFrom(const std::wstring &path) {
    CHECK(pressButton(IDC_WRITE));
    HWND dialog;
    CHECK(waitForDialog(OPEN_TITLE, 10, dialog));
    CHECK(waitLogEndsWith(CHOICE + WRITE_OPENING, 2));
    REQUIRE(controlVisible(IDC_STATUS), "the status line is not shown during the open dialog");
    screenshot();
    CHECK(answerDialog(dialog, path));
    return true;
}

// Presses Read and waits for its save dialog after the whole memory was read.
bool readUntilSaveDialog(HWND &dialog) {
    CHECK(pressButton(IDC_READ));
    CHECK(waitLogEndsWith(CHOICE + READ_OPENING, 5));
    CHECK(waitProgressShowing(10));
    CHECK(waitForDialog(SAVE_TITLE, OPERATION_S, dialog));
    CHECK(waitLogEndsWith(CHOICE + READ_OPENING + SAVE_STEP, 2));
    REQUIRE(progressShowing() && progressPosition() == 255, "the bar is not full during the save dialog (%d)",
            progressPosition());
    return true;
}

// After a failed hold: the disconnect line, the info box emptied, the buttons disabled.
bool waitDropped(const std::wstring &before) {
    CHECK(waitLogEndsWith(before + DISCONNECTED, 15));
    CHECK(infoLabels(L"", L"", L"", L""));
    CHECK(waitButtons("----", 2));
    return true;
}

// A failure that drops the connection with the adapter still attached re-connects at once. The
// adapter is unplugged during the hold (the stand-in takes it at the next library call, the
// close after the disconnect line), so the dropped state can be seen; then it comes back.
bool dropAndReconnect(const std::wstring &before) {
    CHECK(control("unplug 0"));
    CHECK(waitDropped(before));
    CHECK(control("plug 0"));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    return true;
}

// --- scenarios ---

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
    CHECK(infoLabels(L"KESTA OBD1 EMU", L"Ver. 01.02", L"COM5", L"COM6"));
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
        HWND w = nullptr;
        while ((w = FindWindowExW(nullptr, w, L"KESTA_Class1", nullptr))) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == second.dwProcessId) windowSeen = true;
        }
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
    REQUIRE(traceCount("length=133") == 0 && traceCount("FT_Write a0/A st=0 length=5") == 0,
            "a key started an operation");
    screenshot();
    CHECK(closeAndCheck());
    return true;
}

bool closeWhileWaiting() {
    CHECK(connect("close_while_waiting", "adapter\n"));
    screenshot();
    closeWindow();
    double took = 0;
    DWORD code = 1;
    REQUIRE(waitForExit(10, &code, &took), "the program did not end within 10 s");
    printf("  ended %.2f s after WM_CLOSE\n", took);
    REQUIRE(took <= 1.5, "the program took %.2f s to end", took);
    REQUIRE(code == 0, "exit code %lu", code);
    CHECK(checkTraceClean());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool eraseIn(const char *name, const std::string &world) {
    CHECK(connect(name, world));
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(!allBytes(memory, 0, IMAGE, 0xFF), "the board started erased");
    CHECK(pressButton(IDC_ERASE));
    CHECK(waitButtons("----", 1));
    CHECK(waitLogEndsWith(CHOICE + ERASE_OPENING, 5));
    CHECK(waitProgressShowing(5));
    screenshot();
    CHECK(waitLogEndsWith(CHOICE + ERASE_OPENING + VERIFY_STEP + RECONNECT, OPERATION_S));
    REQUIRE(progressShowing() && progressPosition() == 255, "the bar is not full after Erase (%d)",
            progressPosition());
    CHECK(boardMemory(memory));
    REQUIRE(allBytes(memory, 0, IMAGE, 0xFF), "the board memory is not all FF after Erase");
    REQUIRE(traceCount("FT_Write a0/A st=0 length=133 data=57") == 256 &&
                traceCount("FT_Write a0/A st=0 length=5 data=52") == 128,
            "%d block writes and %d reads back, expected 256 and 128",
            traceCount("FT_Write a0/A st=0 length=133 data=57"), traceCount("FT_Write a0/A st=0 length=5 data=52"));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    REQUIRE(traceCount("FT_CyclePort a0/A st=0") == 1, "no single port cycle after Erase");
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool erase() { return eraseIn("erase", "adapter\n  memory random 3\n"); }

bool readNonAsciiPath() {
    CHECK(connect("read_non_ascii_path", "adapter\n  memory random 11\n"));
    const std::wstring folder = g_runDir + L"Bilder_\u00e4\u00f6\u00fc_\u6d4b\u8bd5\\";
    REQUIRE(CreateDirectoryW(folder.c_str(), nullptr), "cannot make %s", utf8(folder).c_str());
    const std::wstring target = folder + L"image.bin";
    HWND dialog;
    CHECK(readUntilSaveDialog(dialog));
    screenshot();
    CHECK(answerDialog(dialog, target));
    CHECK(waitLogEndsWith(CHOICE + READ_OPENING + SAVE_STEP + RECONNECT, 10));
    std::vector<uint8_t> saved, memory;
    REQUIRE(readFile(target, saved), "no file at %s", utf8(target).c_str());
    CHECK(boardMemory(memory));
    REQUIRE(saved.size() == IMAGE, "the saved file has %u bytes", unsigned(saved.size()));
    REQUIRE(saved == memory, "the saved file differs from the board memory");
    const std::vector<std::wstring> names = filesIn(folder);
    REQUIRE(names.size() == 1, "the folder holds %u files (a temporary file left behind?)",
            unsigned(names.size()));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(closeAndCheck());
    return true;
}

bool writeIn(const char *name, const std::string &world) {
    CHECK(connect(name, world));
    const std::vector<uint8_t> image = pattern(77, IMAGE);
    const std::wstring path = g_runDir + L"upload.bin";
    CHECK(writeFile(path, image));
    CHECK(writeFrom(path));
    CHECK(waitLogEndsWith(CHOICE + WRITE_OPENING + WRITE_STEP, 10));
    CHECK(waitProgressShowing(5));
    screenshot();
    CHECK(waitLogEndsWith(CHOICE + WRITE_OPENING + WRITE_STEP + VERIFY_STEP + RECONNECT, OPERATION_S));
    REQUIRE(traceCount("FT_Write a0/A st=0 length=5 data=52") == 128, "%d blocks read back, expected 128",
            traceCount("FT_Write a0/A st=0 length=5 data=52"));
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(memory == image, "the board memory differs from the file written");
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(closeAndCheck());
    return true;
}

bool write() { return writeIn("write", "adapter\n  memory random 5\n"); }

// A failed file step keeps the connection: the hold, the buttons back, the report again.
bool failedFileStepStays(const std::wstring &logText, const std::wstring &statusText) {
    CHECK(waitStatus(statusText, 10));
    const ULONGLONG held = GetTickCount64();
    CHECK(waitLogEndsWith(CHOICE + WRITE_OPENING + logText, 2));
    screenshot();
    CHECK(waitButtons("ERW-", 10));
    const double hold = secondsSince(held);
    // Lower bound exact, upper bound with room for a loaded machine.
    REQUIRE(hold >= 4.0 && hold <= 9.0, "the buttons came back after %.1f s, expected about 5", hold);
    CHECK(waitLogEndsWith(CHOICE + WRITE_OPENING + logText + REPORT_AGAIN + CHOICE, 5));
    return true;
}

bool writeInvalidSize() {
    CHECK(connect("write_invalid_size", "adapter\n  memory random 6\n"));
    std::vector<uint8_t> before, after;
    CHECK(boardMemory(before));
    const size_t sizes[] = {0, IMAGE - 1, IMAGE + 1};
    for (size_t size : sizes) {
        printf("  %u bytes\n", unsigned(size));
        const std::wstring path = g_runDir + L"size" + std::to_wstring(size) + L".bin";
        CHECK(writeFile(path, pattern(1, size)));
        CHECK(writeFrom(path));
        CHECK(failedFileStepStays(L"Invalid file size!\r\n", L"Invalid file size!"));
    }
    REQUIRE(traceCount("FT_OpenEx a0/A st=0") == 1 && !traceHas("FT_CyclePort"), "the connection was dropped");
    REQUIRE(!traceHas("length=133"), "a block was written");
    CHECK(boardMemory(after));
    REQUIRE(after == before, "the board memory changed");
    CHECK(closeAndCheck());
    return true;
}

bool cancelledDialogs() {
    CHECK(connect("cancelled_dialogs", "adapter\n"));
    // Write: cancelled before any block, so the connection stays.
    CHECK(pressButton(IDC_WRITE));
    HWND dialog;
    CHECK(waitForDialog(OPEN_TITLE, 10, dialog));
    CHECK(cancelDialog(dialog));
    CHECK(failedFileStepStays(L"Canceled.\r\n", L"Operation canceled!"));
    REQUIRE(traceCount("FT_OpenEx a0/A st=0") == 1, "the cancelled Write dropped the connection");

    // Read: the data was read already, so the connection drops and comes back.
    CHECK(readUntilSaveDialog(dialog));
    CHECK(cancelDialog(dialog));
    CHECK(waitStatus(L"Operation canceled!", 5));
    CHECK(waitLogEndsWith(READ_OPENING + SAVE_STEP + L"Canceled.\r\n", 2));
    screenshot();
    CHECK(dropAndReconnect(SAVE_STEP + L"Canceled.\r\n"));
    REQUIRE(!traceHas("FT_CyclePort"), "a port cycle after a cancelled Read");
    CHECK(closeAndCheck());
    return true;
}

bool readOverExistingFile() {
    CHECK(connect("read_over_existing_file", "adapter\n  memory random 21\n"));
    const std::wstring folder = g_runDir + L"saves\\";
    REQUIRE(CreateDirectoryW(folder.c_str(), nullptr), "cannot make the folder");
    const std::wstring target = folder + L"old.bin";
    const std::vector<uint8_t> old = pattern(2, IMAGE);
    CHECK(writeFile(target, old));

    // The old file is held open without sharing, so it cannot be replaced: the save fails.
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE, "cannot hold the old file");
    HWND dialog, question;
    bool ok = readUntilSaveDialog(dialog) && answerDialogAsked(dialog, target, question) &&
              pressMessageBoxButton(question, IDYES);
    std::wstring status;
    ok = ok && waitUntil(10, [&] {
        status = controlText(IDC_STATUS);
        return status == L"Can't write file!" || status == L"Can't create file!";
    });
    CloseHandle(held);
    REQUIRE(ok, "no save failure reported; status %s, log %s", shown(status).c_str(), shown(logText()).c_str());
    CHECK(waitLogEndsWith(SAVE_STEP + status + L"\r\n", 2));
    screenshot();
    std::vector<uint8_t> kept;
    REQUIRE(readFile(target, kept) && kept == old, "the failed save changed the old file");
    REQUIRE(filesIn(folder).size() == 1, "the failed save left %u files", unsigned(filesIn(folder).size()));
    CHECK(dropAndReconnect(SAVE_STEP + status + L"\r\n"));

    // Now free to be replaced.
    CHECK(readUntilSaveDialog(dialog));
    CHECK(answerDialogAsked(dialog, target, question));
    CHECK(pressMessageBoxButton(question, IDYES));
    CHECK(waitLogEndsWith(SAVE_STEP + RECONNECT, 10));
    std::vector<uint8_t> saved, memory;
    CHECK(boardMemory(memory));
    REQUIRE(readFile(target, saved) && saved == memory, "the old file was not replaced by the board memory");
    REQUIRE(filesIn(folder).size() == 1, "the save left %u files", unsigned(filesIn(folder).size()));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(closeAndCheck());
    return true;
}

// The save dialog asks before it replaces a file: No goes back to the dialog with the file
// untouched, Yes replaces it (through a temporary file: nothing else is left in the folder), and
// Cancel after a No is the usual cancel. A new name is saved without a question.
bool readOverwriteQuestion() {
    CHECK(connect("read_overwrite_question", "adapter\n  memory random 23\n  wire-timing off\n  reenumerate-ms 300\n"));
    const std::wstring folder = g_runDir + L"saves\\";
    REQUIRE(CreateDirectoryW(folder.c_str(), nullptr), "cannot make the folder");
    const std::wstring target = folder + L"tuned.bin";
    const std::vector<uint8_t> old = pattern(4, IMAGE);
    CHECK(writeFile(target, old));
    std::vector<uint8_t> memory, onDisk;
    CHECK(boardMemory(memory));
    // Without wire timing the Read is over before its opening line could be seen alone.
    auto readToSaveDialog = [](HWND &dialog) {
        CHECK(pressButton(IDC_READ));
        CHECK(waitForDialog(SAVE_TITLE, OPERATION_S, dialog));
        CHECK(waitLogEndsWith(CHOICE + READ_OPENING + SAVE_STEP, 2));
        return true;
    };
    auto asked = [&](HWND dialog, HWND &question) {
        CHECK(answerDialogAsked(dialog, target, question));
        const std::wstring text = messageBoxText(question);
        printf("  asked: %s\n", shown(text).c_str());
        // Windows names the file in the question; Wine's question names none.
        REQUIRE(text.find(L"tuned.bin") != std::wstring::npos ||
                    (text.find(L"exists") != std::wstring::npos && text.find(L"replace") != std::wstring::npos),
                "the question reads %s", shown(text).c_str());
        REQUIRE(GetDlgItem(question, IDYES) && GetDlgItem(question, IDNO), "the question has no Yes and No");
        return true;
    };

    // No, then Yes.
    HWND dialog, question;
    CHECK(readToSaveDialog(dialog));
    CHECK(asked(dialog, question));
    Sleep(300);  // painted, for the screenshot
    screenshot();
    CHECK(pressMessageBoxButton(question, IDNO));
    CHECK(holdsSteady(1));
    REQUIRE(IsWindowVisible(dialog), "No did not go back to the dialog");
    REQUIRE(readFile(target, onDisk) && onDisk == old, "the file changed after No");
    CHECK(asked(dialog, question));
    CHECK(pressMessageBoxButton(question, IDYES));
    REQUIRE(waitUntil(10, [&] { return !IsWindow(dialog); }), "the dialog stayed open after Yes");
    CHECK(waitLogEndsWith(SAVE_STEP + RECONNECT, 10));
    REQUIRE(readFile(target, onDisk) && onDisk == memory, "Yes did not replace the file with the board memory");
    REQUIRE(filesIn(folder).size() == 1, "the save left %u files", unsigned(filesIn(folder).size()));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));

    // No, then Cancel: the usual cancel, the file as it was.
    CHECK(writeFile(target, old));
    CHECK(readToSaveDialog(dialog));
    CHECK(asked(dialog, question));
    CHECK(pressMessageBoxButton(question, IDNO));
    REQUIRE(waitUntil(2, [&] { return !IsWindow(question) && IsWindowVisible(dialog); }),
            "No did not go back to the dialog");
    CHECK(cancelDialog(dialog));
    CHECK(waitStatus(L"Operation canceled!", 5));
    CHECK(waitLogEndsWith(SAVE_STEP + L"Canceled.\r\n", 2));
    REQUIRE(readFile(target, onDisk) && onDisk == old, "the file changed after No and Cancel");
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));

    // A new name: saved at once (a question would keep the dialog open).
    const std::wstring fresh = folder + L"fresh.bin";
    CHECK(readToSaveDialog(dialog));
    CHECK(answerDialog(dialog, fresh));
    CHECK(waitLogEndsWith(SAVE_STEP + RECONNECT, 10));
    REQUIRE(readFile(fresh, onDisk) && onDisk == memory, "the new file does not hold the board memory");
    REQUIRE(filesIn(folder).size() == 2, "the folder holds %u files", unsigned(filesIn(folder).size()));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(closeAndCheck());
    return true;
}

// "At 0x1234 read 5E, sent 5A.\r\n1 byte differs." and the rest, as a failed verify says it.
std::wstring verifyFailure(uint32_t first, uint8_t read, uint8_t sent, size_t count, const wchar_t *why) {
    wchar_t text[160];
    swprintf(text, 160, L"Mismatch!\r\nAt 0x%04X read %02X, sent %02X.\r\n%u %ls%ls%ls", unsigned(first), read,
             sent, unsigned(count), count == 1 ? L"byte differs." : L"bytes differ.", *why ? L"\r\n" : L"", why);
    return text;
}

// Keeps the log pane's text in the run folder, as the user saw it.
bool keepLog(const wchar_t *name) {
    const std::wstring log = logText();
    return writeFile(g_runDir + name, std::vector<uint8_t>(log.begin(), log.end()));
}

// Boards that acknowledge every block and keep something else: the read-back reads the whole
// memory, names the first address that differs, the count and what explains them, holds the
// failure and does not cycle the port.
bool verifyMismatch() {
    CHECK(connect("verify_mismatch", "adapter\n  memory random 12\n  stuck-bit 1234 2 1\n"));
    std::vector<uint8_t> image = pattern(31, IMAGE);
    image[0x1234] &= 0xFB;
    for (size_t i = 0x2680; i < 0x2700; ++i) image[i] &= 0x7F;  // not erased yet
    const std::wstring path = g_runDir + L"upload.bin";
    CHECK(writeFile(path, image));
    CHECK(writeFrom(path));
    const std::wstring written = WRITE_STEP + VERIFY_STEP + verifyFailure(0x1234, image[0x1234] | 4, image[0x1234], 1, L"");
    CHECK(waitLogEndsWith(written, OPERATION_S));
    CHECK(waitStatus(L"Verify failed!", 3));
    CHECK(dropAndReconnect(written));
    REQUIRE(traceCount("length=133") == 256 && traceCount("FT_Write a0/A st=0 length=5 data=52") == 128,
            "%d blocks written and %d read back, expected 256 and 128", traceCount("length=133"),
            traceCount("FT_Write a0/A st=0 length=5 data=52"));

    // Then a block the board acknowledges and never stores.
    CHECK(control("set 0 stuck-bit off"));
    CHECK(control("set 0 drop-write-block 77"));
    CHECK(pressButton(IDC_ERASE));
    const std::wstring erased =
        ERASE_OPENING + VERIFY_STEP + verifyFailure(0x2680, image[0x2680], 0xFF, 128, L"Block 0x2680 was not kept.");
    CHECK(waitLogEndsWith(erased, OPERATION_S));
    CHECK(waitStatus(L"Verify failed!", 3));
    CHECK(dropAndReconnect(erased));
    REQUIRE(!traceHas("FT_CyclePort"), "a failed verify cycled the port");
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(allBytes(memory, 0, 0x2680, 0xFF) && sameBytes(memory, image, 0x2680, 0x2700) &&
                allBytes(memory, 0x2700, IMAGE, 0xFF),
            "the board does not hold the erase with block 77 kept");

    // A memory chip that ignores address line A14: each low address reads its high twin.
    CHECK(control("set 0 drop-write-block off"));
    CHECK(control("set 0 ignore-address-lines 4000"));
    CHECK(writeFrom(path));
    size_t twins = 0, first = 0x4000;
    for (size_t a = 0x3FFF; a < 0x4000; --a)
        if (image[a] != image[a | 0x4000]) ++twins, first = a;
    const std::wstring aliased = WRITE_STEP + VERIFY_STEP +
                                 verifyFailure(uint32_t(first), image[first | 0x4000], image[first], twins,
                                               L"Address line A14 is faulty.");
    CHECK(waitLogEndsWith(aliased, OPERATION_S));
    CHECK(waitStatus(L"Verify failed!", 3));
    screenshot();
    CHECK(keepLog(L"log-write-ignores-A14.txt"));
    CHECK(dropAndReconnect(aliased));

    // A data line stuck at 0 for the whole chip.
    CHECK(control("set 0 ignore-address-lines off"));
    CHECK(control("set 0 stuck-data-line 3 0"));
    CHECK(pressButton(IDC_ERASE));
    const std::wstring stuck =
        ERASE_OPENING + VERIFY_STEP + verifyFailure(0, 0xF7, 0xFF, IMAGE, L"Data bit D3 is stuck at 0.");
    CHECK(waitLogEndsWith(stuck, OPERATION_S));
    CHECK(keepLog(L"log-erase-D3-stuck-at-0.txt"));
    CHECK(dropAndReconnect(stuck));

    // A line wider than the pane is cut at its end; the others keep their first letters.
    CHECK(appendToLog(L"\r\nA line that is much wider than the log pane can show at once."));
    CHECK(logAtLeftEdge());
    CHECK(closeAndCheck());
    return true;
}

bool writeRefusedBlock() {
    CHECK(connect("write_refused_block", "adapter\n  memory fill 00\n  refuse-write-block 100\n"));
    const std::vector<uint8_t> image = pattern(9, IMAGE);
    const std::wstring path = g_runDir + L"upload.bin";
    CHECK(writeFile(path, image));
    CHECK(writeFrom(path));
    CHECK(waitLogEndsWith(WRITE_STEP + L"Fail!", OPERATION_S));
    CHECK(waitStatus(L"Operation failed!", 3));
    screenshot();
    CHECK(dropAndReconnect(WRITE_STEP + L"Fail!"));
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(sameBytes(memory, image, 0, 100 * 128), "blocks 0 to 99 do not hold the file");
    REQUIRE(allBytes(memory, 100 * 128, IMAGE, 0x00), "blocks from 100 on were changed");
    REQUIRE(traceCount("length=133") == 101, "%d block writes, expected 101", traceCount("length=133"));
    CHECK(closeAndCheck());
    return true;
}

bool readBadChecksum() {
    CHECK(connect("read_bad_checksum", "adapter\n  memory random 8\n  bad-checksum-read-block 5\n"));
    CHECK(pressButton(IDC_READ));
    bool dialogSeen = false;
    const bool failedAtBlock = waitUntil(OPERATION_S, [&] {
        dialogSeen = dialogSeen || findDialog(SAVE_TITLE);
        const std::wstring log = logText();
        return log.size() >= 5 && log.compare(log.size() - 5, 5, L"Fail!") == 0;
    });
    REQUIRE(failedAtBlock, "no failure; log %s", shown(logText()).c_str());
    CHECK(waitLogEndsWith(CHOICE + READ_OPENING + L"Fail!", 1));
    CHECK(waitStatus(L"Operation failed!", 3));
    screenshot();
    CHECK(dropAndReconnect(READ_OPENING + L"Fail!"));
    REQUIRE(!dialogSeen && !findDialog(SAVE_TITLE), "a save dialog was shown after a bad block");
    REQUIRE(traceCount("FT_Write a0/A st=0 length=5") == 6, "%d block reads, expected 6",
            traceCount("FT_Write a0/A st=0 length=5"));
    CHECK(closeAndCheck());
    return true;
}

bool unplugWhileWaiting() {
    CHECK(connect("unplug_while_waiting", "adapter\n"));
    CHECK(control("unplug 0"));
    CHECK(waitDropped(CHOICE));
    screenshot();
    CHECK(holdsSteady(1.5));
    CHECK(control("plug 0"));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(infoLabels(L"KESTA OBD1 EMU", L"Ver. 01.02", L"COM5", L"COM6"));
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

// Unplugged at a block command: the block fails, the hold, the drop; plugged back, it connects.
bool unplugMidBlocks(const char *name, const char *scenario, int button, const std::wstring &progressLine) {
    CHECK(connect(name, scenario));
    if (button == IDC_WRITE) {
        const std::wstring path = g_runDir + L"upload.bin";
        CHECK(writeFile(path, pattern(3, IMAGE)));
        CHECK(writeFrom(path));
    } else {
        CHECK(pressButton(button));
    }
    CHECK(waitLogEndsWith(progressLine + L"Fail!", OPERATION_S));
    CHECK(waitStatus(L"Operation failed!", 3));
    screenshot();
    CHECK(waitDropped(progressLine + L"Fail!"));
    REQUIRE(!findDialog(SAVE_TITLE), "a save dialog after the adapter was lost");
    CHECK(holdsSteady(1.5));
    CHECK(control("plug 0"));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(closeAndCheck());
    return true;
}

bool unplugMidErase() {
    CHECK(unplugMidBlocks("unplug_mid_erase", "adapter\n  memory fill 00\n  unplug-at-block-command 100\n",
                          IDC_ERASE, ERASE_OPENING));
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(allBytes(memory, 0, 100 * 128, 0xFF) && allBytes(memory, 100 * 128, IMAGE, 0x00),
            "the memory does not show exactly 100 erased blocks");
    return true;
}

bool unplugMidRead() {
    return unplugMidBlocks("unplug_mid_read", "adapter\n  unplug-at-block-command 64\n", IDC_READ,
                           READ_OPENING);
}

bool unplugMidWrite() {
    return unplugMidBlocks("unplug_mid_write", "adapter\n  unplug-at-block-command 128\n", IDC_WRITE,
                           WRITE_STEP);
}

bool unplugMidUpdate() {
    CHECK(prepareRun("unplug_mid_update", "adapter\n  usb-id 04036D20\n  unplug-at-eeprom-word 30\n"));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING + FOUND_OLD + REPORT + NEEDS_UPDATE + CHOICE, CONNECT_S));
    CHECK(waitButtons("---U", 5));
    CHECK(pressButton(IDC_UPDATE));
    CHECK(waitLogEndsWith(CHOICE + UPDATE_OPENING + L"Fail! Can't program FTDI chip!", 15));
    screenshot();
    CHECK(waitDropped(L"Fail! Can't program FTDI chip!\r\n"));
    REQUIRE(traceCount("FT_WriteEE") == 31, "%d EEPROM writes, expected 31", traceCount("FT_WriteEE"));
    CHECK(control("plug 0"));
    // Plugged in, the chip reads its half-written EEPROM, finds the checksum broken and comes up
    // blank; the program knows it by its EEPROM.
    CHECK(waitLogEquals(FOUND + REPORT + DAMAGED + CHOICE, CONNECT_S));
    CHECK(closeAndCheck());
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

bool updateOldAdapter() {
    CHECK(prepareRun("update_old_adapter", "adapter\n  usb-id 04036D20\n  reenumerate-ms 1000\n"));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING + FOUND_OLD + REPORT + NEEDS_UPDATE + CHOICE, CONNECT_S));
    CHECK(waitButtons("---U", 5));
    CHECK(pressButton(IDC_UPDATE));
    // The 64 words take some 40 ms, too short to be seen; the re-connect pause lasts 2 s, and the
    // trace tells the rest.
    CHECK(waitLogEndsWith(CHOICE + UPDATE_OPENING + RECONNECT, 20));
    REQUIRE(buttonStates() == "----", "buttons %s during the re-connect pause", buttonStates().c_str());
    REQUIRE(progressShowing() && progressPosition() == 255, "the bar is not full after Update (%d)",
            progressPosition());
    screenshot();
    int word = 0;
    for (const std::string &line : traceLines()) {
        if (line.find("FT_WriteEE") == std::string::npos) continue;
        const std::string call = "FT_WriteEE a0/A st=0 word=" + std::to_string(word) + " ";
        REQUIRE(word < 64 && line.find(call) != std::string::npos, "EEPROM write %d reads %s", word, line.c_str());
        ++word;
    }
    REQUIRE(word == 64, "%d EEPROM words written, expected 64 in order", word);
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    std::vector<uint8_t> words;
    CHECK(eeprom(words));
    REQUIRE(words[2] == 0x03 && words[3] == 0x04 && words[4] == 0x10 && words[5] == 0x60,
            "the EEPROM does not hold 0403/6010");
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool closeMidErase() {
    CHECK(connect("close_mid_erase", "adapter\n  memory random 4\n"));
    CHECK(pressButton(IDC_ERASE));
    REQUIRE(waitUntil(OPERATION_S, [] { return progressShowing() && progressPosition() >= 60; }),
            "Erase did not get going (progress %d)", progressPosition());
    screenshot();
    closeWindow();
    double took = 0;
    DWORD code = 1;
    REQUIRE(waitForExit(10, &code, &took), "the program did not end within 10 s");
    printf("  ended %.2f s after WM_CLOSE\n", took);
    REQUIRE(took <= 1.5, "the program took %.2f s to end in the middle of Erase", took);
    REQUIRE(code == 0, "exit code %lu", code);
    const int blocks = traceCount("length=133");
    REQUIRE(blocks >= 60 && blocks < 256, "%d blocks were written", blocks);
    REQUIRE(!traceHas("FT_CyclePort"), "the erase went on to the re-connect");
    CHECK(checkTraceClean());
    CHECK(checkChannelsClosedAtExit());
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
    CHECK(waitControlText(IDC_BANNER, L"Exit this utility before using the Kesta Board!", 30));
    screenshot();
    CHECK(closeAndCheck());
    return true;
}

bool updateWriteFails() {
    CHECK(prepareRun("update_write_fails", "adapter\n  usb-id 04036D20\n  eeprom-fail-at-word 10\n"));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING + FOUND_OLD + REPORT + NEEDS_UPDATE + CHOICE, CONNECT_S));
    CHECK(waitButtons("---U", 5));
    CHECK(pressButton(IDC_UPDATE));
    CHECK(waitLogEndsWith(CHOICE + UPDATE_OPENING + L"Fail! Can't program FTDI chip!", 15));
    REQUIRE(progressShowing() && progressPosition() == 43, "progress at %d, expected 43",
            progressPosition());
    screenshot();
    const ULONGLONG failedAt = GetTickCount64();
    // Still attached: the disconnect tail after the pause, then the same old adapter again.
    CHECK(waitLogEquals(FOUND_OLD + REPORT + NEEDS_UPDATE + CHOICE, 20));
    REQUIRE(secondsSince(failedAt) >= 4.5, "the failure was not held for five seconds");
    REQUIRE(traceCount("FT_WriteEE") == 11, "%d EEPROM writes, expected 11", traceCount("FT_WriteEE"));
    REQUIRE(!traceHas("FT_CyclePort"), "a failed update cycled the port");
    CHECK(closeAndCheck());
    return true;
}

bool readTruncatedAnswer() {
    CHECK(connect("read_truncated_answer", "adapter\n  memory random 2\n  truncate-read-block 3 200\n"));
    CHECK(pressButton(IDC_READ));
    CHECK(waitLogEndsWith(CHOICE + READ_OPENING + L"Fail!", OPERATION_S));
    CHECK(waitStatus(L"Operation failed!", 3));
    screenshot();
    CHECK(dropAndReconnect(READ_OPENING + L"Fail!"));
    REQUIRE(!findDialog(SAVE_TITLE), "a save dialog was shown after a broken answer");
    REQUIRE(traceCount("FT_Write a0/A st=0 length=5") == 4, "%d block reads, expected 4",
            traceCount("FT_Write a0/A st=0 length=5"));
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

// The program beside no FTD2XX.dll, or beside one built for the other processor: its own error
// box captioned "Fatal error...", and the program ends with exit code 0 once it is dismissed.
bool fatalLibrary(const char *name, const wchar_t *replacement, const wchar_t *expected) {
    CHECK(prepareRun(name, "adapter\n"));
    const std::wstring dll = g_runDir + L"FTD2XX.dll";
    REQUIRE(DeleteFileW(dll.c_str()), "cannot remove the stand-in");
    if (replacement)
        REQUIRE(CopyFileW(replacement, dll.c_str(), FALSE), "cannot copy %s", utf8(replacement).c_str());
    // The box comes while the window is being shown for the first time.
    CHECK(startProgram(true, false));
    HWND box;
    CHECK(waitForDialog(L"Fatal error...", 15, box));
    const std::wstring text = messageBoxText(box);
    REQUIRE(text.find(expected) != std::wstring::npos, "the box reads %s", shown(text).c_str());
    Sleep(300);  // painted, for the screenshot
    screenshot();
    CHECK(pressMessageBoxOk(box));
    DWORD code = 1;
    REQUIRE(waitForExit(10, &code), "the program did not end after the box");
    REQUIRE(code == 0, "exit code %lu", code);
    return true;
}

bool libraryMissing() {
    return fatalLibrary("library_missing", nullptr, L"the adapter's driver library is missing");
}

bool libraryForOtherProcessor() {
    // The stand-in of the other processor beside the program: named, or the win32 build's
    // beside a program from the win64 build.
    std::wstring other = g_paths.otherStandin;
    if (other.empty()) {
        other = g_paths.standin;
        const size_t at = other.rfind(L"\\win64\\");
        REQUIRE(at != std::wstring::npos, "no win64 folder in %s", utf8(other).c_str());
        other.replace(at, 7, L"\\win32\\");
    }
    REQUIRE(fileExists(other), "no stand-in for the other processor at %s", utf8(other).c_str());
    return fatalLibrary("library_other_processor", other.c_str(), L"not built for this program's processor");
}

// A stranger's FTD2XX.dll beside the program and the vendor's installed in the system folder:
// the installed one is used, and the stranger's is never loaded (its DllMain would leave a mark).
bool systemLibraryUsed(const std::wstring &installed) {
    CHECK(prepareRun("library_system_first", "adapter\n"));
    const std::wstring planted = plantedLibrary();
    REQUIRE(CopyFileW(planted.c_str(), (g_runDir + L"FTD2XX.dll").c_str(), FALSE), "cannot copy %s",
            utf8(planted).c_str());
    REQUIRE(CopyFileW(g_paths.standin.c_str(), installed.c_str(), FALSE), "cannot install the stand-in as %s",
            utf8(installed).c_str());
    // Had the stranger's been loaded, the program would end in an error box without a window.
    const bool started = startProgram();
    REQUIRE(!fileExists(g_runDir + PLANTED_LIBRARY_MARK), "the library beside the program was loaded");
    CHECK(started);
    CHECK(waitLogEquals(FIRST_CONNECTION, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    screenshot();
    CHECK(closeAndCheck());
    REQUIRE(!fileExists(g_runDir + PLANTED_LIBRARY_MARK), "the library beside the program was loaded");
    return true;
}

bool librarySystemFirst() {
    const std::wstring system = programSystemFolder();
    REQUIRE(!system.empty(), "no system folder");
    const std::wstring installed = system + L"FTD2XX.dll";
    REQUIRE(!fileExists(installed), "%s is there before the scenario put it there", utf8(installed).c_str());
    const bool passed = systemLibraryUsed(installed);
    // The program lets go of the library when it ends; later scenarios must find none there.
    killProgram();
    REQUIRE(DeleteFileW(installed.c_str()) || !fileExists(installed), "cannot remove %s",
            utf8(installed).c_str());
    return passed;
}

// None in the system folder: the library beside the program is loaded, by its full path. A
// stranger's there is loaded too (its DllMain ran), and the program names what it lacks.
bool libraryBesideProgram() {
    const std::wstring installed = programSystemFolder() + L"FTD2XX.dll";
    REQUIRE(!fileExists(installed), "%s is there", utf8(installed).c_str());
    const std::wstring planted = plantedLibrary();
    REQUIRE(fileExists(planted), "no planted library at %s", utf8(planted).c_str());
    CHECK(fatalLibrary("library_beside_program", planted.c_str(),
                       L"FTD2XX.dll has no entry point FT_CreateDeviceInfoList."));
    REQUIRE(fileExists(g_runDir + PLANTED_LIBRARY_MARK), "the library beside the program was not loaded");
    return true;
}

// Closing the window while a file dialog is open ends the program at once: the worker is not
// stuck in a sent message, so it stops without being terminated, and nothing is written.
bool closeDuringDialog(const char *name, int button, const wchar_t *title) {
    CHECK(connect(name, "adapter\n  memory random 6\n"));
    std::vector<uint8_t> before;
    CHECK(boardMemory(before));
    CHECK(pressButton(button));
    HWND dialog;
    CHECK(waitForDialog(title, OPERATION_S, dialog));
    screenshot();
    const int blocksBefore = traceCount("length=133");
    closeWindow();
    double took = 0;
    DWORD code = 1;
    REQUIRE(waitForExit(10, &code, &took), "the program did not end within 10 s");
    printf("  ended %.2f s after WM_CLOSE\n", took);
    // A worker stuck in a sent message would cost the 2 s shutdown wait and a TerminateThread.
    REQUIRE(took <= 0.5 * g_timeFactor, "the program took %.2f s to end with the dialog open", took);
    REQUIRE(code == 0, "exit code %lu", code);
    REQUIRE(traceCount("length=133") == blocksBefore, "a block was written after the close");
    std::vector<uint8_t> after;
    CHECK(boardMemory(after));
    REQUIRE(after == before, "the board's memory changed");
    for (const std::wstring &file : filesIn(g_runDir)) {
        const bool ours = file == L"KestaOBD1EMU.exe" || file == L"FTD2XX.dll" ||
                          file == L"scenario.txt" || file == L"trace.txt" || file == L"screenshot.bmp" ||
                          file == L"memory-0.bin" || file == L"eeprom-0.bin" ||
                          file == L"adapter-handles.txt";
        REQUIRE(ours, "the close left a file behind: %s", utf8(file).c_str());
    }
    CHECK(checkTraceClean());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

// An Update cut by unplugging, the adapter plugged in again: offered Update alone with its own
// class message, repaired, and back as current.
bool repairAfterCutUpdate() {
    CHECK(prepareRun("repair_after_cut_update",
                     "adapter\n  usb-id 04036D20\n  unplug-at-eeprom-word 50\n  reenumerate-ms 1000\n"));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING + FOUND_OLD + REPORT + NEEDS_UPDATE + CHOICE, CONNECT_S));
    CHECK(waitButtons("---U", 5));
    CHECK(pressButton(IDC_UPDATE));
    CHECK(waitLogEndsWith(CHOICE + UPDATE_OPENING + CANNOT_PROGRAM, 15));
    CHECK(waitDropped(CANNOT_PROGRAM + L"\r\n"));
    CHECK(control("set 0 unplug-at-eeprom-word off"));
    CHECK(control("plug 0"));
    CHECK(waitLogEquals(FOUND + REPORT + DAMAGED + CHOICE, CONNECT_S));
    CHECK(waitButtons("---U", 5));
    CHECK(infoLabels(L"Dual RS232", L"Ver. 01.02", L"COM5", L"COM6"));
    screenshot();
    REQUIRE(traceCount("FT_ReadEE a0/A st=0") == 64, "the blank adapter was read %d times, expected 64",
            traceCount("FT_ReadEE a0/A st=0"));
    CHECK(pressButton(IDC_UPDATE));
    CHECK(waitLogEndsWith(CHOICE + UPDATE_OPENING + RECONNECT, 20));
    // Read back whole before the cycle.
    REQUIRE(traceCount("FT_ReadEE a0/A st=0") == 128, "%d EEPROM reads, expected 128",
            traceCount("FT_ReadEE a0/A st=0"));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    CHECK(infoLabels(L"KESTA OBD1 EMU", L"Ver. 01.02", L"COM5", L"COM6"));
    std::vector<uint8_t> words;
    CHECK(eeprom(words));
    REQUIRE(words[2] == 0x03 && words[3] == 0x04 && words[4] == 0x10 && words[5] == 0x60,
            "the EEPROM does not hold 0403/6010");
    REQUIRE(traceCount("FT_CyclePort a0/A st=0") == 1, "no single port cycle");
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
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

bool closeDuringSaveDialog() { return closeDuringDialog("close_during_save_dialog", IDC_READ, SAVE_TITLE); }
bool closeDuringOpenDialog() { return closeDuringDialog("close_during_open_dialog", IDC_WRITE, OPEN_TITLE); }

// Someone else's erased dual-channel chip beside our adapter: not touched while ours is there;
// alone, probed once (opened, read, closed), never written, cycled or shown.
bool foreignBlankChipNotProbed() {
    CHECK(connect("foreign_blank_chip_not_probed", "adapter\nadapter\n  eeprom fill FFFF\n  power off\n"));
    CHECK(holdsSteady(2));
    REQUIRE(traceHas("FT_GetDeviceInfoList -/- st=0 count=4"), "the blank chip is not listed");
    REQUIRE(!traceHas(" a1/"), "the blank chip was called while our adapter was attached");
    screenshot();
    CHECK(control("unplug 0"));
    CHECK(waitDropped(CHOICE));
    REQUIRE(waitUntil(10, [] { return traceHas("FT_Close a1/A st=0"); }), "the blank chip was not probed");
    CHECK(holdsSteady(2));
    REQUIRE(traceCount("FT_OpenEx a1/A st=0") == 1 && traceCount("FT_ReadEE a1/A st=0") == 64 &&
                traceCount("FT_Close a1/A st=0") == 1,
            "the blank chip was opened %d times and read %d times, expected once and 64",
            traceCount("FT_OpenEx a1/A st=0"), traceCount("FT_ReadEE a1/A st=0"));
    REQUIRE(!traceHas("FT_WriteEE a1") && !traceHas("FT_CyclePort a1") && !traceHas("FT_Write a1") &&
                !traceHas("a1/B"),
            "the blank chip was written, cycled or its channel B opened");
    CHECK(control("plug 0"));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

// --- at the display's scales ---

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
    } pictures[] = {{1000, 0, 0, 124, 50}, {1001, 124, 0, 164, 50}, {1002, 288, 0, 68, 63}};
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
        if (p.id != 1002) bandBottom = std::min(bandBottom, h);
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
    wchar_t className[16];
    GetClassNameW(control, className, 16);
    const LONG type = GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK;
    if (lstrcmpiW(className, L"Static") != 0 || (type != SS_LEFT && type != SS_CENTER)) return TRUE;
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
                 {IDC_BANNER, L"Exit this utility before using the Kesta Board!"},
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
    CHECK(infoLabels(L"KESTA OBD1 EMU", L"Ver. 01.02", L"COM5", L"COM6"));
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

bool display96() { return displayAt(96); }
bool display120() { return displayAt(120); }
bool display144() { return displayAt(144); }
bool display192() { return displayAt(192); }

// --- on the chip model: the adapter chip's packets and latency timer, the library's cost per call,
// the board's time to answer ---

const char CHIP_WORLD[] = "adapter\n  memory random 13\n  chip on\n";

bool latencyTimerSet() {
    REQUIRE(traceCount("FT_SetLatencyTimer a0/A st=0 ms=2") >= 1 &&
                traceCount("FT_SetLatencyTimer a0/B st=0 ms=2") >= 1,
            "the latency timer was not set to 2 ms on both channels");
    return true;
}

bool chipErase() {
    CHECK(eraseIn("chip_erase", CHIP_WORLD));
    return latencyTimerSet();
}

bool chipRead() {
    CHECK(connect("chip_read", CHIP_WORLD));
    const std::wstring target = g_runDir + L"image.bin";
    HWND dialog;
    CHECK(readUntilSaveDialog(dialog));
    CHECK(answerDialog(dialog, target));
    CHECK(waitLogEndsWith(CHOICE + READ_OPENING + SAVE_STEP + RECONNECT, 10));
    std::vector<uint8_t> saved, memory;
    REQUIRE(readFile(target, saved), "no file at %s", utf8(target).c_str());
    CHECK(boardMemory(memory));
    REQUIRE(saved == memory, "the saved file differs from the board memory");
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(closeAndCheck());
    return latencyTimerSet();
}

bool chipWrite() {
    CHECK(writeIn("chip_write", CHIP_WORLD));
    return latencyTimerSet();
}

const Scenario SCENARIOS[] = {
    {"start_state", startState},
    {"first_connection", firstConnection},
    {"default_world", defaultWorld},
    {"close_while_waiting", closeWhileWaiting},
    {"erase", erase},
    {"read_non_ascii_path", readNonAsciiPath},
    {"write", write},
    {"write_invalid_size", writeInvalidSize},
    {"update_old_adapter", updateOldAdapter},
    {"unplug_while_waiting", unplugWhileWaiting},
    {"timed_unplug_and_plug", timedUnplugAndPlug},
    {"unplug_mid_erase", unplugMidErase},
    {"unplug_mid_read", unplugMidRead},
    {"unplug_mid_write", unplugMidWrite},
    {"unplug_mid_update", unplugMidUpdate},
    {"close_mid_erase", closeMidErase},
    {"second_instance", secondInstance},
    {"escape_and_enter", escapeAndEnter},
    {"cancelled_dialogs", cancelledDialogs},
    {"read_over_existing_file", readOverExistingFile},
    {"read_overwrite_question", readOverwriteQuestion},
    {"write_refused_block", writeRefusedBlock},
    {"verify_mismatch", verifyMismatch},
    {"read_bad_checksum", readBadChecksum},
    {"silent_board", silentBoard},
    {"two_adapters", twoAdapters},
    {"foreign_devices_ignored", foreignDevicesIgnored},
    {"hover_description", hoverDescription},
    {"banner_cycle", bannerCycle},
    {"update_write_fails", updateWriteFails},
    {"read_truncated_answer", readTruncatedAnswer},
    {"log_trim", logTrim},
    {"library_missing", libraryMissing},
    {"library_other_processor", libraryForOtherProcessor},
    {"library_system_first", librarySystemFirst},
    {"library_beside_program", libraryBesideProgram},
    {"close_during_save_dialog", closeDuringSaveDialog},
    {"close_during_open_dialog", closeDuringOpenDialog},
    {"repeated_close", repeatedClose},
    {"image_file_saves", imageFileSaves},
    {"repair_after_cut_update", repairAfterCutUpdate},
    {"foreign_blank_chip_not_probed", foreignBlankChipNotProbed},
    {"display_96", display96},
    {"display_120", display120},
    {"display_144", display144},
    {"display_192", display192},
    {"chip_erase", chipErase},
    {"chip_read", chipRead},
    {"chip_write", chipWrite},
    {"soak", soak},
};

}  // namespace

const Scenario *scenarios(size_t &count) {
    count = sizeof SCENARIOS / sizeof SCENARIOS[0];
    return SCENARIOS;
}
