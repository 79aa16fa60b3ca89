// The seeded fault campaign: thousands of random hostile worlds per run, each played against the
// whole worker in virtual time and checked while it runs.
//
// A seed builds a world: adapters and foreign devices coming and going, board and library faults,
// the user's presses and file answers, and a stop. The worker meets it through two wrappers, one
// around the simulator's library table and one around the recording host; they inject the
// library's faults, fire the world's events and check each invariant where it can break.
//
//   kesta_campaign                 the fixed seeds, then 10000 fresh ones; one summary line
//   kesta_campaign --worlds N      N fresh seeds instead
//   kesta_campaign --seed S        replays world S and prints it with its trace
#include <sanitizer/common_interface_defs.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/recording_host.h"
#include "worker/worker.h"

namespace {

// Worlds that once broke an invariant; each stays as a regression.
const uint64_t FIXED_SEEDS[] = {
    24774593344400549,  // a press between the single-button changes after a held failure
};
constexpr uint64_t DEFAULT_FRESH_WORLDS = 10000;
constexpr uint64_t START_US = 1000000;  // the recording host's clock starts here
constexpr uint64_t CALL_CAP = 3000000;  // library calls or clock reads beyond this: a hang

// --- random numbers: splitmix64, the same sequence on every platform ---

struct Rng {
    uint64_t state;
};

uint64_t next(Rng &r) {
    uint64_t z = (r.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
uint32_t below(Rng &r, uint32_t n) { return n ? uint32_t(next(r) % n) : 0; }
bool oneIn(Rng &r, uint32_t n) { return n && below(r, n) == 0; }

// How hostile the world being built is: from 0, calm (only the user and the plugging), to 3. A
// fault drawn "one in n" comes one in n * 6 / level.
int g_hostility;
bool hostile(Rng &r, uint32_t n) { return g_hostility && oneIn(r, n * 6 / uint32_t(g_hostility)); }
int maybe(Rng &r, uint32_t n, uint32_t range) { return hostile(r, n) ? int(below(r, range)) : -1; }

std::string format(const char *f, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *f, ...) {
    char text[512];
    va_list args;
    va_start(args, f);
    vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

// --- the world ---

enum AdapterKind { KIND_CURRENT, KIND_OLD, KIND_INVALID, KIND_DAMAGED, KIND_FOREIGN_BLANK };
const char *const KIND_NAMES[] = {"current", "old", "invalid usb id",
                                  "damaged (bad checksum, our strings)", "someone else's blank chip"};

struct BoardSpec {
    bool powered;
    SimVersionReply reply;
    uint16_t version;
    int refuseWrite, badReadSum, truncateRead, truncateAfter, unplugAtBlock;
    uint32_t byteIntervalMs;
    uint64_t contentSeed;
};

struct AdapterSpec {
    AdapterKind kind;
    uint32_t usbId;
    bool serialOnly;  // named by its serial alone: "OBD1 EMU A" / "KESTAA"
    bool plugged, unlistedB, infoFails, portFails;
    int openFails, failSetting;  // channel that fails to open; setting that fails (1..3)
    int32_t ports[2];
    int eeFailWord, eeUnplugWord, eeDropWord, eeDropWrites;
    bool readEeFails;
    uint32_t reenumerateMs;
    BoardSpec board;
};

struct ForeignSpec {
    uint32_t type, id;
    const char *description, *serial;
    bool present;
};

enum Anchor { AT_MS, BEFORE_CALL, AFTER_WINDOW_OP, IN_DIALOG };
enum Action { ACT_UNPLUG, ACT_PLUG, ACT_REPLUG_OTHER_BOARD, ACT_PRESS, ACT_TOGGLE_FOREIGN, ACT_STOP };

struct Event {
    Anchor anchor;
    SimFn fn;    // BEFORE_CALL: before call number n of fn
    uint64_t n;  // ms, call number, window operation number or dialog number
    Action action;
    int target;  // adapter, button or foreign device
    bool patient;  // a press that waits until its button is enabled
    BoardSpec board;
};

enum Answer { ANSWER_CANCEL, ANSWER_GOOD, ANSWER_NEW, ANSWER_LOCKED, ANSWER_WRONG_SIZE, ANSWER_BROKEN };
const char *const ANSWER_NAMES[] = {"cancel", "good.bin (an image)", "new.bin (missing)",
                                    "locked.bin (locked)", "odd.bin (wrong size)",
                                    "good.bin, but every write or read of it breaks off"};
const wchar_t *const ANSWER_PATHS[] = {L"", L"C:\\img\\good.bin", L"C:\\img\\new.bin",
                                       L"C:\\img\\locked.bin", L"C:\\img\\odd.bin", L"C:\\img\\good.bin"};

struct World {
    uint64_t seed;
    uint32_t lengthMs;
    int hostility;
    bool wire, readEE, latency;
    uint32_t faultOneIn, shortReadOneIn;  // per library call, per FT_Read; 0: never
    int allocFailAt;                      // the search allocation that fails; -1: none
    uint32_t oddSize;
    std::vector<AdapterSpec> adapters;
    std::vector<ForeignSpec> foreign;
    std::vector<Event> events;
    std::vector<Answer> answers;
};

BoardSpec makeBoard(Rng &r) {
    BoardSpec b;
    b.powered = !hostile(r, 12);
    b.reply = hostile(r, 4) ? SimVersionReply(below(r, 5)) : SIM_REPLY_NORMAL;
    b.version = uint16_t(next(r));
    b.refuseWrite = maybe(r, 6, 256);
    b.badReadSum = maybe(r, 6, 128);
    b.truncateRead = maybe(r, 8, 128);
    b.truncateAfter = int(below(r, 257));
    b.unplugAtBlock = maybe(r, 8, 400);
    static const uint32_t SLOW[] = {1, 40, 299, 301};
    b.byteIntervalMs = hostile(r, 10) ? SLOW[below(r, 4)] : 0;
    b.contentSeed = next(r);
    return b;
}

World makeWorld(uint64_t seed) {
    Rng r = {seed};
    World w;
    w.seed = seed;
    w.hostility = g_hostility = int(below(r, 4));
    w.lengthMs = 500 + below(r, 40000);
    w.wire = oneIn(r, 3);
    w.readEE = !oneIn(r, 5);
    w.latency = !oneIn(r, 5);
    static const uint32_t FAULT_RATES[] = {0, 0, 0, 40, 300, 3000, 30000};
    w.faultOneIn = g_hostility ? FAULT_RATES[below(r, 7)] : 0;
    static const uint32_t SHORT_RATES[] = {0, 0, 2, 10, 200};
    w.shortReadOneIn = g_hostility ? SHORT_RATES[below(r, 5)] : 0;
    w.allocFailAt = maybe(r, 40, 20);
    static const uint32_t ODD_SIZES[] = {0, 1, 32767, 32769, 65536};
    w.oddSize = ODD_SIZES[below(r, 5)];

    static const uint32_t ADAPTER_COUNTS[] = {0, 1, 1, 1, 1, 1, 2, 3};
    const uint32_t adapters = ADAPTER_COUNTS[below(r, 8)];
    for (uint32_t i = 0; i < adapters; ++i) {
        AdapterSpec a = {};
        a.kind = AdapterKind(below(r, 5) == 4 ? below(r, 5) : below(r, 3) ? uint32_t(KIND_CURRENT) : below(r, 4));
        a.usbId = a.kind == KIND_OLD ? USB_ID_OLD : a.kind == KIND_INVALID ? uint32_t(next(r)) : USB_ID_CURRENT;
        a.serialOnly = oneIn(r, 8);
        a.plugged = !oneIn(r, 6);
        a.unlistedB = hostile(r, 12);
        a.infoFails = hostile(r, 15);
        a.portFails = hostile(r, 10);
        a.openFails = maybe(r, 15, 2);
        a.failSetting = hostile(r, 15) ? int(1 + below(r, 3)) : 0;
        static const int32_t PORTS[] = {5, 6, 255, 0, 256, -1};
        a.ports[0] = PORTS[hostile(r, 4) ? below(r, 6) : 0];
        a.ports[1] = PORTS[hostile(r, 4) ? below(r, 6) : 1];
        a.eeFailWord = maybe(r, 8, 64);
        a.eeUnplugWord = maybe(r, 8, 64);
        a.eeDropWord = hostile(r, 6) ? oneIn(r, 2) ? 63 : int(below(r, 64)) : -1;  // 63 always differs
        a.eeDropWrites = oneIn(r, 3) ? -1 : int(1 + below(r, 4));
        a.readEeFails = hostile(r, 12);
        a.reenumerateMs = below(r, 3000);
        a.board = makeBoard(r);
        if (!a.plugged) {
            Event plug = {AT_MS, SIM_READ, below(r, w.lengthMs), ACT_PLUG, int(i), false, {}};
            w.events.push_back(plug);
        }
        w.adapters.push_back(a);
    }
    static const ForeignSpec FOREIGN[] = {
        {FT_DEVICE_2232C, 0x04036010, "Dual RS232 A", "", true},  // a blank chip, not attached
        {5, 0x04036001, "USB Serial Converter", "FT12345", true},
        {3, 0x04036010, "KESTA OBD1 EMU A", "KESTAA", true},  // our name, another chip type
        {FT_DEVICE_2232C, 0, "KESTA OBD1 EMU A", "KESTAA", true},  // our name, no id
        {FT_DEVICE_2232C, 0x04036010, "KESTA OBD1 EMU AX", "X", true},
    };
    for (uint32_t i = oneIn(r, 3) ? 1 + below(r, 2) : 0; i > 0; --i) {
        ForeignSpec f = FOREIGN[below(r, 5)];
        f.present = !oneIn(r, 3);
        w.foreign.push_back(f);
    }
    for (uint32_t i = below(r, 13); i > 0; --i) {
        Event e = {};
        const uint32_t kind = below(r, 20);
        e.action = kind < 12 ? ACT_PRESS : kind < 14 ? ACT_UNPLUG : kind < 17 ? ACT_PLUG
                   : kind < 19 ? ACT_REPLUG_OTHER_BOARD : ACT_TOGGLE_FOREIGN;
        e.target = e.action == ACT_PRESS ? int(1 + below(r, 4))
                   : e.action == ACT_TOGGLE_FOREIGN ? int(below(r, uint32_t(w.foreign.size())))
                                                    : int(below(r, uint32_t(w.adapters.size())));
        if ((e.action == ACT_TOGGLE_FOREIGN && w.foreign.empty()) ||
            (e.action != ACT_PRESS && e.action != ACT_TOGGLE_FOREIGN && w.adapters.empty()))
            continue;
        if (e.action == ACT_REPLUG_OTHER_BOARD) e.board = makeBoard(r);
        e.patient = e.action == ACT_PRESS && !oneIn(r, 3);
        const uint32_t anchor = below(r, 4);
        e.anchor = anchor < 2 ? AT_MS : anchor == 2 ? BEFORE_CALL : AFTER_WINDOW_OP;
        if (e.anchor == AT_MS) e.n = below(r, w.lengthMs);
        if (e.anchor == AFTER_WINDOW_OP) e.n = below(r, 120);
        if (e.anchor == BEFORE_CALL) {
            static const SimFn FNS[] = {SIM_READ, SIM_WRITE, SIM_WRITE_EE, SIM_READ_EE, SIM_OPEN,
                                        SIM_CREATE_LIST, SIM_GET_INFO, SIM_CYCLE_PORT, SIM_PURGE};
            static const uint32_t RANGES[] = {40000, 700, 150, 200, 12, 30, 8, 3, 100};
            const uint32_t f = below(r, 9);
            e.fn = FNS[f];
            e.n = below(r, RANGES[f]);
        }
        w.events.push_back(e);
    }
    Event stop = {};
    stop.action = ACT_STOP;
    const uint32_t anchor = below(r, 12);
    stop.anchor = anchor < 5 ? AT_MS : anchor == 5 ? BEFORE_CALL : anchor == 6 ? AFTER_WINDOW_OP : IN_DIALOG;
    stop.n = stop.anchor == AT_MS ? below(r, w.lengthMs) : below(r, stop.anchor == IN_DIALOG ? 3 : 200);
    stop.fn = oneIn(r, 2) ? SIM_READ : SIM_WRITE;
    if (stop.anchor == BEFORE_CALL && stop.fn == SIM_READ) stop.n *= 100;
    if (anchor < 8) w.events.push_back(stop);  // else at the world's end
    // Mostly an image, so that many Writes and Reads get as far as their blocks.
    for (uint32_t i = below(r, 6); i > 0; --i) w.answers.push_back(Answer(oneIn(r, 2) ? uint32_t(ANSWER_GOOD) : below(r, 6)));
    return w;
}

std::string describeBoard(const BoardSpec &b) {
    static const char *const REPLIES[] = {"normal", "silent", "short", "wrong third byte", "long"};
    std::string s = format("version %04X, \"VV\" reply %s", b.version, REPLIES[b.reply]);
    if (!b.powered) s += ", unpowered (silent)";
    if (b.refuseWrite >= 0) s += format(", refuses write block %d", b.refuseWrite);
    if (b.badReadSum >= 0) s += format(", bad checksum on read block %d", b.badReadSum);
    if (b.truncateRead >= 0) s += format(", read block %d cut after %d bytes", b.truncateRead, b.truncateAfter);
    if (b.unplugAtBlock >= 0) s += format(", unplugged at block command %d", b.unplugAtBlock);
    if (b.byteIntervalMs) s += format(", a byte every %u ms", b.byteIntervalMs);
    return s;
}

std::string describeEvent(const World &w, const Event &e) {
    std::string s;
    switch (e.anchor) {
    case AT_MS: s = format("at %llu ms: ", (unsigned long long)e.n); break;
    case BEFORE_CALL: s = format("before %s #%llu: ", simFnName(e.fn), (unsigned long long)e.n); break;
    case AFTER_WINDOW_OP: s = format("after window operation #%llu: ", (unsigned long long)e.n); break;
    case IN_DIALOG: s = format("while file dialog #%llu answers: ", (unsigned long long)e.n); break;
    }
    static const char *const BUTTONS[] = {"", "Erase", "Read", "Write", "Update"};
    switch (e.action) {
    case ACT_UNPLUG: return s + format("unplug adapter %d", e.target);
    case ACT_PLUG: return s + format("plug adapter %d", e.target);
    case ACT_REPLUG_OTHER_BOARD:
        return s + format("replug adapter %d with another board: %s", e.target, describeBoard(e.board).c_str());
    case ACT_PRESS: return s + format("press %s%s", BUTTONS[e.target], e.patient ? " (as soon as it is enabled)" : "");
    case ACT_TOGGLE_FOREIGN:
        return s + format("foreign device %d %s", e.target, w.foreign[size_t(e.target)].present ? "goes (first)" : "comes (first)");
    case ACT_STOP: break;
    }
    return s + "stop";
}

std::string describeWorld(const World &w) {
    std::string s = format("world %llu: %u ms, hostility %d; library: ", (unsigned long long)w.seed, w.lengthMs, w.hostility);
    s += w.faultOneIn ? format("1 call in %u fails", w.faultOneIn) : std::string("calls do not fail");
    if (w.shortReadOneIn) s += format(", 1 FT_Read in %u comes back short", w.shortReadOneIn);
    s += w.readEE ? ", FT_ReadEE" : ", no FT_ReadEE";
    s += w.latency ? ", FT_SetLatencyTimer" : ", no FT_SetLatencyTimer";
    if (w.allocFailAt >= 0) s += format(", search allocation %d fails", w.allocFailAt);
    s += w.wire ? "; wire timing\n" : "\n";
    for (size_t i = 0; i < w.adapters.size(); ++i) {
        const AdapterSpec &a = w.adapters[i];
        s += format("  adapter %zu: %s [%08X]%s, %s", i, KIND_NAMES[a.kind], a.usbId,
                    a.serialOnly ? " named by serial" : "", a.plugged ? "plugged" : "unplugged");
        if (a.unlistedB) s += ", channel B not listed";
        if (a.openFails >= 0) s += format(", channel %c fails to open", "AB"[a.openFails]);
        if (a.failSetting) s += format(", line setting %d fails", a.failSetting);
        if (a.infoFails) s += ", FT_GetDeviceInfo fails";
        if (a.portFails) s += ", FT_GetComPortNumber fails";
        s += format(", ports %d/%d", a.ports[0], a.ports[1]);
        if (a.eeFailWord >= 0) s += format(", EEPROM word %d fails", a.eeFailWord);
        if (a.eeUnplugWord >= 0) s += format(", unplugged at EEPROM word %d", a.eeUnplugWord);
        if (a.eeDropWord >= 0) s += format(", EEPROM word %d dropped %d times", a.eeDropWord, a.eeDropWrites);
        if (a.readEeFails) s += ", FT_ReadEE fails";
        s += format(", re-enumerates in %u ms\n    board: %s\n", a.reenumerateMs, describeBoard(a.board).c_str());
    }
    for (size_t i = 0; i < w.foreign.size(); ++i) {
        const ForeignSpec &f = w.foreign[i];
        s += format("  foreign device %zu: type %u id %08X \"%s\" \"%s\"%s\n", i, f.type, f.id,
                    f.description, f.serial, f.present ? "" : ", not yet attached");
    }
    for (const Event &e : w.events) s += "  " + describeEvent(w, e) + "\n";
    s += "  file dialogs answer:";
    for (Answer a : w.answers) s += format(" %s;", ANSWER_NAMES[a]);
    return s + " then cancel\n";
}

// --- the run: world state, the checker's memory and the trace ---

enum OpPhase { OP_IDLE, OP_RUNNING, OP_ENDED };

struct Run {
    const World *world;
    RecordingHost *host;
    Rng faults;
    bool tracing;
    std::vector<std::string> trace;
    uint32_t reads;  // FT_Read calls not yet in the trace
    std::string readBytes;
    std::string violation;
    std::vector<bool> fired;
    std::vector<size_t> patient;  // presses waiting for their button
    std::vector<bool> foreignPresent;
    std::vector<int> boardGeneration;
    uint64_t calls[16], allCalls, windowOps, clockReads;
    int dialogs, allocations;
    std::map<FT_HANDLE, int> held;  // channels the program holds open: adapter * 2 + channel
    int pendingPress;
    // The operation in progress.
    int op, opAdapter, opGeneration, blocks;
    OpPhase phase;
    bool reported, okLogged, blockFailed, awaitingAnswer, needsUpdate, saved, eeFailed;
    std::vector<uint8_t> before, writeData;
    int eeNext, eeVerified, lastReadWord;
    bool lastReadDiffers;
    std::string expectLog, expectStatus;
    uint32_t identifiedId;  // channel A's identity as the library last gave it
    std::string identifiedName;
    // The stop.
    bool stopped, stopInCall;
    uint64_t stopUs, settleUs;
    int depth;
    bool offered;
};

Run g_run;
int g_presses, g_offeredWorlds;
const D2xxApi *g_inner;
const Host *g_innerHost;
const ClockSeam *g_innerClock;

uint64_t now() { return g_run.host->nowUs; }

std::string escaped(const std::string &text) {
    std::string shown;
    for (char c : text) shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    return shown;
}

void note(const std::string &line) {
    if (!g_run.tracing || !g_run.violation.empty()) return;
    if (g_run.reads) {
        g_run.trace.push_back(format("         %u x FT_Read: %s", g_run.reads, g_run.readBytes.c_str()));
        g_run.reads = 0;
        g_run.readBytes.clear();
    }
    g_run.trace.push_back(format("%8.3f %s", double(now() - START_US) / 1e6, escaped(line).c_str()));
}

void violate(const std::string &what) {
    if (!g_run.violation.empty()) return;
    note("VIOLATION: " + what);
    g_run.violation = format("at %.3f s: %s", double(now() - START_US) / 1e6, escaped(what).c_str());
    g_run.host->stop = true;  // the world ends here; what follows the first fault tells nothing
    g_run.stopped = true;
}

int adapterAt(uint32_t locId) {
    const std::vector<SimAdapter> &as = simWorld().adapters;
    for (size_t i = 0; i < as.size(); ++i)
        for (int ch = 0; ch < 2; ++ch)
            if (as[i].channels[ch].record.LocId == locId) return int(i) * 2 + ch;
    return -1;
}

int heldChannel(FT_HANDLE h) {
    auto it = g_run.held.find(h);
    return it == g_run.held.end() ? -1 : it->second;
}


void fillBoard(int adapter, const BoardSpec &b) {
    SimBoard &board = simAdapter(adapter).board;
    board.powered = b.powered;
    board.versionReply = b.reply;
    board.version = b.version;
    board.refuseWriteBlock = b.refuseWrite;
    board.badChecksumReadBlock = b.badReadSum;
    board.truncateReadBlock = b.truncateRead;
    board.truncateAfterBytes = b.truncateAfter;
    board.unplugAtBlockCommand = b.unplugAtBlock;
    board.byteIntervalMs = b.byteIntervalMs;
    board.wireTiming = g_run.world->wire;
    Rng content = {b.contentSeed};
    for (size_t i = 0; i < sizeof board.memory; i += 8) {
        const uint64_t v = next(content);
        memcpy(board.memory + i, &v, 8);
    }
    ++g_run.boardGeneration[size_t(adapter)];
}

void setForeign(int f, bool present) {
    std::vector<SimListEntry> &list = simWorld().list;
    const uint32_t locId = 0x9000 + uint32_t(f);
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].adapter < 0 && list[i].foreign.LocId == locId) list.erase(list.begin() + long(i));
    if (present) {
        const ForeignSpec &s = g_run.world->foreign[size_t(f)];
        simAddForeignDevice(s.type, s.id, s.description, s.serial);
        list.back().foreign.LocId = locId;
        // Anywhere in the list, ahead of the adapters too.
        std::rotate(list.begin() + long(below(g_run.faults, uint32_t(list.size()))), list.end() - 1, list.end());
    }
    g_run.foreignPresent[size_t(f)] = present;
}

void requestStop(const char *why) {
    if (g_run.stopped) return;
    note(std::string("stop requested: ") + why);
    g_run.stopped = true;
    g_run.host->stop = true;
    g_run.stopUs = now();
    g_run.stopInCall = g_run.depth > 0;
    if (!g_run.stopInCall) g_run.settleUs = now();
}

void fire(size_t index) {
    if (g_run.fired[index] || !g_run.violation.empty()) return;
    g_run.fired[index] = true;
    const Event &e = g_run.world->events[index];
    if (e.action != ACT_PRESS && e.action != ACT_STOP) note("world: " + describeEvent(*g_run.world, e));
    switch (e.action) {
    case ACT_UNPLUG: simUnplug(e.target); break;
    case ACT_PLUG: simPlug(e.target); break;
    case ACT_REPLUG_OTHER_BOARD:
        simUnplug(e.target);
        fillBoard(e.target, e.board);
        simPlug(e.target);
        break;
    case ACT_TOGGLE_FOREIGN: setForeign(e.target, !g_run.foreignPresent[size_t(e.target)]); break;
    case ACT_STOP: requestStop(describeEvent(*g_run.world, e).c_str()); break;
    case ACT_PRESS:
        // As the window makes it: only an enabled button can be pressed.
        if (g_run.stopped || !g_run.host->buttons[e.target]) {
            if (e.patient) g_run.patient.push_back(index);
            else note(format("user presses button %d: disabled, nothing happens", e.target));
            break;
        }
        note(format("user presses button %d", e.target));
        ++g_presses;
        g_run.host->press(Operation(e.target));
        g_run.pendingPress = e.target;
        break;
    }
}

void fireAnchored(Anchor anchor, SimFn fn, uint64_t n) {
    const std::vector<Event> &events = g_run.world->events;
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i].anchor == anchor && events[i].n == n && (anchor != BEFORE_CALL || events[i].fn == fn))
            fire(i);
}

