// The D2XX seam: the vendor's adapter library as this program uses it.
//
// The core never calls the library directly. It calls through a `D2xxApi`, a table of function
// pointers that the `Link` carries (link/link.h), filled once before the worker starts: from
// FTD2XX.dll on Windows (app/d2xx_loader.cpp), or from the simulator in native tests and in the
// FTD2XX.dll stand-in. Only the worker thread calls through the table, except `closeChannel` at
// shutdown, which the GUI thread makes after the worker has stopped. Every call returns FT_OK
// (0) on success; any other value is a failure of that call and says nothing about the adapter's
// state beyond it.
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

// Every vendor call the program uses, once: its exported name, its slot in `D2xxApi`, a short
// upper-case tag (for enumerations such as the simulator's trace), whether a library must have it,
// its parameters and the names that forward them. Everything else about the calls is made from
// this list: the pointer types, the table, the prototypes, the loader's fill by name, the
// simulator's table and the stand-in's exports. A library without an optional entry leaves it
// null, and only the feature it serves is off. Adding an optional entry is one line here.
#define D2XX_ENTRIES(X)                                                                            \
    X(FT_CreateDeviceInfoList, createDeviceInfoList, CREATE_LIST, D2XX_REQUIRED,                   \
      (uint32_t *count), (count))                                                                  \
    X(FT_GetDeviceInfoList, getDeviceInfoList, GET_LIST, D2XX_REQUIRED,                            \
      (FT_DEVICE_LIST_INFO_NODE *list, uint32_t *count), (list, count))                            \
    X(FT_OpenEx, openEx, OPEN, D2XX_REQUIRED, (void *arg, uint32_t flags, FT_HANDLE *handle),      \
      (arg, flags, handle))                                                                        \
    X(FT_Close, close, CLOSE, D2XX_REQUIRED, (FT_HANDLE handle), (handle))                         \
    X(FT_SetBaudRate, setBaudRate, SET_BAUD, D2XX_REQUIRED, (FT_HANDLE handle, uint32_t baud),     \
      (handle, baud))                                                                              \
    X(FT_SetDataCharacteristics, setDataCharacteristics, SET_DATA, D2XX_REQUIRED,                  \
      (FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits, uint8_t parity),                    \
      (handle, wordLength, stopBits, parity))                                                      \
    X(FT_SetTimeouts, setTimeouts, SET_TIMEOUTS, D2XX_REQUIRED,                                    \
      (FT_HANDLE handle, uint32_t readMs, uint32_t writeMs), (handle, readMs, writeMs))            \
    X(FT_Purge, purge, PURGE, D2XX_REQUIRED, (FT_HANDLE handle, uint32_t mask), (handle, mask))    \
    X(FT_Read, read, READ, D2XX_REQUIRED,                                                          \
      (FT_HANDLE handle, void *buffer, uint32_t length, uint32_t *done),                           \
      (handle, buffer, length, done))                                                              \
    X(FT_Write, write, WRITE, D2XX_REQUIRED,                                                       \
      (FT_HANDLE handle, void *buffer, uint32_t length, uint32_t *done),                           \
      (handle, buffer, length, done))                                                              \
    X(FT_GetDeviceInfo, getDeviceInfo, GET_INFO, D2XX_REQUIRED,                                    \
      (FT_HANDLE handle, uint32_t *type, uint32_t *id, char *serial, char *description,            \
       void *reserved),                                                                            \
      (handle, type, id, serial, description, reserved))                                           \
    X(FT_GetComPortNumber, getComPortNumber, GET_COM_PORT, D2XX_REQUIRED,                          \
      (FT_HANDLE handle, int32_t *port), (handle, port))                                           \
    X(FT_WriteEE, writeEE, WRITE_EE, D2XX_REQUIRED,                                                \
      (FT_HANDLE handle, uint32_t wordOffset, uint16_t value), (handle, wordOffset, value))        \
    X(FT_CyclePort, cyclePort, CYCLE_PORT, D2XX_REQUIRED, (FT_HANDLE handle), (handle))            \
    /* the chip's receive latency; 16 ms when never set */                                         \
    X(FT_SetLatencyTimer, setLatencyTimer, SET_LATENCY, D2XX_OPTIONAL,                             \
      (FT_HANDLE handle, uint8_t ms), (handle, ms))                                                \
    /* reading the configuration EEPROM back */                                                    \
    X(FT_ReadEE, readEE, READ_EE, D2XX_OPTIONAL,                                                   \
      (FT_HANDLE handle, uint32_t wordOffset, uint16_t *value), (handle, wordOffset, value))

enum D2xxNeed { D2XX_REQUIRED, D2XX_OPTIONAL };

