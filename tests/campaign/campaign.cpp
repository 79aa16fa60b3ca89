// The seeded fault campaign: thousands of random hostile worlds per run, each played against the
// whole worker in virtual time and checked while it runs.
//
// A seed draws a world: adapters and foreign devices coming and going, board and library faults,
// the user's presses and file answers, and a stop. The worker meets it through two wrappers, one
// around the simulator's library table and one around the recording host: they inject the
// library's faults, fire the world's events and check each invariant where it can break.
//
//   kesta_campaign               the fixed seeds, then 10000 fresh ones; one summary line
//   kesta_campaign --worlds N    N fresh seeds instead
//   kesta_campaign --seed S      replays world S: the world in words and its trace
#include <sanitizer/common_interface_defs.h>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/host_recorder.h"
#include "worker/worker.h"

namespace {

// Worlds that once broke an invariant, kept as regressions. A seed names a world of this drawing
// code: a change to the drawing redraws every world, and these must be found again.
const uint64_t FIXED_SEEDS[] = {
    71975623052900978,  // a press between the single-button changes after a held failure
};
constexpr uint64_t DEFAULT_FRESH_WORLDS = 10000;
constexpr uint64_t START_US = 1000000;  // where the recording host's clock starts
constexpr uint64_t CALL_CAP = 3000000;  // library calls or clock reads beyond any world's need

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

std::string format(const char *f, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *f, ...) {
    char text[512];
    va_list args;
    va_start(args, f);
    vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

// --- the world and the run through it ---

enum AdapterKind { KIND_CURRENT, KIND_OLD, KIND_INVALID, KIND_DAMAGED, KIND_FOREIGN_BLANK };
enum Anchor { AT_MS, BEFORE_CALL, AFTER_WINDOW_OP, IN_DIALOG };
enum Action {
    ACT_PRESS, ACT_UNPLUG, ACT_PLUG, ACT_REPLUG_OTHER_BOARD, ACT_TOGGLE_FOREIGN, ACT_STOP,
};
enum Answer {
    ANSWER_CANCEL, ANSWER_GOOD, ANSWER_NEW, ANSWER_LOCKED, ANSWER_WRONG_SIZE, ANSWER_BROKEN,
};

struct Event {
    Anchor anchor;
    SimFn fn;    // BEFORE_CALL: before call number n of fn
    uint64_t n;  // ms, call number, window operation number or dialog number
    Action action;
    int target;       // button, adapter or foreign device
    bool patient;     // a press that waits until its button is enabled
    uint64_t board;   // the seed of the other board
};

const char *const ANSWER_NAMES[] = {"cancel", "good.bin (an image)", "new.bin (missing)",
                                    "locked.bin (locked)", "odd.bin (wrong size)",
                                    "good.bin, but it breaks off while it is written or read"};
const wchar_t *const ANSWER_PATHS[] = {L"", L"C:\\img\\good.bin", L"C:\\img\\new.bin",
                                       L"C:\\img\\locked.bin", L"C:\\img\\odd.bin",
                                       L"C:\\img\\good.bin"};

struct Run {
    uint64_t seed;
    bool tracing;
    std::string world;  // the world in words, drawn when tracing
    bool drawing;
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
    int dialogs, depth;
    std::set<int> held;  // channels the program holds open: adapter * 2 + channel
    bool failedCall;     // the call in progress fails by the world's hand
    int identified;  // the adapter whose identity the library last gave the program
    uint32_t identifiedId;
    std::string identifiedName;
    int pendingPress;
    bool announced;
    // The operation in progress (OP_NONE: none).
    int op, opAdapter, opGeneration, blocks, readBacks, eeNext, eeVerified, lastReadWord;
    bool reported, okLogged, blockFailed, awaitingAnswer, needsUpdate, saved, eeFailed,
        lastReadDiffers, verifying;
    std::vector<uint8_t> before, writeData;
    std::string expectLog, expectStatus;  // what the next window operation must be
    // The stop.
    bool stopped, stopInCall;
    uint64_t stopUs, settleUs;
    bool memoryFault;       // some board of the world drew a memory fault
    bool readBackOverFault;  // an Erase or Write read back a board with one
};

Run g_run;
const D2xxApi *g_inner;
const Host *g_innerHost;

// Adds to the world in words while it is drawn, when there is a trace to go with it.
#define SAY(...) \
    (g_run.tracing && g_run.drawing ? void(g_run.world += format(__VA_ARGS__)) : void())

// A fault drawn "one in n" comes one in n * 6 / hostility, never in a calm world. `what` says it.
bool hostile(Rng &r, uint32_t n, const char *what = "") {
    const bool drawn = g_run.hostility && oneIn(r, n * 6 / uint32_t(g_run.hostility));
    if (drawn) SAY("%s", what);
    return drawn;
}
// A faulty value below `range`, or -1; `what` says it with the value.
int maybe(Rng &r, uint32_t n, uint32_t range, const char *what) {
    const int value = hostile(r, n) ? int(below(r, range)) : -1;
    if (value >= 0) SAY(what, value);
    return value;
}

uint64_t now() { return g_run.host->nowUs; }

std::string escaped(const std::string &text) {
    std::string shown;
    for (char c : text)
        shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    return shown;
}

void note(const std::string &line) {
    if (!g_run.tracing || !g_run.violation.empty()) return;
    if (g_run.reads)
        g_run.trace.push_back(
            format("         %u x FT_Read: %s", g_run.reads, g_run.readBytes.c_str()));
    g_run.reads = 0;
    g_run.readBytes.clear();
    g_run.trace.push_back(
        format("%8.3f %s", double(now() - START_US) / 1e6, escaped(line).c_str()));
}

// The first violation ends the world: what follows a fault tells nothing more.
void violate(const std::string &what) {
    if (!g_run.violation.empty()) return;
    note("VIOLATION: " + what);
    g_run.violation =
        format("at %.3f s: %s", double(now() - START_US) / 1e6, escaped(what).c_str());
    g_run.host->stop = g_run.stopped = true;
}


// --- drawing the world ---

bool hasMemoryFault(const SimMemoryFaults &m) {
    return m.dropWriteBlock >= 0 || m.ignoredAddressLines || m.stuckAddress >= 0 || m.stuckDataLow ||
           m.stuckDataHigh;
}

// The board behind adapter `index` (-1: only said): memory, "VV" reply and faults.
void drawBoard(uint64_t seed, int index) {
    static SimBoard scratch;
    SimBoard &b = index < 0 ? scratch : simAdapter(g_run.host->sim, index).board;
    static const char *const REPLIES[] = {"normal", "silent", "short", "wrong third byte", "long"};
    static const uint32_t SLOW_MS[] = {1, 40, 299, 301};
    Rng r = {seed};
    b.version = uint16_t(next(r));
    b.versionReply = hostile(r, 4) ? SimVersionReply(below(r, 5)) : SIM_REPLY_NORMAL;
    SAY("%04X, \"VV\" reply %s", b.version, REPLIES[b.versionReply]);
    b.powered = !hostile(r, 12, ", unpowered");
    b.refuseWriteBlock = maybe(r, 6, 256, ", refuses write block %d");
    b.badChecksumReadBlock = maybe(r, 6, 128, ", bad checksum on read block %d");
    b.truncateReadBlock = maybe(r, 8, 128, ", read block %d cut short");
    b.truncateAfterBytes = int(below(r, 257));
    b.unplugAtBlockCommand = maybe(r, 8, 400, ", unplugged at block command %d");
    b.byteIntervalMs = hostile(r, 10) ? SLOW_MS[below(r, 4)] : 0;
    if (b.byteIntervalMs) SAY(", a byte every %u ms", b.byteIntervalMs);
    b.wireTiming = g_run.wire;
    b.blockCommands = 0;
    for (size_t i = 0; i < sizeof b.memory; i += 8) {
        const uint64_t v = next(r);
        memcpy(b.memory + i, &v, 8);
    }
    // Drawn last, so that the draws above stay those of the worlds found before. A board's own
    // faults, so calm worlds, whose operations run to their end, have them too.
    SimMemoryFaults &m = b.memoryFaults;
    m = SimMemoryFaults();
    m.dropWriteBlock = oneIn(r, 8) ? int(below(r, 256)) : -1;
    if (m.dropWriteBlock >= 0) SAY(", drops write block %d", m.dropWriteBlock);
    if (oneIn(r, 8)) m.ignoredAddressLines = uint16_t(0x80u << below(r, 8));
    if (m.ignoredAddressLines) SAY(", ignores address line %04X", m.ignoredAddressLines);
    if (oneIn(r, 8)) {
        m.stuckAddress = int(below(r, MEMORY_SIZE));
        m.stuckBit = uint8_t(below(r, 8));
        m.stuckHigh = oneIn(r, 2);
        SAY(", bit %u at %04X stuck at %d", m.stuckBit, m.stuckAddress, m.stuckHigh);
    }
    if (oneIn(r, 8)) {
        const uint8_t line = uint8_t(1u << below(r, 8));
        (oneIn(r, 2) ? m.stuckDataHigh : m.stuckDataLow) = line;
        SAY(", data line %02X stuck at %d", line, m.stuckDataHigh != 0);
    }
    g_run.memoryFault = g_run.memoryFault || hasMemoryFault(m);
    if (index >= 0) ++g_run.boardGeneration[size_t(index)];
}

std::string describeEvent(const Event &e) {
    static const char *const BUTTONS[] = {"", "Erase", "Read", "Write", "Update"};
    const unsigned long long n = e.n;
    std::string s = e.anchor == AT_MS         ? format("at %llu ms: ", n)
                    : e.anchor == BEFORE_CALL ? format("before %s #%llu: ", simFnName(e.fn), n)
                    : e.anchor == AFTER_WINDOW_OP ? format("after window operation #%llu: ", n)
                                                  : format("while file dialog #%llu answers: ", n);
    switch (e.action) {
    case ACT_PRESS:
        return s + "press " + BUTTONS[e.target] + (e.patient ? " (as soon as it is enabled)" : "");
    case ACT_UNPLUG: return s + format("unplug adapter %d", e.target);
    case ACT_PLUG: return s + format("plug adapter %d", e.target);
    case ACT_REPLUG_OTHER_BOARD:
        return s + format("replug adapter %d with another board", e.target);
    case ACT_TOGGLE_FOREIGN: return s + format("foreign device %d comes or goes", e.target);
    case ACT_STOP: break;
    }
    return s + "stop";
}

void addEvent(const Event &e) {
    g_run.events.push_back(e);
    if (e.anchor == BEFORE_CALL) g_run.anchoredCalls |= 1u << e.fn;
    SAY("  %s", describeEvent(e).c_str());
    if (e.action == ACT_REPLUG_OTHER_BOARD) SAY(" "), drawBoard(e.board, -1);
    SAY("\n");
}

void setForeign(int f, bool present) {
    std::vector<SimListEntry> &list = g_run.host->sim.world.list;
    const SimListEntry entry = {-1, -1, g_run.foreign[size_t(f)]};
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].adapter < 0 && list[i].foreign.LocId == entry.foreign.LocId)
            list.erase(list.begin() + long(i));
    // Anywhere in the list, ahead of the adapters too.
    if (present)
        list.insert(list.begin() + long(below(g_run.faults, uint32_t(list.size() + 1))), entry);
    g_run.foreignPresent[size_t(f)] = present;
}

