// The exported names of the vendor calls, in the order of the D2XX table.
#include "link/d2xx.h"

const char *const D2XX_ENTRY_NAMES[D2XX_ENTRY_COUNT] = {
    "FT_CreateDeviceInfoList", "FT_GetDeviceInfoList",
    "FT_OpenEx",               "FT_Close",
    "FT_SetBaudRate",          "FT_SetDataCharacteristics",
    "FT_SetTimeouts",          "FT_Purge",
    "FT_Read",                 "FT_Write",
    "FT_GetDeviceInfo",        "FT_GetComPortNumber",
    "FT_WriteEE",              "FT_CyclePort",
};

const char *const D2XX_OPTIONAL_NAMES[D2XX_OPTIONAL_COUNT] = {"FT_SetLatencyTimer", "FT_ReadEE"};
