// The adapter chip's configuration EEPROM as the chip reads it: its fields, laid out into the 64
// words and decoded from them. Pure code, and it needs nothing else of the simulator.
#pragma once

#include <cstdint>
#include <string>

// How a channel of the dual-channel chip is wired (the low bits of its configuration byte).
enum SimChannelMode : uint8_t {
    SIM_CHANNEL_UART = 0x00,
    SIM_CHANNEL_FIFO_245 = 0x01,
    SIM_CHANNEL_OPTO = 0x02,
    SIM_CHANNEL_CPU = 0x04,
};

// The fields of the configuration EEPROM, as the chip reads them; the defaults are those of an
// adapter configured for this board.
struct SimEepromIdentity {
    bool checksumValid = true;
    uint16_t vendor = 0x0403, product = 0x6010;
    uint16_t release = 0x0500;  // device release, BCD
    SimChannelMode channelMode[2] = {SIM_CHANNEL_FIFO_245, SIM_CHANNEL_FIFO_245};
    bool vcpDriver[2] = {true, true};  // the virtual COM port driver rather than the library alone
    bool selfPowered = false;
    bool remoteWakeup = false;
    unsigned maxPowerMa = 250;
    bool useSerial = true;      // the serial number string is reported
    uint16_t usbVersion = 0x0200;  // BCD
    std::string manufacturer, productName, serial;
};
// Lays the fields out as the chip reads them, with a valid checksum; a string that no longer fits
// the descriptor area is left out. `checksumValid` is not read.
void simEncodeEeprom(const SimEepromIdentity &fields, uint16_t out[64]);
// Reads the fields as the chip does at enumeration; with a bad checksum the chip's blank defaults
// (0403/6010, product "Dual RS232", no serial) with checksumValid false.
SimEepromIdentity simDecodeEeprom(const uint16_t eeprom[64]);
