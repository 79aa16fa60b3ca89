#include "tests/support/host_recorder.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "link/link.h"
#include "sim/sim.h"
#include "worker/worker.h"

namespace {

RecordingHost &recordOf(void *context) { return *static_cast<RecordingHost *>(context); }

// Records a window operation as `what`, unless the worker was told to stop; false: not carried out.
bool record(RecordingHost &rec, const std::string &what) {
    if (rec.stop) {
        ++rec.windowOpsAfterStop;
        return false;
    }
    rec.events.push_back(what);
    rec.eventTimes.push_back({what, rec.nowUs});
    if (rec.watch) rec.watch(what, false);
    return true;
}

// Takes the triggers waiting for `event` off the list, then fires them in the order they were set.
void fireEventTriggers(RecordingHost &rec, const std::string &event) {
    auto &triggers = rec.eventTriggers;
    const auto due = std::stable_partition(triggers.begin(), triggers.end(),
                                           [&](const auto &t) { return t.first != event; });
    std::vector<std::function<void()>> firing;
    for (auto t = due; t != triggers.end(); ++t) firing.push_back(std::move(t->second));
    triggers.erase(due, triggers.end());
    for (auto &action : firing) action();
}

// Carries out one window operation: records it, applies `effect`, then, once its effect is
// visible, tells the watcher and fires the triggers waiting for it.
template <typename Effect>
void windowOp(void *context, const std::string &what, Effect effect) {
    RecordingHost &rec = recordOf(context);
    if (!record(rec, what)) return;
    effect(rec);
    if (rec.watch) rec.watch(rec.events.back(), true);
    fireEventTriggers(rec, rec.events.back());
}

void appendLog(void *context, const wchar_t *text) {
    const std::string t = narrow(text);
    windowOp(context, "log " + t, [&](RecordingHost &rec) {
        rec.logTexts.push_back(t);
        rec.logPane += t;
    });
}

void clearLog(void *context) {
    windowOp(context, "clear log", [](RecordingHost &rec) {
        rec.logTexts.push_back("");
        rec.logPane.clear();
    });
}

void setTypeLabel(void *context, const char *text) {
    windowOp(context, std::string("type ") + text, [&](RecordingHost &rec) { rec.typeLabel = text; });
}

void setInfoLabel(void *context, InfoLabel label, const wchar_t *text) {
    const std::string t = narrow(text);
    windowOp(context, "label " + std::to_string(int(label)) + " " + t,
             [&](RecordingHost &rec) { rec.labels[label] = t; });
}

void showStatus(void *context, const wchar_t *text, uint32_t hold) {
    const std::string t = narrow(text);
    windowOp(context, "status " + t + " hold " + std::to_string(hold), [&](RecordingHost &rec) {
        rec.statusShown = true;
        rec.progressShown = false;
        rec.statusText = t;
        g_appState.statusHold = hold;
    });
}

void showProgress(void *context, uint32_t position) {
    windowOp(context, "progress " + std::to_string(position), [&](RecordingHost &rec) {
        rec.statusShown = false;
        rec.progressShown = true;
        g_appState.statusHold = 0;
        rec.progress.push_back(position);
    });
}

void setButtonStates(void *context, bool ready) {
    windowOp(context, std::string("buttons ") + (ready ? "ready" : "off"), [&](RecordingHost &rec) {
        for (int op = OP_ERASE; op <= OP_UPDATE; ++op)
            rec.buttons[op] = buttonEnabledByRule(Operation(op), ready, g_appState.updateRequired != 0);
    });
}

bool askImageFile(void *context, FileDialogKind kind, wchar_t *fileName) {
    bool chosen = false;
    windowOp(context, kind == FILE_DIALOG_SAVE ? "save dialog" : "open dialog", [&](RecordingHost &rec) {
        rec.dialogs.push_back({kind, fileName});
        std::wstring name = fileName;
        if (!rec.answerDialog || !rec.answerDialog(kind, name) || name.size() >= FILE_NAME_CAPACITY) return;
        wcscpy(fileName, name.c_str());
        chosen = true;
    });
    return chosen;
}

// Recorded only, no watcher or triggers: the worker returns right after it.
void fatalError(void *context, const wchar_t *text) {
    RecordingHost &rec = recordOf(context);
    if (record(rec, "fatal " + narrow(text))) rec.fatal = narrow(text);
}

bool locked(const RecordingHost &rec, const wchar_t *path) {
    auto &l = rec.lockedFiles;
    return std::find(l.begin(), l.end(), std::wstring(path)) != l.end();
}

FileResult loadImageFile(void *context, const wchar_t *path, uint8_t *image) {
    RecordingHost &rec = recordOf(context);
    auto it = rec.files.find(path);
    if (it == rec.files.end() || locked(rec, path)) return FILE_OPEN_FAILED;
    if (it->second.size() != MEMORY_SIZE) return FILE_BAD_SIZE;
    if (rec.failLoads) return FILE_IO_FAILED;
    memcpy(image, it->second.data(), MEMORY_SIZE);
    return FILE_OK;
}

FileResult saveImageFile(void *context, const wchar_t *path, const uint8_t *image) {
    RecordingHost &rec = recordOf(context);
    if (locked(rec, path)) return FILE_OPEN_FAILED;
    if (rec.failSaves) return FILE_IO_FAILED;
    rec.files[path].assign(image, image + MEMORY_SIZE);
    return FILE_OK;
}

// As much of the path as fits; its length only when all of it does.
size_t programPath(void *context, wchar_t *buffer, size_t capacity) {
    const std::wstring &p = recordOf(context).programPath;
    if (capacity == 0) return 0;
    const size_t copied = std::min(p.size(), capacity - 1);
    wmemcpy(buffer, p.c_str(), copied);
    buffer[copied] = L'\0';
    return copied == p.size() ? p.size() : 0;
}

uint32_t virtualTickCount(void *context) {
    RecordingHost &rec = recordOf(context);
    ++rec.clockReads;
    return rec.ms();
}

// Waits `ms` of virtual time, firing time triggers on the way, unless a stop or `done` ends it.
template <typename Done>
void waitMs(void *context, uint32_t ms, Done done) {
    RecordingHost &rec = recordOf(context);
    ++rec.waits;
    const uint64_t end = rec.nowUs + uint64_t(ms) * 1000;
    while (!rec.stop && !done() && rec.nowUs < end) {
        auto next = rec.timeTriggers.begin();
        uint64_t step = end;
        if (next != rec.timeTriggers.end() && next->first < step) step = std::max(next->first, rec.nowUs);
        rec.advanceUs(step - rec.nowUs);
    }
}

void sleepMs(void *context, uint32_t ms) { waitMs(context, ms, [] { return false; }); }

void waitForRequest(void *context, uint32_t ms) {
    waitMs(context, ms, [] { return g_appState.requestedOperation != OP_NONE; });
}

bool stopRequestedByHost(void *context) { return recordOf(context).stop; }

// Filled member by member: two members share a type, so an initializer by position could swap
// them unseen.
Host recordingHost() {
    Host h = {};
    h.appendLog = appendLog, h.clearLog = clearLog, h.setTypeLabel = setTypeLabel;
    h.setInfoLabel = setInfoLabel, h.showStatus = showStatus, h.showProgress = showProgress;
    h.setButtonStates = setButtonStates, h.askImageFile = askImageFile, h.fatalError = fatalError;
    h.loadImageFile = loadImageFile, h.saveImageFile = saveImageFile, h.programPath = programPath;
    h.waitForRequest = waitForRequest;
    return h;
}
const Host RECORDING_HOST = recordingHost();

const ClockSeam RECORDING_CLOCK = {nullptr, virtualTickCount, sleepMs, stopRequestedByHost};

uint64_t simNowUs(void *context) { return recordOf(context).nowUs; }
void simSleepUs(void *context, uint64_t us) { recordOf(context).advanceUs(us); }

}  // namespace

