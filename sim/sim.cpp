// The simulated adapter and board behind the D2XX entry points: the attachment of the adapters,
// the board's packets and memory, the chip's receive path and timing, and the trace. The
// EEPROM codec is in sim_eeprom.cpp.
#include "sim/sim.h"

#include <algorithm>
#include <cstring>

namespace {

// The vendor's calls carry no context, so the context-free table below drives one simulator at a
// time: the one `simD2xx` was last asked for.
Sim *attached = nullptr;

constexpr uint8_t ACK = 0x4F;
constexpr uint8_t REFUSAL = 0x3F;
constexpr uint32_t MEMORY_BYTES = 32768;

// One byte on the wire: 11 bits at 115200 baud, in microseconds (times 1000 for precision).
constexpr uint64_t BYTE_NS = 11ull * 1000000000ull / 115200ull;
constexpr uint64_t NEVER = ~uint64_t(0);

uint64_t nowUs(const Sim &s) { return s.clock.nowUs(s.clock.context); }

void setText(char *field, size_t size, const std::string &text) {
    memset(field, 0, size);
    memcpy(field, text.data(), std::min(size, text.size()));
}

// --- handles ---

FT_HANDLE makeHandle(int adapter, int channel, uint32_t serial) {
    uintptr_t v = 0x10000000u | (uintptr_t(adapter) << 20) | (uintptr_t(channel) << 19) |
                  (serial & 0x7FFFFu);
    return reinterpret_cast<FT_HANDLE>(v);
}

// Finds the open channel behind a handle; null for a stale or foreign handle.
SimChannel *channelOf(Sim &s, FT_HANDLE h, int *adapterOut, int *channelOut) {
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    *adapterOut = -1;
    *channelOut = -1;
    if ((v & 0xF0000000u) != 0x10000000u) return nullptr;
    int adapter = int((v >> 20) & 0xFF);
    int channel = int((v >> 19) & 1);
    if (adapter >= int(s.world.adapters.size())) return nullptr;
    *adapterOut = adapter;
    *channelOut = channel;
    SimChannel &c = s.world.adapters[adapter].channels[channel];
    if (!c.open || (c.openSerial & 0x7FFFFu) != (v & 0x7FFFFu)) return nullptr;
    return &c;
}

bool adapterVisible(const SimAdapter &a) { return a.plugged && !a.cycling; }

// The chip model carries the wire under it.
bool wireTimed(const SimAdapter &a) { return a.board.wireTiming || a.chip.on; }

void emptyReceive(SimChannel &c) {
    c.rx.clear();
    c.rxHead = 0;
    c.chipBuffer.clear();
    c.chipHead = 0;
}

void closeAll(Sim &s, SimAdapter &a) {
    for (SimChannel &c : a.channels) {
        if (c.open) --s.world.openHandles;
        c.open = false;
        emptyReceive(c);
    }
    a.board.pending.clear();
}

// --- trace ---

SimCall &trace(Sim &s, SimFn fn, int adapter, int channel, FT_STATUS status, uint32_t a0 = 0,
               uint32_t a1 = 0, uint32_t a2 = 0) {
    s.world.trace.push_back(
        SimCall{fn, adapter, channel, status, {a0, a1, a2}, {}, nowUs(s), nullptr});
    return s.world.trace.back();
}

// With the chip model a call on the adapter returns no sooner than its cost after it was made;
// in real time the stand-in's own work up to then counts as part of that cost.
void payCallCost(Sim &s, int adapter) {
    if (adapter < 0 || !s.world.adapters[size_t(adapter)].chip.on) return;
    const uint64_t end = s.callStart + s.world.adapters[size_t(adapter)].chip.callCostUs;
    const uint64_t now = nowUs(s);
    if (now < end) s.clock.sleepUs(s.clock.context, end - now);
}

FT_STATUS finish(Sim &s, SimCall &call) {
    if (s.world.onCall) s.world.onCall(s, call);
    payCallCost(s, call.adapter);
    return call.status;
}

// The chip reads its EEPROM when it enumerates; the library names the channels from it.
void enumerate(SimAdapter &a) {
    SimEepromIdentity id = simDecodeEeprom(a.eeprom);
    for (int ch = 0; ch < 2; ++ch) {
        FT_DEVICE_LIST_INFO_NODE &r = a.channels[ch].record;
        r.ID = uint32_t(id.vendor) << 16 | id.product;
        setText(r.Description, sizeof r.Description, id.productName + (ch ? " B" : " A"));
        setText(r.SerialNumber, sizeof r.SerialNumber,
                id.serial.empty() ? std::string() : id.serial + (ch ? "B" : "A"));
    }
}

// Starts every call; gives the time it was made.
uint64_t beforeCall(Sim &s) {
    s.callStart = nowUs(s);
    if (s.world.beforeCall) s.world.beforeCall(s);
    // An adapter that cycled its port comes back once enumeration is over, as its EEPROM says.
    for (SimAdapter &a : s.world.adapters) {
        if (!a.cycling || nowUs(s) - a.cycleStart < uint64_t(a.reenumerateMs) * 1000) continue;
        a.cycling = false;
        enumerate(a);
    }
    return s.callStart;
}

// --- the chip's receive path ---

// When the chip sends its next packet, as far as the bytes buffered now tell: never with an empty
// buffer, else at the 62nd byte's arrival or at the timer's expiry, whichever comes first.
uint64_t nextPacket(const SimChannel &c) {
    if (c.chipHead >= c.chipBuffer.size()) return NEVER;
    const uint64_t expiry = c.timerStart + uint64_t(c.latencyMs) * 1000;
    if (c.chipBuffer.size() - c.chipHead < SIM_PACKET_DATA) return expiry;
    return std::min(expiry, c.chipBuffer[c.chipHead + SIM_PACKET_DATA - 1].at);
}

// Sends the packets the chip sends up to `until`.
void runChip(SimChannel &c, uint64_t until) {
    const uint64_t period = uint64_t(c.latencyMs) * 1000;
    while (c.chipHead < c.chipBuffer.size()) {
        // Expiries before the next byte arrives send empty packets: the timer only keeps its beat.
        const uint64_t arrival = c.chipBuffer[c.chipHead].at;
        if (arrival > c.timerStart + period) c.timerStart += (arrival - c.timerStart - 1) / period * period;
        const uint64_t sent = nextPacket(c);
        if (sent > until) return;
        for (uint32_t n = 0; n < SIM_PACKET_DATA && c.chipHead < c.chipBuffer.size() &&
                             c.chipBuffer[c.chipHead].at <= sent;
             ++n)
            c.rx.push_back({c.chipBuffer[c.chipHead++].byte, sent + SIM_HOST_DELAY_US});
        c.timerStart = sent;
    }
    c.chipBuffer.clear();
    c.chipHead = 0;
}

// When `count` bytes can be read, or `deadline` if that comes first. Runs the chip up to then.
uint64_t readableTime(SimChannel &c, uint32_t count, uint64_t from, uint64_t deadline) {
    for (uint64_t t = from;;) {
        runChip(c, t);
        size_t i = c.rxHead;
        while (i < c.rx.size() && i - c.rxHead < count && c.rx[i].at <= t) ++i;
        if (i - c.rxHead >= count) return t;
        const uint64_t next = std::min(i < c.rx.size() ? c.rx[i].at : NEVER, nextPacket(c));
        if (next > deadline) return deadline;
        t = next;
    }
}

// --- the board ---

void scheduleReply(SimAdapter &a, const std::vector<uint8_t> &reply, uint64_t start) {
    SimChannel &c = a.channels[0];
    if (a.chip.on) start += a.chip.boardDelayUs;
    const uint64_t startNs = start * 1000;
    for (size_t i = 0; i < reply.size(); ++i) {
        uint64_t at = startNs;
        if (wireTimed(a)) at += (i + 1) * BYTE_NS;
        at += uint64_t(a.board.byteIntervalMs) * 1000000ull * (i + 1);
        const uint64_t atUs = (at + 999) / 1000;
        if (!a.chip.on) {
            c.rx.push_back({reply[i], atUs});
        } else {
            // One line from the board: a reply does not overtake the one before it.
            const uint64_t after = c.chipBuffer.empty() ? 0 : c.chipBuffer.back().at;
            c.chipBuffer.push_back({reply[i], std::max(atUs, after)});
        }
    }
}

void protocolError(SimBoard &b, const char *what) {
    ++b.protocolErrors;
    b.lastProtocolError = what;
    b.pending.clear();
}

uint8_t sum8(const uint8_t *p, size_t n) {
    uint32_t s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return uint8_t(s);
}

// Takes the whole commands out of the board's input. False when the adapter was unplugged.
bool runBoard(Sim &s, int adapterIndex, uint64_t arrival) {
    SimAdapter &a = s.world.adapters[adapterIndex];
    SimBoard &b = a.board;
    while (!b.pending.empty()) {
        std::vector<uint8_t> &p = b.pending;
        std::vector<uint8_t> reply;
        if (p[0] == 'V') {
            if (p.size() < 2) return true;
            if (p[1] != 'V') return protocolError(b, "V without V"), true;
            p.erase(p.begin(), p.begin() + 2);
            uint8_t major = uint8_t(b.version >> 8), minor = uint8_t(b.version);
            switch (b.versionReply) {
            case SIM_REPLY_NORMAL: reply = {major, minor, ACK}; break;
            case SIM_REPLY_SILENT: break;
            case SIM_REPLY_SHORT: reply = {major, minor}; break;
            case SIM_REPLY_WRONG_THIRD: reply = {major, minor, 0x4E}; break;
            case SIM_REPLY_LONG:
                reply = {major, minor, ACK};
                for (int i = 0; i < 100; ++i) reply.push_back(uint8_t(i));
                break;
            }
        } else if (p[0] == 'W' || p[0] == 'R') {
            const bool write = p[0] == 'W';
            const size_t size = write ? 133 : 5;
            if (p.size() < size) return true;
            const uint32_t address = uint32_t(p[2]) << 8 | p[3];
            const uint32_t blockSize = write ? 128 : 256;
            if (p[1] != (write ? 0x80 : 0x00)) return protocolError(b, "bad count byte"), true;
            if (sum8(p.data(), size - 1) != p[size - 1]) return protocolError(b, "bad checksum"), true;
            if (address % blockSize != 0 || address + blockSize > MEMORY_BYTES)
                return protocolError(b, "bad block address"), true;
            if (b.blockCommands++ == b.unplugAtBlockCommand) {
                simUnplug(s, adapterIndex);
                return false;
            }
            const int block = int(address / blockSize);
            if (write) {
                if (block == b.refuseWriteBlock) {
                    reply = {REFUSAL};
                } else {
                    if (block != b.memoryFaults.dropWriteBlock)
                        for (uint32_t i = 0; i < 128; ++i) simBoardStore(b, address + i, p[4 + i]);
                    reply = {ACK};
                }
            } else {
                for (uint32_t i = 0; i < 256; ++i) reply.push_back(simBoardByte(b, address + i));
                uint8_t sum = sum8(reply.data(), 256);
                reply.push_back(block == b.badChecksumReadBlock ? uint8_t(sum + 1) : sum);
                if (block == b.truncateReadBlock) reply.resize(size_t(b.truncateAfterBytes));
            }
            p.erase(p.begin(), p.begin() + long(size));
        } else {
            return protocolError(b, "unknown command"), true;
        }
        if (b.powered) scheduleReply(a, reply, arrival);
    }
    return true;
}

// --- entry points ---

uint32_t visibleCount(const Sim &s) {
    uint32_t n = 0;
    for (const SimListEntry &e : s.world.list) {
        if (e.adapter < 0) {
            ++n;
            continue;
        }
        const SimAdapter &a = s.world.adapters[e.adapter];
        if (adapterVisible(a) && a.channels[e.channel].listed) ++n;
    }
    return n;
}

FT_STATUS createDeviceInfoList(Sim &s, uint32_t *count) {
    beforeCall(s);
    *count = visibleCount(s);
    return finish(s, trace(s, SIM_CREATE_LIST, -1, -1, FT_OK, *count));
}

FT_STATUS getDeviceInfoList(Sim &s, FT_DEVICE_LIST_INFO_NODE *list, uint32_t *count) {
    beforeCall(s);
    uint32_t n = 0;
    for (const SimListEntry &e : s.world.list) {
        if (n >= *count) break;
        if (e.adapter < 0) {
            list[n++] = e.foreign;
            continue;
        }
        const SimAdapter &a = s.world.adapters[e.adapter];
        const SimChannel &c = a.channels[e.channel];
        if (!adapterVisible(a) || !c.listed) continue;
        list[n] = c.record;
        list[n].Flags = c.open ? 1 : 0;
        list[n].ftHandle = nullptr;
        ++n;
    }
    *count = n;
    return finish(s, trace(s, SIM_GET_LIST, -1, -1, FT_OK, n));
}

FT_STATUS openEx(Sim &s, void *arg, uint32_t flags, FT_HANDLE *handle) {
    beforeCall(s);
    const uint32_t locId = uint32_t(reinterpret_cast<uintptr_t>(arg));
    for (size_t ai = 0; ai < s.world.adapters.size(); ++ai) {
        SimAdapter &a = s.world.adapters[ai];
        for (int ch = 0; ch < 2; ++ch) {
            SimChannel &c = a.channels[ch];
            if (c.record.LocId != locId || !adapterVisible(a)) continue;
            FT_STATUS st = FT_OK;
            if (flags != FT_OPEN_BY_LOCATION) st = FT_INVALID_PARAMETER;
            else if (c.open || c.openFails) st = FT_DEVICE_NOT_OPENED;
            if (st == FT_OK) {
                c.open = true;
                c.openSerial = s.nextOpenSerial++;
                emptyReceive(c);
                c.timerStart = s.callStart;
                c.baudRate = c.readTimeout = c.writeTimeout = 0;
                c.wordLength = c.stopBits = c.parity = 0;
                c.latencyMs = 16;
                ++s.world.openHandles;
                *handle = makeHandle(int(ai), ch, c.openSerial);
            }
            SimCall &call = trace(s, SIM_OPEN, int(ai), ch, st, locId, flags);
            if (st == FT_OK) call.handle = *handle;
            return finish(s, call);
        }
    }
    return finish(s, trace(s, SIM_OPEN, -1, -1, FT_DEVICE_NOT_FOUND, locId, flags));
}

FT_STATUS close(Sim &s, FT_HANDLE h) {
    beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    if (c) {
        c->open = false;
        --s.world.openHandles;
    }
    SimCall &call = trace(s, SIM_CLOSE, ai, ch, c ? FT_OK : FT_INVALID_HANDLE);
    call.handle = h;
    return finish(s, call);
}

// The setting calls share one shape: a live handle, an injectable failure, then the store.
FT_STATUS settingCall(Sim &s, SimFn fn, FT_HANDLE h, int failIndex, uint32_t a0, uint32_t a1,
                      uint32_t a2) {
    beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    FT_STATUS st = !c ? FT_INVALID_HANDLE : c->failSetting == failIndex ? FT_IO_ERROR : FT_OK;
    // The library takes 2 to 255 ms.
    if (st == FT_OK && fn == SIM_SET_LATENCY && a0 < 2) st = FT_INVALID_PARAMETER;
    if (st == FT_OK) {
        switch (fn) {
        case SIM_SET_BAUD: c->baudRate = a0; break;
        case SIM_SET_LATENCY: c->latencyMs = uint8_t(a0); break;
        case SIM_SET_DATA:
            c->wordLength = uint8_t(a0);
            c->stopBits = uint8_t(a1);
            c->parity = uint8_t(a2);
            break;
        default:
            c->readTimeout = a0;
            c->writeTimeout = a1;
            break;
        }
    }
    return finish(s, trace(s, fn, ai, ch, st, a0, a1, a2));
}

FT_STATUS setBaudRate(Sim &s, FT_HANDLE h, uint32_t baud) {
    return settingCall(s, SIM_SET_BAUD, h, 1, baud, 0, 0);
}
FT_STATUS setDataCharacteristics(Sim &s, FT_HANDLE h, uint8_t w, uint8_t stop, uint8_t p) {
    return settingCall(s, SIM_SET_DATA, h, 2, w, stop, p);
}
FT_STATUS setTimeouts(Sim &s, FT_HANDLE h, uint32_t r, uint32_t w) {
    return settingCall(s, SIM_SET_TIMEOUTS, h, 3, r, w, 0);
}

FT_STATUS purge(Sim &s, FT_HANDLE h, uint32_t mask) {
    beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    if (!c) return finish(s, trace(s, SIM_PURGE, ai, ch, FT_INVALID_HANDLE, mask));
    if (mask & FT_PURGE_RX) emptyReceive(*c);
    if ((mask & FT_PURGE_TX) && ch == 0) s.world.adapters[ai].board.pending.clear();
    return finish(s, trace(s, SIM_PURGE, ai, ch, FT_OK, mask));
}

FT_STATUS read(Sim &s, FT_HANDLE h, void *buffer, uint32_t length, uint32_t *done) {
    const uint64_t start = beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    *done = 0;
    if (!c) return finish(s, trace(s, SIM_READ, ai, ch, FT_IO_ERROR, length));
    // Like the driver: back as soon as `length` bytes can be read, or at the time-out with
    // whatever can be read by then.
    auto *out = static_cast<uint8_t *>(buffer);
    const uint64_t until = readableTime(*c, length, start, start + uint64_t(c->readTimeout) * 1000);
    const uint64_t now = nowUs(s);
    if (until > now) {
        s.clock.sleepUs(s.clock.context, until - now);
        // The adapter may have gone while we waited (real-time stand-in).
        c = channelOf(s, h, &ai, &ch);
        if (!c) return finish(s, trace(s, SIM_READ, ai, ch, FT_IO_ERROR, length));
    }
    const uint64_t ready = nowUs(s);
    runChip(*c, ready);
    while (*done < length && c->rxHead < c->rx.size() && c->rx[c->rxHead].at <= ready)
        out[(*done)++] = c->rx[c->rxHead++].byte;
    if (c->rxHead == c->rx.size()) {
        c->rx.clear();
        c->rxHead = 0;
    }
    if (!s.world.traceReads) {
        payCallCost(s, ai);
        return FT_OK;
    }
    SimCall &call = trace(s, SIM_READ, ai, ch, FT_OK, length);
    call.data.assign(out, out + *done);
    return finish(s, call);
}

FT_STATUS write(Sim &s, FT_HANDLE h, void *buffer, uint32_t length, uint32_t *done) {
    const uint64_t start = beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    *done = 0;
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    if (!c) {
        SimCall &call = trace(s, SIM_WRITE, ai, ch, FT_IO_ERROR, length);
        call.data.assign(bytes, bytes + length);
        return finish(s, call);
    }
    FT_STATUS st = FT_OK;
    if (ch == 0) {
        SimAdapter &a = s.world.adapters[ai];
        uint64_t arrival = start;
        if (wireTimed(a)) {
            uint64_t startNs = std::max(a.txFreeAt, arrival) * 1000;
            arrival = (startNs + length * BYTE_NS + 999) / 1000;
            a.txFreeAt = arrival;
        }
        a.board.pending.insert(a.board.pending.end(), bytes, bytes + length);
        if (!runBoard(s, ai, arrival)) st = FT_IO_ERROR;
    }
    if (st == FT_OK) *done = length;
    SimCall &call = trace(s, SIM_WRITE, ai, ch, st, length);
    call.data.assign(bytes, bytes + length);
    return finish(s, call);
}

FT_STATUS getDeviceInfo(Sim &s, FT_HANDLE h, uint32_t *type, uint32_t *id, char *serial,
                                  char *description, void *) {
    beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    FT_STATUS st = !c ? FT_INVALID_HANDLE : c->deviceInfoStatus;
    if (st == FT_OK) {
        if (type) *type = c->record.Type;
        if (id) *id = c->record.ID;
        // The library copies the fields as they are: up to 16 and 64 bytes.
        if (serial) memcpy(serial, c->record.SerialNumber, sizeof c->record.SerialNumber);
        if (description) memcpy(description, c->record.Description, sizeof c->record.Description);
    }
    return finish(s, trace(s, SIM_GET_INFO, ai, ch, st));
}

FT_STATUS getComPortNumber(Sim &s, FT_HANDLE h, int32_t *port) {
    beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    FT_STATUS st = !c ? FT_INVALID_HANDLE : c->comPortStatus;
    if (st == FT_OK && c->comPort != -1) *port = c->comPort;
    return finish(s, trace(s, SIM_GET_COM_PORT, ai, ch, st));
}

FT_STATUS writeEE(Sim &s, FT_HANDLE h, uint32_t offset, uint16_t value) {
    beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    FT_STATUS st = FT_OK;
    if (!c) {
        st = FT_INVALID_HANDLE;
    } else if (offset >= 64) {
        st = FT_INVALID_PARAMETER;
    } else {
        SimAdapter &a = s.world.adapters[ai];
        if (int(offset) == a.unplugAtEepromWord) {
            simUnplug(s, ai);
            st = FT_IO_ERROR;
        } else if (int(offset) == a.eepromFailAtWord) {
            st = FT_OTHER_ERROR;
        } else if (int(offset) == a.eepromDropWord && a.eepromDropWrites != 0) {
            if (a.eepromDropWrites > 0) --a.eepromDropWrites;
        } else {
            a.eeprom[offset] = value;
        }
    }
    return finish(s, trace(s, SIM_WRITE_EE, ai, ch, st, offset, value));
}

FT_STATUS cyclePort(Sim &s, FT_HANDLE h) {
    beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    if (!c) return finish(s, trace(s, SIM_CYCLE_PORT, ai, ch, FT_INVALID_HANDLE));
    SimAdapter &a = s.world.adapters[ai];
    if (a.cyclePortFails) return finish(s, trace(s, SIM_CYCLE_PORT, ai, ch, FT_IO_ERROR));
    closeAll(s, a);
    a.cycling = true;
    a.cycleStart = nowUs(s);
    return finish(s, trace(s, SIM_CYCLE_PORT, ai, ch, FT_OK));
}

FT_STATUS setLatencyTimer(Sim &s, FT_HANDLE h, uint8_t ms) {
    return settingCall(s, SIM_SET_LATENCY, h, 4, ms, 0, 0);
}

FT_STATUS readEE(Sim &s, FT_HANDLE h, uint32_t offset, uint16_t *value) {
    beforeCall(s);
    int ai, ch;
    SimChannel *c = channelOf(s, h, &ai, &ch);
    FT_STATUS st = !c                               ? FT_INVALID_HANDLE
                   : offset >= 64                     ? FT_INVALID_PARAMETER
                   : s.world.adapters[ai].readEeFails ? FT_IO_ERROR
                                                      : FT_OK;
    if (st == FT_OK) *value = s.world.adapters[ai].eeprom[offset];
    return finish(s, trace(s, SIM_READ_EE, ai, ch, st, offset, st == FT_OK ? *value : 0));
}

#define SIM_UNPAREN(...) __VA_ARGS__
#define SIM_ATTACHED_ENTRY(name, member, tag, need, params, args) \
    FT_STATUS FT_API attached##name params { return member(*attached, SIM_UNPAREN args); }
D2XX_ENTRIES(SIM_ATTACHED_ENTRY)
#undef SIM_ATTACHED_ENTRY

const D2xxApi ATTACHED_API = {
#define SIM_TABLE_ENTRY(name, member, tag, need, params, args) attached##name,
    D2XX_ENTRIES(SIM_TABLE_ENTRY)
#undef SIM_TABLE_ENTRY
};

}  // namespace