#define D2XX_POINTER_TYPE(name, member, tag, need, params, args) \
    typedef FT_STATUS(FT_API *name##_t) params;
D2XX_ENTRIES(D2XX_POINTER_TYPE)
#undef D2XX_POINTER_TYPE

// One pointer per entry, in the list's order.
struct D2xxApi {
#define D2XX_SLOT(name, member, tag, need, params, args) name##_t member;
    D2XX_ENTRIES(D2XX_SLOT)
#undef D2XX_SLOT
};

// Declarations with the vendor's public prototypes, for whoever implements the library (the
// simulator's DLL stand-in).
extern "C" {
#define D2XX_PROTOTYPE(name, member, tag, need, params, args) FT_STATUS FT_API name params;
D2XX_ENTRIES(D2XX_PROTOTYPE)
#undef D2XX_PROTOTYPE
}

// The bytes of arguments each call takes off the stack on 32-bit Windows, as the vendor's public
// header declares the calls: every parameter pushed in 4 bytes, a 64-bit one in 8. Written apart
// from D2XX_ENTRIES on purpose: a parameter of the wrong size there (a WORD for a DWORD, one too
// few) compiles, exports and loads, and corrupts the stack at the first call on i686 only, where
// --kill-at has removed the @N decoration that would show it.
struct D2xxArgumentBytes {
    const char *name;
    int bytes;
};
constexpr D2xxArgumentBytes D2XX_ARGUMENT_BYTES[] = {
    {"FT_CreateDeviceInfoList", 4},     // LPDWORD
    {"FT_GetDeviceInfoList", 8},        // FT_DEVICE_LIST_INFO_NODE*, LPDWORD
    {"FT_OpenEx", 12},                  // PVOID, DWORD, FT_HANDLE*
    {"FT_Close", 4},                    // FT_HANDLE
    {"FT_SetBaudRate", 8},              // FT_HANDLE, ULONG
    {"FT_SetDataCharacteristics", 16},  // FT_HANDLE, UCHAR, UCHAR, UCHAR
    {"FT_SetTimeouts", 12},             // FT_HANDLE, ULONG, ULONG
    {"FT_Purge", 8},                    // FT_HANDLE, ULONG
    {"FT_Read", 16},                    // FT_HANDLE, LPVOID, DWORD, LPDWORD
    {"FT_Write", 16},                   // FT_HANDLE, LPVOID, DWORD, LPDWORD
    {"FT_GetDeviceInfo", 24},           // FT_HANDLE, FT_DEVICE*, LPDWORD, PCHAR, PCHAR, LPVOID
    {"FT_GetComPortNumber", 8},         // FT_HANDLE, LPLONG
    {"FT_WriteEE", 12},                 // FT_HANDLE, DWORD, WORD
    {"FT_CyclePort", 4},                // FT_HANDLE
    {"FT_SetLatencyTimer", 8},          // FT_HANDLE, UCHAR
    {"FT_ReadEE", 12},                  // FT_HANDLE, DWORD, LPWORD
};

// How many bytes a parameter of type T takes on the i386 stack, on whatever machine this builds:
// a pointer 4, anything else its size rounded up to 4. So every build checks the 32-bit one.
template <typename T>
constexpr int i386PushBytes() {
    return std::is_pointer_v<T> ? 4 : int((sizeof(T) + 3) / 4 * 4);
}

template <typename... Params>
constexpr int i386ArgumentBytes(FT_STATUS (*)(Params...)) {
    return (0 + ... + i386PushBytes<Params>());
}

constexpr bool sameName(const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// -1 for a call the table does not list.
constexpr int d2xxArgumentBytes(const char *name) {
    for (const D2xxArgumentBytes &entry : D2XX_ARGUMENT_BYTES)
        if (sameName(entry.name, name)) return entry.bytes;
    return -1;
}

#define D2XX_CALL_CHECK(name, member, tag, need, params, args)                             \
    static_assert(i386ArgumentBytes(static_cast<FT_STATUS(*) params>(nullptr)) ==          \
                      d2xxArgumentBytes(#name),                                            \
                  #name ": its parameters in D2XX_ENTRIES do not push the argument bytes " \
                  "the vendor's header gives it on 32-bit Windows");
D2XX_ENTRIES(D2XX_CALL_CHECK)
#undef D2XX_CALL_CHECK
#define D2XX_COUNT(name, member, tag, need, params, args) +1
static_assert(sizeof D2XX_ARGUMENT_BYTES / sizeof *D2XX_ARGUMENT_BYTES ==
                  0 D2XX_ENTRIES(D2XX_COUNT),
              "every call in D2XX_ARGUMENT_BYTES is one of D2XX_ENTRIES");
#undef D2XX_COUNT
