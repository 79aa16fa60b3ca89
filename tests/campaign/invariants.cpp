// The campaign's invariants: what the program may show, send and leave, checked as it happens.
#include <algorithm>
#include <cstring>

#include "tests/campaign/campaign.h"

namespace campaign {

// --- invariants ---

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
    static const std::vector<uint8_t> erased(BLOCK_WRITE_SIZE, 0xFF);
    return g_run.op == OP_ERASE ? erased.data() : g_run.writeData.data() + block * BLOCK_WRITE_SIZE;
}

// The board of the operation in progress; a byte of it as a read-back sees it, against what was
// sent there.
const SimBoard &opBoard() { return simAdapter(g_run.host->sim, g_run.opAdapter).board; }
uint8_t boardRead(uint32_t address) { return simBoardByte(opBoard(), address); }
uint8_t sentByte(uint32_t address) {
    return sentData(address / BLOCK_WRITE_SIZE)[address % BLOCK_WRITE_SIZE];
}

// The first board address that does not read back what the Erase or Write sent; MEMORY_SIZE when
// every one does.
uint32_t firstDifference() {
    for (uint32_t address = 0; address < MEMORY_SIZE; ++address)
        if (boardRead(address) != sentByte(address)) return address;
    return MEMORY_SIZE;
}

bool boardReplaced() { return g_run.boardGeneration[size_t(g_run.opAdapter)] != g_run.opGeneration; }

// Erase and Write: a success leaves the board reading back what was sent, whatever its memory's
// faults. On a board without them, block by block it holds exactly what was sent, up to the
// block that failed (which may hold either), and nothing after it changed.
void checkBoard() {
    if (!writesBoard() || boardReplaced()) return;
    const SimBoard &board = opBoard();
    if (g_run.okLogged && firstDifference() != MEMORY_SIZE)
        return violate(format("a verified %s left %04X reading otherwise than sent",
                              g_run.op == OP_ERASE ? "Erase" : "Write", firstDifference()));
    if (hasMemoryFault(board.memoryFaults)) return;
    const uint8_t *memory = board.memory;
    const int sure = g_run.okLogged ? g_run.blocks : g_run.blocks - 1;
    for (int b = 0; b < int(MEMORY_SIZE / BLOCK_WRITE_SIZE); ++b) {
        const size_t at = size_t(b) * BLOCK_WRITE_SIZE;
        const bool sent =
            b < g_run.blocks && memcmp(memory + at, sentData(uint32_t(b)), BLOCK_WRITE_SIZE) == 0;
        const bool old = memcmp(memory + at, g_run.before.data() + at, BLOCK_WRITE_SIZE) == 0;
        if (b < sure ? !sent : b < g_run.blocks ? !sent && !old : !old)
            return violate(format("board block %d holds neither what was sent nor what it held", b));
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
    static_cast<OpState &>(g_run) = OpState();
    g_run.op = op;
    g_run.opAdapter = adapter;
    g_run.opGeneration = g_run.boardGeneration[size_t(adapter)];
    g_run.lastReadWord = -1;
    // The memory as the board reads it, its faults included.
    g_run.before.resize(MEMORY_SIZE);
    for (uint32_t a = 0; a < MEMORY_SIZE; ++a) g_run.before[a] = boardRead(a);
    g_run.needsUpdate = g_run.kinds[size_t(adapter)] != KIND_FOREIGN_BLANK &&
                        (g_run.identifiedId != USB_ID_CURRENT || g_run.identifiedName == "Dual RS232");
}

// A press of an enabled button is honoured: its operation's opening text is the next opening
// text, unless first the connection ends (the disconnect line or a new search), the worker
// withdraws the choice because the board stopped answering (NO_STATUS), or a stop is requested.
// The worker takes the request and logs the opening with no library call or window operation
// in between, so a request gone at any other moment was lost.
void checkPressKept(const std::string *log) {
    if (!g_run.pendingPress || g_appState.requestedOperation != OP_NONE || g_run.stopped) return;
    if (log && *log == OPENING[g_run.pendingPress]) return;
    violate(format("the press of button %d was lost: its request is gone and no operation began",
                   g_run.pendingPress));
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
    if (why.compare(0, 12, "Address line") == 0) {
        const uint32_t mask = namedLines(why, 'A');
        named = format("lines %04X", mask);
        holds = true;
        for (uint32_t a = 0; a < MEMORY_SIZE && holds; ++a) holds = boardRead(a) == sentByte(a | mask);
    } else if (why.compare(0, 8, "Data bit") == 0) {
        const uint32_t mask = namedLines(why, 'D');
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
    const SimMemoryFaults &m = opBoard().memoryFaults;
    const bool address = m.ignoredAddressLines, data = m.stuckDataLow || m.stuckDataHigh;
    const bool dropped = m.dropWriteBlock >= 0, one = address + data + dropped + (m.stuckAddress >= 0) == 1;
    std::string drawn;
    if (one && address && g_run.op == OP_WRITE) drawn = format("lines %04X", m.ignoredAddressLines);
    if (one && data) drawn = format("bits %02X", m.stuckDataLow | m.stuckDataHigh);
    if (one && dropped && count > 1) drawn = "block";
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
    if (t == CHOICE || t == NO_STATUS || t == DISCONNECTED || announce) finishOp();
    if (t == NO_STATUS || t == DISCONNECTED) g_run.pendingPress = 0;
    if (t == RECONNECT || t == DISCONNECTED) g_run.announced = false;
    if (announce) {
        if (g_run.kinds[size_t(g_run.identified)] == KIND_FOREIGN_BLANK)
            return violate("announced a device that is not ours");
        if (t != format(ANNOUNCE, g_run.identifiedId >> 16, g_run.identifiedId & 0xFFFF))
            violate("the announce line shows another USB id than the adapter's");
        g_run.announced = true;
    }
    if (!g_run.op || g_run.reported) return;
    if (t == VERIFY_STEP) {
        // The read-back follows a write phase whose every block was taken.
        if (g_run.verifying || !writesBoard() || !allBlocksTaken())
            violate("a read-back began before every block was written");
        g_run.verifying = true;
        g_run.readBackOverFault |= hasMemoryFault(opBoard().memoryFaults);
        return;
    }
    g_run.okLogged = t == RECONNECT;
    g_run.reported = t == RECONNECT || t == CANNOT_PROGRAM;
    if (writesBoard() && t == RECONNECT && (!g_run.verifying || g_run.readBacks != 128))
        violate("an Erase or Write reported success without reading the whole memory back");
    for (const auto &pair : FAILURE_PAIRS)
        if (t == pair[0]) g_run.reported = true, g_run.expectStatus = pair[1];
    if (t.compare(0, strlen(MISMATCH), MISMATCH) == 0) {
        g_run.reported = true;
        g_run.expectStatus = VERIFY_FAILED;
        if (g_run.verifying && !boardReplaced()) checkVerifyReport(t);
    }
}

}  // namespace campaign
