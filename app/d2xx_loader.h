// Loading the vendor's adapter library on Windows.
#pragma once

#include "link/d2xx.h"

// Loads FTD2XX.dll, the installed one from the system folder before the one beside the program
// (app/system_libraries.h), and fills `api` with its entry points. Returns null on success, or a
// message for the user naming what is missing; `api` is then left as it was and nothing may call
// the library. GUI thread, once, before the worker starts.
const wchar_t *loadD2xxLibrary(D2xxApi &api);
