// The clock seam: time and the stop request, for every layer of the core.
//
// The byte transport measures its deadlines here and the worker spends its pauses here, so tests
// run in virtual time. Filled once by the host before the worker starts (Win32 tick count and
// events on Windows, a virtual clock in tests) and handed down inside the `Link`. Called on the
// worker thread only.
#pragma once

#include <cstdint>

struct ClockSeam {
    uint32_t (*tickCount)();  // milliseconds, wraps after 49.7 days: compare `now - start`
    // Pauses `ms`; ends early once a stop is requested.
    void (*sleep)(uint32_t ms);
    // True once the program is closing: every wait ends and the worker winds down.
    bool (*stopRequested)();
};
