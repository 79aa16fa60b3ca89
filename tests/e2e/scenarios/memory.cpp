// Erase, Read and Write on the board's memory: the files and dialogs, the read-back, and
// every way a block or a file step fails.
#include "tests/e2e/scenarios.h"
#include "tests/e2e/steps.h"

namespace {

bool readNonAsciiPath() {
    CHECK(connect("read_non_ascii_path", "adapter\n  memory random 11\n"));
    const std::wstring folder = g_runDir + L"Bilder_\u00e4\u00f6\u00fc_\u6d4b\u8bd5\\";
    REQUIRE(CreateDirectoryW(folder.c_str(), nullptr), "cannot make %s", utf8(folder).c_str());
    CHECK(readTo(folder + L"image.bin"));
    const std::vector<std::wstring> names = filesIn(folder);
    REQUIRE(names.size() == 1, "the folder holds %u files (a temporary file left behind?)",
            unsigned(names.size()));
    CHECK(closeAndCheck());
    return true;
}

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
    REQUIRE(!traceHas(BLOCK_WRITES), "a block was written");
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
    CHECK(failedFileStepStays(CANCELED, OPERATION_CANCELED));
    REQUIRE(traceCount("FT_OpenEx a0/A st=0") == 1, "the cancelled Write dropped the connection");

