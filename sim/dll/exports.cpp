// The vendor library's entry points, each with its public prototype (link/d2xx.h pins them),
// handed to the stand-in's simulator. The linker exports them under their plain names (the build
// strips the 32-bit __stdcall suffix, "_FT_Read@16", with --kill-at).
#include "link/d2xx.h"
#include "sim/dll/standin.h"

#define STANDIN_EXPORT(name, member, tag, need, params, args) \
    extern "C" __declspec(dllexport) FT_STATUS FT_API name params {  \
        return standinLibrary()->member args;                         \
    }
D2XX_ENTRIES(STANDIN_EXPORT)
#undef STANDIN_EXPORT
