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

// Blank chips found not to be ours, by their channel A location id. Once it is full, new blank
// chips are not probed at all: leaving a device alone is always the safe side.
constexpr int PROBED_CAPACITY = 16;
uint32_t g_probed[PROBED_CAPACITY];
int g_probedCount = 0;

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

bool probedBefore(uint32_t locId) {
    for (int i = 0; i < g_probedCount; ++i)
        if (g_probed[i] == locId) return true;
    return false;
}

bool eepromShowsOurs(uint32_t locId) {
    FT_HANDLE channel = NO_CHANNEL;
    if (openChannel(locId, channel) != LINK_OK) return false;
    uint16_t words[EEPROM_WORDS];
    bool read = true;
    for (int i = 0; i < EEPROM_WORDS && read; ++i)
        read = g_d2xx->readEE(channel, uint32_t(i), &words[i]) == FT_OK;
    closeChannel(channel);
    return read && eepromIsOursDamaged(words);
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
        if (!isBlankChannel(r, BLANK_CHANNEL_A) || probedBefore(r.LocId)) continue;
        if (g_probedCount == PROBED_CAPACITY) return false;
        if (!eepromShowsOurs(r.LocId)) {
            g_probed[g_probedCount++] = r.LocId;
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
            present = records[i].LocId == g_probed[p] && isBlankChannel(records[i], BLANK_CHANNEL_A);
        if (present) g_probed[kept++] = g_probed[p];
    }
    g_probedCount = kept;
}

void forgetProbedDevices() { g_probedCount = 0; }
