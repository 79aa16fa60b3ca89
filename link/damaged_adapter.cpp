// A blank dual-channel chip is someone else's until its own EEPROM says otherwise: it is opened
// only to read that EEPROM, closed at once, and then left alone for as long as it stays attached.
#include "link/damaged_adapter.h"

#include "link/device_record.h"
#include "link/adapter_identity.h"

namespace {

// How the chip enumerates when its EEPROM checksum is broken.
const char BLANK_CHANNEL_A[] = "Dual RS232 A";
const char BLANK_CHANNEL_B[] = "Dual RS232 B";

// A probe that could not open the chip or read its EEPROM judged nothing: a library call that
// failed once would otherwise leave our own damaged adapter unrecognised for as long as it stays
// plugged in. Such a chip is probed again at later searches, and left alone once UNREAD_PROBES
// probes could not read it. Once the table is full, new blank chips are not probed at all:
// leaving a device alone is always the safe side.
constexpr int UNREAD_PROBES = 3;  // also marks a chip whose EEPROM was judged not ours

enum ProbeResult { PROBE_OURS, PROBE_NOT_OURS, PROBE_UNREAD };

bool isBlankChannel(const FT_DEVICE_LIST_INFO_NODE &r, const char *description) {
    return r.Type == FT_DEVICE_2232C && r.ID == USB_ID_CURRENT &&
           recordTextIs(r.Description, description, LETTER_CASE_EXACT) &&
           recordTextIs(r.SerialNumber, "", LETTER_CASE_EXACT);
}

ProbedChip *probedChip(ProbedChips &probed, uint32_t locId) {
    for (int i = 0; i < probed.count; ++i)
        if (probed.chips[i].locId == locId) return &probed.chips[i];
    return nullptr;
}

ProbeResult probeEeprom(const Link &link, uint32_t locId) {
    FT_HANDLE channel = NO_CHANNEL;
    if (openChannel(link, locId, channel) != LINK_OK) return PROBE_UNREAD;
    uint16_t words[EEPROM_WORDS];
    bool read = true;
    for (int i = 0; i < EEPROM_WORDS && read; ++i)
        read = link.d2xx->readEE(channel, uint32_t(i), &words[i]) == FT_OK;
    closeChannel(link, channel);
    if (!read) return PROBE_UNREAD;
    return eepromIsOursDamaged(words) ? PROBE_OURS : PROBE_NOT_OURS;
}

// Channel B of the chip whose channel A is at `locIdA`: the two channels of one chip have
// adjacent location ids.
const FT_DEVICE_LIST_INFO_NODE *channelBOf(const FT_DEVICE_LIST_INFO_NODE *records, uint32_t count,
                                           uint32_t locIdA) {
    for (uint32_t i = 0; i < count; ++i)
        if (records[i].LocId == locIdA + 1 && isBlankChannel(records[i], BLANK_CHANNEL_B))
            return &records[i];
    return nullptr;
}

}  // namespace

DamagedAdapter findDamagedAdapter(Link &link, const FT_DEVICE_LIST_INFO_NODE *records,
                                  uint32_t count) {
    ProbedChips &probed = link.probed;
    if (!link.d2xx->readEE) return {nullptr, nullptr};
    for (uint32_t i = 0; i < count; ++i) {
        const FT_DEVICE_LIST_INFO_NODE &r = records[i];
        if (!isBlankChannel(r, BLANK_CHANNEL_A)) continue;
        ProbedChip *chip = probedChip(probed, r.LocId);
        if (chip && chip->unreadProbes == UNREAD_PROBES) continue;
        if (!chip && probed.count == PROBED_CAPACITY) break;
        const ProbeResult result = probeEeprom(link, r.LocId);
        if (result == PROBE_OURS) return {&r, channelBOf(records, count, r.LocId)};
        if (!chip) {
            chip = &probed.chips[probed.count++];
            *chip = {r.LocId, 0};
        }
        chip->unreadProbes = result == PROBE_UNREAD ? chip->unreadProbes + 1 : UNREAD_PROBES;
    }
    return {nullptr, nullptr};
}

void forgetDepartedDevices(ProbedChips &probed, const FT_DEVICE_LIST_INFO_NODE *records,
                           uint32_t count) {
    int kept = 0;
    for (int p = 0; p < probed.count; ++p) {
        bool present = false;
        for (uint32_t i = 0; i < count && !present; ++i)
            present = records[i].LocId == probed.chips[p].locId &&
                      isBlankChannel(records[i], BLANK_CHANNEL_A);
        if (present) probed.chips[kept++] = probed.chips[p];
    }
    probed.count = kept;
}
