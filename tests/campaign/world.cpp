// The campaign's worlds: a seed drawn into adapters, boards, faults, presses and answers, and
// the events that play them; the run's trace and its first violation.
#include <cstdio>
#include <cstring>

#include "tests/campaign/campaign.h"

namespace campaign {

Run g_run;

std::string format(const char *f, ...) {
    char text[512];
    va_list args;
    va_start(args, f);
    vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

// A fault drawn "one in n" comes one in n * 6 / hostility, never in a calm world. `what` says it.
bool hostile(Rng &r, uint32_t n, const char *what = "") {
    const bool drawn = g_run.hostility && oneIn(r, n * 6 / uint32_t(g_run.hostility));
    if (drawn) SAY("%s", what);
    return drawn;
}
// A faulty value below `range` when `drawn`, or -1; `what` says it with the value.
int maybe(Rng &r, bool drawn, uint32_t range, const char *what) {
    const int value = drawn ? int(below(r, range)) : -1;
    if (value >= 0) SAY(what, value);
    return value;
}
// Which share of a draw `k` fell in: the count of the rising `bounds` it is not below.
int share(uint32_t k, std::initializer_list<uint32_t> bounds) {
    int index = 0;
    for (uint32_t bound : bounds) index += k >= bound;
    return index;
}

std::string escaped(const std::string &text) {
    std::string shown;
    for (char c : text)
        shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    return shown;
}

void note(const std::string &line) {
    if (!g_run.tracing || !g_run.violation.empty()) return;
    if (g_run.reads)
        g_run.trace.push_back(format("         %u x FT_Read: %s", g_run.reads, g_run.readBytes.c_str()));
    g_run.reads = 0;
    g_run.readBytes.clear();
    g_run.trace.push_back(format("%8.3f %s", double(now() - START_US) / 1e6, escaped(line).c_str()));
}

void violate(const std::string &what) {
    if (!g_run.violation.empty()) return;
    note("VIOLATION: " + what);
    g_run.violation = format("at %.3f s: %s", double(now() - START_US) / 1e6, escaped(what).c_str());
    g_run.host->stop = g_run.stopped = true;
}


// --- drawing the world ---

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
    b.refuseWriteBlock = maybe(r, hostile(r, 6), 256, ", refuses write block %d");
    b.badChecksumReadBlock = maybe(r, hostile(r, 6), 128, ", bad checksum on read block %d");
    b.truncateReadBlock = maybe(r, hostile(r, 8), 128, ", read block %d cut short");
    b.truncateAfterBytes = int(below(r, 257));
    b.unplugAtBlockCommand = maybe(r, hostile(r, 8), 400, ", unplugged at block command %d");
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
    m.dropWriteBlock = maybe(r, oneIn(r, 8), 256, ", drops write block %d");
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
    static const char *const ACTIONS[] = {"", "unplug adapter %d", "plug adapter %d",
                                          "replug adapter %d with another board",
                                          "foreign device %d comes or goes", "stop"};
    const unsigned long long n = e.n;
    std::string s = e.anchor == AT_MS         ? format("at %llu ms: ", n)
                    : e.anchor == BEFORE_CALL ? format("before %s #%llu: ", simFnName(e.fn), n)
                    : e.anchor == AFTER_WINDOW_OP ? format("after window operation #%llu: ", n)
                                                  : format("while file dialog #%llu answers: ", n);
    if (e.action == ACT_PRESS)
        return s + "press " + BUTTONS[e.target] + (e.patient ? " (as soon as it is enabled)" : "");
    return s + format(ACTIONS[e.action], e.target);
}

// Adds an event to the world; one at a moment is set on the host's clock at once.
void addEvent(const Event &e) {
    const size_t index = g_run.events.size();
    g_run.events.push_back(e);
    g_run.fired.push_back(false);
    if (e.anchor == AT_MS) g_run.host->atMs(START_US / 1000 + e.n, [index] { fire(index); });
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
    const AdapterKind kind = AdapterKind(share(below(r, 20), {13, 15, 17, 19}));
    SimAdapterConfig c;
    c.usbId = kind == KIND_OLD ? USB_ID_OLD : kind == KIND_INVALID ? uint32_t(next(r)) : USB_ID_CURRENT;
    if (oneIn(r, 8)) c.product = "OBD1 EMU";  // found by its serial alone
    if (kind == KIND_DAMAGED) c.eeprom = SIM_EEPROM_BAD_CHECKSUM;
    if (kind == KIND_FOREIGN_BLANK) c.eeprom = oneIn(r, 2) ? SIM_EEPROM_FILL : SIM_EEPROM_BAD_CHECKSUM;
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
    if (const int ch = maybe(r, hostile(r, 15), 2, ", channel %d (0 A, 1 B) does not open"); ch >= 0)
        a.channels[ch].openFails = true;
    a.channels[0].failSetting =
        1 + maybe(r, hostile(r, 15), 3, ", line setting %d (0 baud, 1 data, 2 time-outs) fails");
    a.eepromFailAtWord = maybe(r, hostile(r, 8), 64, ", EEPROM word %d fails");
    a.unplugAtEepromWord = maybe(r, hostile(r, 8), 64, ", unplugged at EEPROM word %d");
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
    SAY("world %llu: %u ms, hostility %d%s; library: %s", (unsigned long long)g_run.seed,
        g_run.lengthMs, g_run.hostility, g_run.wire ? ", wire timing" : "",
        g_run.faultOneIn ? format("1 call in %u fails", g_run.faultOneIn).c_str() : "calls do not fail");
    if (g_run.shortReadOneIn) SAY(", 1 FT_Read in %u comes back short", g_run.shortReadOneIn);
    SAY(", %s FT_ReadEE, %s FT_SetLatencyTimer\n", g_run.readEE ? "with" : "no",
        latency ? "with" : "no");
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
        e.action = Action(share(below(r, 20), {12, 15, 17, 19}));
        const int targets = e.action == ACT_TOGGLE_FOREIGN ? foreign : adapters;
        e.target = e.action == ACT_PRESS ? int(1 + below(r, 4)) : int(below(r, uint32_t(targets)));
        e.patient = e.action == ACT_PRESS && !oneIn(r, 3);
        e.board = next(r);
        e.anchor = Anchor(share(below(r, 4), {2, 3}));
        const uint32_t call = below(r, 9), ranges[] = {g_run.lengthMs, CALL_RANGES[call], 120};
        e.fn = CALLS[call];
        e.n = below(r, ranges[e.anchor]);
        if (e.action == ACT_PRESS || targets > 0) addEvent(e);
    }
    // The stop: at a random moment, or when the world's time is up.
    const uint32_t stop = below(r, 12);
    const Anchor anchor = Anchor(share(stop, {5, 6, 7}));
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
    if (e.action == ACT_TOGGLE_FOREIGN) setForeign(e.target, !g_run.foreignPresent[size_t(e.target)]);
}

void fireAnchored(Anchor anchor, SimFn fn, uint64_t n) {
    for (size_t i = 0; i < g_run.events.size(); ++i) {
        const Event &e = g_run.events[i];
        if (e.anchor == anchor && e.n == n && (anchor != BEFORE_CALL || e.fn == fn)) fire(i);
    }
}

}  // namespace campaign
