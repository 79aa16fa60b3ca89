// The adapter chip's view of its 93C46 configuration EEPROM: what it enumerates with.
// Written from the chip's layout, field by field and independently of the program's image
// builder, so that decoding the program's image is a real check of it.
#include "sim/sim_eeprom.h"

#include <cstring>

namespace {

// Byte addresses of the layout (the EEPROM holds 64 little-endian words).
constexpr unsigned CHANNEL_CONFIG = 0x00;  // one byte per channel: mode, driver
constexpr unsigned VENDOR_WORD = 1, PRODUCT_WORD = 2, RELEASE_WORD = 3;
constexpr unsigned POWER_ATTRIBUTES = 0x08, MAX_POWER = 0x09;  // max power in 2 mA units
constexpr unsigned CHIP_OPTIONS = 0x0A;
constexpr unsigned USB_VERSION_WORD = 6;
constexpr unsigned STRING_POINTERS = 0x0E;  // manufacturer, product, serial: address, length
constexpr unsigned CHIP_TYPE_WORD = 10;
constexpr unsigned FIRST_STRING = 0x16, STRING_AREA_END = 0x7E;  // word 63 is the checksum
constexpr uint16_t CHIP_TYPE_93C46 = 0x0046;

constexpr uint8_t VCP_DRIVER = 0x08;
constexpr uint8_t MODE_BITS = 0x07;
constexpr uint8_t ATTRIBUTES_BASE = 0x80, SELF_POWERED = 0x40, REMOTE_WAKEUP = 0x20;
constexpr uint8_t USE_SERIAL = 0x08;
constexpr uint8_t STRING_DESCRIPTOR = 0x03, POINTER_FLAG = 0x80;

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

void setByte(uint16_t eeprom[64], unsigned address, uint8_t value) {
    uint16_t &w = eeprom[(address / 2) & 63];
    w = address % 2 ? uint16_t((w & 0x00FF) | value << 8) : uint16_t((w & 0xFF00) | value);
}

// A string descriptor found through its pointer and length bytes; empty when they are not sound.
std::string descriptorAt(const uint16_t eeprom[64], unsigned pointerByte) {
    const uint8_t pointer = byteAt(eeprom, pointerByte);
    const uint8_t length = byteAt(eeprom, pointerByte + 1);
    if (!(pointer & POINTER_FLAG) || length < 2 || length % 2) return std::string();
    const unsigned start = pointer & 0x7F;
    if (start % 2 || start + length > STRING_AREA_END) return std::string();
    if (byteAt(eeprom, start) != length || byteAt(eeprom, start + 1) != STRING_DESCRIPTOR)
        return std::string();
    std::string text;
    for (unsigned i = start + 2; i < start + length; i += 2) text.push_back(char(byteAt(eeprom, i)));
    return text;
}

}  // namespace

void simEncodeEeprom(const SimEepromIdentity &f, uint16_t out[64]) {
    memset(out, 0, 64 * sizeof(uint16_t));
    for (int ch = 0; ch < 2; ++ch)
        setByte(out, CHANNEL_CONFIG + unsigned(ch),
                uint8_t((f.channelMode[ch] & MODE_BITS) | (f.vcpDriver[ch] ? VCP_DRIVER : 0)));
    out[VENDOR_WORD] = f.vendor;
    out[PRODUCT_WORD] = f.product;
    out[RELEASE_WORD] = f.release;
    setByte(out, POWER_ATTRIBUTES,
            uint8_t(ATTRIBUTES_BASE | (f.selfPowered ? SELF_POWERED : 0) |
                    (f.remoteWakeup ? REMOTE_WAKEUP : 0)));
    setByte(out, MAX_POWER, uint8_t(f.maxPowerMa / 2));
    setByte(out, CHIP_OPTIONS, f.useSerial ? USE_SERIAL : 0);
    out[USB_VERSION_WORD] = f.usbVersion;
    out[CHIP_TYPE_WORD] = CHIP_TYPE_93C46;

    unsigned address = FIRST_STRING;
    const std::string *strings[3] = {&f.manufacturer, &f.productName, &f.serial};
    for (unsigned s = 0; s < 3; ++s) {
        const unsigned length = unsigned(2 + 2 * strings[s]->size());
        if (address + length > STRING_AREA_END) break;  // does not fit: leave the pointer empty
        setByte(out, STRING_POINTERS + 2 * s, uint8_t(POINTER_FLAG | address));
        setByte(out, STRING_POINTERS + 2 * s + 1, uint8_t(length));
        setByte(out, address, uint8_t(length));
        setByte(out, address + 1, STRING_DESCRIPTOR);
        for (size_t i = 0; i < strings[s]->size(); ++i)
            setByte(out, address + 2 + 2 * unsigned(i), uint8_t((*strings[s])[i]));
        address += length;
    }
    out[63] = chipChecksum(out);
}

SimEepromIdentity simDecodeEeprom(const uint16_t eeprom[64]) {
    SimEepromIdentity f;
    if (chipChecksum(eeprom) != eeprom[63]) {
        // The chip's blank defaults: UART channels, no serial number.
        f.checksumValid = false;
        f.channelMode[0] = f.channelMode[1] = SIM_CHANNEL_UART;
        f.useSerial = false;
        f.productName = "Dual RS232";
        return f;
    }
    for (int ch = 0; ch < 2; ++ch) {
        const uint8_t config = byteAt(eeprom, CHANNEL_CONFIG + unsigned(ch));
        f.channelMode[ch] = SimChannelMode(config & MODE_BITS);
        f.vcpDriver[ch] = (config & VCP_DRIVER) != 0;
    }
    f.vendor = eeprom[VENDOR_WORD];
    f.product = eeprom[PRODUCT_WORD];
    f.release = eeprom[RELEASE_WORD];
    const uint8_t attributes = byteAt(eeprom, POWER_ATTRIBUTES);
    f.selfPowered = (attributes & SELF_POWERED) != 0;
    f.remoteWakeup = (attributes & REMOTE_WAKEUP) != 0;
    f.maxPowerMa = 2u * byteAt(eeprom, MAX_POWER);
    f.useSerial = (byteAt(eeprom, CHIP_OPTIONS) & USE_SERIAL) != 0;
    f.usbVersion = eeprom[USB_VERSION_WORD];
    f.manufacturer = descriptorAt(eeprom, STRING_POINTERS);
    f.productName = descriptorAt(eeprom, STRING_POINTERS + 2);
    f.serial = descriptorAt(eeprom, STRING_POINTERS + 4);
    return f;
}
