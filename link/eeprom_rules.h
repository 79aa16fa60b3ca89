// The adapter chip's rules for its 64-word configuration EEPROM that both the search (telling a
// damaged adapter of ours from someone else's blank chip) and the Update (building the image)
// rely on. Pure code, no library calls.
#pragma once

#include <cstdint>

constexpr int EEPROM_WORDS = 64;

// USB identities, vendor id in the high 16 bits. The dual-channel chip's own id, 0403/6010, is
// the one the Update gives our adapter, and also the one any blank chip comes up with.
constexpr uint32_t USB_ID_CURRENT = 0x04036010;
constexpr uint32_t USB_ID_OLD = 0x04036D20;  // our adapter before its first Update

// The chip's checksum over `count` words: start at 0xAAAA; XOR each word in, then rotate left by
// one bit. Word 63 must hold it over words 0 to 62, or the chip enumerates with its blank defaults.
constexpr uint16_t eepromChecksum(const uint16_t *words, int count) {
    uint16_t value = 0xAAAA;
    for (int i = 0; i < count; ++i) {
        value = uint16_t(value ^ words[i]);
        value = uint16_t(value << 1 | value >> 15);
    }
    return value;
}

// True for the EEPROM of our adapter whose Update was cut short: its checksum is broken, so the
// chip came up blank, and its string area still holds "KESTA" (our product and serial strings
// begin with it, in the old image as in the new). A sound checksum, or no such string, means
// someone else's device.
bool eepromIsOursDamaged(const uint16_t words[EEPROM_WORDS]);
