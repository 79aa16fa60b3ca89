// Loading the vendor's adapter library on Windows.
#pragma once

// Loads FTD2XX.dll with the normal DLL search and points `g_d2xx` at its entry points. Returns
// null on success, or a message for the user naming what is missing; `g_d2xx` is then left
// unset and nothing may call the library. GUI thread, once, before the worker starts.
const wchar_t *loadD2xxLibrary();
