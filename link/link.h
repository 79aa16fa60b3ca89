// Adapter discovery, channel opening and the single-byte transport with its deadline.
// All of it runs on the worker thread, except `closeChannel` at shutdown (after the worker
// has stopped).
#pragma once

#include <cstddef>
#include <cstdint>

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
extern ChannelHandles g_channels;

// Set by every search that stores channels: true when they belong to our adapter recognised by its
// EEPROM after an Update was cut short (its chip came up blank), so only Update may run on it.
extern bool g_adapterDamaged;

// Line settings of every opened channel.
constexpr uint32_t LINK_BAUD_RATE = 115200;
constexpr uint8_t LINK_WORD_LENGTH = 8;
constexpr uint8_t LINK_STOP_BITS = 2;
constexpr uint8_t LINK_PARITY = 0;
constexpr uint32_t LINK_TIMEOUT_MS = 300;  // channel read/write time-outs and the byte deadline
constexpr uint8_t LINK_LATENCY_TIMER_MS = 2;  // the chip's receive latency, where the library can set it

// The allocator of the search's two record arrays (calloc); tests replace it to reach the
// out-of-memory path.
extern void *(*g_linkAllocate)(size_t count, size_t size);

// Lists the attached channels, accepts the emulator adapter and opens its channels. False only
// when the device lists cannot be allocated: the caller reports it as fatal and the worker ends. On true, `g_channels.channelA` is an open channel A (with channel B open or NO_CHANNEL)
// when this search opened one; otherwise `g_channels` is untouched.
bool findAdapter();

// Forgets which blank chips were probed and found not ours, as if all had just been plugged in.
void forgetProbedDevices();

// Opens the channel at `locId` with the line settings into `slot`, then sets the latency timer
// when the library has the call (its failure is no error); on LINK_ERROR the slot holds
// NO_CHANNEL.
LinkResult openChannel(uint32_t locId, FT_HANDLE &slot);

// Reads one byte within LINK_TIMEOUT_MS. `out` is written on LINK_OK only. Ends early with
// LINK_ERROR when a stop is requested.
LinkResult readLinkByte(const FT_HANDLE *slot, uint8_t *out);

// Closes the channel in `slot` and marks it NO_CHANNEL; a slot holding -1 or 0 is left alone.
void closeChannel(FT_HANDLE &slot);

inline bool channelOpen(FT_HANDLE h) { return h != NO_CHANNEL && h != nullptr; }
