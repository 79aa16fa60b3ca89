// Adapter discovery: which attached channels are our adapter's, and opening them.
#include <cstdlib>
#include <cstring>

#include "link/adapter_identity.h"
#include "link/damaged_adapter.h"
#include "link/device_record.h"
#include "link/link.h"

namespace {

// One of our adapter's channels, by its names in whatever letter case.
bool isAdapterChannel(const FT_DEVICE_LIST_INFO_NODE &r) {
    if (r.ID == 0 || r.Type != FT_DEVICE_2232C) return false;
    return recordTextStartsWith(r.Description, ADAPTER_PRODUCT, LETTER_CASE_IGNORED) ||
           recordTextStartsWith(r.SerialNumber, ADAPTER_SERIAL, LETTER_CASE_IGNORED);
}

// Opens into `slot` the first of our adapter's channels that carries `name` and opens.
void pickChannel(const Link &link, const FT_DEVICE_LIST_INFO_NODE *records, uint32_t count,
                 const AdapterChannelName &name, FT_HANDLE &slot) {
    for (uint32_t i = 0; i < count; ++i) {
        const FT_DEVICE_LIST_INFO_NODE &r = records[i];
        if (!isAdapterChannel(r) ||
            (!recordTextIs(r.Description, name.description, LETTER_CASE_IGNORED) &&
             !recordTextIs(r.SerialNumber, name.serial, LETTER_CASE_IGNORED)))
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

// Opens our adapter's channels from one list into `a` and `b`. True when they belong to our
// adapter recognised by its EEPROM.
bool openFromList(Link &link, const FT_DEVICE_LIST_INFO_NODE *records, uint32_t count,
                  FT_HANDLE &a, FT_HANDLE &b) {
    uint32_t accepted = 0;
    for (uint32_t i = 0; i < count; ++i) accepted += isAdapterChannel(records[i]);
    forgetDepartedDevices(link.probed, records, count);
    // One adapter shows up as one or two accepted channels; more means several adapters, and
    // then we cannot tell which one the user means.
    if (accepted == 1 || accepted == 2) {
        pickChannel(link, records, count, CHANNEL_A_NAME, a);
        pickChannel(link, records, count, CHANNEL_B_NAME, b);
        return false;
    }
    return accepted == 0 && openDamagedAdapter(link, records, count, a, b);
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

    auto *records =
        static_cast<FT_DEVICE_LIST_INFO_NODE *>(link.allocate(n, sizeof(FT_DEVICE_LIST_INFO_NODE)));
    if (!records) return false;
    FT_HANDLE a = NO_CHANNEL;
    FT_HANDLE b = NO_CHANNEL;
    bool damaged = false;
    uint32_t listed = n;
    // A list that claims more records than were asked for is cut to those.
    if (d2xx.getDeviceInfoList(records, &listed) == FT_OK)
        damaged = openFromList(link, records, listed < n ? listed : n, a, b);
    free(records);

    if (channelOpen(a)) {
        link.channels.channelA = a;
        link.channels.channelB = b;
        link.adapterDamaged = damaged;
    } else {
        closeChannel(link, b);
    }
    return true;
}