void RecordingHost::whenEvent(const std::string &event, std::function<void()> action) {
    eventTriggers.push_back({event, std::move(action)});
}

void RecordingHost::atMs(uint64_t ms, std::function<void()> action) {
    timeTriggers.insert({ms * 1000, std::move(action)});
}

void RecordingHost::press(Operation op) {
    for (int b = OP_ERASE; b <= OP_UPDATE; ++b) buttons[b] = false;
    events.push_back("press " + std::to_string(int(op)));
    eventTimes.push_back({events.back(), nowUs});
    g_appState.blockingOperation = operationBlocksSessionEnd(op);
    g_appState.requestedOperation = op;
}

void RecordingHost::advanceUs(uint64_t us) {
    const uint64_t end = nowUs + us;
    for (;;) {
        auto next = timeTriggers.begin();
        if (next == timeTriggers.end() || next->first > end) break;
        nowUs = std::max(nowUs, next->first);
        auto action = next->second;
        timeTriggers.erase(next);
        action();
    }
    nowUs = end;
    if (limitUs && nowUs >= limitUs && !stop) {
        hitLimit = true;
        stop = true;
    }
}

uint64_t RecordingHost::usOf(const std::string &event) const {
    for (const auto &e : eventTimes)
        if (e.first == event) return e.second;
    return 0;
}

std::string RecordingHost::log() const {
    std::string all;
    for (const std::string &t : logTexts) all += t;
    return all;
}

RecordingHost::RecordingHost(uint64_t limitMs) {
    limitUs = limitMs * 1000;
    // Start well away from zero so that code which confuses a tick count with "no time" shows.
    nowUs = 1000000;
    simReset(sim, SimClock{this, simNowUs, simSleepUs});
    hostSeam = RECORDING_HOST;
    hostSeam.context = this;
    clockSeam = RECORDING_CLOCK;
    clockSeam.context = this;
    worker = makeWorker(simD2xx(sim), &clockSeam, &hostSeam);
    g_appState.requestedOperation = OP_NONE;
    g_appState.blockingOperation = 0;
    g_appState.statusHold = 0;
    g_appState.updateRequired = 0;
    g_appState.deviceFound = 0;
    memset(g_memoryImage, 0, sizeof g_memoryImage);
}

void RecordingHost::reset(uint64_t limitMs) {
    this->~RecordingHost();
    new (this) RecordingHost(limitMs);
}

std::string narrow(const wchar_t *text) {
    std::string out;
    for (; *text; ++text) {
        const uint32_t c = uint32_t(*text);
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | c >> 6));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xE0 | c >> 12));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::wstring widen(const std::string &text) {
    std::wstring out;
    for (unsigned char c : text) out.push_back(wchar_t(c));
    return out;
}
