// The D2XX seam: the vendor's adapter library as this program uses it.
//
// The core never calls the library directly. It calls through a `D2xxApi`, a table of function
// pointers that the `Link` carries (link/link.h), filled once before the worker starts: from
// FTD2XX.dll on Windows (app/d2xx_loader.cpp), or from the simulator in native tests and in the
// FTD2XX.dll stand-in. Only the worker thread calls through the table, except `closeChannel` at
// shutdown, which the GUI thread makes after the worker has stopped. Every call returns FT_OK (0) on success; any
// other value is a failure of that call and says nothing about the adapter's state beyond it.
#pragma once

#include <cstdint>
#include <type_traits>

// The vendor library uses __stdcall on 32-bit Windows and the platform convention elsewhere.
// A pointer typedef without it corrupts the stack on i686 only, so every typedef below carries it.
#if defined(_WIN32) && !defined(_WIN64)
#define FT_API __stdcall
#else
#define FT_API
#endif

typedef uint32_t FT_STATUS;
typedef void *FT_HANDLE;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_OTHER_ERROR = 18,
};

enum : uint32_t {
    FT_OPEN_BY_LOCATION = 4,
    FT_PURGE_RX = 1,
    FT_PURGE_TX = 2,
    FT_DEVICE_2232C = 4,
};

// The library's per-channel record. Its text fields are not guaranteed to be NUL-terminated:
// read them within their sizes.
struct FT_DEVICE_LIST_INFO_NODE {
    uint32_t Flags;
    uint32_t Type;
    uint32_t ID;  // vendor id in the high 16 bits, product id in the low 16 bits
    uint32_t LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
};
static_assert(sizeof(FT_DEVICE_LIST_INFO_NODE) == (sizeof(void *) == 4 ? 100 : 104),
              "device record layout must match the vendor library");

typedef FT_STATUS(FT_API *FT_CreateDeviceInfoList_t)(uint32_t *count);
typedef FT_STATUS(FT_API *FT_GetDeviceInfoList_t)(FT_DEVICE_LIST_INFO_NODE *list, uint32_t *count);
typedef FT_STATUS(FT_API *FT_OpenEx_t)(void *arg, uint32_t flags, FT_HANDLE *handle);
typedef FT_STATUS(FT_API *FT_Close_t)(FT_HANDLE handle);
typedef FT_STATUS(FT_API *FT_SetBaudRate_t)(FT_HANDLE handle, uint32_t baud);
typedef FT_STATUS(FT_API *FT_SetDataCharacteristics_t)(FT_HANDLE handle, uint8_t wordLength,
                                                       uint8_t stopBits, uint8_t parity);
typedef FT_STATUS(FT_API *FT_SetTimeouts_t)(FT_HANDLE handle, uint32_t readMs, uint32_t writeMs);
typedef FT_STATUS(FT_API *FT_Purge_t)(FT_HANDLE handle, uint32_t mask);
typedef FT_STATUS(FT_API *FT_Read_t)(FT_HANDLE handle, void *buffer, uint32_t length,
                                     uint32_t *done);
typedef FT_STATUS(FT_API *FT_Write_t)(FT_HANDLE handle, void *buffer, uint32_t length,
                                      uint32_t *done);
typedef FT_STATUS(FT_API *FT_GetDeviceInfo_t)(FT_HANDLE handle, uint32_t *type, uint32_t *id,
                                              char *serial, char *description, void *reserved);
typedef FT_STATUS(FT_API *FT_GetComPortNumber_t)(FT_HANDLE handle, int32_t *port);
typedef FT_STATUS(FT_API *FT_WriteEE_t)(FT_HANDLE handle, uint32_t wordOffset, uint16_t value);
typedef FT_STATUS(FT_API *FT_CyclePort_t)(FT_HANDLE handle);
typedef FT_STATUS(FT_API *FT_SetLatencyTimer_t)(FT_HANDLE handle, uint8_t ms);
typedef FT_STATUS(FT_API *FT_ReadEE_t)(FT_HANDLE handle, uint32_t wordOffset, uint16_t *value);