// --- invariants ---

const char *const OPENING[] = {nullptr, " Erase.\r\nClear ECU memory, wait... ",
                               " Read.\r\nRead data from ECU, wait... ",
                               " Write.\r\nLoad binary file... ", " Update.\r\nUpdate, wait... "};
const char OK_TAIL[] = " Ok.\r\nRe-connect...";
const char DISCONNECTED[] = "\r\nECU was disconnected, wait for connect...";
const char UNABLE[] = "Unable to determine device status.\r\nIs ECU power connected?";
const char CHOICE[] = "Waiting for your choice...";
const char CANT_PROGRAM[] = "Fail! Can't program FTDI chip!";

const char *const KNOWN_LOG[] = {
    "Searching for device...\r\n", "Found Kesta OBD1 EMU [%04X/%04X].\r\nConnecting... ", "Ok.",
    "Fail.", "\r\n", "Ostrich Ver. %02X.%02X.\r\n", "RTP port:\t\tCOM%u.\r\n",
    "Datalog port:\tCOM%u.\r\n", "---\r\n",
    "Invalid USBID.\r\nThe problem will be fixed after update.\r\n",
    "Kesta OBD1 EMU needs an update.\r\n",
    "Damaged adapter configuration.\r\nThe problem will be fixed after update.\r\n", CHOICE, UNABLE,
    DISCONNECTED, OK_TAIL, " Ok.\r\nSave binary file... ", " Ok.\r\nWrite data to ECU, wait... ",
    CANT_PROGRAM,
};
// Failures held with a status text: the log text, then the status text.
const char *const FAILURE_PAIRS[][2] = {
    {"Fail!", "Operation failed!"},
    {"Canceled.\r\n", "Operation canceled!"},
    {"Can't create file!\r\n", "Can't create file!"},
    {"Can't write file!\r\n", "Can't write file!"},
    {"Can't open file!\r\n", "Can't open file!"},
    {"Invalid file size!\r\n", "Invalid file size!"},
    {"Can't read file!\r\n", "Can't read file!"},
};

