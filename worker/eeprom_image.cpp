// The configuration the Update writes into the adapter's 93C46 EEPROM (64 words). It gives the
// adapter vendor 0x0403 / product 0x6010 and the product and serial strings from which the
// library names the channels "KESTA OBD1 EMU A"/"B" and "KESTAA"/"KESTAB".
#include "worker/worker.h"

namespace {

struct EepromWords {
    uint16_t words[EEPROM_WORDS];
};

constexpr unsigned FIRST_DESCRIPTOR_BYTE = 0x16;
constexpr unsigned DESCRIPTOR_AREA_END = 0x58;  // words 44 and up hold fixed values

constexpr unsigned textLength(const char *text) {
    unsigned n = 0;
    while (text[n]) ++n;
    return n;
}

// Lays out the image; `fits` is false when the three descriptors overrun their area.
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
    image.words[45] = 0x0001;

    const char *strings[3] = {manufacturer, product, serial};
    unsigned byteAddress = FIRST_DESCRIPTOR_BYTE;
    fits = true;
    for (int s = 0; s < 3; ++s) {
        const unsigned length = 2 + 2 * textLength(strings[s]);
        if (byteAddress + length > DESCRIPTOR_AREA_END) {
            fits = false;
            return image;
        }
        // Pointer byte: 0x80 plus the descriptor's byte address; the next byte its length.
        image.words[7 + s] = uint16_t(length << 8 | (0x80 + byteAddress));
        image.words[byteAddress / 2] = uint16_t(0x0300 | length);
        for (unsigned i = 0; strings[s][i]; ++i)
            image.words[byteAddress / 2 + 1 + i] = static_cast<unsigned char>(strings[s][i]);
        byteAddress += length;
    }
    image.words[EEPROM_WORDS - 1] = eepromChecksum(image.words, EEPROM_WORDS - 1);
    return image;
}

constexpr EepromWords buildShipped() {
    bool fits = false;
    return layOut("Quorvantide", "KESTA OBD1 EMU", "KESTA", fits);
}

constexpr EepromWords SHIPPED_IMAGE = buildShipped();

}  // namespace

const uint16_t *const AdapterEepromImage = SHIPPED_IMAGE.words;

bool buildEepromImage(const char *manufacturer, const char *product, const char *serial,
                      uint16_t *image) {
    bool fits = false;
    const EepromWords built = layOut(manufacturer, product, serial, fits);
    for (int i = 0; i < EEPROM_WORDS; ++i) image[i] = built.words[i];
    return fits;
}
