// Fills the D2XX table from FTD2XX.dll. A missing library or entry point becomes a message for
// the user, never a call through a null pointer.
#include "app/d2xx_loader.h"

#include <windows.h>

#include "app/system_libraries.h"
#include "link/d2xx.h"

namespace {

wchar_t failure[160];

// GetProcAddress hands out a generic function pointer; the table's types carry the vendor's
// calling convention, pinned to the prototypes in d2xx.h.
using EntryPoint = void (*)();

template <typename Fn>
void take(Fn &slot, EntryPoint entry) {
    slot = reinterpret_cast<Fn>(entry);
}

template <typename Fn>
void take(Fn &slot, FARPROC entry) {
    take(slot, reinterpret_cast<EntryPoint>(entry));
}

const wchar_t *missingEntryPoint(const char *name) {
    int n = wsprintfW(failure, L"FTD2XX.dll has no entry point ");
    // The names are ASCII; widen them by hand within the buffer.
    for (; *name && n < static_cast<int>(sizeof failure / sizeof *failure) - 2; ++name, ++n)
        failure[n] = static_cast<wchar_t>(static_cast<unsigned char>(*name));
    failure[n++] = L'.';
    failure[n] = L'\0';
    return failure;
}

}  // namespace

const wchar_t *loadD2xxLibrary(D2xxApi &table) {
    bool wrongProcessor = false;
    HMODULE library = loadVendorLibrary(L"FTD2XX.dll", wrongProcessor);
    if (!library) {
        if (wrongProcessor)
            return L"Can't load FTD2XX.dll: the library found is not built for this program's "
                   L"processor.\r\nInstall the adapter driver that matches this program and start "
                   L"the program again.";
        return L"Can't load FTD2XX.dll: the adapter's driver library is missing.\r\n"
               L"Install the adapter driver and start the program again.";
    }

    EntryPoint entries[D2XX_ENTRY_COUNT];
    for (int i = 0; i < D2XX_ENTRY_COUNT; ++i) {
        entries[i] = reinterpret_cast<EntryPoint>(GetProcAddress(library, D2XX_ENTRY_NAMES[i]));
        if (!entries[i]) {
            FreeLibrary(library);
            return missingEntryPoint(D2XX_ENTRY_NAMES[i]);
        }
    }

    // Same order as D2XX_ENTRY_NAMES.
    D2xxApi api = {};
    int i = 0;
    take(api.createDeviceInfoList, entries[i++]);
    take(api.getDeviceInfoList, entries[i++]);
    take(api.openEx, entries[i++]);
    take(api.close, entries[i++]);
    take(api.setBaudRate, entries[i++]);
    take(api.setDataCharacteristics, entries[i++]);
    take(api.setTimeouts, entries[i++]);
    take(api.purge, entries[i++]);
    take(api.read, entries[i++]);
    take(api.write, entries[i++]);
    take(api.getDeviceInfo, entries[i++]);
    take(api.getComPortNumber, entries[i++]);
    take(api.writeEE, entries[i++]);
    take(api.cyclePort, entries[i++]);
    // Optional: a library without them leaves the entries null.
    take(api.setLatencyTimer, GetProcAddress(library, D2XX_OPTIONAL_NAMES[0]));
    take(api.readEE, GetProcAddress(library, D2XX_OPTIONAL_NAMES[1]));
    table = api;
    return nullptr;
}
