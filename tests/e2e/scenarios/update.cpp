// The EEPROM Update: an old adapter brought to the current identity, an Update that fails
// or is cut short, and the repair of an adapter it left blank.
#include "tests/e2e/scenarios.h"
#include "tests/e2e/steps.h"

namespace {

bool unplugMidUpdate() {
    CHECK(connectOld("unplug_mid_update", "adapter\n  usb-id 04036D20\n  unplug-at-eeprom-word 30\n"));
    CHECK(pressButton(IDC_UPDATE));
    CHECK(waitLogEndsWith(CHOICE + UPDATE_OPENING + CANNOT_PROGRAM, 15));
    screenshot();
    CHECK(waitDropped(CANNOT_PROGRAM + L"\r\n"));
    REQUIRE(traceCount("FT_WriteEE") == 31, "%d EEPROM writes, expected 31", traceCount("FT_WriteEE"));
    CHECK(control("plug 0"));
    // Plugged in, the chip reads its half-written EEPROM, finds the checksum broken and comes up
    // blank; the program knows it by its EEPROM.
    CHECK(waitLogEquals(FOUND + REPORT + DAMAGED + CHOICE, CONNECT_S));
    CHECK(closeAndCheck());
    return true;
}

bool updateOldAdapter() {
    CHECK(connectOld("update_old_adapter", "adapter\n  usb-id 04036D20\n  reenumerate-ms 1000\n"));
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
    CHECK(eepromIsCurrent());
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

// The port cycle after an Update fails: the adapter keeps its old identity until it is unplugged,
// and the user is told so for the failure pause before it is found again, old.
bool updateCycleFails() {
    CHECK(connectOld("update_cycle_fails", "adapter\n  usb-id 04036D20\n  cycle-port-fails on\n"));
    const std::wstring offered = FOUND_OLD + REPORT + NEEDS_UPDATE + CHOICE;
    CHECK(pressButton(IDC_UPDATE));
    CHECK(waitLogEquals(SEARCHING + offered + UPDATE_OPENING + RECONNECT + REPLUG, 20));
    const ULONGLONG toldAt = GetTickCount64();
    CHECK(waitStatus(REPLUG_STATUS, 2));
    screenshot();
    CHECK(waitLogEquals(offered, CONNECT_S));
    REQUIRE(secondsSince(toldAt) >= 4.5, "found again %.2f s after the re-plug text", secondsSince(toldAt));
    REQUIRE(traceCount("FT_CyclePort a0/A st=4") == 1, "not one failed port cycle");
    CHECK(dropAndReconnect(offered));
    CHECK(closeAndCheck());
    return true;
}

// A WM_QUIT posted to the GUI thread once the Update has begun (its library calls slowed to 5 ms,
// so that its words take most of a second): the words are written whole, and the program ends as
// a close would, without the port cycle and with both channels closed.
bool quitPostedMidUpdate() {
    CHECK(connectOld("quit_posted_mid_update", "adapter\n  usb-id 04036D20\n  chip on\n  call-cost-us 5000\n"));
    CHECK(pressButton(IDC_UPDATE));
    REQUIRE(waitUntil(10, [] { return traceHas("FT_WriteEE"); }), "the Update did not begin");
    REQUIRE(PostThreadMessageW(GetWindowThreadProcessId(mainWindow(), nullptr), WM_QUIT, 0, 0),
            "WM_QUIT could not be posted");
    printf("  WM_QUIT posted after %d EEPROM words\n", traceCount("FT_WriteEE"));
    DWORD code = 1;
    REQUIRE(waitForExit(10, &code), "the program did not end within 10 s of WM_QUIT");
    REQUIRE(code == 0, "exit code %lu", code);
    const int words = traceCount("FT_WriteEE a0/A st=0");
    printf("  %d EEPROM words written, %d read back\n", words, traceCount("FT_ReadEE a0/A st=0"));
    REQUIRE(words == 64, "the Update was cut after %d words", words);
    REQUIRE(!traceHas("FT_CyclePort"), "the port was cycled after the quit");
    CHECK(checkTraceClean());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

bool updateWriteFails() {
    CHECK(connectOld("update_write_fails", "adapter\n  usb-id 04036D20\n  eeprom-fail-at-word 10\n"));
    CHECK(pressButton(IDC_UPDATE));
    CHECK(waitLogEndsWith(CHOICE + UPDATE_OPENING + CANNOT_PROGRAM, 15));
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

// An Update cut by unplugging, the adapter plugged in again: offered Update alone with its own
// class message, repaired, and back as current.
bool repairAfterCutUpdate() {
    CHECK(connectOld("repair_after_cut_update",
                     "adapter\n  usb-id 04036D20\n  unplug-at-eeprom-word 50\n  reenumerate-ms 1000\n"));
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
    CHECK(infoConnected());
    CHECK(eepromIsCurrent());
    REQUIRE(traceCount("FT_CyclePort a0/A st=0") == 1, "no single port cycle");
    CHECK(closeAndCheck());
    CHECK(checkChannelsClosedAtExit());
    return true;
}

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

const Scenario SCENARIOS[] = {
    {"update_old_adapter", updateOldAdapter},
    {"update_cycle_fails", updateCycleFails},
    {"quit_posted_mid_update", quitPostedMidUpdate},
    {"unplug_mid_update", unplugMidUpdate},
    {"update_write_fails", updateWriteFails},
    {"repair_after_cut_update", repairAfterCutUpdate},
    {"foreign_blank_chip_not_probed", foreignBlankChipNotProbed},
};

}  // namespace

const Scenario *updateScenarios(size_t &count) { return tableOf(SCENARIOS, count); }
