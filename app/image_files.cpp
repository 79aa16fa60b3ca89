// Image files on Windows. A save never leaves half an image behind: a new file is removed again
// when its write fails, and an existing one is replaced only by a complete temporary file moved
// over it, or not at all.
#include "app/image_files.h"

const ImageFileCalls IMAGE_FILE_CALLS = {GetTempFileNameW, WriteFile, MoveFileExW};

namespace {

// The folder part of `path`, with its trailing separator, for a temporary file beside it.
bool folderOf(const wchar_t *path, wchar_t *folder, size_t capacity) {
    size_t end = 0;  // one past the last separator
    size_t length = 0;
    for (; path[length]; ++length)
        if (path[length] == L'\\' || path[length] == L'/') end = length + 1;
    if (end == 0 && length >= 2 && path[1] == L':') end = 2;  // "C:name" is relative to drive C
    if (end == 0) {
        lstrcpyW(folder, L".");
        return true;
    }
    if (end >= capacity) return false;
    for (size_t i = 0; i < end; ++i) folder[i] = path[i];
    folder[end] = L'\0';
    return true;
}

// Writes the whole image to an open file and makes it durable; false when any of it failed.
bool writeWhole(const ImageFileCalls &calls, HANDLE file, const uint8_t *image) {
    DWORD written = 0;
    return calls.writeFile(file, image, MEMORY_SIZE, &written, nullptr) &&
           written == MEMORY_SIZE && SetEndOfFile(file) && FlushFileBuffers(file);
}

FileResult saveNewFile(const ImageFileCalls &calls, const wchar_t *path, const uint8_t *image) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return FILE_OPEN_FAILED;
    const bool complete = writeWhole(calls, file, image);
    CloseHandle(file);
    if (complete) return FILE_OK;
    DeleteFileW(path);
    return FILE_IO_FAILED;
}

// A complete temporary file beside the target, or false when none can be made there (a folder
// whose path leaves no room for the temporary name, or one we may not create files in).
bool writeTemporary(const ImageFileCalls &calls, const wchar_t *path, const uint8_t *image,
                    wchar_t *temporary, bool &written) {
    written = false;
    wchar_t folder[MAX_PATH];
    // GetTempFileNameW creates the file under a name no other file has.
    if (!folderOf(path, folder, MAX_PATH) ||
        !calls.getTempFileName(folder, L"kst", 0, temporary))
        return false;
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(temporary);
        return false;
    }
    written = writeWhole(calls, file, image);
    CloseHandle(file);
    if (!written) DeleteFileW(temporary);
    return true;
}

FileResult saveExistingFile(const ImageFileCalls &calls, const wchar_t *path,
                            const uint8_t *image) {
    wchar_t temporary[MAX_PATH];
    bool written = false;
    // No temporary file can be made here: the save is refused rather than written in place. An
    // in-place write that fails part-way would leave the old image damaged, and putting the old
    // bytes back would go to the same failing disk. A new file in this folder needs no temporary
    // file, so the user can still save under another name.
    if (!writeTemporary(calls, path, image, temporary, written)) return FILE_OPEN_FAILED;
    if (written &&
        calls.moveFileEx(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return FILE_OK;
    if (written) DeleteFileW(temporary);
    return FILE_IO_FAILED;
}

}  // namespace

FileResult loadImageFileWin32(const wchar_t *path, uint8_t *image) {
    HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FILE_OPEN_FAILED;
    FileResult result = FILE_OK;
    // The whole 64-bit size: a file of 4 GiB plus one image is not an image.
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart != MEMORY_SIZE) {
        result = FILE_BAD_SIZE;
    } else {
        DWORD read = 0;
        if (!ReadFile(file, image, MEMORY_SIZE, &read, nullptr) || read != MEMORY_SIZE)
            result = FILE_IO_FAILED;
    }
    CloseHandle(file);
    return result;
}

FileResult saveImageFileWin32(const ImageFileCalls &calls, const wchar_t *path,
                              const uint8_t *image) {
    // Find out, without truncating anything, whether the target exists and may be written:
    // a read-only, locked or folder target cannot be created.
    HANDLE target = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target != INVALID_HANDLE_VALUE) {
        CloseHandle(target);
        return saveExistingFile(calls, path, image);
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return FILE_OPEN_FAILED;
    return saveNewFile(calls, path, image);
}
