// Fills the D2XX table from FTD2XX.dll. A missing library or entry point becomes a message for
// the user, never a call through a null pointer.
#include "app/d2xx_loader.h"

#include <windows.h>

#include "app/system_libraries.h"
#include "link/d2xx.h"

namespace {

wchar_t failure[160];

// GetProcAddress hands out a generic function pointer; the slot's type carries the vendor's
// calling convention, and d2xx.h checks its parameters against the vendor's argument bytes.
template <typename Fn>
Fn entryPoint(HMODULE library, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
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

    // Each slot by its own name; a required one that is missing ends the load, an optional one
    // stays null.
    D2xxApi api = {};
#define D2XX_FILL(name, member, tag, need, params, args)                                     \
    api.member = entryPoint<decltype(api.member)>(library, #name);                           \
    if (!api.member && need == D2XX_REQUIRED) {                                              \
        FreeLibrary(library);                                                                \
        return missingEntryPoint(#name);                                                     \
    }
    D2XX_ENTRIES(D2XX_FILL)
#undef D2XX_FILL
    table = api;
    return nullptr;
}
