// Adapter discovery, channel opening and byte transport.
#include "link/link.h"

#include <cstdlib>
#include <cstring>

#include "link/clock.h"
#include "link/damaged_adapter.h"

ChannelHandles g_channels = {NO_CHANNEL, NO_CHANNEL};
const D2xxApi *g_d2xx = nullptr;
const ClockSeam *g_clockSeam = nullptr;

const char *const D2XX_ENTRY_NAMES[D2XX_ENTRY_COUNT] = {
    "FT_CreateDeviceInfoList", "FT_GetDeviceInfoList",
    "FT_OpenEx",               "FT_Close",
    "FT_SetBaudRate",          "FT_SetDataCharacteristics",
    "FT_SetTimeouts",          "FT_Purge",
    "FT_Read",                 "FT_Write",
    "FT_GetDeviceInfo",        "FT_GetComPortNumber",
    "FT_WriteEE",              "FT_CyclePort",
};

const char *const D2XX_OPTIONAL_NAMES[D2XX_OPTIONAL_COUNT] = {"FT_SetLatencyTimer", "FT_ReadEE"};

void *(*g_linkAllocate)(size_t count, size_t size) = calloc;

namespace {

const char ADAPTER_DESCRIPTION[] = "KESTA OBD1 EMU";
const char ADAPTER_SERIAL[] = "KESTA";
const char CHANNEL_A_DESCRIPTION[] = "KESTA OBD1 EMU A";
const char CHANNEL_A_SERIAL[] = "KESTAA";
const char CHANNEL_B_DESCRIPTION[] = "KESTA OBD1 EMU B";
const char CHANNEL_B_SERIAL[] = "KESTAB";

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// The record's text fields need not be NUL-terminated, so every comparison stays within
// `fieldSize`.
template <size_t N>
bool fieldStartsWith(const char *field, size_t fieldSize, const char (&prefix)[N]) {
    const size_t len = N - 1;
    if (len > fieldSize) return false;
    for (size_t i = 0; i < len; ++i)
        if (field[i] == '\0' || asciiLower(field[i]) != asciiLower(prefix[i])) return false;
    return true;
}

template <size_t N>
bool fieldEquals(const char *field, size_t fieldSize, const char (&text)[N]) {
    const size_t len = N - 1;
    if (!fieldStartsWith(field, fieldSize, text)) return false;
    return len == fieldSize || field[len] == '\0';
}

bool isAdapterChannel(const FT_DEVICE_LIST_INFO_NODE &r) {
    if (r.ID == 0 || r.Type != FT_DEVICE_2232C) return false;
    return fieldStartsWith(r.Description, sizeof r.Description, ADAPTER_DESCRIPTION) ||
           fieldStartsWith(r.SerialNumber, sizeof r.SerialNumber, ADAPTER_SERIAL);
}

template <size_t D, size_t S>
void pickChannel(const FT_DEVICE_LIST_INFO_NODE *accepted, uint32_t k, const char (&description)[D],
                 const char (&serial)[S], FT_HANDLE &slot) {
    for (uint32_t j = 0; j < k; ++j) {
        const FT_DEVICE_LIST_INFO_NODE &r = accepted[j];
        if (!fieldEquals(r.Description, sizeof r.Description, description) &&
            !fieldEquals(r.SerialNumber, sizeof r.SerialNumber, serial))
            continue;
        if (openChannel(r.LocId, slot) == LINK_OK) return;
    }
}

}  // namespace