const char *simFnName(SimFn fn) {
    static const char *const names[] = {
#define SIM_FN_NAME(name, member, tag, need, params, args) #name,
        D2XX_ENTRIES(SIM_FN_NAME)
#undef SIM_FN_NAME
    };
    return names[fn];
}

namespace {

// The cell that board address `address` reaches: the lines the memory ignores read as 0.
uint32_t memoryCell(const SimMemoryFaults &f, uint32_t address) {
    return address & ~uint32_t(f.ignoredAddressLines) & (MEMORY_BYTES - 1);
}

}  // namespace

uint8_t simBoardByte(const SimBoard &board, uint32_t address) {
    const SimMemoryFaults &f = board.memoryFaults;
    const uint32_t cell = memoryCell(f, address);
    uint8_t byte = board.memory[cell];
    if (f.stuckAddress >= 0 && cell == memoryCell(f, uint32_t(f.stuckAddress))) {
        const uint8_t bit = uint8_t(1u << f.stuckBit);
        byte = f.stuckHigh ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
    }
    return uint8_t((byte & ~f.stuckDataLow) | f.stuckDataHigh);
}

void simBoardStore(SimBoard &board, uint32_t address, uint8_t byte) {
    board.memory[memoryCell(board.memoryFaults, address)] = byte;
}