void drawAdapter(Rng &r) {
    static const char *const KINDS[] = {"current", "old", "invalid usb id",
                                        "damaged (bad checksum, our strings)",
                                        "someone else's blank chip"};
    static const int32_t PORTS[] = {5, 6, 255, 0, 256, -1};
    const uint32_t k = below(r, 20);
    const AdapterKind kind = k < 13 ? KIND_CURRENT : k < 15 ? KIND_OLD : k < 17 ? KIND_INVALID
                             : k < 19 ? KIND_DAMAGED : KIND_FOREIGN_BLANK;
    SimAdapterConfig c;
    c.usbId = kind == KIND_OLD       ? USB_ID_OLD
              : kind == KIND_INVALID ? uint32_t(next(r))
                                     : USB_ID_CURRENT;
    if (oneIn(r, 8)) c.product = "OBD1 EMU";  // found by its serial alone
    if (kind == KIND_DAMAGED) c.eeprom = SIM_EEPROM_BAD_CHECKSUM;
    if (kind == KIND_FOREIGN_BLANK)
        c.eeprom = oneIn(r, 2) ? SIM_EEPROM_FILL : SIM_EEPROM_BAD_CHECKSUM;
    if (kind == KIND_FOREIGN_BLANK && c.eeprom == SIM_EEPROM_BAD_CHECKSUM) {
        c.manufacturer = "Other Maker";
        c.product = "USB Serial";
        c.serial = "OM0042";
    }
    c.comPortA = PORTS[hostile(r, 4) ? below(r, 6) : 0];
    c.comPortB = PORTS[hostile(r, 4) ? below(r, 6) : 1];
    const int i = simAddAdapter(g_run.host->sim, c);
    SimAdapter &a = simAdapter(g_run.host->sim, i);
    g_run.kinds.push_back(kind);
    g_run.boardGeneration.push_back(0);
    SAY("  adapter %d: %s [%08X] \"%s\", ports %d/%d", i, KINDS[kind], c.usbId,
        a.channels[0].record.Description, c.comPortA, c.comPortB);
    a.channels[1].listed = !hostile(r, 12, ", channel B not listed");
    if (hostile(r, 15, ", FT_GetDeviceInfo fails")) a.channels[0].deviceInfoStatus = FT_IO_ERROR;
    if (hostile(r, 10, ", FT_GetComPortNumber fails")) a.channels[0].comPortStatus = FT_IO_ERROR;
    if (const int ch = maybe(r, 15, 2, ", channel %d (0 A, 1 B) does not open"); ch >= 0)
        a.channels[ch].openFails = true;
    a.channels[0].failSetting =
        1 + maybe(r, 15, 3, ", line setting %d (0 baud, 1 data, 2 time-outs) fails");
    a.eepromFailAtWord = maybe(r, 8, 64, ", EEPROM word %d fails");
    a.unplugAtEepromWord = maybe(r, 8, 64, ", unplugged at EEPROM word %d");
    // Word 63, the checksum, always differs from what an adapter needing an update holds.
    a.eepromDropWord = hostile(r, 6) ? oneIn(r, 2) ? 63 : int(below(r, 64)) : -1;
    a.eepromDropWrites = oneIn(r, 3) ? -1 : int(1 + below(r, 4));
    if (a.eepromDropWord >= 0)
        SAY(", EEPROM word %d not stored %d times", a.eepromDropWord, a.eepromDropWrites);
    a.readEeFails = hostile(r, 12, ", FT_ReadEE fails");
    a.reenumerateMs = below(r, 3000);
    SAY(", re-enumerates in %u ms\n    board ", a.reenumerateMs);
    drawBoard(next(r), i);
    SAY("\n");
    if (oneIn(r, 6)) {
        simUnplug(g_run.host->sim, i);
        addEvent({AT_MS, SIM_READ, below(r, g_run.lengthMs), ACT_PLUG, i, false, 0});
    }
}