// Matches printf's %04X and %02X (upper-case hex digits) and %u (a port number, 1 to 255).
bool matches(const char *f, const char *t) {
    while (*f) {
        if (f[0] == '%' && f[1] == 'u') {
            unsigned value = 0, digits = 0;
            for (; *t >= '0' && *t <= '9' && digits < 4; ++t, ++digits) value = value * 10 + unsigned(*t - '0');
            if (digits == 0 || value < 1 || value > 255 || (digits > 1 && t[-int(digits)] == '0')) return false;
            f += 2;
        } else if (f[0] == '%') {
            for (int i = 0; i < f[2] - '0'; ++i, ++t)
                if (!((*t >= '0' && *t <= '9') || (*t >= 'A' && *t <= 'F'))) return false;
            f += 4;
        } else if (*f++ != *t++) {
            return false;
        }
    }
    return *t == '\0';
}

bool knownLog(const std::string &t) {
    for (const char *k : KNOWN_LOG)
        if (matches(k, t.c_str())) return true;
    for (const char *k : OPENING)
        if (k && t == k) return true;
    for (const auto &pair : FAILURE_PAIRS)
        if (t == pair[0]) return true;
    return false;
}

// --- the operation in progress, followed through the log ---

const uint8_t ERASED_BLOCK[BLOCK_WRITE_SIZE] = {
#define FF16 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    FF16 FF16 FF16 FF16 FF16 FF16 FF16 FF16
#undef FF16
};

