// The chip's receive path and timing: the wire (115200 baud, 11 bits a byte), the chip model's
// 62-byte packets and latency timer on top of it, and the cost of every library call.
#include <algorithm>

#include "sim/sim_internal.h"

namespace {

// One byte on the wire: 11 bits at 115200 baud, in microseconds (times 1000 for precision).
constexpr uint64_t BYTE_NS = 11ull * 1000000000ull / 115200ull;
constexpr uint64_t NEVER = ~uint64_t(0);

// The chip model carries the wire under it.
bool wireTimed(const SimAdapter &a) { return a.board.wireTiming || a.chip.on; }

// When the chip sends its next packet, as far as the bytes buffered now tell: never with an empty
// buffer, else at the 62nd byte's arrival or at the timer's expiry, whichever comes first.
uint64_t nextPacket(const SimChannel &c) {
    if (c.chipHead >= c.chipBuffer.size()) return NEVER;
    const uint64_t expiry = c.timerStart + uint64_t(c.latencyMs) * 1000;
    if (c.chipBuffer.size() - c.chipHead < SIM_PACKET_DATA) return expiry;
    return std::min(expiry, c.chipBuffer[c.chipHead + SIM_PACKET_DATA - 1].at);
}

}  // namespace

uint64_t simWriteArrival(SimAdapter &a, uint64_t start, uint32_t length) {
    if (!wireTimed(a)) return start;
    const uint64_t startNs = std::max(a.txFreeAt, start) * 1000;
    a.txFreeAt = (startNs + length * BYTE_NS + 999) / 1000;
    return a.txFreeAt;
}

void simScheduleReply(SimAdapter &a, const std::vector<uint8_t> &reply, uint64_t start) {
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

void simRunChip(SimChannel &c, uint64_t until) {
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

uint64_t simReadableTime(SimChannel &c, uint32_t count, uint64_t from, uint64_t deadline) {
    for (uint64_t t = from;;) {
        simRunChip(c, t);
        size_t i = c.rxHead;
        while (i < c.rx.size() && i - c.rxHead < count && c.rx[i].at <= t) ++i;
        if (i - c.rxHead >= count) return t;
        const uint64_t next = std::min(i < c.rx.size() ? c.rx[i].at : NEVER, nextPacket(c));
        if (next > deadline) return deadline;
        t = next;
    }
}

// In real time the stand-in's own work up to the end of the cost counts as part of it.
void simPayCallCost(Sim &s, int adapter) {
    if (adapter < 0 || !s.world.adapters[size_t(adapter)].chip.on) return;
    const uint64_t end = s.callStart + s.world.adapters[size_t(adapter)].chip.callCostUs;
    const uint64_t now = simNowUs(s);
    if (now < end) s.clock.sleepUs(s.clock.context, end - now);
}
