// The worker's window operations. Each goes through the host and is dropped once a stop has
// been requested, so a stopping worker never touches the window again.
#pragma once

#include <cstdint>

#include "worker/host.h"

void logText(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void logWide(const wchar_t *text);
void clearLogPane();
void setTypeLabel(const char *text);
// Sets one of the three value labels to an ASCII text (printf-style).
void setInfoLabel(InfoLabel label, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void showStatusLine(const wchar_t *text, uint32_t hold);
void showProgressStep(uint32_t position);
void applyButtonStates(bool ready);