const uint8_t *sentData(uint32_t block) {
    return g_run.op == OP_ERASE ? ERASED_BLOCK : g_run.writeData.data() + block * BLOCK_WRITE_SIZE;
}

// Erase and Write: block by block the board holds exactly what was sent, up to the block that
// failed (which may hold either), and nothing after it changed.
void checkBoard() {
    if ((g_run.op != OP_ERASE && g_run.op != OP_WRITE) || g_run.opAdapter < 0 ||
        g_run.boardGeneration[size_t(g_run.opAdapter)] != g_run.opGeneration)
        return;
    const uint8_t *memory = simAdapter(g_run.opAdapter).board.memory;
    const int lastSure = g_run.okLogged ? g_run.blocks : g_run.blocks - 1;
    for (int b = 0; b < int(MEMORY_SIZE / BLOCK_WRITE_SIZE); ++b) {
        const size_t at = size_t(b) * BLOCK_WRITE_SIZE;
        const bool sent = b < g_run.blocks && memcmp(memory + at, sentData(uint32_t(b)), BLOCK_WRITE_SIZE) == 0;
        const bool old = memcmp(memory + at, g_run.before.data() + at, BLOCK_WRITE_SIZE) == 0;
        if (b < lastSure ? !sent : b < g_run.blocks ? !sent && !old : !old)
            return violate(format("board block %d (address %04zX) holds neither what was sent nor what it held", b, at));
    }
}

void finishOp() {
    if (!g_run.op) return;
    if (!g_run.reported && !g_run.stopped) violate(format("operation %d ended without reporting its outcome", g_run.op));
    checkBoard();
    g_run.op = OP_NONE;
}

int g_stats[5], g_statsOk[5];
void startOp(int op) {
    ++g_stats[op];
    finishOp();
    if (g_run.pendingPress != op)
        return violate(g_run.pendingPress ? format("a press of button %d started operation %d", g_run.pendingPress, op)
                                          : format("operation %d started without a press", op));
    g_run.pendingPress = 0;
    const int channel = heldChannel(g_channels.channelA);
    if (channel < 0 || channel % 2) return violate("an operation started without our channel A open");
    g_run.op = op;
    g_run.opAdapter = channel / 2;
    g_run.opGeneration = g_run.boardGeneration[size_t(g_run.opAdapter)];
    const uint8_t *memory = simAdapter(g_run.opAdapter).board.memory;
    g_run.before.assign(memory, memory + MEMORY_SIZE);
    g_run.writeData.clear();
    g_run.blocks = g_run.eeNext = g_run.eeVerified = 0;
    g_run.lastReadWord = -1;
    g_run.reported = g_run.okLogged = g_run.blockFailed = g_run.awaitingAnswer = false;
    g_run.saved = g_run.eeFailed = g_run.lastReadDiffers = false;
    g_run.needsUpdate = g_run.world->adapters[size_t(g_run.opAdapter)].kind != KIND_FOREIGN_BLANK &&
                        (g_run.identifiedId != USB_ID_CURRENT || g_run.identifiedName == "Dual RS232");
}

// A press of an enabled button is honoured: its operation's opening text is the next opening
// text, unless first the connection ends (the disconnect line or a new search), the worker
// withdraws the choice because the board stopped answering (UNABLE), or a stop is requested.
// The worker takes the request and logs the opening with no library call or window operation
// in between, so a request gone at any other moment was lost.
void checkPressKept(const std::string *log) {
    if (!g_run.pendingPress || g_appState.requestedOperation != OP_NONE || g_run.stopped) return;
    if (log && *log == OPENING[g_run.pendingPress]) return;
    violate(format("the press of button %d was lost: its request is gone and no operation began", g_run.pendingPress));
}

