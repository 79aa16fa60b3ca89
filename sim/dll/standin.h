// The FTD2XX.dll stand-in's own state: the real-time clock, the scenario it was started with and
// the files through which tests watch and steer it.
#pragma once

#include "link/d2xx.h"

// Sets the simulator up on the first call into the library (not in DllMain, where reading files
// is not safe, and not at all in a process that never calls the library, such as a second
// instance that exits at once). Every exported entry point calls it first.
void standinEnter();

// The handles the library gave out and the program has not closed yet, as a real driver counts
// them: a handle stays allocated after its adapter was unplugged, until FT_Close. Written to
// adapter-handles.txt in the output folder at every change.
void standinHandleOpened(FT_HANDLE handle);
void standinHandleClosed(FT_HANDLE handle);