void simReset(Sim &s, const SimClock &clock) {
    s.world = SimWorld();
    s.clock = clock;
}

const D2xxApi *simD2xx(Sim &s) {
    attached = &s;
    return &ATTACHED_API;
}

SimAdapter &simAdapter(Sim &s, int index) { return s.world.adapters[size_t(index)]; }

int simAddAdapter(Sim &s, const SimAdapterConfig &config) {
    const int index = int(s.world.adapters.size());
    s.world.adapters.emplace_back();
    SimAdapter &a = s.world.adapters.back();
    SimEepromIdentity fields;
    fields.vendor = uint16_t(config.usbId >> 16);
    fields.product = uint16_t(config.usbId);
    fields.manufacturer = config.manufacturer;
    fields.productName = config.product;
    fields.serial = config.serial;
    simEncodeEeprom(fields, a.eeprom);
    if (config.eeprom == SIM_EEPROM_BAD_CHECKSUM) a.eeprom[63] = uint16_t(~a.eeprom[63]);
    if (config.eeprom == SIM_EEPROM_FILL) std::fill(a.eeprom, a.eeprom + 64, config.eepromFill);
    for (int ch = 0; ch < 2; ++ch) {
        SimChannel &c = a.channels[ch];
        FT_DEVICE_LIST_INFO_NODE &r = c.record;
        memset(&r, 0, sizeof r);
        r.Type = FT_DEVICE_2232C;
        r.ID = config.usbId;
        r.LocId = uint32_t(0x1000 * (index + 1) + ch + 1);
        setText(r.Description, sizeof r.Description, config.product + (ch ? " B" : " A"));
        setText(r.SerialNumber, sizeof r.SerialNumber, config.serial + (ch ? "B" : "A"));
        c.comPort = ch ? config.comPortB : config.comPortA;
        s.world.list.push_back({index, ch, {}});
    }
    if (config.eeprom != SIM_EEPROM_VALID) enumerate(a);
    return index;
}