void onLog(const std::string &t) {
    if (!knownLog(t)) violate("unknown log text \"" + t + "\"");
    for (int op = OP_ERASE; op <= OP_UPDATE; ++op)
        if (t == OPENING[op]) startOp(op);
    if (t == CHOICE || t == UNABLE || t == DISCONNECTED || t.compare(0, 11, "Found Kesta") == 0) finishOp();
    if (t == UNABLE || t == DISCONNECTED) g_run.pendingPress = 0;
    if (t == CHOICE && !g_run.offered) g_run.offered = true, ++g_offeredWorlds;
    if (t.compare(0, 11, "Found Kesta") == 0) {
        const int channel = heldChannel(g_channels.channelA);
        if (channel < 0 || g_run.world->adapters[size_t(channel / 2)].kind == KIND_FOREIGN_BLANK)
            return violate("announced a device that is not ours");
        if (t != format("Found Kesta OBD1 EMU [%04X/%04X].\r\nConnecting... ", g_run.identifiedId >> 16,
                        g_run.identifiedId & 0xFFFF))
            violate("the announce line shows another USB id than the adapter's");
    }
    if (!g_run.op || g_run.reported) return;
    if (t == OK_TAIL) g_run.reported = g_run.okLogged = true, ++g_statsOk[g_run.op];
    if (t == CANT_PROGRAM) g_run.reported = true;
    for (const auto &pair : FAILURE_PAIRS)
        if (t == pair[0]) {
            g_run.reported = true;
            g_run.expectStatus = pair[1];
        }
}

void checkButtons() {
    const bool *b = g_run.host->buttons;
    const bool update = g_appState.updateRequired != 0;
    bool any = false, rule = true;
    for (int op = OP_ERASE; op <= OP_UPDATE; ++op) {
        any = any || b[op];
        rule = rule && b[op] == buttonEnabledByRule(Operation(op), true, update);
    }
    if (any && !rule)
        violate(format("buttons E%d R%d W%d U%d neither follow the rule (update %d) nor are all off", b[1], b[2],
                       b[3], b[4], update));
}

// --- the library, as the program sees it: the simulator behind a seeded fault injector ---

[[noreturn]] void hang(const char *what) {
    fprintf(stderr, "campaign: world %llu hangs: %s (replay: kesta_campaign --seed %llu)\n%s",
            (unsigned long long)g_run.world->seed, what, (unsigned long long)g_run.world->seed,
            describeWorld(*g_run.world).c_str());
    abort();
}

std::string channelName(FT_HANDLE h) {
    const int c = heldChannel(h);
    return c < 0 ? "a handle not held" : format("adapter %d %c", c / 2, "AB"[c % 2]);
}

// Before every call: the checks between calls, the world's call-anchored events and the fault
// draw. True, with `status`, when the call is to fail without reaching the library.
bool enter(SimFn fn, FT_STATUS &status) {
    if (++g_run.allCalls > CALL_CAP) {
        violate("more library calls than any world needs");
        if (g_run.allCalls > 2 * CALL_CAP) hang("library calls go on after the stop");
    }
    checkPressKept(nullptr);
    fireAnchored(BEFORE_CALL, fn, g_run.calls[fn]++);
    ++g_run.depth;
    if (!oneIn(g_run.faults, g_run.world->faultOneIn)) return false;
    status = oneIn(g_run.faults, 4) ? FT_STATUS(next(g_run.faults)) | 1 : 1 + below(g_run.faults, 18);
    return true;
}

FT_STATUS leave(SimFn fn, FT_STATUS status, FT_HANDLE h, const std::string &detail) {
    if (--g_run.depth == 0 && g_run.stopInCall && !g_run.settleUs) g_run.settleUs = now();
    if (g_run.tracing && fn != SIM_READ)
        note(format("%s(%s%s) -> %u", simFnName(fn), h ? channelName(h).c_str() : "", detail.c_str(), status));
    return status;
}

#define TRACE_ARGS(...) (g_run.tracing ? format(__VA_ARGS__) : std::string())

FT_STATUS FT_API cCreateList(uint32_t *count) {
    // A search begins: the connection before it has ended, and the program holds no channel.
    finishOp();
    g_run.pendingPress = 0;
    if (!g_run.held.empty()) violate("a search began with " + channelName(g_run.held.begin()->first) + " still open");
    FT_STATUS st;
    if (!enter(SIM_CREATE_LIST, st)) st = g_inner->createDeviceInfoList(count);
    return leave(SIM_CREATE_LIST, st, nullptr, TRACE_ARGS("%u", st ? 0 : *count));
}

FT_STATUS FT_API cGetList(FT_DEVICE_LIST_INFO_NODE *list, uint32_t *count) {
    FT_STATUS st;
    if (!enter(SIM_GET_LIST, st)) st = g_inner->getDeviceInfoList(list, count);
    return leave(SIM_GET_LIST, st, nullptr, TRACE_ARGS("%u", st ? 0 : *count));
}

FT_STATUS FT_API cOpen(void *arg, uint32_t flags, FT_HANDLE *h) {
    FT_STATUS st;
    if (!enter(SIM_OPEN, st)) st = g_inner->openEx(arg, flags, h);
    const uint32_t locId = uint32_t(reinterpret_cast<uintptr_t>(arg));
    if (st == FT_OK) {
        if (g_run.held.count(*h)) violate("a handle given out twice");
        g_run.held[*h] = adapterAt(locId);
    }
    return leave(SIM_OPEN, st, st ? nullptr : *h, TRACE_ARGS(" location %X", locId));
}

FT_STATUS FT_API cClose(FT_HANDLE h) {
    FT_STATUS st;
    // A close that reports a failure has closed all the same: the handle is gone either way.
    const bool fails = enter(SIM_CLOSE, st);
    const std::string name = channelName(h);
    const FT_STATUS closed = g_inner->close(h);
    if (!fails) st = closed;
    if (!g_run.held.erase(h)) violate("FT_Close of a handle the program does not hold");
    return leave(SIM_CLOSE, st, nullptr, name);
}

FT_STATUS FT_API cSetBaud(FT_HANDLE h, uint32_t baud) {
    FT_STATUS st;
    if (!enter(SIM_SET_BAUD, st)) st = g_inner->setBaudRate(h, baud);
    return leave(SIM_SET_BAUD, st, h, "");
}

FT_STATUS FT_API cSetData(FT_HANDLE h, uint8_t w, uint8_t s, uint8_t p) {
    FT_STATUS st;
    if (!enter(SIM_SET_DATA, st)) st = g_inner->setDataCharacteristics(h, w, s, p);
    return leave(SIM_SET_DATA, st, h, "");
}

FT_STATUS FT_API cSetTimeouts(FT_HANDLE h, uint32_t r, uint32_t w) {
    FT_STATUS st;
    if (!enter(SIM_SET_TIMEOUTS, st)) st = g_inner->setTimeouts(h, r, w);
    return leave(SIM_SET_TIMEOUTS, st, h, "");
}

FT_STATUS FT_API cPurge(FT_HANDLE h, uint32_t mask) {
    FT_STATUS st;
    if (!enter(SIM_PURGE, st)) st = g_inner->purge(h, mask);
    return leave(SIM_PURGE, st, h, "");
}

FT_STATUS FT_API cRead(FT_HANDLE h, void *buffer, uint32_t length, uint32_t *done) {
    FT_STATUS st;
    if (!enter(SIM_READ, st)) {
        if (!oneIn(g_run.faults, g_run.world->shortReadOneIn))
            st = g_inner->read(h, buffer, length, done);
        else if (length > 1)
            st = g_inner->read(h, buffer, 1 + below(g_run.faults, length - 1), done);
        else
            st = FT_OK, *done = 0;  // back at once with nothing
    }
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    const uint32_t got = st == FT_OK ? *done : 0;
    // After a block write, the first byte that comes is the board's answer.
    if (g_run.awaitingAnswer && (st != FT_OK || got > 0)) {
        g_run.awaitingAnswer = false;
        g_run.blockFailed = st != FT_OK || bytes[0] != BOARD_ACK;
    }
    if (g_run.tracing) {
        ++g_run.reads;
        if (st != FT_OK) g_run.readBytes += format("[status %u] ", st);
        for (uint32_t i = 0; i < got && g_run.readBytes.size() < 60; ++i) g_run.readBytes += format("%02X ", bytes[i]);
    }
    return leave(SIM_READ, st, h, "");
}

