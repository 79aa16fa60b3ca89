// Adapter discovery: which attached channels are our adapter's, and opening them.
#include <cstdlib>
#include <cstring>

#include "link/damaged_adapter.h"
#include "link/device_record.h"
#include "link/link.h"

namespace {

const char ADAPTER_DESCRIPTION[] = "KESTA OBD1 EMU";
const char ADAPTER_SERIAL[] = "KESTA";
const char CHANNEL_A_DESCRIPTION[] = "KESTA OBD1 EMU A";
const char CHANNEL_A_SERIAL[] = "KESTAA";
const char CHANNEL_B_DESCRIPTION[] = "KESTA OBD1 EMU B";
const char CHANNEL_B_SERIAL[] = "KESTAB";

bool isAdapterChannel(const FT_DEVICE_LIST_INFO_NODE &r) {
    if (r.ID == 0 || r.Type != FT_DEVICE_2232C) return false;
    return recordTextStartsWith(r.Description, ADAPTER_DESCRIPTION, LETTER_CASE_IGNORED) ||
           recordTextStartsWith(r.SerialNumber, ADAPTER_SERIAL, LETTER_CASE_IGNORED);
}

void pickChannel(const Link &link, const FT_DEVICE_LIST_INFO_NODE *accepted, uint32_t k,
                 const char *description, const char *serial, FT_HANDLE &slot) {
    for (uint32_t j = 0; j < k; ++j) {
        const FT_DEVICE_LIST_INFO_NODE &r = accepted[j];
        if (!recordTextIs(r.Description, description, LETTER_CASE_IGNORED) &&
            !recordTextIs(r.SerialNumber, serial, LETTER_CASE_IGNORED))
            continue;
        if (openChannel(link, r.LocId, slot) == LINK_OK) return;
    }
}

// Our adapter whose Update was cut short, looked for only while no adapter of ours is attached.
// True when its channel A was opened.
bool openDamagedAdapter(Link &link, const FT_DEVICE_LIST_INFO_NODE *records, uint32_t count,
                        FT_HANDLE &a, FT_HANDLE &b) {
    const DamagedAdapter found = findDamagedAdapter(link, records, count);
    if (!found.channelA || openChannel(link, found.channelA->LocId, a) != LINK_OK) return false;
    if (found.channelB) openChannel(link, found.channelB->LocId, b);
    return true;
}

}  // namespace

bool findAdapter(Link &link) {
    const D2xxApi &d2xx = *link.d2xx;
    uint32_t n = 0;
    if (d2xx.createDeviceInfoList(&n) != FT_OK) return true;
    if (n == 0) {
        forgetDepartedDevices(link.probed, nullptr, 0);
        return true;
    }

    auto *devices =
        static_cast<FT_DEVICE_LIST_INFO_NODE *>(link.allocate(n, sizeof(FT_DEVICE_LIST_INFO_NODE)));
    auto *accepted =
        static_cast<FT_DEVICE_LIST_INFO_NODE *>(link.allocate(n, sizeof(FT_DEVICE_LIST_INFO_NODE)));
    if (!devices || !accepted) {
        free(devices);
        free(accepted);
        return false;
    }
    memset(accepted, 0, n * sizeof(FT_DEVICE_LIST_INFO_NODE));

    uint32_t reported = n;
    if (d2xx.getDeviceInfoList(devices, &reported) != FT_OK) {
        free(devices);
        free(accepted);
        return true;
    }
    if (reported > n) reported = n;

    uint32_t k = 0;
    for (uint32_t i = 0; i < reported; ++i)
        if (isAdapterChannel(devices[i])) accepted[k++] = devices[i];

    forgetDepartedDevices(link.probed, devices, reported);

    FT_HANDLE a = NO_CHANNEL;
    FT_HANDLE b = NO_CHANNEL;
    bool damaged = false;
    // One adapter shows up as one or two accepted channels; more means several adapters, and
    // then we cannot tell which one the user means.
    if (k == 1 || k == 2) {
        pickChannel(link, accepted, k, CHANNEL_A_DESCRIPTION, CHANNEL_A_SERIAL, a);
        pickChannel(link, accepted, k, CHANNEL_B_DESCRIPTION, CHANNEL_B_SERIAL, b);
    } else if (k == 0) {
        damaged = openDamagedAdapter(link, devices, reported, a, b);
    }
    free(devices);
    free(accepted);

    if (channelOpen(a)) {
        link.channels.channelA = a;
        link.channels.channelB = b;
        link.adapterDamaged = damaged;
    } else {
        closeChannel(link, b);
    }
    return true;
}
