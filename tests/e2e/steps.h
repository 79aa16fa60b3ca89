// Steps the end-to-end scenarios share: connecting, closing, the operations' common courses and
// the states they pass through. Each reports its own failure (see REQUIRE and CHECK in e2e.h).
#pragma once

#include "tests/e2e/e2e.h"
#include "tests/e2e/texts.h"

constexpr size_t IMAGE = 32768;
// Generous deadlines for Wine: a search and connection, a whole block operation.
constexpr double CONNECT_S = 30;
constexpr double OPERATION_S = 40;

// What the stand-in's trace shows of the board's traffic on channel A.
inline constexpr char BLOCK_WRITES[] = "length=133";
inline constexpr char BLOCK_REQUESTS[] = "FT_Write a0/A st=0 length=5";  // block reads
inline constexpr char READ_REQUESTS[] = "FT_Write a0/A st=0 length=5 data=52";

// Starts the program against `scenario` and waits for the first connection to be reported; with
// `old`, for the old adapter's report, which offers Update alone.
bool connect(const char *name, const std::string &scenario);
bool connectOld(const char *name, const std::string &scenario);
// Closes the window and checks the program ended cleanly within `seconds`.
bool closeAndCheck(double seconds = 5);
// Closes the window and checks the program ended with code 0 within `limit` seconds (of a
// 10-second wait), its trace clean and both channels closed.
bool closeWithin(double limit);
// The same once the program was told to end in another way.
bool endedWithin(double limit);

bool infoLabels(const std::wstring &type, const std::wstring &version, const std::wstring &rtp,
                const std::wstring &data);
bool infoConnected();  // the stand-in's default adapter and board
// The progress bar in place of the status line, at a position from 1 to 255.
bool progressShowing();
bool waitProgressShowing(double seconds);
// The status line shown in the strip with `text` (a hidden status line may keep an older text).
bool waitStatus(const std::wstring &text, double seconds);

bool allBytes(const std::vector<uint8_t> &bytes, size_t from, size_t to, uint8_t value);
bool sameBytes(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, size_t from, size_t to);
// The program's answer to WM_QUERYENDSESSION is `expected` (TRUE: Windows may end the session).
bool sessionMayEnd(bool expected, const char *when);
// The adapter's EEPROM holds the current USB identity, 0403/6010.
bool eepromIsCurrent();

// Presses Write and answers its dialog with `path`.
bool writeFrom(const std::wstring &path);
// Saves `image` as upload.bin in the run folder and writes it as writeFrom does.
bool writeImage(const std::vector<uint8_t> &image);
// Presses Read and waits for its save dialog after the whole memory was read.
bool readUntilSaveDialog(HWND &dialog);
// A whole Read saved to `target`: the file holds the board's memory.
bool readTo(const std::wstring &target);
// A whole Erase or Write, verified, on a board in `world`, and the connection after it.
bool eraseIn(const char *name, const std::string &world);
bool writeIn(const char *name, const std::string &world);

// After a failed hold: the disconnect line, the info box emptied, the buttons disabled.
bool waitDropped(const std::wstring &before);
// A failure that drops the connection with the adapter still attached re-connects at once. The
// adapter is unplugged during the hold (the stand-in takes it at the next library call, the
// close after the disconnect line), so the dropped state can be seen; then it comes back.
bool dropAndReconnect(const std::wstring &before);
// The log ends with `failure`, the status line reads `status`; then dropped and re-connected.
bool failedAndReconnected(const std::wstring &failure, const std::wstring &status);
