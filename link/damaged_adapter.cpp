// A blank dual-channel chip is someone else's until its own EEPROM says otherwise: it is opened
// only to read that EEPROM, closed at once, and then left alone for as long as it stays attached.
#include "link/damaged_adapter.h"

#include <cstddef>

#include "link/eeprom_rules.h"
#include "link/link.h"

bool g_adapterDamaged = false;

namespace {

// How the chip enumerates when its EEPROM checksum is broken.
constexpr uint32_t BLANK_USB_ID = 0x04036010;
const char BLANK_CHANNEL_A[] = "Dual RS232 A";
const char BLANK_CHANNEL_B[] = "Dual RS232 B";

// Blank chips probed, by their channel A location id. A probe that could not open the chip or
// read its EEPROM judged nothing: a library call that failed once would otherwise leave our own
// damaged adapter unrecognised for as long as it stays plugged in. Such a chip is probed again at
// later searches, and left alone once UNREAD_PROBES probes could not read it. Once the table is
// full, new blank chips are not probed at all: leaving a device alone is always the safe side.
constexpr int PROBED_CAPACITY = 16;
constexpr int UNREAD_PROBES = 3;
struct ProbedChip {
    uint32_t locId;
    int unreadProbes;  // UNREAD_PROBES: left alone (also when its EEPROM was judged not ours)
};
ProbedChip g_probed[PROBED_CAPACITY];
int g_probedCount = 0;

enum ProbeResult { PROBE_OURS, PROBE_NOT_OURS, PROBE_UNREAD };

// The library's text fields need not be NUL-terminated: compare within the field.
template <size_t N>
bool fieldIs(const char (&field)[N], const char *text) {
    size_t i = 0;
    for (; i < N && text[i] != '\0'; ++i)
        if (field[i] != text[i]) return false;
    return text[i] == '\0' && (i == N || field[i] == '\0');
}

bool isBlankChannel(const FT_DEVICE_LIST_INFO_NODE &r, const char *description) {
    return r.Type == FT_DEVICE_2232C && r.ID == BLANK_USB_ID && fieldIs(r.Description, description) &&
           fieldIs(r.SerialNumber, "");
}

ProbedChip *probedChip(uint32_t locId) {
    for (int i = 0; i < g_probedCount; ++i)
        if (g_probed[i].locId == locId) return &g_probed[i];
    return nullptr;
}

ProbeResult probeEeprom(uint32_t locId) {
    FT_HANDLE channel = NO_CHANNEL;
    if (openChannel(locId, channel) != LINK_OK) return PROBE_UNREAD;
    uint16_t words[EEPROM_WORDS];
    bool read = true;
    for (int i = 0; i < EEPROM_WORDS && read; ++i)
        read = g_d2xx->readEE(channel, uint32_t(i), &words[i]) == FT_OK;
    closeChannel(channel);
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

bool openDamagedAdapter(const FT_DEVICE_LIST_INFO_NODE *records, uint32_t count, FT_HANDLE &a,
                        FT_HANDLE &b) {
    if (!g_d2xx->readEE) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const FT_DEVICE_LIST_INFO_NODE &r = records[i];
        if (!isBlankChannel(r, BLANK_CHANNEL_A)) continue;
        ProbedChip *probed = probedChip(r.LocId);
        if (probed && probed->unreadProbes == UNREAD_PROBES) continue;
        if (!probed && g_probedCount == PROBED_CAPACITY) return false;
        const ProbeResult result = probeEeprom(r.LocId);
        if (result != PROBE_OURS) {
            if (!probed) {
                probed = &g_probed[g_probedCount++];
                *probed = {r.LocId, 0};
            }
            probed->unreadProbes =
                result == PROBE_UNREAD ? probed->unreadProbes + 1 : UNREAD_PROBES;
            continue;
        }
        if (openChannel(r.LocId, a) != LINK_OK) return false;
        if (const FT_DEVICE_LIST_INFO_NODE *partner = channelBOf(records, count, r.LocId))
            openChannel(partner->LocId, b);
        return true;
    }
    return false;
}

void forgetDepartedDevices(const FT_DEVICE_LIST_INFO_NODE *records, uint32_t count) {
    int kept = 0;
    for (int p = 0; p < g_probedCount; ++p) {
        bool present = false;
        for (uint32_t i = 0; i < count && !present; ++i)
            present = records[i].LocId == g_probed[p].locId &&
                      isBlankChannel(records[i], BLANK_CHANNEL_A);
        if (present) g_probed[kept++] = g_probed[p];
    }
    g_probedCount = kept;
}

void forgetProbedDevices() { g_probedCount = 0; }
