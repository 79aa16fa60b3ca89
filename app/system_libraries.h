// Where the program loads libraries from. It runs with administrator rights, often from a
// Downloads folder, so nothing may be loaded from the current or the program's folder by name.
#pragma once

#include <windows.h>

// Limits every later search by name to the system folder. First thing in WinMain, before any
// call that may load a library; a Windows without the call (7 without its update) keeps its
// default search.
void restrictLibrarySearch();

// A system library by name, from the system folder only; null when it is not there.
HMODULE loadSystemLibrary(const wchar_t *name);

// The vendor's library: the installed one from the system folder first, then the one beside the
// program by its full path. Null when neither loads; `wrongProcessor` then says whether one was
// found but built for another processor.
HMODULE loadVendorLibrary(const wchar_t *name, bool &wrongProcessor);

// Gives `window` a reason that Windows shows while it keeps the session from ending, or removes it
// (`reason` null). Only the window's own thread may call it. A Windows without the calls (before
// Vista) shows no reason: the window's answer alone keeps the session.
void setShutdownBlockReason(HWND window, const wchar_t *reason);
