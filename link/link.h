// The device conversation's record, `Link`, and what runs on it: adapter discovery, channel
// opening and the single-byte transport with its deadline. All of it runs on the worker thread,
// except `closeChannel` at shutdown (after the worker has stopped).
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/clock.h"
#include "link/d2xx.h"

enum LinkResult {
    LINK_OK = 0,
    LINK_ERROR = 2,
    LINK_TIMEOUT = 4,
};

// -1 marks a slot without an open channel; a slot holding 0 is left alone as well.
#define NO_CHANNEL ((FT_HANDLE)(intptr_t)-1)

struct ChannelHandles {
    FT_HANDLE channelA;  // board protocol, the "RTP" port
    FT_HANDLE channelB;  // the "Datalog" port: opened and reported, never read or written
};

// A blank chip the search has probed, by its channel A location id (link/damaged_adapter.cpp).
struct ProbedChip {
    uint32_t locId;
    int unreadProbes;  // probes that could not read its EEPROM; at the limit it is left alone
};
constexpr int PROBED_CAPACITY = 16;
struct ProbedChips {
    ProbedChip chips[PROBED_CAPACITY];
    int count;
};

// Everything one conversation with the adapter runs on and remembers. Whoever starts the worker
// owns it and hands it down; while the worker runs, only the worker thread touches it.
struct Link {
    const D2xxApi *d2xx;     // the vendor library; never changed while the worker runs
    const ClockSeam *clock;  // deadlines, pauses and the stop request
    // The allocator of the search's record list (calloc); tests replace it to reach the
    // out-of-memory path.
    void *(*allocate)(size_t count, size_t size);
    // Filled only by `findAdapter`, emptied only by `closeChannel`.
    ChannelHandles channels;
    // Set by every search that stores channels: true when they belong to our adapter recognised by
    // its EEPROM after an Update was cut short (its chip came up blank), so only Update may run.
    bool adapterDamaged;
    ProbedChips probed;  // blank chips judged in this attachment, so none is opened twice
};

// A link on `d2xx` and `clock`: both slots empty, nothing probed, calloc as the allocator.
Link makeLink(const D2xxApi *d2xx, const ClockSeam *clock);

// Line settings of every opened channel.
constexpr uint32_t LINK_BAUD_RATE = 115200;
constexpr uint8_t LINK_WORD_LENGTH = 8;
constexpr uint8_t LINK_STOP_BITS = 2;
constexpr uint8_t LINK_PARITY = 0;
constexpr uint32_t LINK_TIMEOUT_MS = 300;  // channel read/write time-outs and the byte deadline
// The chip's receive latency, where the library can set it.
constexpr uint8_t LINK_LATENCY_TIMER_MS = 2;

// Lists the attached channels, accepts the emulator adapter and opens its channels. False only
// when the device lists cannot be allocated: the caller reports it as fatal and the worker ends.
// On true, `link.channels.channelA` is an open channel A (with channel B open or NO_CHANNEL)
// when this search opened one; otherwise `link.channels` is untouched.
bool findAdapter(Link &link);

// Opens the channel at `locId` with the line settings into `slot`, then sets the latency timer
// when the library has the call (its failure is no error); on LINK_ERROR the slot holds
// NO_CHANNEL.
LinkResult openChannel(const Link &link, uint32_t locId, FT_HANDLE &slot);

// Reads one byte within LINK_TIMEOUT_MS. `out` is written on LINK_OK only. Ends early with
// LINK_ERROR when a stop is requested.
LinkResult readLinkByte(const Link &link, const FT_HANDLE *slot, uint8_t *out);

// Closes the channel in `slot` and marks it NO_CHANNEL; a slot holding -1 or 0 is left alone.
void closeChannel(const Link &link, FT_HANDLE &slot);
// Closes both of the link's channels: every dropped connection, and the shutdown once the worker
// has stopped.
void closeChannels(Link &link);

inline bool channelOpen(FT_HANDLE h) { return h != NO_CHANNEL && h != nullptr; }