// Draws the world of `g_run.seed` into the simulator and the host.
void drawWorld() {
    static const uint32_t FAULT_RATES[] = {0, 0, 0, 40, 300, 3000, 30000};
    static const uint32_t SHORT_RATES[] = {0, 0, 2, 10, 200};
    static const uint32_t ADAPTER_COUNTS[] = {0, 1, 1, 1, 1, 1, 2, 3};
    static const uint32_t ODD_SIZES[] = {0, 1, 32767, 32769, 65536};
    static const FT_DEVICE_LIST_INFO_NODE FOREIGN[] = {
        // A blank chip that is not attached, another device, and records with our names that
        // are not ours: another chip type, no id, a longer name.
        {0, FT_DEVICE_2232C, 0x04036010, 0, "", "Dual RS232 A", nullptr},
        {0, 5, 0x04036001, 0, "FT12345", "USB Serial Converter", nullptr},
        {0, 3, 0x04036010, 0, "KESTAA", "KESTA OBD1 EMU A", nullptr},
        {0, FT_DEVICE_2232C, 0, 0, "KESTAA", "KESTA OBD1 EMU A", nullptr},
        {0, FT_DEVICE_2232C, 0x04036010, 0, "X", "KESTA OBD1 EMU AX", nullptr},
    };
    static const SimFn CALLS[] = {SIM_READ, SIM_WRITE, SIM_WRITE_EE, SIM_READ_EE, SIM_OPEN,
                                  SIM_CREATE_LIST, SIM_GET_INFO, SIM_CYCLE_PORT, SIM_PURGE};
    static const uint32_t CALL_RANGES[] = {40000, 700, 150, 200, 12, 30, 8, 3, 100};
    Rng r = {g_run.seed};
    RecordingHost &host = *g_run.host;
    g_run.drawing = true;
    g_run.hostility = int(below(r, 4));
    g_run.lengthMs = 500 + below(r, 60000);
    g_run.wire = oneIn(r, 3);
    g_run.readEE = !oneIn(r, 5);
    const bool latency = !oneIn(r, 5);
    g_run.faultOneIn = g_run.hostility ? FAULT_RATES[below(r, 7)] : 0;
    g_run.shortReadOneIn = g_run.hostility ? SHORT_RATES[below(r, 5)] : 0;
    SAY("world %llu: %u ms, hostility %d%s; library: ", (unsigned long long)g_run.seed,
        g_run.lengthMs, g_run.hostility, g_run.wire ? ", wire timing" : "");
    SAY("%s", g_run.faultOneIn ? format("1 call in %u fails", g_run.faultOneIn).c_str()
                               : "calls do not fail");
    if (g_run.shortReadOneIn) SAY(", 1 FT_Read in %u comes back short", g_run.shortReadOneIn);
    SAY(", %s FT_ReadEE, %s FT_SetLatencyTimer", g_run.readEE ? "with" : "no",
        latency ? "with" : "no");
    SAY("\n");
    if (!g_run.readEE) const_cast<D2xxApi *>(g_run.host->worker.link.d2xx)->readEE = nullptr;
    if (!latency) const_cast<D2xxApi *>(g_run.host->worker.link.d2xx)->setLatencyTimer = nullptr;

    Rng files = {next(r)};
    for (Answer a : {ANSWER_GOOD, ANSWER_LOCKED, ANSWER_WRONG_SIZE}) {
        std::vector<uint8_t> &file = host.files[ANSWER_PATHS[a]];
        file.resize(a == ANSWER_WRONG_SIZE ? ODD_SIZES[below(r, 5)] : MEMORY_SIZE);
        for (size_t i = 0; i < file.size(); i += 8) {
            const uint64_t v = next(files);
            memcpy(file.data() + i, &v, std::min<size_t>(8, file.size() - i));
        }
    }
    host.lockedFiles = {ANSWER_PATHS[ANSWER_LOCKED]};

    for (uint32_t i = ADAPTER_COUNTS[below(r, 8)]; i > 0; --i) drawAdapter(r);
    for (uint32_t i = oneIn(r, 3) ? 1 + below(r, 2) : 0; i > 0; --i) {
        FT_DEVICE_LIST_INFO_NODE f = FOREIGN[below(r, 5)];
        f.LocId = 0x9000 + uint32_t(g_run.foreign.size());
        g_run.foreign.push_back(f);
        g_run.foreignPresent.push_back(false);
        const bool present = !oneIn(r, 3);
        SAY("  foreign device %zu: type %u id %08X \"%s\" \"%s\"%s\n", g_run.foreign.size() - 1,
            f.Type, f.ID, f.Description, f.SerialNumber, present ? "" : ", not attached yet");
        if (present) setForeign(int(g_run.foreign.size() - 1), true);
    }
    const int adapters = int(g_run.kinds.size()), foreign = int(g_run.foreign.size());
    for (uint32_t i = below(r, 17); i > 0; --i) {
        Event e = {};
        const uint32_t kind = below(r, 20);
        e.action = kind < 12 ? ACT_PRESS : kind < 15 ? ACT_UNPLUG : kind < 17 ? ACT_PLUG
                   : kind < 19 ? ACT_REPLUG_OTHER_BOARD : ACT_TOGGLE_FOREIGN;
        e.target =
            e.action == ACT_PRESS
                ? int(1 + below(r, 4))
                : int(below(r, uint32_t(e.action == ACT_TOGGLE_FOREIGN ? foreign : adapters)));
        e.patient = e.action == ACT_PRESS && !oneIn(r, 3);
        e.board = next(r);
        const uint32_t anchor = below(r, 4), call = below(r, 9);
        e.anchor = anchor < 2 ? AT_MS : anchor == 2 ? BEFORE_CALL : AFTER_WINDOW_OP;
        e.fn = CALLS[call];
        e.n = e.anchor == AT_MS         ? below(r, g_run.lengthMs)
              : e.anchor == BEFORE_CALL ? below(r, CALL_RANGES[call])
                                        : below(r, 120);
        if (e.action == ACT_PRESS || (e.action == ACT_TOGGLE_FOREIGN ? foreign : adapters) > 0)
            addEvent(e);
    }
    // The stop: at a random moment, or when the world's time is up.
    const uint32_t stop = below(r, 12);
    const Anchor anchor = stop < 5    ? AT_MS
                          : stop == 5 ? BEFORE_CALL
                          : stop == 6 ? AFTER_WINDOW_OP
                                      : IN_DIALOG;
    const SimFn fn = oneIn(r, 2) ? SIM_READ : SIM_WRITE;
    const uint64_t n = anchor == AT_MS ? below(r, g_run.lengthMs)
                                       : below(r, anchor == IN_DIALOG ? 3 : 200) *
                                             (anchor == BEFORE_CALL && fn == SIM_READ ? 100 : 1);
    if (stop < 8) addEvent({anchor, fn, n, ACT_STOP, 0, false, 0});
    // Mostly an image, so that many Writes and Reads get as far as their blocks.
    for (uint32_t i = below(r, 6); i > 0; --i)
        g_run.answers.push_back(oneIn(r, 2) ? ANSWER_GOOD : Answer(below(r, 6)));
    SAY("  file dialogs answer:");
    for (Answer a : g_run.answers) SAY(" %s;", ANSWER_NAMES[a]);
    SAY(" then cancel\n");
    g_run.drawing = false;
}

