// What the simulator's rooms (attachment, board, chip, library) call of each other. Nothing
// outside sim/ includes it.
#pragma once

#include <string>
#include <vector>

#include "sim/sim.h"

constexpr uint32_t SIM_MEMORY_BYTES = 32768;

inline uint64_t simNowUs(const Sim &s) { return s.clock.nowUs(s.clock.context); }
// Copies `text` into a fixed field of a device record, cut to the field and zero-filled.
void simSetText(char *field, size_t size, const std::string &text);

// sim_attach.cpp
bool simAdapterVisible(const SimAdapter &a);
void simEmptyReceive(SimChannel &c);
void simEnumerate(SimAdapter &a);         // names the channels from the EEPROM
void simCloseAll(Sim &s, SimAdapter &a);  // closes both channels, drops what was on its way
void simEndReenumeration(Sim &s);         // brings back the adapters whose port cycle is over

// sim_board.cpp: takes the whole commands out of the board's input that arrived at `arrival` and
// schedules their replies. False when the adapter was unplugged.
bool simRunBoard(Sim &s, int adapter, uint64_t arrival);

// sim_chip.cpp
uint64_t simWriteArrival(SimAdapter &a, uint64_t start, uint32_t length);  // at the board
void simScheduleReply(SimAdapter &a, const std::vector<uint8_t> &reply, uint64_t start);
void simRunChip(SimChannel &c, uint64_t until);  // sends the packets the chip sends up to then
// When `count` bytes can be read, or `deadline` if that comes first. Runs the chip up to then.
uint64_t simReadableTime(SimChannel &c, uint32_t count, uint64_t from, uint64_t deadline);
// With the chip model a call on the adapter returns no sooner than its cost after it was made.
void simPayCallCost(Sim &s, int adapter);
