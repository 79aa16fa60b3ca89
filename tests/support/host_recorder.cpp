#include "tests/support/host_recorder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "link/link.h"
#include "sim/sim.h"
#include "worker/worker.h"

namespace {

RecordingHost &recordOf(void *context) { return *static_cast<RecordingHost *>(context); }

bool windowOp(RecordingHost &rec, const std::string &what) {
    if (rec.stop) {
        ++rec.windowOpsAfterStop;
        return false;
    }
    rec.events.push_back(what);
    if (rec.watch) rec.watch(what, false);
    return true;
}

void fireEventTriggers(RecordingHost &rec, const std::string &event) {
    std::vector<std::function<void()>> due;
    auto &triggers = rec.eventTriggers;
    for (size_t i = 0; i < triggers.size();) {
        if (triggers[i].first == event) {
            due.push_back(std::move(triggers[i].second));
            triggers.erase(triggers.begin() + long(i));
        } else {
            ++i;
        }
    }
    for (auto &action : due) action();
}

// Runs at the end of every window operation, once its effect is visible.
struct AfterOp {
    RecordingHost &rec;
    size_t before = rec.events.size();
    ~AfterOp() {
        if (rec.events.size() == before) return;
        if (rec.watch) rec.watch(rec.events.back(), true);
        fireEventTriggers(rec, rec.events.back());
    }
};

void appendLog(void *context, const wchar_t *text) {
    RecordingHost &rec = recordOf(context);
    AfterOp after{rec};
    const std::string t = narrow(text);
    if (!windowOp(rec, "log " + t)) return;
    rec.logTexts.push_back(t);
    rec.logPane += t;
}

void clearLog(void *context) {
    RecordingHost &rec = recordOf(context);
    AfterOp after{rec};
    if (!windowOp(rec, "clear log")) return;
    rec.logTexts.push_back("");
    rec.logPane.clear();
}

void setTypeLabel(void *context, const char *text) {
    RecordingHost &rec = recordOf(context);
    AfterOp after{rec};
    if (windowOp(rec, std::string("type ") + text)) rec.typeLabel = text;
}

void setInfoLabel(void *context, InfoLabel label, const wchar_t *text) {
    RecordingHost &rec = recordOf(context);
    AfterOp after{rec};
    if (windowOp(rec, "label " + std::to_string(int(label)) + " " + narrow(text)))
        rec.labels[label] = narrow(text);
}

void showStatus(void *context, const wchar_t *text, uint32_t hold) {
    RecordingHost &rec = recordOf(context);
    AfterOp after{rec};
    if (!windowOp(rec, "status " + narrow(text) + " hold " + std::to_string(hold))) return;
    rec.statusShown = true;
    rec.progressShown = false;
    rec.statusText = narrow(text);
    g_appState.statusHold = hold;
}

void showProgress(void *context, uint32_t position) {
    RecordingHost &rec = recordOf(context);
    AfterOp after{rec};
    if (!windowOp(rec, "progress " + std::to_string(position))) return;
    rec.statusShown = false;
    rec.progressShown = true;
    g_appState.statusHold = 0;
    rec.progress.push_back(position);
}

void setButtonStates(void *context, bool ready) {
    RecordingHost &rec = recordOf(context);
    AfterOp after{rec};
    if (!windowOp(rec, std::string("buttons ") + (ready ? "ready" : "off"))) return;
    for (int op = OP_ERASE; op <= OP_UPDATE; ++op)
        rec.buttons[op] = buttonEnabledByRule(Operation(op), ready, g_appState.updateRequired != 0);
}

bool askImageFile(void *context, FileDialogKind kind, wchar_t *fileName) {
    RecordingHost &rec = recordOf(context);
    AfterOp after{rec};
    if (!windowOp(rec, kind == FILE_DIALOG_SAVE ? "save dialog" : "open dialog")) return false;
    rec.dialogs.push_back({kind, fileName});
    std::wstring chosen = fileName;
    if (!rec.answerDialog || !rec.answerDialog(kind, chosen)) return false;
    if (chosen.size() >= FILE_NAME_CAPACITY) return false;
    wcscpy(fileName, chosen.c_str());
    return true;
}

void fatalError(void *context, const wchar_t *text) {
    RecordingHost &rec = recordOf(context);
    if (windowOp(rec, "fatal " + narrow(text))) rec.fatal = narrow(text);
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

size_t programPath(void *context, wchar_t *buffer, size_t capacity) {
    RecordingHost &rec = recordOf(context);
    const std::wstring &p = rec.programPath;
    if (capacity == 0) return 0;
    if (p.size() >= capacity) {
        wcsncpy(buffer, p.c_str(), capacity - 1);
        buffer[capacity - 1] = L'\0';
        return 0;
    }
    wcscpy(buffer, p.c_str());
    return p.size();
}

uint32_t virtualTickCount(void *context) {
    RecordingHost &rec = recordOf(context);
    ++rec.clockReads;
    return rec.ms();
}

void sleepMs(void *context, uint32_t ms) {
    RecordingHost &rec = recordOf(context);
    ++rec.waits;
    const uint64_t end = rec.nowUs + uint64_t(ms) * 1000;
    while (!rec.stop && rec.nowUs < end) {
        auto next = rec.timeTriggers.begin();
        uint64_t step = end;
        if (next != rec.timeTriggers.end() && next->first < step) step = std::max(next->first, rec.nowUs);
        rec.advanceUs(step - rec.nowUs);
    }
}

void waitForRequest(void *context, uint32_t ms) {
    RecordingHost &rec = recordOf(context);
    ++rec.waits;
    const uint64_t end = rec.nowUs + uint64_t(ms) * 1000;
    while (!rec.stop && g_appState.requestedOperation == OP_NONE && rec.nowUs < end) {
        auto next = rec.timeTriggers.begin();
        uint64_t step = end;
        if (next != rec.timeTriggers.end() && next->first < step) step = std::max(next->first, rec.nowUs);
        rec.advanceUs(step - rec.nowUs);
    }
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
