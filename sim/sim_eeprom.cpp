// The adapter chip's view of its 93C46 configuration EEPROM: what it enumerates with.
// Written from the chip's layout, independently of the program's image builder, so that
// decoding the program's image is a real check of it.
#include <cstring>

#include "sim/sim.h"

namespace {

uint16_t chipChecksum(const uint16_t *words) {
    uint16_t value = 0xAAAA;
    for (int i = 0; i < 63; ++i) {
        value ^= words[i];
        value = uint16_t(value << 1 | value >> 15);
    }
    return value;
}

uint8_t byteAt(const uint16_t eeprom[64], unsigned address) {
    const uint16_t w = eeprom[(address / 2) & 63];
    return uint8_t(address % 2 ? w >> 8 : w);
}

// A string descriptor found through its pointer and length bytes; empty when they are not sound.
std::string descriptorAt(const uint16_t eeprom[64], unsigned pointerByte) {
    const uint8_t pointer = byteAt(eeprom, pointerByte);
    const uint8_t length = byteAt(eeprom, pointerByte + 1);
    if (!(pointer & 0x80) || length < 2 || length % 2) return std::string();
    const unsigned start = pointer & 0x7F;
    if (start % 2 || start + length > 126) return std::string();
    if (byteAt(eeprom, start) != length || byteAt(eeprom, start + 1) != 3) return std::string();
    std::string text;
    for (unsigned i = start + 2; i < start + length; i += 2) text.push_back(char(byteAt(eeprom, i)));
    return text;
}

}  // namespace

void simEncodeEeprom(uint16_t vendor, uint16_t product, const std::string &manufacturer,
                     const std::string &productName, const std::string &serial,
                     uint16_t out[64]) {
    memset(out, 0, 64 * sizeof(uint16_t));
    out[0] = 0x0909;
    out[1] = vendor;
    out[2] = product;
    out[3] = 0x0500;
    out[4] = 0x7D80;
    out[5] = 0x0008;
    out[6] = 0x0200;
    out[10] = 0x0046;
    unsigned byteAddress = 0x16;
    const std::string *strings[3] = {&manufacturer, &productName, &serial};
    for (int s = 0; s < 3; ++s) {
        const unsigned length = unsigned(2 + 2 * strings[s]->size());
        if (byteAddress + length > 126) break;  // does not fit: leave the pointer empty
        out[7 + s] = uint16_t(length << 8 | (0x80 + byteAddress));
        out[byteAddress / 2] = uint16_t(0x0300 | length);
        for (size_t i = 0; i < strings[s]->size(); ++i)
            out[byteAddress / 2 + 1 + i] = uint8_t((*strings[s])[i]);
        byteAddress += length;
    }
    out[63] = chipChecksum(out);
}

SimEepromIdentity simDecodeEeprom(const uint16_t eeprom[64]) {
    if (chipChecksum(eeprom) != eeprom[63])
        return SimEepromIdentity{false, 0x0403, 0x6010, "", "Dual RS232", ""};
    return SimEepromIdentity{true, eeprom[1], eeprom[2], descriptorAt(eeprom, 0x0E),
                             descriptorAt(eeprom, 0x10), descriptorAt(eeprom, 0x12)};
}
