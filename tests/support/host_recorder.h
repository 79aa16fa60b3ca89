// A host for tests: records everything the worker shows, runs on a virtual clock shared with the
// simulator, answers file dialogs from a script and keeps image files in memory.
//
// Scripts react to what the worker does: a trigger fires once, when a log text is appended or
// when the virtual clock reaches a time. No test sleeps for real.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "worker/worker.h"

struct RecordingHost {
    // A fresh host with a fresh worker record on it and its own simulator on its clock. Resets the
    // process-wide state (AppState, memory image). The seams point into the record, so it stays
    // where it was made.
    explicit RecordingHost(uint64_t limitMs = 600000);
    RecordingHost(const RecordingHost &) = delete;
    RecordingHost &operator=(const RecordingHost &) = delete;
    // Starts over as a fresh host in the same place.
    void reset(uint64_t limitMs = 600000);

    Sim sim;
    Host hostSeam;        // context: this record
    ClockSeam clockSeam;  // context: this record
    // The worker under test: the simulator on the virtual clock, and this host.
    Worker worker = {};

    uint64_t nowUs = 0;
    uint64_t limitUs = 0;  // a stop is requested here, so a stuck worker cannot hang a test
    bool hitLimit = false;
    bool stop = false;

    // What the user sees.
    std::vector<std::string> logTexts;  // every appended text, in order (empty entry: log emptied)
    std::string logPane;
    std::string typeLabel;
    std::string labels[3];
    bool buttons[5] = {};  // by Operation
    bool statusShown = true, progressShown = true;
    std::string statusText;
    std::vector<uint32_t> progress;
    std::vector<std::string> events;  // every window operation, in order, as text
    std::vector<std::pair<std::string, uint64_t>> eventTimes;  // each of `events` and when (us)
    int windowOpsAfterStop = 0;
    std::string fatal;

    // Counters for pacing checks.
    uint64_t clockReads = 0;
    uint64_t waits = 0;

    // Files and dialogs.
    std::map<std::wstring, std::vector<uint8_t>> files;
    std::vector<std::wstring> lockedFiles;
    bool failSaves = false;
    bool failLoads = false;  // a file opened for a Write breaks off while it is read
    std::function<bool(FileDialogKind, std::wstring &)> answerDialog;  // null: cancel
    std::vector<std::pair<FileDialogKind, std::wstring>> dialogs;     // kind and initial name
    std::wstring programPath = L"C:\\Tools\\Kesta\\KestaOBD1EMU.exe";

    // Sees every window operation carried out, as recorded in `events`: before it (false) and
    // once its effect is visible (true).
    std::function<void(const std::string &event, bool done)> watch;

    // Triggers.
    std::vector<std::pair<std::string, std::function<void()>>> eventTriggers;
    std::multimap<uint64_t, std::function<void()>> timeTriggers;

    // Fires once after the window operation `event` (as recorded in `events`) was carried out.
    void whenEvent(const std::string &event, std::function<void()> action);
    void whenLog(const std::string &text, std::function<void()> action) {
        whenEvent("log " + text, std::move(action));
    }
    void atMs(uint64_t ms, std::function<void()> action);
    // A button press as the window makes it: all four buttons disabled, then the request stored.
    void press(Operation op);
    void advanceUs(uint64_t us);  // moves the clock, firing time triggers on the way
    uint32_t ms() const { return uint32_t(nowUs / 1000); }
    std::string log() const;  // all appended texts joined
    // When `event` (as recorded in `events`, presses too) first happened, in us; 0: never.
    uint64_t usOf(const std::string &event) const;
    uint64_t msOf(const std::string &event) const { return usOf(event) / 1000; }
    uint64_t msOfLog(const std::string &text) const { return msOf("log " + text); }
};

std::string narrow(const wchar_t *text);
std::wstring widen(const std::string &text);