// What goes on the wire: "VV" at any time; block reads only in a Read, block writes only in an
// Erase or a Write, in address order, one in flight, carrying the fill or the file.
void checkPacket(FT_HANDLE h, const uint8_t *p, uint32_t length) {
    const int channel = heldChannel(h);
    if (channel < 0) return violate("FT_Write on a handle the program does not hold");
    if (channel % 2) return violate("channel B written");
    if (length == 2 && p[0] == 'V' && p[1] == 'V') return;
    const uint32_t address = uint32_t(p[2]) << 8 | p[3];
    if (length == 5 && p[0] == 'R') {
        if (g_run.op != OP_READ || g_run.reported) return violate("a block read outside a Read");
        if (address != uint32_t(g_run.blocks) * BLOCK_READ_SIZE) return violate(format("block read at %04X out of order", address));
        ++g_run.blocks;
        return;
    }
    if (length != 133 || p[0] != 'W') return violate("an unknown packet on channel A");
    if ((g_run.op != OP_ERASE && g_run.op != OP_WRITE) || g_run.reported)
        return violate("board memory written outside an Erase or a Write");
    if (channel / 2 != g_run.opAdapter) return violate("a block written to another adapter");
    if (g_run.blockFailed) return violate("a block sent after the failed one");
    if (g_run.awaitingAnswer) return violate("a block sent before the previous one was answered");
    if (address != uint32_t(g_run.blocks) * BLOCK_WRITE_SIZE) return violate(format("block written at %04X out of order", address));
    if (g_run.op == OP_WRITE && g_run.writeData.empty()) return violate("a block written before the file was loaded");
    if (memcmp(p + 4, sentData(uint32_t(g_run.blocks)), BLOCK_WRITE_SIZE) != 0)
        return violate(format("block %04X carries other data than %s", address, g_run.op == OP_ERASE ? "0xFF" : "the file's"));
    ++g_run.blocks;
    g_run.awaitingAnswer = true;
}

FT_STATUS FT_API cWrite(FT_HANDLE h, void *buffer, uint32_t length, uint32_t *done) {
    FT_STATUS st;
    const bool fails = enter(SIM_WRITE, st);
    const auto *p = static_cast<const uint8_t *>(buffer);
    checkPacket(h, p, length);
    if (!fails) st = g_inner->write(h, buffer, length, done);
    if (st != FT_OK && g_run.awaitingAnswer) g_run.awaitingAnswer = false, g_run.blockFailed = true;
    return leave(SIM_WRITE, st, h, TRACE_ARGS(", %c%c.. %u bytes", p[0], length > 1 ? p[1] : ' ', length));
}

// What the library told the program about the adapter: what it must show and how it must treat it.
FT_STATUS FT_API cGetInfo(FT_HANDLE h, uint32_t *type, uint32_t *id, char *serial, char *description, void *r) {
    FT_STATUS st;
    if (!enter(SIM_GET_INFO, st)) st = g_inner->getDeviceInfo(h, type, id, serial, description, r);
    if (st == FT_OK && id && description) {
        g_run.identifiedId = *id;
        g_run.identifiedName.assign(description, strnlen(description, 64));
        std::string &n = g_run.identifiedName;
        if (n.size() >= 2 && n.compare(n.size() - 2, 2, " A") == 0) n.resize(n.size() - 2);
    }
    return leave(SIM_GET_INFO, st, h, "");
}

FT_STATUS FT_API cGetComPort(FT_HANDLE h, int32_t *port) {
    FT_STATUS st;
    if (!enter(SIM_GET_COM_PORT, st)) st = g_inner->getComPortNumber(h, port);
    return leave(SIM_GET_COM_PORT, st, h, "");
}

// The EEPROM is written only in an Update pressed for an adapter that needs one, through its
// channel A, with the image's words in order; after all 64, a word is written again only when
// its read-back just differed.
FT_STATUS FT_API cWriteEE(FT_HANDLE h, uint32_t offset, uint16_t value) {
    FT_STATUS st;
    const bool fails = enter(SIM_WRITE_EE, st);
    const int channel = heldChannel(h);
    if (g_run.op != OP_UPDATE || g_run.reported) violate("EEPROM written outside an Update");
    else if (channel != g_run.opAdapter * 2) violate("EEPROM written through another channel than the adapter's A");
    else if (!g_run.needsUpdate) violate("EEPROM written on an adapter that needs no update");
    else if (offset >= 64 || value != AdapterEepromImage[offset]) violate(format("EEPROM word %u written with %04X, not the image's", offset, value));
    else if (g_run.eeFailed) violate("EEPROM written after a word failed");
    else if (g_run.eeNext < 64 && int(offset) != g_run.eeNext) violate(format("EEPROM word %u written out of order", offset));
    else if (g_run.eeNext == 64 && !(int(offset) == g_run.lastReadWord && g_run.lastReadDiffers))
        violate(format("EEPROM word %u written again without a read-back that differed", offset));
    if (!fails) st = g_inner->writeEE(h, offset, value);
    if (st != FT_OK) g_run.eeFailed = true;
    else if (g_run.eeNext < 64) ++g_run.eeNext;
    return leave(SIM_WRITE_EE, st, h, TRACE_ARGS(", word %u = %04X", offset, value));
}

FT_STATUS FT_API cReadEE(FT_HANDLE h, uint32_t offset, uint16_t *value) {
    FT_STATUS st;
    if (!enter(SIM_READ_EE, st)) st = g_inner->readEE(h, offset, value);
    if (g_run.op == OP_UPDATE && g_run.eeNext == 64 && offset < 64) {
        g_run.lastReadWord = int(offset);
        g_run.lastReadDiffers = st == FT_OK && *value != AdapterEepromImage[offset];
        if (st == FT_OK && !g_run.lastReadDiffers && int(offset) == g_run.eeVerified) ++g_run.eeVerified;
    }
    return leave(SIM_READ_EE, st, h, TRACE_ARGS(", word %u = %04X", offset, st ? 0 : *value));
}

// The port is cycled only in the success tail of a complete operation, on that adapter.
FT_STATUS FT_API cCyclePort(FT_HANDLE h) {
    FT_STATUS st;
    const bool fails = enter(SIM_CYCLE_PORT, st);
    const Run &r = g_run;
    const bool complete = r.op == OP_ERASE || r.op == OP_WRITE ? r.blocks == 256 && !r.blockFailed && !r.awaitingAnswer
                          : r.op == OP_READ                    ? r.saved
                          : r.op == OP_UPDATE ? r.eeNext == 64 && !r.eeFailed && (!r.world->readEE || r.eeVerified == 64)
                                              : false;
    if (!complete || !r.okLogged) violate("port cycled before the operation was complete");
    else if (heldChannel(h) != r.opAdapter * 2) violate("another channel than the adapter's A cycled");
    if (!fails) st = g_inner->cyclePort(h);
    return leave(SIM_CYCLE_PORT, st, h, "");
}

FT_STATUS FT_API cSetLatency(FT_HANDLE h, uint8_t ms) {
    FT_STATUS st;
    if (!enter(SIM_SET_LATENCY, st)) st = g_inner->setLatencyTimer(h, ms);
    return leave(SIM_SET_LATENCY, st, h, TRACE_ARGS(", %u ms", ms));
}

const D2xxApi CAMPAIGN_LIBRARY = {
    cCreateList, cGetList, cOpen,     cClose,      cSetBaud,   cSetData,    cSetTimeouts, cPurge,
    cRead,       cWrite,   cGetInfo,  cGetComPort, cWriteEE,   cCyclePort,  cSetLatency,  cReadEE,
};

void *campaignAllocate(size_t count, size_t size) {
    return g_run.allocations++ == g_run.world->allocFailAt ? nullptr : calloc(count, size);
}

// --- the window, as the worker sees it: the recording host behind the checks ---

void beforeWindowOp(const std::string &what, const std::string *log = nullptr) {
    note(what);
    if (g_run.host->stop) return violate("a window operation after the stop: " + what);
    checkPressKept(log);
    if (!g_run.expectLog.empty() && what != "log " + g_run.expectLog)
        violate("\"" + g_run.expectLog + "\" should have been reported here, not: " + what);
    if (!g_run.expectStatus.empty() && what != "status " + g_run.expectStatus + " hold 50")
        violate("status \"" + g_run.expectStatus + "\" held 50 ticks should follow its log text, not: " + what);
    g_run.expectLog.clear();
    g_run.expectStatus.clear();
}

