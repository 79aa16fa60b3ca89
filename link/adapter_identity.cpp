// The image the Update writes into the adapter's EEPROM, and the check of a blank one.
#include "link/adapter_identity.h"

namespace {

struct EepromWords {
    uint16_t words[EEPROM_WORDS];
};

// Bytes 0x0E, 0x10, 0x12: one descriptor pointer and its length per string.
constexpr int FIRST_POINTER_WORD = 7;
// After the serial number descriptor come one zero word and then this one.
constexpr uint16_t DESCRIPTORS_TAIL = 0x0001;

constexpr unsigned textLength(const char *text) {
    unsigned n = 0;
    while (text[n]) ++n;
    return n;
}

// Lays out the image; `fits` is false when the descriptors and the two words after them overrun
// the string area.
constexpr EepromWords layOut(const char *manufacturer, const char *product, const char *serial,
                             bool &fits) {
    EepromWords image = {};
    image.words[0] = 0x0909;  // both channels: 245 FIFO mode, virtual COM port driver
    image.words[1] = uint16_t(USB_ID_CURRENT >> 16);  // vendor id
    image.words[2] = uint16_t(USB_ID_CURRENT);        // product id
    image.words[3] = 0x0500;  // device release 5.00
    image.words[4] = 0x7D80;  // bus-powered, 250 mA
    image.words[5] = 0x0008;  // use the serial number string
    image.words[6] = 0x0200;  // USB 2.00 (not in force)
    image.words[10] = 0x0046; // EEPROM type 93C46

    const char *strings[3] = {manufacturer, product, serial};
    unsigned byteAddress = EEPROM_STRING_AREA_BEGIN;
    fits = false;
    for (int s = 0; s < 3; ++s) {
        const unsigned length = 2 + 2 * textLength(strings[s]);
        if (byteAddress + length + 4 > EEPROM_STRING_AREA_END) return image;
        // Pointer byte: 0x80 plus the descriptor's byte address; the next byte its length.
        image.words[FIRST_POINTER_WORD + s] = uint16_t(length << 8 | (0x80 + byteAddress));
        image.words[byteAddress / 2] = uint16_t(0x0300 | length);
        for (unsigned i = 0; strings[s][i]; ++i)
            image.words[byteAddress / 2 + 1 + i] = static_cast<unsigned char>(strings[s][i]);
        byteAddress += length;
    }
    image.words[byteAddress / 2 + 1] = DESCRIPTORS_TAIL;
    image.words[EEPROM_CHECKSUM_WORD] = eepromChecksum(image.words, EEPROM_CHECKSUM_WORD);
    fits = true;
    return image;
}

constexpr EepromWords buildShipped() {
    bool fits = false;
    return layOut(ADAPTER_MANUFACTURER, ADAPTER_PRODUCT, ADAPTER_SERIAL, fits);
}

constexpr EepromWords SHIPPED_IMAGE = buildShipped();

bool stringAreaHoldsOurName(const uint16_t *words) {
    constexpr int length = sizeof ADAPTER_SERIAL - 1;
    constexpr int first = EEPROM_STRING_AREA_BEGIN / 2, end = EEPROM_STRING_AREA_END / 2;
    for (int start = first; start + length <= end; ++start) {
        int matched = 0;
        while (matched < length && words[start + matched] == uint8_t(ADAPTER_SERIAL[matched]))
            ++matched;
        if (matched == length) return true;
    }
    return false;
}

}  // namespace

const uint16_t *const AdapterEepromImage = SHIPPED_IMAGE.words;

bool buildEepromImage(const char *manufacturer, const char *product, const char *serial,
                      uint16_t *image) {
    bool fits = false;
    const EepromWords built = layOut(manufacturer, product, serial, fits);
    for (int i = 0; i < EEPROM_WORDS; ++i) image[i] = built.words[i];
    return fits;
}

bool eepromIsOursDamaged(const uint16_t words[EEPROM_WORDS]) {
    return eepromChecksum(words, EEPROM_CHECKSUM_WORD) != words[EEPROM_CHECKSUM_WORD] &&
           stringAreaHoldsOurName(words);
}
