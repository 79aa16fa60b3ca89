// The seeded fault campaign's shared record: the world drawn for a seed and the run through it,
// which the rooms (world, invariants, wrappers, main) all read and write. One world at a time.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/host_recorder.h"
#include "tests/support/texts.h"
#include "worker/worker.h"

namespace campaign {

using namespace text;

// Worlds that once broke an invariant, kept as regressions. A seed names a world of this drawing
// code: a change to the drawing redraws every world, and these must be found again.
inline const uint64_t FIXED_SEEDS[] = {
    71975623052900978,  // a press between the single-button changes after a held failure
};
constexpr uint64_t DEFAULT_FRESH_WORLDS = 10000;
constexpr uint64_t START_US = 1000000;  // where the recording host's clock starts
constexpr uint64_t CALL_CAP = 3000000;  // library calls or clock reads beyond any world's need

// --- random numbers: splitmix64, the same sequence on every platform ---

struct Rng { uint64_t state; };

inline uint64_t next(Rng &r) {
    uint64_t z = (r.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
inline uint32_t below(Rng &r, uint32_t n) { return n ? uint32_t(next(r) % n) : 0; }
inline bool oneIn(Rng &r, uint32_t n) { return n && below(r, n) == 0; }

std::string format(const char *f, ...) __attribute__((format(printf, 1, 2)));

// --- the world and the run through it ---

enum AdapterKind { KIND_CURRENT, KIND_OLD, KIND_INVALID, KIND_DAMAGED, KIND_FOREIGN_BLANK };
enum Anchor { AT_MS, BEFORE_CALL, AFTER_WINDOW_OP, IN_DIALOG };
enum Action { ACT_PRESS, ACT_UNPLUG, ACT_PLUG, ACT_REPLUG_OTHER_BOARD, ACT_TOGGLE_FOREIGN, ACT_STOP };
enum Answer { ANSWER_CANCEL, ANSWER_GOOD, ANSWER_NEW, ANSWER_LOCKED, ANSWER_WRONG_SIZE, ANSWER_BROKEN };

struct Event {
    Anchor anchor;
    SimFn fn;    // BEFORE_CALL: before call number n of fn
    uint64_t n;  // ms, call number, window operation number or dialog number
    Action action;
    int target;       // button, adapter or foreign device
    bool patient;     // a press that waits until its button is enabled
    uint64_t board;   // the seed of the other board
};

inline const char *const ANSWER_NAMES[] = {"cancel", "good.bin (an image)", "new.bin (missing)",
                                    "locked.bin (locked)", "odd.bin (wrong size)",
                                    "good.bin, but it breaks off while it is written or read"};
inline const wchar_t *const ANSWER_PATHS[] = {L"", L"C:\\img\\good.bin", L"C:\\img\\new.bin",
                                       L"C:\\img\\locked.bin", L"C:\\img\\odd.bin",
                                       L"C:\\img\\good.bin"};

// The operation in progress (OP_NONE: none), begun afresh as a whole by each.
struct OpState {
    int op, opAdapter, opGeneration, blocks, readBacks, eeNext, eeVerified, lastReadWord;
    bool reported, okLogged, blockFailed, awaitingAnswer, needsUpdate, saved, eeFailed,
        lastReadDiffers, verifying;
    std::vector<uint8_t> before, writeData;
};

struct Run : OpState {
    uint64_t seed;
    bool tracing, drawing;  // a trace is kept; the world is being drawn
    std::string world;      // the world in words, drawn when tracing
    // What the world is.
    int hostility;  // 0 calm (only the user and the plugging) to 3
    uint32_t lengthMs, faultOneIn, shortReadOneIn;
    bool readEE, wire;
    std::vector<AdapterKind> kinds;
    std::vector<FT_DEVICE_LIST_INFO_NODE> foreign;
    std::vector<bool> foreignPresent;
    std::vector<Event> events;
    std::vector<bool> fired;
    uint32_t anchoredCalls;  // the library calls that events wait for, one bit each
    std::vector<size_t> patient;  // presses waiting for their button
    std::vector<Answer> answers;
    std::vector<int> boardGeneration;
    // The run.
    RecordingHost *host;
    Rng faults;
    std::vector<std::string> trace;
    uint32_t reads;  // FT_Read calls not yet in the trace
    std::string readBytes, violation;
    uint64_t calls[32], allCalls, windowOps;  // calls by SimFn
    int dialogs, depth, pendingPress;
    std::set<int> held;  // channels the program holds open: adapter * 2 + channel
    bool failedCall;     // the call in progress fails by the world's hand
    int identified;  // the adapter whose identity the library last gave the program
    uint32_t identifiedId;
    std::string identifiedName;
    bool announced;
    std::string expectLog, expectStatus;  // what the next window operation must be
    // The stop.
    bool stopped, stopInCall;
    uint64_t stopUs, settleUs;
    bool memoryFault;       // some board of the world drew a memory fault
    bool readBackOverFault;  // an Erase or Write read back a board with one
};

extern Run g_run;

// What every room asks: the host's clock; whether the operation writes the board block by block
// (Erase, Write) and whether all its blocks went out and were taken; whether a board drew faults.
inline uint64_t now() { return g_run.host->nowUs; }
inline bool writesBoard() { return g_run.op == OP_ERASE || g_run.op == OP_WRITE; }
inline bool allBlocksTaken() { return g_run.blocks == 256 && !g_run.blockFailed && !g_run.awaitingAnswer; }
inline bool hasMemoryFault(const SimMemoryFaults &m) {
    return m.dropWriteBlock >= 0 || m.ignoredAddressLines || m.stuckAddress >= 0 ||
           m.stuckDataLow || m.stuckDataHigh;
}

// Adds to the world in words while it is drawn, when there is a trace to go with it.
#define SAY(...) \
    (g_run.tracing && g_run.drawing ? void(g_run.world += format(__VA_ARGS__)) : void())

// What the program writes, as the invariants know it.
inline const char *const OPENING[] = {nullptr, ERASE_OPENING, READ_OPENING, WRITE_OPENING,
                                      UPDATE_OPENING};
inline constexpr char MISMATCH[] = "Mismatch!\r\n";
inline constexpr char ANNOUNCE[] = "Found Kesta OBD1 EMU [%04X/%04X].\r\nConnecting... ";
inline const char *const KNOWN_LOG[] = {
    SEARCHING, ANNOUNCE, "Ok.", "Fail.", "\r\n", "Ostrich Ver. %02X.%02X.\r\n", "RTP port:\t\tCOM%u.\r\n",
    "Datalog port:\tCOM%u.\r\n", "---\r\n", INVALID_ID, NEEDS_UPDATE, DAMAGED, CHOICE, NO_STATUS,
    DISCONNECTED, RECONNECT, SAVE_STEP, WRITE_STEP, CANNOT_PROGRAM, VERIFY_STEP,
};
// Failures held with a status text: the log text, then the status text.
inline const char *const FAILURE_PAIRS[][2] = {
    {BLOCK_FAILED, OPERATION_FAILED},
    {CANCELED, OPERATION_CANCELED},
    {"Can't create file!\r\n", "Can't create file!"},
    {"Can't write file!\r\n", "Can't write file!"},
    {"Can't open file!\r\n", "Can't open file!"},
    {"Invalid file size!\r\n", "Invalid file size!"},
    {"Can't read file!\r\n", "Can't read file!"},
    {REPLUG, REPLUG_STATUS},  // after an Update whose port cycle failed
};

// --- across the rooms ---

// world.cpp: the run's trace and its first violation, the world drawn and its events fired.
void note(const std::string &line);
// The first violation ends the world: what follows a fault tells nothing more.
void violate(const std::string &what);
void drawWorld();
void requestStop(const std::string &why);
void fire(size_t index);
void fireAnchored(Anchor anchor, SimFn fn, uint64_t n);
// invariants.cpp: what the program does, checked where it can break.
bool matches(const char *f, const char *t);
const uint8_t *sentData(uint32_t block);
void finishOp();
void checkPressKept(const std::string *log);
void onLog(const std::string &t);
// wrappers.cpp: the library and the window as the worker sees them, watched.
std::string channelName(int c);
void wrapWorker(RecordingHost &record);

}  // namespace campaign
