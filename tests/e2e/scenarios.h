// The table of end-to-end scenarios, run one at a time by name. Each room of scenarios/ holds the
// scenarios of one concern and hands over its table.
#pragma once

#include <cstddef>

struct Scenario {
    const char *name;
    bool (*run)();  // true: passed; a failure has been reported
};

// Every scenario, in the order the test command runs them.
const Scenario *scenarios(size_t &count);
// The benchmark's runs (tools/bench/scenarios.cpp): not tests, run by tools/bench.sh only.
const Scenario *benchmarks(size_t &count);

template <size_t N>
const Scenario *tableOf(const Scenario (&table)[N], size_t &count) {
    count = N;
    return table;
}

// The rooms: connection and closing; Erase, Read and Write; Update and repair; where the library
// is loaded from; the display's scales; the chip model's timing.
const Scenario *connectionScenarios(size_t &count);
const Scenario *memoryScenarios(size_t &count);
const Scenario *updateScenarios(size_t &count);
const Scenario *libraryScenarios(size_t &count);
const Scenario *displayScenarios(size_t &count);
const Scenario *chipScenarios(size_t &count);

// The program's image file code on the real file calls (image_files.cpp).
bool imageFileSaves();

// The long session (soak.cpp). Its size: the short one by default, the full one with
// `e2e_driver soak --full` (tools/e2e.sh soak --full), any other with --soak-connections N
// --soak-operations M.
bool soak();
constexpr int SOAK_SHORT_CONNECTIONS = 60, SOAK_SHORT_OPERATIONS = 20;
constexpr int SOAK_FULL_CONNECTIONS = 300, SOAK_FULL_OPERATIONS = 100;
extern int g_soakConnections, g_soakOperations;
