// The search's second look, for our adapter whose Update was cut short (link/ only; findAdapter
// is its one caller). Such an adapter enumerates with the chip's blank defaults, which the name
// rules of the search never accept.
#pragma once

#include <cstdint>

#include "link/d2xx.h"

// With the records of one search in which no record of ours was accepted: probes the blank chips
// not probed before in this attachment and, for the first one whose EEPROM shows it is ours,
// opens its channel A into `a` and its channel B (when listed) into `b`. True when it opened `a`.
// Every channel opened only to probe is closed again; nothing is written. Without FT_ReadEE in
// the library it probes nothing and gives false.
bool openDamagedAdapter(const FT_DEVICE_LIST_INFO_NODE *records, uint32_t count, FT_HANDLE &a,
                        FT_HANDLE &b);

// With every list the library gives (none: no records): the probed chips no longer in it are
// forgotten, so a chip plugged in again is probed again.
void forgetDepartedDevices(const FT_DEVICE_LIST_INFO_NODE *records, uint32_t count);
