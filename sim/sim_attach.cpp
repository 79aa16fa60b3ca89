// The adapters and their attachment: a world of device records, plugging and unplugging, and
// re-enumeration from the EEPROM after a port cycle or a plug.
#include <algorithm>
#include <cstring>

#include "sim/sim_internal.h"

void simSetText(char *field, size_t size, const std::string &text) {
    memset(field, 0, size);
    memcpy(field, text.data(), std::min(size, text.size()));
}

bool simAdapterVisible(const SimAdapter &a) { return a.plugged && !a.cycling; }

void simEmptyReceive(SimChannel &c) {
    c.rx.clear();
    c.rxHead = 0;
    c.chipBuffer.clear();
    c.chipHead = 0;
}

void simCloseAll(Sim &s, SimAdapter &a) {
    for (SimChannel &c : a.channels) {
        if (c.open) --s.world.openHandles;
        c.open = false;
        simEmptyReceive(c);
    }
    a.board.pending.clear();
}

// The chip reads its EEPROM when it enumerates; the library names the channels from it.
void simEnumerate(SimAdapter &a) {
    SimEepromIdentity id = simDecodeEeprom(a.eeprom);
    for (int ch = 0; ch < 2; ++ch) {
        FT_DEVICE_LIST_INFO_NODE &r = a.channels[ch].record;
        r.ID = uint32_t(id.vendor) << 16 | id.product;
        simSetText(r.Description, sizeof r.Description, id.productName + (ch ? " B" : " A"));
        simSetText(r.SerialNumber, sizeof r.SerialNumber,
                   id.serial.empty() ? std::string() : id.serial + (ch ? "B" : "A"));
    }
}

// An adapter that cycled its port comes back once enumeration is over, as its EEPROM says.
void simEndReenumeration(Sim &s) {
    for (SimAdapter &a : s.world.adapters) {
        if (!a.cycling || simNowUs(s) - a.cycleStart < uint64_t(a.reenumerateMs) * 1000) continue;
        a.cycling = false;
        simEnumerate(a);
    }
}

void simReset(Sim &s, const SimClock &clock) {
    s.world = SimWorld();
    s.clock = clock;
}

SimAdapter &simAdapter(Sim &s, int index) { return s.world.adapters[size_t(index)]; }

int simAddAdapter(Sim &s, const SimAdapterConfig &config) {
    const int index = int(s.world.adapters.size());
    s.world.adapters.emplace_back();
    SimAdapter &a = s.world.adapters.back();
    SimEepromIdentity fields;
    fields.vendor = uint16_t(config.usbId >> 16);
    fields.product = uint16_t(config.usbId);
    fields.manufacturer = config.manufacturer;
    fields.productName = config.product;
    fields.serial = config.serial;
    simEncodeEeprom(fields, a.eeprom);
    if (config.eeprom == SIM_EEPROM_BAD_CHECKSUM) a.eeprom[63] = uint16_t(~a.eeprom[63]);
    if (config.eeprom == SIM_EEPROM_FILL) std::fill(a.eeprom, a.eeprom + 64, config.eepromFill);
    for (int ch = 0; ch < 2; ++ch) {
        SimChannel &c = a.channels[ch];
        FT_DEVICE_LIST_INFO_NODE &r = c.record;
        memset(&r, 0, sizeof r);
        r.Type = FT_DEVICE_2232C;
        r.ID = config.usbId;
        r.LocId = uint32_t(0x1000 * (index + 1) + ch + 1);
        simSetText(r.Description, sizeof r.Description, config.product + (ch ? " B" : " A"));
        simSetText(r.SerialNumber, sizeof r.SerialNumber, config.serial + (ch ? "B" : "A"));
        c.comPort = ch ? config.comPortB : config.comPortA;
        s.world.list.push_back({index, ch, {}});
    }
    if (config.eeprom != SIM_EEPROM_VALID) simEnumerate(a);
    a.plugged = config.plugged;
    return index;
}

void simAddForeignDevice(Sim &s, uint32_t type, uint32_t id, const char *description,
                         const char *serial) {
    SimListEntry e = {-1, -1, {}};
    e.foreign.Type = type;
    e.foreign.ID = id;
    e.foreign.LocId = uint32_t(0x9000 + s.world.list.size());
    simSetText(e.foreign.Description, sizeof e.foreign.Description, description);
    simSetText(e.foreign.SerialNumber, sizeof e.foreign.SerialNumber, serial);
    s.world.list.push_back(e);
}

void simUnplug(Sim &s, int adapter) {
    SimAdapter &a = simAdapter(s, adapter);
    simCloseAll(s, a);
    a.plugged = false;
}

void simPlug(Sim &s, int adapter) {
    SimAdapter &a = simAdapter(s, adapter);
    if (a.plugged) return;
    a.plugged = true;
    simEnumerate(a);
}
