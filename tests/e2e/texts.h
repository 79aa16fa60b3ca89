// What the program writes and shows, widened for the end-to-end scenarios and the soak from the
// one list in tests/support/texts.h, and the longer texts they are made of.
#pragma once

#include <string>

#include "tests/support/texts.h"

inline std::wstring widened(const char *ascii) {
    return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

inline const std::wstring SEARCHING = widened(text::SEARCHING);
inline const std::wstring FOUND = widened(text::FOUND);
inline const std::wstring FOUND_OLD = widened(text::FOUND_OLD);
inline const std::wstring REPORT_AGAIN = widened(text::PORTS);
inline const std::wstring REPORT = L"Ok." + REPORT_AGAIN;
inline const std::wstring CHOICE = widened(text::CHOICE);
inline const std::wstring NEEDS_UPDATE = widened(text::NEEDS_UPDATE);
inline const std::wstring DAMAGED = widened(text::DAMAGED);
inline const std::wstring CANNOT_PROGRAM = widened(text::CANNOT_PROGRAM);
inline const std::wstring FIRST_CONNECTION = SEARCHING + FOUND + REPORT + CHOICE;
// A later identification empties the log first.
inline const std::wstring RECONNECTED = FOUND + REPORT + CHOICE;
inline const std::wstring DISCONNECTED = widened(text::DISCONNECTED);
inline const std::wstring NO_STATUS = widened(text::NO_STATUS);
inline const std::wstring BANNER_FIRST = widened(text::BANNER_FIRST);
inline const std::wstring BANNER_SECOND = widened(text::BANNER_SECOND);
inline const std::wstring START_STATUS = widened(text::START_STATUS);
inline const std::wstring ERASE_OPENING = widened(text::ERASE_OPENING);
inline const std::wstring READ_OPENING = widened(text::READ_OPENING);
inline const std::wstring SAVE_STEP = widened(text::SAVE_STEP);
inline const std::wstring WRITE_OPENING = widened(text::WRITE_OPENING);
inline const std::wstring WRITE_STEP = widened(text::WRITE_STEP);
inline const std::wstring UPDATE_OPENING = widened(text::UPDATE_OPENING);
inline const std::wstring VERIFY_STEP = widened(text::VERIFY_STEP);
inline const std::wstring RECONNECT = widened(text::RECONNECT);
inline const std::wstring REPLUG = widened(text::REPLUG);
inline const std::wstring REPLUG_STATUS = widened(text::REPLUG_STATUS);
inline const std::wstring BLOCK_FAILED = widened(text::BLOCK_FAILED);
inline const std::wstring CANCELED = widened(text::CANCELED);
inline const std::wstring OPERATION_FAILED = widened(text::OPERATION_FAILED);
inline const std::wstring OPERATION_CANCELED = widened(text::OPERATION_CANCELED);
inline const std::wstring VERIFY_FAILED = widened(text::VERIFY_FAILED);
inline const std::wstring SAVE_TITLE = widened(text::SAVE_TITLE);
inline const std::wstring OPEN_TITLE = widened(text::OPEN_TITLE);