// One entry per vendor call. D2XX_ENTRY_NAMES lists the required ones' exported names in the
// same order, so the loader can fill the table by walking both. The optional entries at the end
// may be null: a library without one works as before, and only the feature it serves is off.
struct D2xxApi {
    FT_CreateDeviceInfoList_t createDeviceInfoList;
    FT_GetDeviceInfoList_t getDeviceInfoList;
    FT_OpenEx_t openEx;
    FT_Close_t close;
    FT_SetBaudRate_t setBaudRate;
    FT_SetDataCharacteristics_t setDataCharacteristics;
    FT_SetTimeouts_t setTimeouts;
    FT_Purge_t purge;
    FT_Read_t read;
    FT_Write_t write;
    FT_GetDeviceInfo_t getDeviceInfo;
    FT_GetComPortNumber_t getComPortNumber;
    FT_WriteEE_t writeEE;
    FT_CyclePort_t cyclePort;
    // --- optional ---
    FT_SetLatencyTimer_t setLatencyTimer;  // the chip's receive latency; 16 ms when never set
    FT_ReadEE_t readEE;                    // reading the configuration EEPROM back
};

constexpr int D2XX_ENTRY_COUNT = 14;
constexpr int D2XX_OPTIONAL_COUNT = 2;
static_assert(sizeof(D2xxApi) == (D2XX_ENTRY_COUNT + D2XX_OPTIONAL_COUNT) * sizeof(void *),
              "one pointer per entry");
extern const char *const D2XX_ENTRY_NAMES[D2XX_ENTRY_COUNT];
extern const char *const D2XX_OPTIONAL_NAMES[D2XX_OPTIONAL_COUNT];

// Declarations with the vendor's public prototypes, for whoever implements the library (the
// simulator's DLL stand-in). The static_asserts pin every table type to its prototype, so a
// wrong calling convention or argument fails the build instead of the stack.
extern "C" {
FT_STATUS FT_API FT_CreateDeviceInfoList(uint32_t *count);
FT_STATUS FT_API FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *list, uint32_t *count);
FT_STATUS FT_API FT_OpenEx(void *arg, uint32_t flags, FT_HANDLE *handle);
FT_STATUS FT_API FT_Close(FT_HANDLE handle);
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baud);
FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity);
FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, uint32_t readMs, uint32_t writeMs);
FT_STATUS FT_API FT_Purge(FT_HANDLE handle, uint32_t mask);
FT_STATUS FT_API FT_Read(FT_HANDLE handle, void *buffer, uint32_t length, uint32_t *done);
FT_STATUS FT_API FT_Write(FT_HANDLE handle, void *buffer, uint32_t length, uint32_t *done);
FT_STATUS FT_API FT_GetDeviceInfo(FT_HANDLE handle, uint32_t *type, uint32_t *id, char *serial,
                                  char *description, void *reserved);
FT_STATUS FT_API FT_GetComPortNumber(FT_HANDLE handle, int32_t *port);
FT_STATUS FT_API FT_WriteEE(FT_HANDLE handle, uint32_t wordOffset, uint16_t value);
FT_STATUS FT_API FT_CyclePort(FT_HANDLE handle);
FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE handle, uint8_t ms);
FT_STATUS FT_API FT_ReadEE(FT_HANDLE handle, uint32_t wordOffset, uint16_t *value);
}

#define D2XX_TYPECHECK(fn) \
    static_assert(std::is_same_v<decltype(&fn), fn##_t>, #fn " does not match its table type")
D2XX_TYPECHECK(FT_CreateDeviceInfoList);
D2XX_TYPECHECK(FT_GetDeviceInfoList);
D2XX_TYPECHECK(FT_OpenEx);
D2XX_TYPECHECK(FT_Close);
D2XX_TYPECHECK(FT_SetBaudRate);
D2XX_TYPECHECK(FT_SetDataCharacteristics);
D2XX_TYPECHECK(FT_SetTimeouts);
D2XX_TYPECHECK(FT_Purge);
D2XX_TYPECHECK(FT_Read);
D2XX_TYPECHECK(FT_Write);
D2XX_TYPECHECK(FT_GetDeviceInfo);
D2XX_TYPECHECK(FT_GetComPortNumber);
D2XX_TYPECHECK(FT_WriteEE);
D2XX_TYPECHECK(FT_CyclePort);
D2XX_TYPECHECK(FT_SetLatencyTimer);
D2XX_TYPECHECK(FT_ReadEE);
#undef D2XX_TYPECHECK