bool findAdapter() {
    uint32_t n = 0;
    if (g_d2xx->createDeviceInfoList(&n) != FT_OK) return true;
    if (n == 0) {
        forgetDepartedDevices(nullptr, 0);
        return true;
    }

    auto *devices = static_cast<FT_DEVICE_LIST_INFO_NODE *>(
        g_linkAllocate(n, sizeof(FT_DEVICE_LIST_INFO_NODE)));
    auto *accepted = static_cast<FT_DEVICE_LIST_INFO_NODE *>(
        g_linkAllocate(n, sizeof(FT_DEVICE_LIST_INFO_NODE)));
    if (!devices || !accepted) {
        free(devices);
        free(accepted);
        return false;
    }
    memset(accepted, 0, n * sizeof(FT_DEVICE_LIST_INFO_NODE));

    uint32_t reported = n;
    if (g_d2xx->getDeviceInfoList(devices, &reported) != FT_OK) {
        free(devices);
        free(accepted);
        return true;
    }
    if (reported > n) reported = n;

    uint32_t k = 0;
    for (uint32_t i = 0; i < reported; ++i)
        if (isAdapterChannel(devices[i])) accepted[k++] = devices[i];

    forgetDepartedDevices(devices, reported);

    FT_HANDLE a = NO_CHANNEL;
    FT_HANDLE b = NO_CHANNEL;
    bool damaged = false;
    // One adapter shows up as one or two accepted channels; more means several adapters, and
    // then we cannot tell which one the user means.
    if (k == 1 || k == 2) {
        pickChannel(accepted, k, CHANNEL_A_DESCRIPTION, CHANNEL_A_SERIAL, a);
        pickChannel(accepted, k, CHANNEL_B_DESCRIPTION, CHANNEL_B_SERIAL, b);
    } else if (k == 0) {
        // Blank chips are looked at only while no adapter of ours is attached.
        damaged = openDamagedAdapter(devices, reported, a, b);
    }
    free(devices);
    free(accepted);

    if (channelOpen(a)) {
        g_channels.channelA = a;
        g_channels.channelB = b;
        g_adapterDamaged = damaged;
    } else {
        closeChannel(b);
    }
    return true;
}

LinkResult openChannel(uint32_t locId, FT_HANDLE &slot) {
    closeChannel(slot);

    FT_HANDLE h = NO_CHANNEL;
    // Open by location takes the location id itself in the pointer argument.
    if (g_d2xx->openEx(reinterpret_cast<void *>(static_cast<uintptr_t>(locId)),
                       FT_OPEN_BY_LOCATION, &h) != FT_OK ||
        !channelOpen(h)) {
        return LINK_ERROR;
    }
    if (g_d2xx->setBaudRate(h, LINK_BAUD_RATE) != FT_OK ||
        g_d2xx->setDataCharacteristics(h, LINK_WORD_LENGTH, LINK_STOP_BITS, LINK_PARITY) != FT_OK ||
        g_d2xx->setTimeouts(h, LINK_TIMEOUT_MS, LINK_TIMEOUT_MS) != FT_OK) {
        closeChannel(h);
        return LINK_ERROR;
    }
    // The chip holds the board's bytes until a USB packet fills or its latency timer runs out, so
    // at the 16 ms default a short answer waits for the timer. Without the call, or when it fails,
    // the default stays: slower, not wrong.
    if (g_d2xx->setLatencyTimer) g_d2xx->setLatencyTimer(h, LINK_LATENCY_TIMER_MS);
    slot = h;
    return LINK_OK;
}

LinkResult readLinkByte(const FT_HANDLE *slot, uint8_t *out) {
    if (!slot) return LINK_ERROR;
    // Elapsed time in unsigned arithmetic: the wrap of the tick count cannot end the wait early.
    const uint32_t start = tickCount();
    for (;;) {
        if (stopRequested()) return LINK_ERROR;
        if (tickCount() - start >= LINK_TIMEOUT_MS) return LINK_TIMEOUT;
        uint8_t byte = 0;
        uint32_t done = 0;
        if (g_d2xx->read(*slot, &byte, 1, &done) != FT_OK) return LINK_ERROR;
        if (done != 0) {
            *out = byte;
            return LINK_OK;
        }
    }
}

void closeChannel(FT_HANDLE &slot) {
    if (!channelOpen(slot)) return;
    g_d2xx->close(slot);
    slot = NO_CHANNEL;
}
