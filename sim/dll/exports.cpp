// The vendor library's entry points, each with its public prototype (link/d2xx.h pins them),
// handed to the simulator. The undecorated export names come from ftd2xx.def.
#include "link/d2xx.h"
#include "sim/dll/standin.h"
#include "sim/sim.h"

// A 32-bit __stdcall symbol carries its argument size ("_FT_Read@16") and the linker would only
// guess the plain export name from it; each entry point gets its plain name here instead.
#if defined(_WIN32) && !defined(_WIN64)
#define PLAIN_NAME(fn, argBytes) \
    __asm__(".globl _" #fn "\n.set _" #fn ", \"_" #fn "@" #argBytes "\"");
#else
#define PLAIN_NAME(fn, argBytes)
#endif

PLAIN_NAME(FT_CreateDeviceInfoList, 4)
PLAIN_NAME(FT_GetDeviceInfoList, 8)
PLAIN_NAME(FT_OpenEx, 12)
PLAIN_NAME(FT_Close, 4)
PLAIN_NAME(FT_SetBaudRate, 8)
PLAIN_NAME(FT_SetDataCharacteristics, 16)
PLAIN_NAME(FT_SetTimeouts, 12)
PLAIN_NAME(FT_Purge, 8)
PLAIN_NAME(FT_Read, 16)
PLAIN_NAME(FT_Write, 16)
PLAIN_NAME(FT_GetDeviceInfo, 24)
PLAIN_NAME(FT_GetComPortNumber, 8)
PLAIN_NAME(FT_WriteEE, 12)
PLAIN_NAME(FT_CyclePort, 4)
PLAIN_NAME(FT_SetLatencyTimer, 8)
PLAIN_NAME(FT_ReadEE, 12)

extern "C" {

FT_STATUS FT_API FT_CreateDeviceInfoList(uint32_t *count) {
    standinEnter();
    return simD2xx()->createDeviceInfoList(count);
}

FT_STATUS FT_API FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *list, uint32_t *count) {
    standinEnter();
    return simD2xx()->getDeviceInfoList(list, count);
}

FT_STATUS FT_API FT_OpenEx(void *arg, uint32_t flags, FT_HANDLE *handle) {
    standinEnter();
    const FT_STATUS status = simD2xx()->openEx(arg, flags, handle);
    if (status == FT_OK) standinHandleOpened(*handle);
    return status;
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle) {
    standinEnter();
    standinHandleClosed(handle);
    return simD2xx()->close(handle);
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baud) {
    standinEnter();
    return simD2xx()->setBaudRate(handle, baud);
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity) {
    standinEnter();
    return simD2xx()->setDataCharacteristics(handle, wordLength, stopBits, parity);
}

FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, uint32_t readMs, uint32_t writeMs) {
    standinEnter();
    return simD2xx()->setTimeouts(handle, readMs, writeMs);
}

FT_STATUS FT_API FT_Purge(FT_HANDLE handle, uint32_t mask) {
    standinEnter();
    return simD2xx()->purge(handle, mask);
}

FT_STATUS FT_API FT_Read(FT_HANDLE handle, void *buffer, uint32_t length, uint32_t *done) {
    standinEnter();
    return simD2xx()->read(handle, buffer, length, done);
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void *buffer, uint32_t length, uint32_t *done) {
    standinEnter();
    return simD2xx()->write(handle, buffer, length, done);
}

FT_STATUS FT_API FT_GetDeviceInfo(FT_HANDLE handle, uint32_t *type, uint32_t *id, char *serial,
                                  char *description, void *reserved) {
    standinEnter();
    return simD2xx()->getDeviceInfo(handle, type, id, serial, description, reserved);
}

FT_STATUS FT_API FT_GetComPortNumber(FT_HANDLE handle, int32_t *port) {
    standinEnter();
    return simD2xx()->getComPortNumber(handle, port);
}

FT_STATUS FT_API FT_WriteEE(FT_HANDLE handle, uint32_t wordOffset, uint16_t value) {
    standinEnter();
    return simD2xx()->writeEE(handle, wordOffset, value);
}

FT_STATUS FT_API FT_CyclePort(FT_HANDLE handle) {
    standinEnter();
    return simD2xx()->cyclePort(handle);
}

FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
    standinEnter();
    return simD2xx()->setLatencyTimer(handle, ms);
}

FT_STATUS FT_API FT_ReadEE(FT_HANDLE handle, uint32_t wordOffset, uint16_t *value) {
    standinEnter();
    return simD2xx()->readEE(handle, wordOffset, value);
}

}  // extern "C"