void simAddForeignDevice(Sim &s, uint32_t type, uint32_t id, const char *description,
                         const char *serial) {
    SimListEntry e = {-1, -1, {}};
    e.foreign.Type = type;
    e.foreign.ID = id;
    e.foreign.LocId = uint32_t(0x9000 + s.world.list.size());
    setText(e.foreign.Description, sizeof e.foreign.Description, description);
    setText(e.foreign.SerialNumber, sizeof e.foreign.SerialNumber, serial);
    s.world.list.push_back(e);
}

void simUnplug(Sim &s, int adapter) {
    SimAdapter &a = simAdapter(s, adapter);
    closeAll(s, a);
    a.plugged = false;
}

void simPlug(Sim &s, int adapter) {
    SimAdapter &a = simAdapter(s, adapter);
    if (a.plugged) return;
    a.plugged = true;
    enumerate(a);
}

std::vector<std::vector<uint8_t>> simWrites(const Sim &s, int adapter, int channel) {
    std::vector<std::vector<uint8_t>> out;
    for (const SimCall &c : s.world.trace)
        if (c.fn == SIM_WRITE && c.adapter == adapter && c.channel == channel) out.push_back(c.data);
    return out;
}

int simCount(const Sim &s, SimFn fn) {
    return int(std::count_if(s.world.trace.begin(), s.world.trace.end(),
                             [fn](const SimCall &c) { return c.fn == fn; }));
}
