// The table of end-to-end scenarios, run one at a time by name.
#pragma once

#include <cstddef>

struct Scenario {
    const char *name;
    bool (*run)();  // true: passed; a failure has been reported
};

const Scenario *scenarios(size_t &count);
// The benchmark's runs: not tests, run by tools/bench.sh only.
const Scenario *benchmarks(size_t &count);

// The program's image file code on the real file calls (image_files.cpp).
bool imageFileSaves();