// `partial`: one of the first three single-button changes after a held failure; the rule holds
// again once the fourth is made.
void afterWindowOp(bool partial = false) {
    if (!partial) checkButtons();
    fireAnchored(AFTER_WINDOW_OP, SIM_READ, g_run.windowOps++);
    for (size_t i = 0; i < g_run.patient.size(); ++i)
        if (g_run.host->buttons[g_run.world->events[g_run.patient[i]].target]) {
            const size_t index = g_run.patient[i];
            g_run.patient.erase(g_run.patient.begin() + long(i));
            g_run.fired[index] = false;
            fire(index);
            break;
        }
}

void hAppendLog(const wchar_t *text) {
    const std::string t = narrow(text);
    beforeWindowOp("log " + t, &t);
    onLog(t);
    g_innerHost->appendLog(text);
    afterWindowOp();
}

void hClearLog() {
    beforeWindowOp("clear log");
    g_innerHost->clearLog();
    afterWindowOp();
}

void hSetTypeLabel(const char *text) {
    beforeWindowOp(std::string("type ") + text);
    if (*text && g_run.identifiedName != text) violate("the type label shows another name than the adapter's");
    g_innerHost->setTypeLabel(text);
    afterWindowOp();
}

void hSetInfoLabel(InfoLabel label, const wchar_t *text) {
    const std::string t = narrow(text);
    beforeWindowOp(format("label %d ", int(label)) + t);
    if (!t.empty() && !matches(label == LABEL_OSTRICH_VERSION ? "Ver. %02X.%02X" : "COM%u", t.c_str()))
        violate("unknown label text \"" + t + "\"");
    g_innerHost->setInfoLabel(label, text);
    afterWindowOp();
}

void hShowStatus(const wchar_t *text, uint32_t hold) {
    const std::string t = narrow(text);
    beforeWindowOp(format("status %s hold %u", t.c_str(), hold));
    bool known = (t == "Connect the ECU with Kesta OBD1 EMU installed" && hold == STATUS_HOLD_FOREVER) ||
                 (t.empty() && hold == 1);
    for (const auto &pair : FAILURE_PAIRS) known = known || (t == pair[1] && hold == 50);
    if (!known) violate("unknown status text or hold");
    g_innerHost->showStatus(text, hold);
    afterWindowOp();
}

void hShowProgress(uint32_t position) {
    beforeWindowOp(format("progress %u", position));
    if (position < 1 || position > 256) violate("progress position out of range");
    g_innerHost->showProgress(position);
    afterWindowOp();
}

void hSetButtonStates(bool ready) {
    beforeWindowOp(ready ? "buttons ready" : "buttons off");
    g_innerHost->setButtonStates(ready);
    afterWindowOp();
}

void hEnableButton(Operation button, bool enable) {
    beforeWindowOp(format("enable %d %s", int(button), enable ? "on" : "off"));
    g_innerHost->enableButton(button, enable);
    afterWindowOp(button != OP_UPDATE);
}

bool hAskImageFile(FileDialogKind kind, wchar_t *fileName) {
    beforeWindowOp(kind == FILE_DIALOG_SAVE ? "save dialog" : "open dialog");
    if (kind == FILE_DIALOG_SAVE ? g_run.op != OP_READ || g_run.blocks != 128 : g_run.op != OP_WRITE)
        violate("a file dialog outside its operation's step");
    const bool chosen = g_innerHost->askImageFile(kind, fileName);
    if (!chosen) g_run.expectLog = "Canceled.\r\n";
    afterWindowOp();
    return chosen;
}

void hFatalError(const wchar_t *text) {
    beforeWindowOp("fatal " + narrow(text));
    if (narrow(text) != "Can't allocate memory!" || g_run.allocations <= g_run.world->allocFailAt)
        violate("a fatal error without an allocation failure");
    g_innerHost->fatalError(text);
    afterWindowOp();
}

FileResult hLoadImageFile(const wchar_t *path, uint8_t *image) {
    if (g_run.op != OP_WRITE || g_run.reported) violate("a file loaded outside a Write");
    const FileResult result = g_innerHost->loadImageFile(path, image);
    static const char *const TEXTS[] = {" Ok.\r\nWrite data to ECU, wait... ", "Can't open file!\r\n",
                                        "Invalid file size!\r\n", "Can't read file!\r\n"};
    g_run.expectLog = TEXTS[result];
    note(format("load file -> %d", int(result)));
    if (result == FILE_OK) {
        g_run.writeData.assign(image, image + MEMORY_SIZE);
        if (g_run.host->files[path] != g_run.writeData) violate("the image loaded differs from the file");
    }
    return result;
}

// A saved file is exactly the board's memory that was read; a failed save leaves every file as
// it was and adds none.
FileResult hSaveImageFile(const wchar_t *path, const uint8_t *image) {
    if (g_run.op != OP_READ || g_run.reported || g_run.blocks != 128) violate("a file saved outside a Read's save step");
    if (memcmp(image, g_run.before.data(), MEMORY_SIZE) != 0) violate("the image saved is not the board's memory");
    const std::map<std::wstring, std::vector<uint8_t>> files = g_run.host->files;
    const FileResult result = g_innerHost->saveImageFile(path, image);
    static const char *const TEXTS[] = {OK_TAIL, "Can't create file!\r\n", "Can't create file!\r\n",
                                        "Can't write file!\r\n"};
    g_run.expectLog = TEXTS[result];
    note(format("save file -> %d", int(result)));
    g_run.saved = result == FILE_OK;
    if (g_run.saved && g_run.host->files[path] != std::vector<uint8_t>(image, image + MEMORY_SIZE))
        violate("the file saved differs from the image");
    if (!g_run.saved && g_run.host->files != files) violate("a failed save changed the files");
    return result;
}

size_t hProgramPath(wchar_t *buffer, size_t capacity) { return g_innerHost->programPath(buffer, capacity); }
void hWaitForRequest(uint32_t ms) { g_innerHost->waitForRequest(ms); }

const Host CAMPAIGN_HOST = {
    hAppendLog,     hClearLog,      hSetTypeLabel, hSetInfoLabel,   hShowStatus,
    hShowProgress,  hSetButtonStates, hEnableButton, hAskImageFile, hFatalError,
    hLoadImageFile, hSaveImageFile, hProgramPath,  hWaitForRequest,
};

uint32_t cTickCount() {
    if (++g_run.clockReads > CALL_CAP) {
        violate("the clock read more often than any world needs");
        if (g_run.clockReads > 2 * CALL_CAP) hang("the clock is read on and on after the stop");
    }
    return g_innerClock->tickCount();
}
void cSleep(uint32_t ms) { g_innerClock->sleep(ms); }
bool cStopRequested() { return g_innerClock->stopRequested(); }

const ClockSeam CAMPAIGN_CLOCK = {cTickCount, cSleep, cStopRequested};

bool answerDialog(FileDialogKind, std::wstring &chosen) {
    const size_t index = size_t(g_run.dialogs++);
    const Answer a = index < g_run.world->answers.size() ? g_run.world->answers[index] : ANSWER_CANCEL;
    note(std::string("the user answers: ") + ANSWER_NAMES[a]);
    fireAnchored(IN_DIALOG, SIM_READ, index);
    g_run.host->failSaves = g_run.host->failLoads = a == ANSWER_BROKEN;
    chosen = ANSWER_PATHS[a];
    return a != ANSWER_CANCEL;
}

// --- one world ---

std::vector<uint8_t> randomBytes(Rng &r, size_t n) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t &b : bytes) b = uint8_t(next(r));
    return bytes;
}

