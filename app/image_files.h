// Reading and saving image files on Windows: the file half of the host seam.
//
// The calls a save makes are passed in as a table, so that the end-to-end driver can make each of
// them fail in turn; the program always passes IMAGE_FILE_CALLS.
#pragma once

#include <windows.h>

#include <cstdint>

#include "worker/host.h"

struct ImageFileCalls {
    UINT(WINAPI *getTempFileName)(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name);
    BOOL(WINAPI *writeFile)(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                            LPOVERLAPPED overlapped);
    BOOL(WINAPI *moveFileEx)(LPCWSTR from, LPCWSTR to, DWORD flags);
};
// The system's own calls.
extern const ImageFileCalls IMAGE_FILE_CALLS;

// Reads a whole image file: FILE_BAD_SIZE unless its 64-bit size is exactly MEMORY_SIZE.
FileResult loadImageFileWin32(const wchar_t *path, uint8_t *image);
// Saves an image so that a failure leaves no partial new file and an existing file as it was.
// An existing file is replaced through a temporary file beside it; where none can be made the
// save is refused (FILE_OPEN_FAILED) and the file left untouched.
FileResult saveImageFileWin32(const ImageFileCalls &calls, const wchar_t *path,
                              const uint8_t *image);
