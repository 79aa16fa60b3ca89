// The clock seam: time and the stop request, for every layer of the core.
//
// The byte transport measures its deadlines here and the worker spends its pauses here, so tests
// run in virtual time. Filled once by the host before the worker starts (Win32 tick count and
// events on Windows, a virtual clock in tests) and handed down inside the `Link`. Called on the
// worker thread only. Every call is handed `context`, the record of whoever filled the table.
#pragma once

#include <cstdint>

struct ClockSeam {
    void *context;
    // Milliseconds; wraps after 49.7 days, so compare `now - start`.
    uint32_t (*tickCount)(void *context);
    // Pauses `ms`; ends early once a stop is requested.
    void (*sleep)(void *context, uint32_t ms);
    // True once the program is closing: every wait ends and the worker winds down.
    bool (*stopRequested)(void *context);
};

inline uint32_t clockTickCount(const ClockSeam &clock) { return clock.tickCount(clock.context); }
inline void clockSleep(const ClockSeam &clock, uint32_t ms) { clock.sleep(clock.context, ms); }
inline bool clockStopRequested(const ClockSeam &clock) {
    return clock.stopRequested(clock.context);
}
