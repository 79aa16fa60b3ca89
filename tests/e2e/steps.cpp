// Steps the end-to-end scenarios share.
#include "tests/e2e/steps.h"

#include <cstring>

bool connect(const char *name, const std::string &scenario) {
    CHECK(prepareRun(name, scenario));
    CHECK(startProgram());
    CHECK(waitLogEquals(FIRST_CONNECTION, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    return true;
}

bool connectOld(const char *name, const std::string &scenario) {
    CHECK(prepareRun(name, scenario));
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING + FOUND_OLD + REPORT + NEEDS_UPDATE + CHOICE, CONNECT_S));
    CHECK(waitButtons("---U", 5));
    return true;
}

bool closeAndCheck(double seconds) {
    closeWindow();
    DWORD code = 1;
    double took = 0;
    REQUIRE(waitForExit(seconds, &code, &took), "the program did not end within %.1f s of WM_CLOSE", seconds);
    REQUIRE(code == 0, "exit code %lu", code);
    printf("  ended %.2f s after WM_CLOSE\n", took);
    CHECK(checkTraceClean());
    return true;
}

bool closeWithin(double limit) {
    closeWindow();
    return endedWithin(limit);
}

bool endedWithin(double limit) {
    double took = 0;
    DWORD code = 1;
    REQUIRE(waitForExit(10, &code, &took), "the program did not end within 10 s");
    printf("  ended %.2f s later\n", took);
    REQUIRE(took <= limit, "the program took %.2f s to end, expected at most %.2f", took, limit);
    REQUIRE(code == 0, "exit code %lu", code);
    CHECK(checkTraceClean());
    CHECK(checkChannelsClosedAtExit());
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

bool infoConnected() { return infoLabels(L"KESTA OBD1 EMU", L"Ver. 01.02", L"COM5", L"COM6"); }

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

bool sessionMayEnd(bool expected, const char *when) {
    DWORD_PTR answer = 0;
    REQUIRE(SendMessageTimeoutW(mainWindow(), WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer),
            "no answer to WM_QUERYENDSESSION %s", when);
    printf("  WM_QUERYENDSESSION %s: %s\n", when, answer ? "TRUE" : "FALSE");
    REQUIRE((answer != 0) == expected, "WM_QUERYENDSESSION %s answered %s", when, answer ? "TRUE" : "FALSE");
    return true;
}

bool eepromIsCurrent() {
    std::vector<uint8_t> words;
    CHECK(eeprom(words));
    REQUIRE(words[2] == 0x03 && words[3] == 0x04 && words[4] == 0x10 && words[5] == 0x60,
            "the EEPROM does not hold 0403/6010");
    return true;
}

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

bool writeImage(const std::vector<uint8_t> &image) {
    const std::wstring path = g_runDir + L"upload.bin";
    CHECK(writeFile(path, image));
    return writeFrom(path);
}

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

bool readTo(const std::wstring &target) {
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
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
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
    const char erasing[] = "FT_Write a0/A st=0 length=133 data=57";
    REQUIRE(traceCount(erasing) == 256 && traceCount(READ_REQUESTS) == 128,
            "%d block writes and %d reads back, expected 256 and 128", traceCount(erasing),
            traceCount(READ_REQUESTS));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    REQUIRE(traceCount("FT_CyclePort a0/A st=0") == 1, "no single port cycle after Erase");
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool writeIn(const char *name, const std::string &world) {
    CHECK(connect(name, world));
    const std::vector<uint8_t> image = pattern(77, IMAGE);
    CHECK(sessionMayEnd(true, "while waiting for the choice"));
    CHECK(writeImage(image));
    CHECK(waitLogEndsWith(CHOICE + WRITE_OPENING + WRITE_STEP, 10));
    CHECK(waitProgressShowing(5));
    CHECK(sessionMayEnd(false, "during the Write"));
    screenshot();
    CHECK(waitLogEndsWith(CHOICE + WRITE_OPENING + WRITE_STEP + VERIFY_STEP + RECONNECT, OPERATION_S));
    REQUIRE(traceCount(READ_REQUESTS) == 128, "%d blocks read back, expected 128", traceCount(READ_REQUESTS));
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(memory == image, "the board memory differs from the file written");
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(sessionMayEnd(true, "once the Write has ended"));
    CHECK(closeAndCheck());
    return true;
}

bool waitDropped(const std::wstring &before) {
    CHECK(waitLogEndsWith(before + DISCONNECTED, 15));
    CHECK(infoLabels(L"", L"", L"", L""));
    CHECK(waitButtons("----", 2));
    return true;
}

bool dropAndReconnect(const std::wstring &before) {
    CHECK(control("unplug 0"));
    CHECK(waitDropped(before));
    CHECK(control("plug 0"));
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    return true;
}

bool failedAndReconnected(const std::wstring &failure, const std::wstring &status) {
    CHECK(waitLogEndsWith(failure, OPERATION_S));
    CHECK(waitStatus(status, 3));
    screenshot();
    CHECK(dropAndReconnect(failure));
    return true;
}
