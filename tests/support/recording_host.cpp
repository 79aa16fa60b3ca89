#include "tests/support/recording_host.h"

#include <algorithm>
#include <cstring>

#include "link/link.h"
#include "sim/sim.h"
#include "worker/worker.h"

namespace {

RecordingHost *g_rec = nullptr;

RecordingHost &rec() { return *g_rec; }

bool windowOp(const std::string &what) {
    if (rec().stop) {
        ++rec().windowOpsAfterStop;
        return false;
    }
    rec().events.push_back(what);
    if (rec().watch) rec().watch(what, false);
    return true;
}

void fireEventTriggers(const std::string &event) {
    std::vector<std::function<void()>> due;
    auto &triggers = rec().eventTriggers;
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
    size_t before = rec().events.size();
    ~AfterOp() {
        if (rec().events.size() == before) return;
        if (rec().watch) rec().watch(rec().events.back(), true);
        fireEventTriggers(rec().events.back());
    }
};

void appendLog(const wchar_t *text) {
    AfterOp after;
    const std::string t = narrow(text);
    if (!windowOp("log " + t)) return;
    rec().logTexts.push_back(t);
    rec().logPane += t;
}

void clearLog() {
    AfterOp after;
    if (!windowOp("clear log")) return;
    rec().logTexts.push_back("");
    rec().logPane.clear();
}

void setTypeLabel(const char *text) {
    AfterOp after;
    if (windowOp(std::string("type ") + text)) rec().typeLabel = text;
}

void setInfoLabel(InfoLabel label, const wchar_t *text) {
    AfterOp after;
    if (windowOp("label " + std::to_string(int(label)) + " " + narrow(text)))
        rec().labels[label] = narrow(text);
}

void showStatus(const wchar_t *text, uint32_t hold) {
    AfterOp after;
    if (!windowOp("status " + narrow(text) + " hold " + std::to_string(hold))) return;
    rec().statusShown = true;
    rec().progressShown = false;
    rec().statusText = narrow(text);
    g_appState.statusHold = hold;
}

void showProgress(uint32_t position) {
    AfterOp after;
    if (!windowOp("progress " + std::to_string(position))) return;
    rec().statusShown = false;
    rec().progressShown = true;
    g_appState.statusHold = 0;
    rec().progress.push_back(position);
}

void setButtonStates(bool ready) {
    AfterOp after;
    if (!windowOp(std::string("buttons ") + (ready ? "ready" : "off"))) return;
    for (int op = OP_ERASE; op <= OP_UPDATE; ++op)
        rec().buttons[op] = buttonEnabledByRule(Operation(op), ready, g_appState.updateRequired != 0);
}

bool askImageFile(FileDialogKind kind, wchar_t *fileName) {
    AfterOp after;
    if (!windowOp(kind == FILE_DIALOG_SAVE ? "save dialog" : "open dialog")) return false;
    rec().dialogs.push_back({kind, fileName});
    std::wstring chosen = fileName;
    if (!rec().answerDialog || !rec().answerDialog(kind, chosen)) return false;
    if (chosen.size() >= FILE_NAME_CAPACITY) return false;
    wcscpy(fileName, chosen.c_str());
    return true;
}

void fatalError(const wchar_t *text) {
    if (windowOp("fatal " + narrow(text))) rec().fatal = narrow(text);
}

bool locked(const wchar_t *path) {
    auto &l = rec().lockedFiles;
    return std::find(l.begin(), l.end(), std::wstring(path)) != l.end();
}

FileResult loadImageFile(const wchar_t *path, uint8_t *image) {
    auto it = rec().files.find(path);
    if (it == rec().files.end() || locked(path)) return FILE_OPEN_FAILED;
    if (it->second.size() != MEMORY_SIZE) return FILE_BAD_SIZE;
    if (rec().failLoads) return FILE_IO_FAILED;
    memcpy(image, it->second.data(), MEMORY_SIZE);
    return FILE_OK;
}

FileResult saveImageFile(const wchar_t *path, const uint8_t *image) {
    if (locked(path)) return FILE_OPEN_FAILED;
    if (rec().failSaves) return FILE_IO_FAILED;
    rec().files[path].assign(image, image + MEMORY_SIZE);
    return FILE_OK;
}

size_t programPath(wchar_t *buffer, size_t capacity) {
    const std::wstring &p = rec().programPath;
    if (capacity == 0) return 0;
    if (p.size() >= capacity) {
        wcsncpy(buffer, p.c_str(), capacity - 1);
        buffer[capacity - 1] = L'\0';
        return 0;
    }
    wcscpy(buffer, p.c_str());
    return p.size();
}

uint32_t virtualTickCount() {
    ++rec().clockReads;
    return rec().ms();
}

void sleepMs(uint32_t ms) {
    ++rec().waits;
    const uint64_t end = rec().nowUs + uint64_t(ms) * 1000;
    while (!rec().stop && rec().nowUs < end) {
        auto next = rec().timeTriggers.begin();
        uint64_t step = end;
        if (next != rec().timeTriggers.end() && next->first < step) step = std::max(next->first, rec().nowUs);
        rec().advanceUs(step - rec().nowUs);
    }
}

void waitForRequest(uint32_t ms) {
    ++rec().waits;
    const uint64_t end = rec().nowUs + uint64_t(ms) * 1000;
    while (!rec().stop && g_appState.requestedOperation == OP_NONE && rec().nowUs < end) {
        auto next = rec().timeTriggers.begin();
        uint64_t step = end;
        if (next != rec().timeTriggers.end() && next->first < step) step = std::max(next->first, rec().nowUs);
        rec().advanceUs(step - rec().nowUs);
    }
}

bool stopRequestedByHost() { return rec().stop; }

const Host RECORDING_HOST = {
    appendLog,     clearLog,      setTypeLabel,  setInfoLabel,  showStatus,
    showProgress,  setButtonStates, askImageFile, fatalError,   loadImageFile,
    saveImageFile, programPath,     waitForRequest,
};

const ClockSeam RECORDING_CLOCK = {virtualTickCount, sleepMs, stopRequestedByHost};

uint64_t simNowUs() { return rec().nowUs; }
void simSleepUs(uint64_t us) { rec().advanceUs(us); }

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

RecordingHost &installRecordingHost(uint64_t limitMs) {
    static RecordingHost host;
    host = RecordingHost();
    host.limitUs = limitMs * 1000;
    // Start well away from zero so that code which confuses a tick count with "no time" shows.
    host.nowUs = 1000000;
    g_rec = &host;
    simReset(SimClock{simNowUs, simSleepUs});
    host.worker = makeWorker(simD2xx(), &RECORDING_CLOCK, &RECORDING_HOST);
    g_appState.requestedOperation = OP_NONE;
    g_appState.statusHold = 0;
    g_appState.updateRequired = 0;
    g_appState.deviceFound = 0;
    memset(g_memoryImage, 0, sizeof g_memoryImage);
    return host;
}

RecordingHost &recordingHost() { return *g_rec; }

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
