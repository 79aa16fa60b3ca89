// The search's second look, for our adapter whose Update was cut short (link/ only; findAdapter
// is its one caller). Such an adapter enumerates with the chip's blank defaults, which the name
// rules of the search never accept. This step only judges: it opens a chip to read its EEPROM and
// closes it again, and leaves opening the adapter's channels to the search.
#pragma once

#include <cstdint>

#include "link/link.h"

// The records of the damaged adapter's two channels; `channelA` null: none found, `channelB`
// null: its channel B is not listed.
struct DamagedAdapter {
    const FT_DEVICE_LIST_INFO_NODE *channelA;
    const FT_DEVICE_LIST_INFO_NODE *channelB;
};

// With the records of one search in which no record of ours was accepted: probes the blank chips
// not probed before in this attachment, in `link.probed`, and gives the records of the first one
// whose EEPROM shows it is ours. A probe opens channel A with the usual line settings, time-outs
// and latency timer, reads the 64 EEPROM words and closes it again; no word is written, and a chip
// judged not ours is never opened again while it stays attached. Without FT_ReadEE in the library
// it probes nothing and finds nothing.
DamagedAdapter findDamagedAdapter(Link &link, const FT_DEVICE_LIST_INFO_NODE *records,
                                  uint32_t count);

// With every list the library gives (none: no records): the probed chips no longer in it are
// forgotten, so a chip plugged in again is probed again.
void forgetDepartedDevices(ProbedChips &probed, const FT_DEVICE_LIST_INFO_NODE *records,
                           uint32_t count);
