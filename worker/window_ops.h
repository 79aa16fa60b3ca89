// The worker's window operations, its pauses and its view of the stop request. Each window
// operation goes through the worker's host and is dropped once a stop has been requested, so a
// stopping worker never touches the window again.
#pragma once

#include <cstdint>

#include "worker/worker.h"

inline bool stopRequested(const Worker &w) { return clockStopRequested(*w.link.clock); }
inline uint32_t tickCount(const Worker &w) { return clockTickCount(*w.link.clock); }
// Pauses `ms`; ends early on a stop request.
inline void pauseMs(const Worker &w, uint32_t ms) { clockSleep(*w.link.clock, ms); }
// True while the worker may still drive the window: false once a stop was requested.
inline bool workerWindowOpen(const Worker &w) { return !stopRequested(w); }

void logText(const Worker &w, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void logWide(const Worker &w, const wchar_t *text);
void clearLogPane(const Worker &w);
void setTypeLabel(const Worker &w, const char *text);
// Sets one of the three value labels to an ASCII text (printf-style).
void setInfoLabel(const Worker &w, InfoLabel label, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
void showStatusLine(const Worker &w, const wchar_t *text, uint32_t hold);
void showProgressStep(const Worker &w, uint32_t position);
void applyButtonStates(const Worker &w, bool ready);
