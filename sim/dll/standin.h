// The FTD2XX.dll stand-in's own state: the real-time clock, the scenario it was started with and
// the files through which tests watch and steer it.
#pragma once

// Sets the simulator up on the first call into the library (not in DllMain, where reading files
// is not safe, and not at all in a process that never calls the library, such as a second
// instance that exits at once). Every exported entry point calls it first.
void standinEnter();
