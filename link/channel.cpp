// Opening and closing a channel, and the byte transport with its deadline.
#include <cstdlib>

#include "link/link.h"

Link makeLink(const D2xxApi *d2xx, const ClockSeam *clock) {
    Link link = {};
    link.d2xx = d2xx;
    link.clock = clock;
    link.allocate = calloc;
    link.channels = {NO_CHANNEL, NO_CHANNEL};
    return link;
}

LinkResult openChannel(const Link &link, uint32_t locId, FT_HANDLE &slot) {
    closeChannel(link, slot);

    const D2xxApi &d2xx = *link.d2xx;
    FT_HANDLE h = NO_CHANNEL;
    // Open by location takes the location id itself in the pointer argument.
    if (d2xx.openEx(reinterpret_cast<void *>(static_cast<uintptr_t>(locId)), FT_OPEN_BY_LOCATION,
                    &h) != FT_OK ||
        !channelOpen(h)) {
        return LINK_ERROR;
    }
    if (d2xx.setBaudRate(h, LINK_BAUD_RATE) != FT_OK ||
        d2xx.setDataCharacteristics(h, LINK_WORD_LENGTH, LINK_STOP_BITS, LINK_PARITY) != FT_OK ||
        d2xx.setTimeouts(h, LINK_TIMEOUT_MS, LINK_TIMEOUT_MS) != FT_OK) {
        closeChannel(link, h);
        return LINK_ERROR;
    }
    // The chip holds the board's bytes until a USB packet fills or its latency timer runs out, so
    // at the 16 ms default a short answer waits for the timer. Without the call, or when it fails,
    // the default stays: slower, not wrong.
    if (d2xx.setLatencyTimer) d2xx.setLatencyTimer(h, LINK_LATENCY_TIMER_MS);
    slot = h;
    return LINK_OK;
}

LinkResult readLinkByte(const Link &link, const FT_HANDLE *slot, uint8_t *out) {
    if (!slot) return LINK_ERROR;
    const ClockSeam &clock = *link.clock;
    // Elapsed time in unsigned arithmetic: the wrap of the tick count cannot end the wait early.
    const uint32_t start = clockTickCount(clock);
    for (;;) {
        if (clockStopRequested(clock)) return LINK_ERROR;
        if (clockTickCount(clock) - start >= LINK_TIMEOUT_MS) return LINK_TIMEOUT;
        uint8_t byte = 0;
        uint32_t done = 0;
        if (link.d2xx->read(*slot, &byte, 1, &done) != FT_OK) return LINK_ERROR;
        if (done != 0) {
            *out = byte;
            return LINK_OK;
        }
    }
}

void closeChannel(const Link &link, FT_HANDLE &slot) {
    if (!channelOpen(slot)) return;
    link.d2xx->close(slot);
    slot = NO_CHANNEL;
}

void closeChannels(Link &link) {
    closeChannel(link, link.channels.channelA);
    closeChannel(link, link.channels.channelB);
}
