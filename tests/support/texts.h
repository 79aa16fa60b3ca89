// What the program writes and shows, as every test expects to see it: log texts, status texts
// and dialog titles, said once. The native tests compare them as they are; the end-to-end suite
// widens them (tests/e2e/texts.h). With the simulator's default adapter and board where a text
// carries what the adapter reports.
#pragma once

namespace text {

inline constexpr char SEARCHING[] = "Searching for device...\r\n";
inline constexpr char CONNECTING[] = "].\r\nConnecting... ";
inline constexpr char FOUND[] = "Found Kesta OBD1 EMU [0403/6010].\r\nConnecting... ";
inline constexpr char FOUND_OLD[] = "Found Kesta OBD1 EMU [0403/6D20].\r\nConnecting... ";
inline constexpr char PORTS[] = "\r\nOstrich Ver. 01.02.\r\nRTP port:\t\tCOM5.\r\nDatalog port:\tCOM6.\r\n---\r\n";
inline constexpr char CHOICE[] = "Waiting for your choice...";
inline constexpr char NEEDS_UPDATE[] = "Kesta OBD1 EMU needs an update.\r\n";
inline constexpr char INVALID_ID[] = "Invalid USBID.\r\nThe problem will be fixed after update.\r\n";
inline constexpr char DAMAGED[] =
    "Damaged adapter configuration.\r\nThe problem will be fixed after update.\r\n";
inline constexpr char CANNOT_PROGRAM[] = "Fail! Can't program FTDI chip!";
inline constexpr char DISCONNECTED[] = "\r\nECU was disconnected, wait for connect...";
inline constexpr char NO_STATUS[] = "Unable to determine device status.\r\nIs ECU power connected?";
inline constexpr char BANNER_FIRST[] = "Disconnection USB during operation may damage the ECU!";
inline constexpr char BANNER_SECOND[] = "Exit this utility before using the Kesta Board!";
inline constexpr char START_STATUS[] = "Connect the ECU with Kesta OBD1 EMU installed";

inline constexpr char ERASE_OPENING[] = " Erase.\r\nClear ECU memory, wait... ";
inline constexpr char READ_OPENING[] = " Read.\r\nRead data from ECU, wait... ";
inline constexpr char SAVE_STEP[] = " Ok.\r\nSave binary file... ";
inline constexpr char WRITE_OPENING[] = " Write.\r\nLoad binary file... ";
inline constexpr char WRITE_STEP[] = " Ok.\r\nWrite data to ECU, wait... ";
inline constexpr char UPDATE_OPENING[] = " Update.\r\nUpdate, wait... ";
inline constexpr char VERIFY_STEP[] = " Ok.\r\nVerify ECU memory, wait... ";
inline constexpr char RECONNECT[] = " Ok.\r\nRe-connect...";
inline constexpr char REPLUG[] = "\r\nUnplug the adapter and plug it in again.";
inline constexpr char REPLUG_STATUS[] = "Re-plug the adapter!";
inline constexpr char BLOCK_FAILED[] = "Fail!";
inline constexpr char CANCELED[] = "Canceled.\r\n";
inline constexpr char OPERATION_FAILED[] = "Operation failed!";
inline constexpr char OPERATION_CANCELED[] = "Operation canceled!";
inline constexpr char VERIFY_FAILED[] = "Verify failed!";
inline constexpr char SAVE_TITLE[] = "Saving binary file...";
inline constexpr char OPEN_TITLE[] = "Select the BIN-file to write...";

}  // namespace text
