// The FTD2XX.dll stand-in's own state: the real-time clock, the scenario it was started with and
// the files through which tests watch and steer it (adapter-handles.txt counts the handles given
// out and not closed yet, as a real driver does: a handle stays allocated after its adapter was
// unplugged, until FT_Close).
#pragma once

#include "link/d2xx.h"

// The library table of the stand-in's one simulator. The first call sets the simulator up; every
// exported entry point goes through here.
const D2xxApi *standinLibrary();
