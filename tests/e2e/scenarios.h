// The table of end-to-end scenarios, run one at a time by name.
#pragma once

#include <cstddef>

struct Scenario {
    const char *name;
    bool (*run)();  // true: passed; a failure has been reported
};

// Every scenario, in the order the test command runs them.
const Scenario *scenarios(size_t &count);
// The benchmark's runs: not tests, run by tools/bench.sh only.
const Scenario *benchmarks(size_t &count);

// The program's image file code on the real file calls (image_files.cpp).
bool imageFileSaves();

// scenarios/connection.cpp: connection and closing
bool startState(), firstConnection(), defaultWorld(), secondInstance(), escapeAndEnter(),
     closeWhileWaiting(), unplugWhileWaiting(), timedUnplugAndPlug(), silentBoard(), twoAdapters(),
     foreignDevicesIgnored(), closeMidErase(), hoverDescription(), bannerCycle(), logTrim(),
     repeatedClose(), closeDuringSaveDialog(), closeDuringOpenDialog();

// scenarios/memory.cpp: Erase, Read and Write
bool erase(), readNonAsciiPath(), write(), writeInvalidSize(), cancelledDialogs(),
     readOverExistingFile(), readOverwriteQuestion(), verifyMismatch(), writeRefusedBlock(),
     readBadChecksum(), unplugMidErase(), unplugMidRead(), unplugMidWrite(), readTruncatedAnswer();

// scenarios/update.cpp: Update and repair
bool unplugMidUpdate(), updateOldAdapter(), updateWriteFails(), repairAfterCutUpdate(),
     foreignBlankChipNotProbed();

// scenarios/library.cpp: library loading
bool libraryMissing(), libraryForOtherProcessor(), librarySystemFirst(), libraryBesideProgram();

// scenarios/display.cpp: display scale
bool display96(), display120(), display144(), display192();

// scenarios/chip.cpp: the chip model's timing
bool chipErase(), chipRead(), chipWrite();


// The long session (soak.cpp). Its size: the short one by default, the full one with
// `e2e_driver soak --full` (tools/e2e.sh soak --full), any other with --soak-connections N
// --soak-operations M.
bool soak();
constexpr int SOAK_SHORT_CONNECTIONS = 60, SOAK_SHORT_OPERATIONS = 20;
constexpr int SOAK_FULL_CONNECTIONS = 300, SOAK_FULL_OPERATIONS = 100;
extern int g_soakConnections, g_soakOperations;