// --- the world's events ---

void requestStop(const std::string &why) {
    if (g_run.stopped) return;
    note("stop requested " + why);
    g_run.host->stop = g_run.stopped = true;
    g_run.stopUs = now();
    g_run.stopInCall = g_run.depth > 0;
    if (!g_run.stopInCall) g_run.settleUs = now();
}

void fire(size_t index) {
    if (g_run.fired[index] || !g_run.violation.empty()) return;
    g_run.fired[index] = true;
    const Event &e = g_run.events[index];
    if (e.action == ACT_PRESS) {
        // As the window makes it: only an enabled button can be pressed.
        if (g_run.stopped || !g_run.host->buttons[e.target]) {
            if (e.patient) g_run.patient.push_back(index);
            else note(format("the user presses button %d: disabled, nothing happens", e.target));
            return;
        }
        note(format("the user presses button %d", e.target));
        g_run.host->press(Operation(e.target));
        g_run.pendingPress = e.target;
        return;
    }
    if (e.action == ACT_STOP) return requestStop(describeEvent(e));
    note("world: " + describeEvent(e));
    if (e.action == ACT_UNPLUG || e.action == ACT_REPLUG_OTHER_BOARD) simUnplug(g_run.host->sim, e.target);
    if (e.action == ACT_REPLUG_OTHER_BOARD) drawBoard(e.board, e.target);
    if (e.action == ACT_PLUG || e.action == ACT_REPLUG_OTHER_BOARD) simPlug(g_run.host->sim, e.target);
    if (e.action == ACT_TOGGLE_FOREIGN)
        setForeign(e.target, !g_run.foreignPresent[size_t(e.target)]);
}

void fireAnchored(Anchor anchor, SimFn fn, uint64_t n) {
    for (size_t i = 0; i < g_run.events.size(); ++i) {
        const Event &e = g_run.events[i];
        if (e.anchor == anchor && e.n == n && (anchor != BEFORE_CALL || e.fn == fn)) fire(i);
    }
}

// --- invariants ---

const char *const OPENING[] = {nullptr, " Erase.\r\nClear ECU memory, wait... ",
                               " Read.\r\nRead data from ECU, wait... ",
                               " Write.\r\nLoad binary file... ", " Update.\r\nUpdate, wait... "};
const char OK_TAIL[] = " Ok.\r\nRe-connect...";
const char VERIFY[] = " Ok.\r\nVerify ECU memory, wait... ";
const char MISMATCH[] = "Mismatch!\r\n";
const char DISCONNECTED[] = "\r\nECU was disconnected, wait for connect...";
const char UNABLE[] = "Unable to determine device status.\r\nIs ECU power connected?";
const char CHOICE[] = "Waiting for your choice...";
const char CANT_PROGRAM[] = "Fail! Can't program FTDI chip!";
const char REPLUG[] = "\r\nUnplug the adapter and plug it in again.";
const char ANNOUNCE[] = "Found Kesta OBD1 EMU [%04X/%04X].\r\nConnecting... ";
const char *const KNOWN_LOG[] = {
    "Searching for device...\r\n", ANNOUNCE, "Ok.", "Fail.", "\r\n", "Ostrich Ver. %02X.%02X.\r\n",
    "RTP port:\t\tCOM%u.\r\n", "Datalog port:\tCOM%u.\r\n", "---\r\n",
    "Invalid USBID.\r\nThe problem will be fixed after update.\r\n",
    "Kesta OBD1 EMU needs an update.\r\n",
    "Damaged adapter configuration.\r\nThe problem will be fixed after update.\r\n", CHOICE, UNABLE,
    DISCONNECTED, OK_TAIL, " Ok.\r\nSave binary file... ", " Ok.\r\nWrite data to ECU, wait... ",
    CANT_PROGRAM, VERIFY,
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
    {REPLUG, "Re-plug the adapter!"},  // after an Update whose port cycle failed
};