void buildWorld(const World &w) {
    RecordingHost &rec = *g_run.host;
    Rng files = {w.seed ^ 0xF11E5};
    rec.files[ANSWER_PATHS[ANSWER_GOOD]] = randomBytes(files, MEMORY_SIZE);
    rec.files[ANSWER_PATHS[ANSWER_LOCKED]] = randomBytes(files, MEMORY_SIZE);
    rec.files[ANSWER_PATHS[ANSWER_WRONG_SIZE]] = randomBytes(files, w.oddSize);
    rec.lockedFiles = {ANSWER_PATHS[ANSWER_LOCKED]};
    rec.answerDialog = answerDialog;
    for (const AdapterSpec &a : w.adapters) {
        SimAdapterConfig config;
        config.usbId = a.usbId;
        config.comPortA = a.ports[0];
        config.comPortB = a.ports[1];
        if (a.serialOnly) config.product = "OBD1 EMU";
        if (a.kind == KIND_DAMAGED) config.eeprom = SIM_EEPROM_BAD_CHECKSUM;
        if (a.kind == KIND_FOREIGN_BLANK && a.usbId % 2) config.eeprom = SIM_EEPROM_FILL;
        if (a.kind == KIND_FOREIGN_BLANK && a.usbId % 2 == 0) {
            config.eeprom = SIM_EEPROM_BAD_CHECKSUM;
            config.manufacturer = "Other Maker";
            config.product = "USB Serial";
            config.serial = "OM0042";
        }
        const int i = simAddAdapter(config);
        SimAdapter &s = simAdapter(i);
        s.channels[1].listed = !a.unlistedB;
        if (a.openFails >= 0) s.channels[a.openFails].openFails = true;
        for (SimChannel &c : s.channels) {
            c.failSetting = a.failSetting;
            if (a.infoFails) c.deviceInfoStatus = FT_IO_ERROR;
            if (a.portFails) c.comPortStatus = FT_IO_ERROR;
        }
        s.eepromFailAtWord = a.eeFailWord;
        s.unplugAtEepromWord = a.eeUnplugWord;
        s.eepromDropWord = a.eeDropWord;
        s.eepromDropWrites = a.eeDropWrites;
        s.readEeFails = a.readEeFails;
        s.reenumerateMs = a.reenumerateMs;
        g_run.boardGeneration.push_back(0);
        fillBoard(i, a.board);
        if (!a.plugged) simUnplug(i);
    }
    g_run.foreignPresent.assign(w.foreign.size(), false);
    for (size_t f = 0; f < w.foreign.size(); ++f)
        if (w.foreign[f].present) setForeign(int(f), true);
    for (size_t i = 0; i < w.events.size(); ++i)
        if (w.events[i].anchor == AT_MS) rec.atMs(START_US / 1000 + w.events[i].n, [i] { fire(i); });
    rec.atMs(START_US / 1000 + w.lengthMs, [] { requestStop("the world's time is up"); });
}

// Plays one world; gives its first violation, or nothing.
std::string runWorld(const World &w, bool tracing) {
    g_run = Run();
    g_run.world = &w;
    g_run.tracing = tracing;
    g_run.faults = Rng{w.seed * 0x2545F4914F6CDD1Dull + 1};
    g_run.fired.assign(w.events.size(), false);
    g_run.host = &installRecordingHost(START_US / 1000 + w.lengthMs + 2000);
    simWorld().traceReads = false;
    g_inner = g_d2xx;
    static D2xxApi library;
    library = CAMPAIGN_LIBRARY;
    if (!w.readEE) library.readEE = nullptr;
    if (!w.latency) library.setLatencyTimer = nullptr;
    g_d2xx = &library;
    g_innerHost = g_host;
    g_host = &CAMPAIGN_HOST;
    g_innerClock = g_clockSeam;
    g_clockSeam = &CAMPAIGN_CLOCK;
    g_linkAllocate = campaignAllocate;
    buildWorld(w);

    workerMain();
    const uint64_t returned = now();
    // The window's shutdown: both slots closed once the worker has stopped.
    closeChannel(g_channels.channelA);
    closeChannel(g_channels.channelB);
    g_linkAllocate = calloc;

    if (g_run.host->hitLimit) violate("the worker did not end within the world's time");
    if (!g_run.stopped && g_run.allocations <= w.allocFailAt) violate("the worker ended on its own");
    if (g_run.stopped && returned > std::max(g_run.stopUs, g_run.settleUs) + LINK_TIMEOUT_MS * 1000)
        violate(format("the worker ended %.1f ms after the stop", double(returned - g_run.stopUs) / 1000));
    if (!g_run.stopped && (!g_run.expectLog.empty() || !g_run.expectStatus.empty())) violate("a failure was not reported");
    finishOp();
    if (!g_run.held.empty()) violate(channelName(g_run.held.begin()->first) + " left open");
    if (simWorld().openHandles != 0) violate("the simulator has channels left open");
    for (const SimAdapter &a : simWorld().adapters)
        if (a.board.protocolErrors) violate("the board saw a malformed packet: " + a.board.lastProtocolError);
    return g_run.violation;
}

void onDeath() {
    if (!g_run.world) return;
    fprintf(stderr, "campaign: world %llu crashed (replay: kesta_campaign --seed %llu)\n%s",
            (unsigned long long)g_run.world->seed, (unsigned long long)g_run.world->seed,
            describeWorld(*g_run.world).c_str());
}

// Replays a world with its trace and prints both, the trace up to the violation.
void printWorld(uint64_t seed, bool all) {
    const World w = makeWorld(seed);
    const std::string violation = runWorld(w, true);
    printf("%s", describeWorld(w).c_str());
    const size_t shown = all ? g_run.trace.size() : std::min<size_t>(g_run.trace.size(), 400);
    if (shown < g_run.trace.size()) printf("  ... %zu earlier trace lines\n", g_run.trace.size() - shown);
    for (size_t i = g_run.trace.size() - shown; i < g_run.trace.size(); ++i) printf("  %s\n", g_run.trace[i].c_str());
    printf("world %llu: %s\n", (unsigned long long)seed, violation.empty() ? "no violation" : violation.c_str());
}

uint64_t freshBase() {
    uint64_t base = 0;
    if (FILE *f = fopen("/dev/urandom", "rb")) {
        if (fread(&base, sizeof base, 1, f) != 1) base = 0;
        fclose(f);
    }
    // Small enough to type back in, far enough apart that runs rarely overlap.
    return (base % 1000000000000ull) * 100000;
}

}  // namespace

int main(int argc, char **argv) {
    __sanitizer_set_death_callback(onDeath);
    uint64_t fresh = DEFAULT_FRESH_WORLDS;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--seed") == 0) {
            printWorld(strtoull(argv[i + 1], nullptr, 10), true);
            return g_run.violation.empty() ? 0 : 1;
        }
        if (strcmp(argv[i], "--worlds") == 0) fresh = strtoull(argv[i + 1], nullptr, 10);
    }
    const uint64_t base = freshBase();
    std::vector<uint64_t> seeds(std::begin(FIXED_SEEDS), std::end(FIXED_SEEDS));
    for (uint64_t s = 0; s < fresh; ++s) seeds.push_back(base + s);
    int violations = 0;
    for (uint64_t seed : seeds) {
        const World w = makeWorld(seed);
        const std::string violation = runWorld(w, false);
        if (violation.empty()) continue;
        printf("campaign: world %llu breaks an invariant %s (replay: kesta_campaign --seed %llu)\n",
               (unsigned long long)seed, violation.c_str(), (unsigned long long)seed);
        if (++violations <= 3) printWorld(seed, false);
    }
    g_run.world = nullptr;
    fprintf(stderr, "presses %d offered %d\n", g_presses, g_offeredWorlds);
    fprintf(stderr, "stats: E %d/%d R %d/%d W %d/%d U %d/%d\n", g_statsOk[1], g_stats[1], g_statsOk[2], g_stats[2], g_statsOk[3], g_stats[3], g_statsOk[4], g_stats[4]);
    printf("campaign: %zu worlds, %d violations, seeds %llu..%llu\n", seeds.size(), violations,
           (unsigned long long)base, (unsigned long long)(base + fresh - 1));
    return violations ? 1 : 0;
}
