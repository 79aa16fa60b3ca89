// The library's entry points on the simulated world: handles, each call's checks and effects, and
// the trace of every call. The vendor's calls carry no context, so the context-free table drives
// one simulator at a time: the one `simD2xx` was last asked for.
#include <algorithm>
#include <cstring>

#include "sim/sim_internal.h"

namespace {

Sim *attached = nullptr;

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

SimCall &trace(Sim &s, SimFn fn, int adapter, int channel, FT_STATUS status, uint32_t a0 = 0,
               uint32_t a1 = 0, uint32_t a2 = 0) {
    s.world.trace.push_back(
        SimCall{fn, adapter, channel, status, {a0, a1, a2}, {}, simNowUs(s), nullptr});
    return s.world.trace.back();
}

FT_STATUS finish(Sim &s, SimCall &call) {
    if (s.world.onCall) s.world.onCall(s, call);
    simPayCallCost(s, call.adapter);
    return call.status;
}

// Starts every call; gives the time it was made.
uint64_t beforeCall(Sim &s) {
    s.callStart = simNowUs(s);
    if (s.world.beforeCall) s.world.beforeCall(s);
    simEndReenumeration(s);
    return s.callStart;
}

uint32_t visibleCount(const Sim &s) {
    uint32_t n = 0;
    for (const SimListEntry &e : s.world.list) {
        if (e.adapter < 0) {
            ++n;
            continue;
        }
        const SimAdapter &a = s.world.adapters[e.adapter];
        if (simAdapterVisible(a) && a.channels[e.channel].listed) ++n;
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
        if (!simAdapterVisible(a) || !c.listed) continue;
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
            if (c.record.LocId != locId || !simAdapterVisible(a)) continue;
            FT_STATUS st = FT_OK;
            if (flags != FT_OPEN_BY_LOCATION) st = FT_INVALID_PARAMETER;
            else if (c.open || c.openFails) st = FT_DEVICE_NOT_OPENED;
            if (st == FT_OK) {
                c.open = true;
                c.openSerial = s.nextOpenSerial++;
                simEmptyReceive(c);
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
    if (mask & FT_PURGE_RX) simEmptyReceive(*c);
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
    const uint64_t until = simReadableTime(*c, length, start, start + uint64_t(c->readTimeout) * 1000);
    const uint64_t now = simNowUs(s);
    if (until > now) {
        s.clock.sleepUs(s.clock.context, until - now);
        // The adapter may have gone while we waited (real-time stand-in).
        c = channelOf(s, h, &ai, &ch);
        if (!c) return finish(s, trace(s, SIM_READ, ai, ch, FT_IO_ERROR, length));
    }
    const uint64_t ready = simNowUs(s);
    simRunChip(*c, ready);
    while (*done < length && c->rxHead < c->rx.size() && c->rx[c->rxHead].at <= ready)
        out[(*done)++] = c->rx[c->rxHead++].byte;
    if (c->rxHead == c->rx.size()) {
        c->rx.clear();
        c->rxHead = 0;
    }
    if (!s.world.traceReads) {
        simPayCallCost(s, ai);
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
        const uint64_t arrival = simWriteArrival(a, start, length);
        a.board.pending.insert(a.board.pending.end(), bytes, bytes + length);
        if (!simRunBoard(s, ai, arrival)) st = FT_IO_ERROR;
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
    simCloseAll(s, a);
    a.cycling = true;
    a.cycleStart = simNowUs(s);
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

const D2xxApi *simD2xx(Sim &s) {
    attached = &s;
    return &ATTACHED_API;
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