    // Read: the data was read already, so the connection drops and comes back.
    CHECK(readUntilSaveDialog(dialog));
    CHECK(cancelDialog(dialog));
    CHECK(waitStatus(OPERATION_CANCELED, 5));
    CHECK(waitLogEndsWith(READ_OPENING + SAVE_STEP + CANCELED, 2));
    screenshot();
    CHECK(dropAndReconnect(SAVE_STEP + CANCELED));
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
    CHECK(waitStatus(OPERATION_CANCELED, 5));
    CHECK(waitLogEndsWith(SAVE_STEP + CANCELED, 2));
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

// "Mismatch!\r\nAt 0x1234 read 5E, sent 5A.\r\n1 byte differs." and the explanation, if any.
std::wstring verifyFailure(uint32_t first, uint8_t read, uint8_t sent, size_t count, const wchar_t *why) {
    wchar_t text[160];
    swprintf(text, 160, L"Mismatch!\r\nAt 0x%04X read %02X, sent %02X.\r\n%u %ls%ls%ls", unsigned(first), read,
             sent, unsigned(count), count == 1 ? L"byte differs." : L"bytes differ.", *why ? L"\r\n" : L"", why);
    return VERIFY_STEP + text;
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
    CHECK(writeImage(image));
    CHECK(failedAndReconnected(WRITE_STEP + verifyFailure(0x1234, image[0x1234] | 4, image[0x1234], 1, L""),
                               VERIFY_FAILED));
    REQUIRE(traceCount(BLOCK_WRITES) == 256 && traceCount(READ_REQUESTS) == 128,
            "%d blocks written and %d read back, expected 256 and 128", traceCount(BLOCK_WRITES),
            traceCount(READ_REQUESTS));

    // Then a block the board acknowledges and never stores.
    CHECK(control("set 0 stuck-bit off"));
    CHECK(control("set 0 drop-write-block 77"));
    CHECK(pressButton(IDC_ERASE));
    CHECK(failedAndReconnected(
        ERASE_OPENING + verifyFailure(0x2680, image[0x2680], 0xFF, 128, L"Block 0x2680 was not kept."),
        VERIFY_FAILED));
    REQUIRE(!traceHas("FT_CyclePort"), "a failed verify cycled the port");
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(allBytes(memory, 0, 0x2680, 0xFF) && sameBytes(memory, image, 0x2680, 0x2700) &&
                allBytes(memory, 0x2700, IMAGE, 0xFF),
            "the board does not hold the erase with block 77 kept");

    // A memory chip that ignores address line A14: each low address reads its high twin.
    CHECK(control("set 0 drop-write-block off"));
    CHECK(control("set 0 ignore-address-lines 4000"));
    CHECK(writeImage(image));
    size_t twins = 0, first = 0x4000;
    for (size_t a = 0x3FFF; a < 0x4000; --a)
        if (image[a] != image[a | 0x4000]) ++twins, first = a;
    const std::wstring aliased = WRITE_STEP + verifyFailure(uint32_t(first), image[first | 0x4000], image[first],
                                                            twins, L"Address line A14 is faulty.");
    CHECK(waitLogEndsWith(aliased, OPERATION_S));
    CHECK(keepLog(L"log-write-ignores-A14.txt"));
    CHECK(failedAndReconnected(aliased, VERIFY_FAILED));

    // A data line stuck at 0 for the whole chip.
    CHECK(control("set 0 ignore-address-lines off"));
    CHECK(control("set 0 stuck-data-line 3 0"));
    CHECK(pressButton(IDC_ERASE));
    const std::wstring stuck = ERASE_OPENING + verifyFailure(0, 0xF7, 0xFF, IMAGE, L"Data bit D3 is stuck at 0.");
    CHECK(waitLogEndsWith(stuck, OPERATION_S));
    CHECK(keepLog(L"log-erase-D3-stuck-at-0.txt"));
    CHECK(failedAndReconnected(stuck, VERIFY_FAILED));

    // A line wider than the pane is cut at its end; the others keep their first letters.
    CHECK(appendToLog(L"\r\nA line that is much wider than the log pane can show at once."));
    CHECK(logAtLeftEdge());
    CHECK(closeAndCheck());
    return true;
}

bool writeRefusedBlock() {
    CHECK(connect("write_refused_block", "adapter\n  memory fill 00\n  refuse-write-block 100\n"));
    const std::vector<uint8_t> image = pattern(9, IMAGE);
    CHECK(writeImage(image));
    CHECK(failedAndReconnected(WRITE_STEP + BLOCK_FAILED, OPERATION_FAILED));
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(sameBytes(memory, image, 0, 100 * 128), "blocks 0 to 99 do not hold the file");
    REQUIRE(allBytes(memory, 100 * 128, IMAGE, 0x00), "blocks from 100 on were changed");
    REQUIRE(traceCount(BLOCK_WRITES) == 101, "%d block writes, expected 101", traceCount(BLOCK_WRITES));
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
    CHECK(waitLogEndsWith(CHOICE + READ_OPENING + BLOCK_FAILED, 1));
    CHECK(failedAndReconnected(READ_OPENING + BLOCK_FAILED, OPERATION_FAILED));
    REQUIRE(!dialogSeen && !findDialog(SAVE_TITLE), "a save dialog was shown after a bad block");
    REQUIRE(traceCount(BLOCK_REQUESTS) == 6, "%d block reads, expected 6", traceCount(BLOCK_REQUESTS));
    CHECK(closeAndCheck());
    return true;
}

// Unplugged at a block command: the block fails, the hold, the drop; plugged back, it connects.
bool unplugMidBlocks(const char *name, const char *scenario, int button, const std::wstring &progressLine) {
    CHECK(connect(name, scenario));
    CHECK(button == IDC_WRITE ? writeImage(pattern(3, IMAGE)) : pressButton(button));
    CHECK(waitLogEndsWith(progressLine + BLOCK_FAILED, OPERATION_S));
    CHECK(waitStatus(OPERATION_FAILED, 3));
    screenshot();
    CHECK(waitDropped(progressLine + BLOCK_FAILED));
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

bool readTruncatedAnswer() {
    CHECK(connect("read_truncated_answer", "adapter\n  memory random 2\n  truncate-read-block 3 200\n"));
    CHECK(pressButton(IDC_READ));
    CHECK(waitLogEndsWith(CHOICE + READ_OPENING + BLOCK_FAILED, OPERATION_S));
    CHECK(failedAndReconnected(READ_OPENING + BLOCK_FAILED, OPERATION_FAILED));
    REQUIRE(!findDialog(SAVE_TITLE), "a save dialog was shown after a broken answer");
    REQUIRE(traceCount(BLOCK_REQUESTS) == 4, "%d block reads, expected 4", traceCount(BLOCK_REQUESTS));
    CHECK(closeAndCheck());
    return true;
}

const Scenario SCENARIOS[] = {
    {"erase", [] { return eraseIn("erase", "adapter\n  memory random 3\n"); }},
    {"read_non_ascii_path", readNonAsciiPath},
    {"write", [] { return writeIn("write", "adapter\n  memory random 5\n"); }},
    {"write_invalid_size", writeInvalidSize},
    {"unplug_mid_erase", unplugMidErase},
    {"unplug_mid_read", unplugMidRead},
    {"unplug_mid_write", unplugMidWrite},
    {"cancelled_dialogs", cancelledDialogs},
    {"read_over_existing_file", readOverExistingFile},
    {"read_overwrite_question", readOverwriteQuestion},
    {"write_refused_block", writeRefusedBlock},
    {"verify_mismatch", verifyMismatch},
    {"read_bad_checksum", readBadChecksum},
    {"read_truncated_answer", readTruncatedAnswer},
};

}  // namespace

const Scenario *memoryScenarios(size_t &count) { return tableOf(SCENARIOS, count); }
