// Shared state of the core and the worker's window operations.
#include "worker/window_ops.h"

#include <cstdarg>
#include <cstdio>

#include "worker/worker.h"

AppState g_appState;
uint8_t g_memoryImage[MEMORY_SIZE];
const Host *g_host = nullptr;
wchar_t g_fileNameBuffer[FILE_NAME_CAPACITY];

bool workerWindowOpen() { return !stopRequested(); }

namespace {

// Every text the worker formats is ASCII, so widening is a plain copy.
constexpr size_t TEXT_CAPACITY = 256;

void formatWide(wchar_t (&out)[TEXT_CAPACITY], const char *format, va_list args) {
    char narrow[TEXT_CAPACITY];
    int n = vsnprintf(narrow, sizeof narrow, format, args);
    if (n < 0) n = 0;
    size_t i = 0;
    for (; i + 1 < TEXT_CAPACITY && narrow[i]; ++i) out[i] = wchar_t(static_cast<unsigned char>(narrow[i]));
    out[i] = L'\0';
}

}  // namespace

void logText(const char *format, ...) {
    if (!workerWindowOpen()) return;
    wchar_t text[TEXT_CAPACITY];
    va_list args;
    va_start(args, format);
    formatWide(text, format, args);
    va_end(args);
    g_host->appendLog(text);
}

void logWide(const wchar_t *text) {
    if (workerWindowOpen()) g_host->appendLog(text);
}

void clearLogPane() {
    if (workerWindowOpen()) g_host->clearLog();
}

void setTypeLabel(const char *text) {
    if (workerWindowOpen()) g_host->setTypeLabel(text);
}

void setInfoLabel(InfoLabel label, const char *format, ...) {
    if (!workerWindowOpen()) return;
    wchar_t text[TEXT_CAPACITY];
    va_list args;
    va_start(args, format);
    formatWide(text, format, args);
    va_end(args);
    g_host->setInfoLabel(label, text);
}

void showStatusLine(const wchar_t *text, uint32_t hold) {
    if (workerWindowOpen()) g_host->showStatus(text, hold);
}

void showProgressStep(uint32_t position) {
    if (workerWindowOpen()) g_host->showProgress(position);
}

void applyButtonStates(bool ready) {
    if (workerWindowOpen()) g_host->setButtonStates(ready);
}