// Matches printf's %04X and %02X (upper-case hex digits) and %u (a port number, 1 to 255).
bool matches(const char *f, const char *t) {
    while (*f) {
        if (f[0] == '%' && f[1] == 'u') {
            unsigned value = 0, digits = 0;
            for (; *t >= '0' && *t <= '9' && digits < 4; ++t, ++digits)
                value = value * 10 + unsigned(*t - '0');
            if (value < 1 || value > 255 || t[-int(digits)] == '0') return false;
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

const uint8_t *sentData(uint32_t block) {
    static uint8_t erased[BLOCK_WRITE_SIZE];
    memset(erased, 0xFF, sizeof erased);
    return g_run.op == OP_ERASE ? erased : g_run.writeData.data() + block * BLOCK_WRITE_SIZE;
}

// The first board address that does not read back what the Erase or Write sent; MEMORY_SIZE when
// every one does.
uint32_t firstDifference() {
    const SimBoard &board = simAdapter(g_run.host->sim, g_run.opAdapter).board;
    for (uint32_t address = 0; address < MEMORY_SIZE; ++address)
        if (simBoardByte(board, address) != sentData(address / BLOCK_WRITE_SIZE)[address % BLOCK_WRITE_SIZE])
            return address;
    return MEMORY_SIZE;
}

bool boardReplaced() { return g_run.boardGeneration[size_t(g_run.opAdapter)] != g_run.opGeneration; }

// Erase and Write: a success leaves the board reading back what was sent, whatever its memory's
// faults. On a board without them, block by block it holds exactly what was sent, up to the
// block that failed (which may hold either), and nothing after it changed.
void checkBoard() {
    if ((g_run.op != OP_ERASE && g_run.op != OP_WRITE) || boardReplaced()) return;
    const SimBoard &board = simAdapter(g_run.host->sim, g_run.opAdapter).board;
    if (g_run.okLogged && firstDifference() != MEMORY_SIZE)
        return violate(format("a verified %s left %04X reading otherwise than sent",
                              g_run.op == OP_ERASE ? "Erase" : "Write", firstDifference()));
    const SimMemoryFaults &m = board.memoryFaults;
    if (hasMemoryFault(m)) return;
    const uint8_t *memory = board.memory;
    const int sure = g_run.okLogged ? g_run.blocks : g_run.blocks - 1;
    for (int b = 0; b < int(MEMORY_SIZE / BLOCK_WRITE_SIZE); ++b) {
        const size_t at = size_t(b) * BLOCK_WRITE_SIZE;
        const bool sent =
            b < g_run.blocks && memcmp(memory + at, sentData(uint32_t(b)), BLOCK_WRITE_SIZE) == 0;
        const bool old = memcmp(memory + at, g_run.before.data() + at, BLOCK_WRITE_SIZE) == 0;
        if (b < sure ? !sent : b < g_run.blocks ? !sent && !old : !old)
            return violate(
                format("board block %d holds neither what was sent nor what it held", b));
    }
}

// Every operation that began reports how it ended (a stop excepted), and leaves the board right.
void finishOp() {
    if (!g_run.op) return;
    if (!g_run.reported && !g_run.stopped)
        violate(format("operation %d ended without reporting how", g_run.op));
    checkBoard();
    g_run.op = OP_NONE;
}

void startOp(int op) {
    finishOp();
    if (g_run.pendingPress != op)
        return violate(g_run.pendingPress ? format("a press of button %d began operation %d",
                                                   g_run.pendingPress, op)
                                          : format("operation %d began without a press", op));
    g_run.pendingPress = 0;
    const int adapter = g_run.identified;
    if (!g_run.held.count(adapter * 2))
        return violate("an operation began without the adapter's channel A");
    g_run.op = op;
    g_run.opAdapter = adapter;
    g_run.opGeneration = g_run.boardGeneration[size_t(adapter)];
    // The memory as the board reads it, its faults included.
    g_run.before.resize(MEMORY_SIZE);
    for (uint32_t address = 0; address < MEMORY_SIZE; ++address)
        g_run.before[address] = simBoardByte(simAdapter(g_run.host->sim, adapter).board, address);
    g_run.writeData.clear();
    g_run.blocks = g_run.readBacks = g_run.eeNext = g_run.eeVerified = 0;
    g_run.lastReadWord = -1;
    g_run.reported = g_run.okLogged = g_run.blockFailed = g_run.awaitingAnswer = false;
    g_run.verifying = false;
    g_run.saved = g_run.eeFailed = g_run.lastReadDiffers = false;
    g_run.needsUpdate =
        g_run.kinds[size_t(adapter)] != KIND_FOREIGN_BLANK &&
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
    violate(format("the press of button %d was lost: its request is gone and no operation began",
                   g_run.pendingPress));
}

// The board as the read-back saw it, against what was sent.
uint8_t boardRead(uint32_t address) {
    return simBoardByte(simAdapter(g_run.host->sim, g_run.opAdapter).board, address);
}
uint8_t sentByte(uint32_t address) {
    return sentData(address / BLOCK_WRITE_SIZE)[address % BLOCK_WRITE_SIZE];
}

// "Address lines A3, A14 ..." or "Data bit D2 ...": the mask of the names after `letter`.
uint32_t namedLines(const std::string &text, char letter) {
    uint32_t mask = 0;
    for (size_t at = text.find(std::string(" ") + letter); at != std::string::npos;
         at = text.find(std::string(" ") + letter, at + 1))
        if (isdigit(static_cast<unsigned char>(text[at + 2]))) mask |= 1u << atoi(text.c_str() + at + 2);
    return mask;
}

// A failed verify: the whole memory was read, the first difference and the count are the board's,
// and an explanation is named only when it holds for every address. A single drawn fault that
// what was sent shows is named as drawn.
void checkVerifyReport(const std::string &t) {
    if (g_run.readBacks != 128) violate(format("a failed verify reported after %d blocks", g_run.readBacks));
    std::vector<std::string> lines;
    for (size_t at = 0, end; at <= t.size(); at = end + 2) {
        end = std::min(t.find("\r\n", at), t.size());
        lines.push_back(t.substr(at, end - at));
        if (lines.back().size() > LOG_LINE_COLUMNS) violate("a verify line wider than the log pane");
    }
    uint32_t count = 0, first = MEMORY_SIZE, last = 0;
    for (uint32_t a = 0; a < MEMORY_SIZE; ++a)
        if (boardRead(a) != sentByte(a)) first = std::min(first, a), last = a, ++count;
    if (first == MEMORY_SIZE) return violate("a verify failed on a board that reads back what was sent");
    if (lines.size() < 3 ||
        lines[1] != format("At 0x%04X read %02X, sent %02X.", first, boardRead(first), sentByte(first)) ||
        lines[2] != format(count == 1 ? "%u byte differs." : "%u bytes differ.", count))
        return violate(format("the verify misnamed its first difference %04X or its count %u", first, count));
    std::string why;
    for (size_t i = 3; i < lines.size(); ++i) why += (i > 3 ? " " : "") + lines[i];
    bool holds = why.empty();
    std::string named = "none";
    uint32_t mask = 0;
    if (why.compare(0, 12, "Address line") == 0) {
        mask = namedLines(why, 'A');
        named = format("lines %04X", mask);
        holds = true;
        for (uint32_t a = 0; a < MEMORY_SIZE && holds; ++a) holds = boardRead(a) == sentByte(a | mask);
    } else if (why.compare(0, 8, "Data bit") == 0) {
        mask = namedLines(why, 'D');
        named = format("bits %02X", mask);
        uint8_t everSet = 0, everClear = 0, differ = 0;
        for (uint32_t a = 0; a < MEMORY_SIZE; ++a) {
            everSet |= boardRead(a), everClear |= uint8_t(~boardRead(a));
            differ |= uint8_t(boardRead(a) ^ sentByte(a));
        }
        holds = differ == mask && !(mask & everSet & everClear);
    } else if (!why.empty()) {
        named = "block";
        holds = count > 1 && first / BLOCK_WRITE_SIZE == last / BLOCK_WRITE_SIZE &&
                why == format("Block 0x%04X was not kept.", first - first % BLOCK_WRITE_SIZE);
    }
    if (!holds) violate("the verify named an explanation that does not hold: \"" + why + "\"");
    // One drawn fault, and what it does shows in what was sent: that fault is the explanation.
    const SimMemoryFaults &m = simAdapter(g_run.host->sim, g_run.opAdapter).board.memoryFaults;
    std::string drawn;
    if (m.ignoredAddressLines && !m.stuckDataLow && !m.stuckDataHigh && m.stuckAddress < 0 &&
        m.dropWriteBlock < 0 && g_run.op == OP_WRITE)
        drawn = format("lines %04X", m.ignoredAddressLines);
    if (!m.ignoredAddressLines && (m.stuckDataLow || m.stuckDataHigh) && m.stuckAddress < 0 && m.dropWriteBlock < 0)
        drawn = format("bits %02X", m.stuckDataLow | m.stuckDataHigh);
    if (!m.ignoredAddressLines && !m.stuckDataLow && !m.stuckDataHigh && m.stuckAddress < 0 &&
        m.dropWriteBlock >= 0 && count > 1)
        drawn = "block";
    if (!drawn.empty() && named != drawn) violate("the verify named " + named + ", the board drew " + drawn);
}


void onLog(const std::string &t) {
    bool known = false;
    for (const char *k : KNOWN_LOG) known = known || matches(k, t.c_str());
    for (const auto &pair : FAILURE_PAIRS) known = known || t == pair[0];
    known = known || t.compare(0, strlen(MISMATCH), MISMATCH) == 0;
    for (int op = OP_ERASE; op <= OP_UPDATE; ++op) known = known || t == OPENING[op];
    if (!known) violate("an unknown log text \"" + t + "\"");
    if (t == REPLUG && g_run.op != OP_UPDATE) violate("told to re-plug the adapter after no Update");
    for (int op = OP_ERASE; op <= OP_UPDATE; ++op)
        if (t == OPENING[op]) startOp(op);
    const bool announce = t.compare(0, 11, "Found Kesta") == 0;
    if (t == CHOICE || t == UNABLE || t == DISCONNECTED || announce) finishOp();
    if (t == UNABLE || t == DISCONNECTED) g_run.pendingPress = 0;
    if (t == OK_TAIL || t == DISCONNECTED) g_run.announced = false;
    if (announce) {
        if (g_run.kinds[size_t(g_run.identified)] == KIND_FOREIGN_BLANK)
            return violate("announced a device that is not ours");
        if (t != format(ANNOUNCE, g_run.identifiedId >> 16, g_run.identifiedId & 0xFFFF))
            violate("the announce line shows another USB id than the adapter's");
        g_run.announced = true;
    }
    if (!g_run.op || g_run.reported) return;
    if (t == VERIFY) {
        // The read-back follows a write phase whose every block was taken.
        if (g_run.verifying || (g_run.op != OP_ERASE && g_run.op != OP_WRITE) || g_run.blocks != 256 ||
            g_run.blockFailed || g_run.awaitingAnswer)
            violate("a read-back began before every block was written");
        g_run.verifying = true;
        const SimMemoryFaults &m = simAdapter(g_run.host->sim, g_run.opAdapter).board.memoryFaults;
        g_run.readBackOverFault |= hasMemoryFault(m);
        return;
    }
    g_run.okLogged = t == OK_TAIL;
    g_run.reported = t == OK_TAIL || t == CANT_PROGRAM;
    if ((g_run.op == OP_ERASE || g_run.op == OP_WRITE) && t == OK_TAIL &&
        (!g_run.verifying || g_run.readBacks != 128))
        violate("an Erase or Write reported success without reading the whole memory back");
    for (const auto &pair : FAILURE_PAIRS)
        if (t == pair[0]) g_run.reported = true, g_run.expectStatus = pair[1];
    if (t.compare(0, strlen(MISMATCH), MISMATCH) == 0) {
        g_run.reported = true;
        g_run.expectStatus = "Verify failed!";
        if (g_run.verifying && !boardReplaced()) checkVerifyReport(t);
    }
}

// --- the library, as the program sees it: the simulator behind a seeded fault injector ---

std::string channelName(int c) {
    return c < 0 ? "no channel" : format("adapter %d %c", c / 2, "AB"[c % 2]);
}

// The port is cycled only in the success tail of a complete operation; after an Update, once
// all 64 words were written and (with FT_ReadEE) read back equal.
void checkCycle() {
    const Run &r = g_run;
    const bool complete = r.op == OP_ERASE || r.op == OP_WRITE
                              ? r.blocks == 256 && !r.blockFailed && !r.awaitingAnswer && r.readBacks == 128
                          : r.op == OP_READ ? r.saved
                          : r.op == OP_UPDATE
                              ? r.eeNext == 64 && !r.eeFailed && (!r.readEE || r.eeVerified == 64)
                              : false;
    if (!complete || !r.okLogged) violate("port cycled before the operation was complete");
}

// Before every call: the checks between calls, the world's call-anchored events and the fault
// draw. True, with `status`, when the call is to fail without reaching the simulator.
bool enter(SimFn fn, FT_STATUS &status) {
    // A hang in virtual time: the worker calls or reads the clock on and on.
    if (++g_run.allCalls > CALL_CAP || g_run.host->clockReads > CALL_CAP)
        violate("more library calls than any world needs");
    if (g_run.allCalls > 2 * CALL_CAP) abort();  // not even the stop ended it: onDeath names it
    checkPressKept(nullptr);
    if (fn == SIM_CREATE_LIST) {
        // A search begins: the connection before it has ended with its last line, and the
        // program holds no channel.
        finishOp();
        g_run.pendingPress = 0;
        if (g_run.announced && !g_run.stopped)
            violate("a connection ended without the re-connect or the disconnect line");
        if (!g_run.held.empty())
            violate("a search began with " + channelName(*g_run.held.begin()) + " open");
    }
    if (fn == SIM_WRITE_EE && (g_run.op != OP_UPDATE || g_run.reported))
        violate("EEPROM written outside an Update");
    if (fn == SIM_CYCLE_PORT) checkCycle();
    if (g_run.anchoredCalls >> fn & 1) fireAnchored(BEFORE_CALL, fn, g_run.calls[fn]);
    ++g_run.calls[fn];
    ++g_run.depth;
    if (!oneIn(g_run.faults, g_run.faultOneIn)) return false;
    status =
        oneIn(g_run.faults, 4) ? FT_STATUS(next(g_run.faults)) | 1 : 1 + below(g_run.faults, 18);
    g_run.failedCall = true;
    return true;
}

FT_STATUS leave(SimFn fn, FT_STATUS status) {
    if (--g_run.depth == 0 && g_run.stopInCall && !g_run.settleUs) g_run.settleUs = now();
    if (g_run.failedCall && g_run.tracing)
        note(format("%s fails by the world's hand: %u", simFnName(fn), status));
    g_run.failedCall = false;
    return status;
}

// Every entry but FT_Read: the fault draw, then the simulator. A close that reports a failure
// has closed all the same: the handle is gone either way.
template <SimFn FN, auto ENTRY, typename Entry> struct Faulty;
template <SimFn FN, auto ENTRY, typename... Args> struct Faulty<FN, ENTRY, FT_STATUS (*)(Args...)> {
    static FT_STATUS FT_API call(Args... args) {
        FT_STATUS status;
        const bool fails = enter(FN, status);
        if (!fails || FN == SIM_CLOSE) {
            const FT_STATUS real = (g_inner->*ENTRY)(args...);
            if (!fails) status = real;
        }
        return leave(FN, status);
    }
};
#define FAULTY(fn, entry) Faulty<fn, &D2xxApi::entry, decltype(D2xxApi::entry)>::call

// FT_Read may also come back with fewer bytes than asked.
FT_STATUS FT_API cRead(FT_HANDLE h, void *buffer, uint32_t length, uint32_t *done) {
    FT_STATUS st;
    if (!enter(SIM_READ, st)) {
        if (!oneIn(g_run.faults, g_run.shortReadOneIn))
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
        for (uint32_t i = 0; i < got && g_run.readBytes.size() < 60; ++i)
            g_run.readBytes += format("%02X ", bytes[i]);
    }
    return leave(SIM_READ, st);
}

// What goes on the wire: "VV" at any time; block reads only in a Read, block writes only in an
// Erase or a Write, on the adapter it began on, in address order, one in flight, carrying the
// erase fill or the file.
void checkPacket(int channel, const std::vector<uint8_t> &p) {
    if (channel % 2 || !g_run.held.count(channel))
        return violate("FT_Write on " + channelName(channel));
    if (p == std::vector<uint8_t>{'V', 'V'}) return;
    const bool read = p.size() == 5 && p[0] == 'R';
    const uint32_t address = uint32_t(p[2]) << 8 | p[3],
                   size = read ? BLOCK_READ_SIZE : BLOCK_WRITE_SIZE;
    if (!read && (p.size() != 133 || p[0] != 'W')) return violate("an unknown packet on channel A");
    const bool readBack = read && g_run.verifying;
    if (read ? g_run.op != OP_READ && !readBack
             : (g_run.op != OP_ERASE && g_run.op != OP_WRITE) || g_run.verifying)
        return violate(read ? "a block read outside a Read or a read-back"
                            : "board memory written outside an Erase or a Write");
    if (g_run.reported || channel / 2 != g_run.opAdapter)
        return violate("a block after the end, or to another adapter");
    if (g_run.blockFailed || g_run.awaitingAnswer)
        return violate("a block sent after a failed or unanswered one");
    int &sent = readBack ? g_run.readBacks : g_run.blocks;
    if (address != uint32_t(sent++) * size)
        return violate(format("block %04X out of order", address));
    if (read) return;
    if (g_run.op == OP_WRITE && g_run.writeData.empty())
        return violate("a block written before the file was loaded");
    if (memcmp(p.data() + 4, sentData(address / size), size) != 0)
        return violate(format("block %04X carries other data", address));
    g_run.awaitingAnswer = true;
}

// Every call that reached the simulator, as its trace records it.
void watchLibrary(Sim &, const SimCall &call) {
    const int channel = call.adapter < 0 ? -1 : call.adapter * 2 + call.channel;
    const uint32_t word = call.arg[0], value = call.arg[1];
    const bool ok = call.status == FT_OK;
    if (g_run.tracing)
        note(format("%s %s [%X %X]%s -> %u", simFnName(call.fn), channelName(channel).c_str(), word,
                    value, call.data.empty() ? "" : format(" %c.. %zu bytes", call.data[0],
                                                           call.data.size()).c_str(), call.status));
    switch (call.fn) {
    case SIM_OPEN:
        if (ok && !g_run.held.insert(channel).second) violate("a channel opened twice");
        break;
    case SIM_CLOSE:
        if (!g_run.held.erase(channel)) violate("FT_Close of a channel the program does not hold");
        break;
    case SIM_WRITE:
        checkPacket(channel, call.data);
        if (!ok && g_run.awaitingAnswer) g_run.awaitingAnswer = false, g_run.blockFailed = true;
        break;
    case SIM_GET_INFO: {
        // What the program learnt of the adapter: what it must show and how to treat it.
        const FT_DEVICE_LIST_INFO_NODE &r = simAdapter(g_run.host->sim, call.adapter).channels[call.channel].record;
        std::string &name = g_run.identifiedName;
        if (!ok) break;
        g_run.identified = call.adapter;
        g_run.identifiedId = r.ID;
        name.assign(r.Description, strnlen(r.Description, sizeof r.Description));
        if (name.size() >= 2 && name.compare(name.size() - 2, 2, " A") == 0)
            name.resize(name.size() - 2);
        break;
    }
    case SIM_WRITE_EE:
        // Only for an adapter that needs it, through its channel A, with the image's words in
        // order; after all 64, a word is written again only when its read-back just differed.
        if (channel != g_run.opAdapter * 2 || !g_run.needsUpdate)
            violate("EEPROM written on an adapter that needs no Update");
        else if (word >= 64 || value != AdapterEepromImage[word] || g_run.eeFailed)
            violate(format("EEPROM word %u written with %04X", word, value));
        else if (g_run.eeNext < 64 ? int(word) != g_run.eeNext
                                   : int(word) != g_run.lastReadWord || !g_run.lastReadDiffers)
            violate(format("EEPROM word %u written out of order", word));
        if (!ok) g_run.eeFailed = true;
        else if (g_run.eeNext < 64) ++g_run.eeNext;
        break;
    case SIM_READ_EE:
        if (g_run.op != OP_UPDATE || g_run.eeNext < 64 || word >= 64) break;
        g_run.lastReadWord = int(word);
        g_run.lastReadDiffers = ok && value != AdapterEepromImage[word];
        if (ok && !g_run.lastReadDiffers && int(word) == g_run.eeVerified) ++g_run.eeVerified;
        break;
    case SIM_CYCLE_PORT:
        if (channel != g_run.opAdapter * 2)
            violate("another channel than the operation's A cycled");
        break;
    default: break;
    }
}

// Every entry of the library's one list behind the fault draw; FT_Read with its short reads.
D2xxApi campaignLibrary() {
#define CAMPAIGN_WRAPPER(name, member, tag, need, params, args) FAULTY(SIM_##tag, member),
    D2xxApi api = {D2XX_ENTRIES(CAMPAIGN_WRAPPER)};
#undef CAMPAIGN_WRAPPER
    api.read = cRead;
    return api;
}
const D2xxApi CAMPAIGN_LIBRARY = campaignLibrary();

// --- the window, as the worker sees it: the recording host, watched ---

// Every window operation as the recording host records it: before it is carried out, the texts
// and what must come next; once it is, the buttons, which follow the enable rule or are all off.
void watchWindow(const std::string &event, bool done) {
    const bool *b = g_run.host->buttons, update = g_appState.updateRequired != 0;
    if (done) {
        bool any = false, rule = true;
        for (int op = OP_ERASE; op <= OP_UPDATE; ++op) {
            any = any || b[op];
            rule = rule && b[op] == buttonEnabledByRule(Operation(op), true, update);
        }
        if (any && !rule)
            violate(format("buttons E%d R%d W%d U%d neither follow the rule nor are all off", b[1],
                           b[2], b[3], b[4]));
        fireAnchored(AFTER_WINDOW_OP, SIM_READ, g_run.windowOps++);
        for (size_t i = 0; i < g_run.patient.size(); ++i) {
            const size_t index = g_run.patient[i];
            if (!b[g_run.events[index].target]) continue;
            g_run.patient.erase(g_run.patient.begin() + long(i));
            g_run.fired[index] = false;
            return fire(index);
        }
        return;
    }
    note(event);
    const std::string log =
        event.compare(0, 4, "log ") == 0 ? event.substr(4) : std::string("\x01");
    checkPressKept(&log);
    if (!g_run.expectLog.empty() && log != g_run.expectLog)
        violate("\"" + g_run.expectLog + "\" should have been reported here, not: " + event);
    if (!g_run.expectStatus.empty() && event != "status " + g_run.expectStatus + " hold 50")
        violate("status \"" + g_run.expectStatus +
                "\" held 50 ticks should follow its log text, not: " + event);
    g_run.expectLog.clear();
    g_run.expectStatus.clear();
    const size_t hold = event.rfind(" hold ");
    if (log != "\x01") {
        onLog(log);
    } else if (event.compare(0, 5, "type ") == 0) {
        if (event.size() > 5 && event.substr(5) != g_run.identifiedName)
            violate("the type label shows another name than the adapter's");
    } else if (event.compare(0, 6, "label ") == 0) {
        const char *text = event.c_str() + 8;
        if (*text && !matches(event[6] == '0' ? "Ver. %02X.%02X" : "COM%u", text))
            violate("an unknown label text");
    } else if (event.compare(0, 7, "status ") == 0) {
        const std::string text = event.substr(7, hold - 7), ticks = event.substr(hold + 6);
        bool known =
            (text == "Connect the ECU with Kesta OBD1 EMU installed" && ticks == "4294967295") ||
            (text.empty() && ticks == "1");
        for (const auto &pair : FAILURE_PAIRS) known = known || (text == pair[1] && ticks == "50");
        known = known || (text == "Verify failed!" && ticks == "50");
        if (!known) violate("an unknown status text or hold");
    } else if (event.compare(0, 9, "progress ") == 0) {
        if (atoi(event.c_str() + 9) < 1 || atoi(event.c_str() + 9) > 256)
            violate("a progress position out of range");
    } else if (event == "save dialog" || event == "open dialog") {
        if (event[0] == 's' ? g_run.op != OP_READ || g_run.blocks != 128 : g_run.op != OP_WRITE)
            violate("a file dialog outside its operation's step");
    } else if (event.compare(0, 6, "fatal ") == 0) {
        violate("a fatal error");
    }
}

FileResult hLoadImageFile(void *context, const wchar_t *path, uint8_t *image) {
    static const char *const TEXTS[] = {" Ok.\r\nWrite data to ECU, wait... ",
                                        "Can't open file!\r\n", "Invalid file size!\r\n",
                                        "Can't read file!\r\n"};
    if (g_run.op != OP_WRITE || g_run.reported) violate("a file loaded outside a Write");
    const FileResult result = g_innerHost->loadImageFile(context, path, image);
    note(format("the file loads: %d", int(result)));
    g_run.expectLog = TEXTS[result];
    if (result == FILE_OK) g_run.writeData.assign(image, image + MEMORY_SIZE);
    if (result == FILE_OK && g_run.host->files[path] != g_run.writeData)
        violate("the image loaded is not the file");
    return result;
}

// A saved file is exactly the board's memory that was read; a failed save leaves every file as
// it was and adds none.
FileResult hSaveImageFile(void *context, const wchar_t *path, const uint8_t *image) {
    static const char *const TEXTS[] = {OK_TAIL, "Can't create file!\r\n", "Can't create file!\r\n",
                                        "Can't write file!\r\n"};
    if (g_run.op != OP_READ || g_run.reported || g_run.blocks != 128)
        violate("a file saved outside a Read's save step");
    if (memcmp(image, g_run.before.data(), MEMORY_SIZE) != 0)
        violate("the image saved is not the board's memory");
    const std::map<std::wstring, std::vector<uint8_t>> files = g_run.host->files;
    const FileResult result = g_innerHost->saveImageFile(context, path, image);
    note(format("the file saves: %d", int(result)));
    g_run.expectLog = TEXTS[result];
    g_run.saved = result == FILE_OK;
    if (g_run.saved && g_run.host->files[path] != std::vector<uint8_t>(image, image + MEMORY_SIZE))
        violate("the file saved is not the image");
    if (!g_run.saved && g_run.host->files != files) violate("a failed save changed the files");
    return result;
}

bool answerDialog(FileDialogKind, std::wstring &chosen) {
    const size_t index = size_t(g_run.dialogs++);
    const Answer a = index < g_run.answers.size() ? g_run.answers[index] : ANSWER_CANCEL;
    note(std::string("the user answers: ") + ANSWER_NAMES[a]);
    fireAnchored(IN_DIALOG, SIM_READ, index);
    g_run.host->failSaves = g_run.host->failLoads = a == ANSWER_BROKEN;
    chosen = ANSWER_PATHS[a];
    if (a == ANSWER_CANCEL) g_run.expectLog = "Canceled.\r\n";
    return a != ANSWER_CANCEL;
}

// --- one world ---

// Plays world `seed` and gives its first violation, or nothing.
std::string runWorld(uint64_t seed, bool tracing) {
    g_run = Run();
    g_run.seed = seed;
    g_run.tracing = tracing;
    g_run.faults = Rng{seed * 0x2545F4914F6CDD1Dull + 1};
    static RecordingHost record(0);
    record.reset(0);
    g_run.host = &record;
    g_run.host->sim.world.traceReads = false;
    g_run.host->sim.world.onCall = watchLibrary;
    static D2xxApi library;
    library = CAMPAIGN_LIBRARY;
    Worker &worker = g_run.host->worker;
    g_inner = worker.link.d2xx;
    worker.link.d2xx = &library;
    static Host host;
    host = *(g_innerHost = worker.host);
    host.loadImageFile = hLoadImageFile;
    host.saveImageFile = hSaveImageFile;
    worker.host = &host;
    g_run.host->watch = watchWindow;
    g_run.host->answerDialog = answerDialog;
    drawWorld();
    g_run.fired.assign(g_run.events.size(), false);
    for (size_t i = 0; i < g_run.events.size(); ++i)
        if (g_run.events[i].anchor == AT_MS)
            g_run.host->atMs(START_US / 1000 + g_run.events[i].n, [i] { fire(i); });
    g_run.host->atMs(START_US / 1000 + g_run.lengthMs,
                     [] { requestStop("as the world's time is up"); });
    g_run.host->limitUs = START_US + (g_run.lengthMs + 2000) * 1000ull;

    workerMain(worker);
    const uint64_t returned = now();
    // The window's shutdown: both slots closed once the worker has stopped.
    closeChannels(worker.link);

    if (g_run.host->hitLimit) violate("the worker did not end within the world's time");
    if (!g_run.stopped) violate("the worker ended on its own");
    if (g_run.host->windowOpsAfterStop) violate("a window operation after the stop");
    // Within one read time-out of the stop, or of the end of the library call then in flight.
    if (g_run.stopped && returned > std::max(g_run.stopUs, g_run.settleUs) + LINK_TIMEOUT_MS * 1000)
        violate(format("the worker ended %.1f ms after the stop",
                       double(returned - g_run.stopUs) / 1000));
    if (!g_run.stopped && (!g_run.expectLog.empty() || !g_run.expectStatus.empty()))
        violate("a failure was not reported");
    finishOp();
    if (!g_run.held.empty()) violate(channelName(*g_run.held.begin()) + " left open");
    if (g_run.host->sim.world.openHandles != 0) violate("the simulator has channels left open");
    for (const SimAdapter &a : g_run.host->sim.world.adapters)
        if (a.board.protocolErrors)
            violate("the board saw a malformed packet: " + a.board.lastProtocolError);
    return g_run.violation;
}

// Names the world the process dies in. AddressSanitizer calls back; UndefinedBehaviorSanitizer,
// which has a runtime of its own, aborts (see below), as does a hang that outlasts the stop.
void onDeath() {
    char text[160];
    const int n = snprintf(text, sizeof text, "campaign: world %llu died (replay: --seed %llu)\n",
                           (unsigned long long)g_run.seed, (unsigned long long)g_run.seed);
    if (g_run.seed && n > 0 && write(2, text, size_t(n)) < 0) return;
}
void onAbort(int) { onDeath(); }

// Replays a world with its trace and prints both, the trace up to the violation.
void printWorld(uint64_t seed, size_t lines) {
    const std::string violation = runWorld(seed, true);
    printf("%s", g_run.world.c_str());
    const size_t shown = std::min(g_run.trace.size(), lines);
    if (shown < g_run.trace.size())
        printf("  ... %zu earlier trace lines\n", g_run.trace.size() - shown);
    for (size_t i = g_run.trace.size() - shown; i < g_run.trace.size(); ++i)
        printf("  %s\n", g_run.trace[i].c_str());
    printf("world %llu: %s\n", (unsigned long long)seed,
           violation.empty() ? "no violation" : violation.c_str());
}

uint64_t freshBase() {
    uint64_t base = 0;
    if (FILE *f = fopen("/dev/urandom", "rb")) {
        if (fread(&base, sizeof base, 1, f) != 1) base = 0;
        fclose(f);
    }
    // Short enough to type back in; runs of 100000 seeds from different bases rarely overlap.
    return (base % 1000000000000ull) * 100000;
}

}  // namespace

extern "C" const char *__ubsan_default_options() { return "abort_on_error=1:print_stacktrace=1"; }

int main(int argc, char **argv) {
    __sanitizer_set_death_callback(onDeath);
    signal(SIGABRT, onAbort);
    uint64_t fresh = DEFAULT_FRESH_WORLDS;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--seed") == 0) {
            printWorld(strtoull(argv[i + 1], nullptr, 10), SIZE_MAX);
            return g_run.violation.empty() ? 0 : 1;
        }
        if (strcmp(argv[i], "--worlds") == 0) fresh = strtoull(argv[i + 1], nullptr, 10);
    }
    const uint64_t base = freshBase();
    std::vector<uint64_t> seeds(std::begin(FIXED_SEEDS), std::end(FIXED_SEEDS));
    for (uint64_t s = 0; s < fresh; ++s) seeds.push_back(base + s);
    int violations = 0, memoryFaults = 0, readBacksOverFaults = 0;
    for (uint64_t seed : seeds) {
        const std::string violation = runWorld(seed, false);
        memoryFaults += g_run.memoryFault;
        readBacksOverFaults += g_run.readBackOverFault;
        if (violation.empty()) continue;
        printf("campaign: world %llu breaks an invariant %s (replay: kesta_campaign --seed %llu)\n",
               (unsigned long long)seed, violation.c_str(), (unsigned long long)seed);
        if (++violations <= 3) printWorld(seed, 400);
    }
    g_run.seed = 0;
    printf("campaign: %zu worlds, %d violations, seeds %llu..%llu; %d drew a memory fault, %d read one "
           "back\n",
           seeds.size(), violations, (unsigned long long)base, (unsigned long long)(base + fresh - 1),
           memoryFaults, readBacksOverFaults);
    return violations ? 1 : 0;
}
