// Who our adapter is, and the configuration EEPROM that makes it so: the strings it enumerates
// with and the channel names the library forms from them, the chip's layout of its 93C46 EEPROM,
// the image the Update writes, and the check that recognises our adapter left blank by a cut
// Update. Pure code: no library calls, no I/O.
#pragma once

#include <cstdint>

// --- the strings the adapter enumerates with ---

constexpr char ADAPTER_MANUFACTURER[] = "Quorvantide";
constexpr char ADAPTER_PRODUCT[] = "KESTA OBD1 EMU";
constexpr char ADAPTER_SERIAL[] = "KESTA";

// The library names each channel after them: the product and " A" or " B" as its description,
// the serial and "A" or "B" as its serial number.
struct AdapterChannelName {
    char description[sizeof ADAPTER_PRODUCT + 2];
    char serial[sizeof ADAPTER_SERIAL + 1];
};

constexpr AdapterChannelName adapterChannelName(char letter) {
    AdapterChannelName name = {};
    unsigned n = 0;
    for (; ADAPTER_PRODUCT[n]; ++n) name.description[n] = ADAPTER_PRODUCT[n];
    name.description[n] = ' ';
    name.description[n + 1] = letter;
    for (n = 0; ADAPTER_SERIAL[n]; ++n) name.serial[n] = ADAPTER_SERIAL[n];
    name.serial[n] = letter;
    return name;
}

constexpr AdapterChannelName CHANNEL_A_NAME = adapterChannelName('A');  // the board's "RTP" port
constexpr AdapterChannelName CHANNEL_B_NAME = adapterChannelName('B');  // the "Datalog" port

// USB identities, vendor id in the high 16 bits. The dual-channel chip's own id, 0403/6010, is
// the one the Update gives our adapter, and also the one any blank chip comes up with.
constexpr uint32_t USB_ID_CURRENT = 0x04036010;
constexpr uint32_t USB_ID_OLD = 0x04036D20;  // our adapter before its first Update

// --- the chip's layout of its 93C46 EEPROM: 64 little-endian words ---

constexpr int EEPROM_WORDS = 64;
constexpr int EEPROM_CHECKSUM_WORD = EEPROM_WORDS - 1;
// The string descriptors lie between these byte addresses, found through the pointer and length
// bytes at 0x0E (manufacturer), 0x10 (product) and 0x12 (serial number). The area runs up to the
// checksum word.
constexpr unsigned EEPROM_STRING_AREA_BEGIN = 0x16;
constexpr unsigned EEPROM_STRING_AREA_END = 2 * EEPROM_CHECKSUM_WORD;

// The chip's checksum over `count` words: start at 0xAAAA; XOR each word in, then rotate left by
// one bit. The checksum word must hold it over the words before it, or the chip enumerates with
// its blank defaults.
constexpr uint16_t eepromChecksum(const uint16_t *words, int count) {
    uint16_t value = 0xAAAA;
    for (int i = 0; i < count; ++i) {
        value = uint16_t(value ^ words[i]);
        value = uint16_t(value << 1 | value >> 15);
    }
    return value;
}

// --- the image the Update writes ---

// Our adapter's configuration from the three strings above, the checksum word last.
extern const uint16_t *const AdapterEepromImage;
// Builds an image with the given strings into `image` (EEPROM_WORDS words); false when the
// strings do not fit the string area.
bool buildEepromImage(const char *manufacturer, const char *product, const char *serial,
                      uint16_t *image);

// --- our adapter, left blank ---

// True for the EEPROM of our adapter whose Update was cut short: its checksum is broken, so the
// chip came up blank, and its string area still holds ADAPTER_SERIAL (our product and serial
// strings begin with it, in the old image as in the new). A sound checksum, or no such string,
// means someone else's device.
bool eepromIsOursDamaged(const uint16_t words[EEPROM_WORDS]);
