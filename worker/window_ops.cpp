// The process-wide state the GUI and the worker share, the worker's record and its window
// operations.
#include "worker/window_ops.h"

#include <cstdarg>
#include <cstdio>

AppState g_appState;
uint8_t g_memoryImage[MEMORY_SIZE];

Worker makeWorker(const D2xxApi *d2xx, const ClockSeam *clock, const Host *host) {
    Worker w = {};
    w.link = makeLink(d2xx, clock);
    w.host = host;
    return w;
}

namespace {

// Every text the worker formats is ASCII, so widening is a plain copy.
constexpr size_t TEXT_CAPACITY = 256;

// A format that fails gives an empty text rather than whatever the buffer held.
void formatWide(wchar_t (&out)[TEXT_CAPACITY], const char *format, va_list args) {
    char narrow[TEXT_CAPACITY];
    if (vsnprintf(narrow, sizeof narrow, format, args) < 0) narrow[0] = '\0';
    size_t i = 0;
    for (; i + 1 < TEXT_CAPACITY && narrow[i]; ++i)
        out[i] = wchar_t(static_cast<unsigned char>(narrow[i]));
    out[i] = L'\0';
}

}  // namespace

void logText(const Worker &w, const char *format, ...) {
    if (!workerWindowOpen(w)) return;
    wchar_t text[TEXT_CAPACITY];
    va_list args;
    va_start(args, format);
    formatWide(text, format, args);
    va_end(args);
    w.host->appendLog(w.host->context, text);
}

void logWide(const Worker &w, const wchar_t *text) {
    if (workerWindowOpen(w)) w.host->appendLog(w.host->context, text);
}

void clearLogPane(const Worker &w) {
    if (workerWindowOpen(w)) w.host->clearLog(w.host->context);
}

void setTypeLabel(const Worker &w, const char *text) {
    if (workerWindowOpen(w)) w.host->setTypeLabel(w.host->context, text);
}

void setInfoLabel(const Worker &w, InfoLabel label, const char *format, ...) {
    if (!workerWindowOpen(w)) return;
    wchar_t text[TEXT_CAPACITY];
    va_list args;
    va_start(args, format);
    formatWide(text, format, args);
    va_end(args);
    w.host->setInfoLabel(w.host->context, label, text);
}

void showStatusLine(const Worker &w, const wchar_t *text, uint32_t hold) {
    if (workerWindowOpen(w)) w.host->showStatus(w.host->context, text, hold);
}

void showProgressStep(const Worker &w, uint32_t position) {
    if (workerWindowOpen(w)) w.host->showProgress(w.host->context, position);
}

void applyButtonStates(const Worker &w, bool ready) {
    if (workerWindowOpen(w)) w.host->setButtonStates(w.host->context, ready);
}
