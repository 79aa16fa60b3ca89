// What the program writes and shows, as the end-to-end scenarios and the soak expect to see it:
// log texts, status texts and dialog titles, with the stand-in's default adapter and board.
#pragma once

#include <string>

inline const std::wstring SEARCHING = L"Searching for device...\r\n";
inline const std::wstring FOUND = L"Found Kesta OBD1 EMU [0403/6010].\r\nConnecting... ";
inline const std::wstring FOUND_OLD = L"Found Kesta OBD1 EMU [0403/6D20].\r\nConnecting... ";
inline const std::wstring REPORT =
    L"Ok.\r\nOstrich Ver. 01.02.\r\nRTP port:\t\tCOM5.\r\nDatalog port:\tCOM6.\r\n---\r\n";
inline const std::wstring REPORT_AGAIN =
    L"\r\nOstrich Ver. 01.02.\r\nRTP port:\t\tCOM5.\r\nDatalog port:\tCOM6.\r\n---\r\n";
inline const std::wstring CHOICE = L"Waiting for your choice...";
inline const std::wstring NEEDS_UPDATE = L"Kesta OBD1 EMU needs an update.\r\n";
inline const std::wstring DAMAGED = L"Damaged adapter configuration.\r\nThe problem will be fixed after update.\r\n";
inline const std::wstring CANNOT_PROGRAM = L"Fail! Can't program FTDI chip!";
inline const std::wstring FIRST_CONNECTION = SEARCHING + FOUND + REPORT + CHOICE;
// A later identification empties the log first.
inline const std::wstring RECONNECTED = FOUND + REPORT + CHOICE;
inline const std::wstring DISCONNECTED = L"\r\nECU was disconnected, wait for connect...";
inline const std::wstring NO_STATUS = L"Unable to determine device status.\r\nIs ECU power connected?";
inline const std::wstring BANNER_FIRST = L"Disconnection USB during operation may damage the ECU!";
inline const std::wstring START_STATUS = L"Connect the ECU with Kesta OBD1 EMU installed";
inline const std::wstring ERASE_OPENING = L" Erase.\r\nClear ECU memory, wait... ";
inline const std::wstring READ_OPENING = L" Read.\r\nRead data from ECU, wait... ";
inline const std::wstring SAVE_STEP = L" Ok.\r\nSave binary file... ";
inline const std::wstring WRITE_OPENING = L" Write.\r\nLoad binary file... ";
inline const std::wstring WRITE_STEP = L" Ok.\r\nWrite data to ECU, wait... ";
inline const std::wstring UPDATE_OPENING = L" Update.\r\nUpdate, wait... ";
inline const std::wstring VERIFY_STEP = L" Ok.\r\nVerify ECU memory, wait... ";
inline const std::wstring RECONNECT = L" Ok.\r\nRe-connect...";
inline const std::wstring REPLUG = L"\r\nUnplug the adapter and plug it in again.";
inline constexpr wchar_t SAVE_TITLE[] = L"Saving binary file...";
inline constexpr wchar_t OPEN_TITLE[] = L"Select the BIN-file to write...";
