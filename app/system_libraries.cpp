// Library loading that never looks in the program's or the current folder by name: a DLL planted
// there would run with the program's administrator rights.
#include "app/system_libraries.h"

#include <type_traits>

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI *)(DWORD);
static_assert(std::is_same_v<SetDefaultDllDirectoriesFn, decltype(&SetDefaultDllDirectories)>);
using ShutdownBlockReasonCreateFn = BOOL(WINAPI *)(HWND, LPCWSTR);
static_assert(std::is_same_v<ShutdownBlockReasonCreateFn, decltype(&ShutdownBlockReasonCreate)>);
using ShutdownBlockReasonDestroyFn = BOOL(WINAPI *)(HWND);
static_assert(std::is_same_v<ShutdownBlockReasonDestroyFn, decltype(&ShutdownBlockReasonDestroy)>);

constexpr int PATH_CAPACITY = MAX_PATH * 4;

// By full path; an empty folder or a path that does not fit loads nothing.
HMODULE loadFromFolder(const wchar_t *folder, UINT folderLength, const wchar_t *name) {
    const int nameLength = lstrlenW(name);
    if (folderLength == 0 || folderLength + 1 + nameLength >= PATH_CAPACITY) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    wchar_t path[PATH_CAPACITY];
    lstrcpyW(path, folder);
    if (path[folderLength - 1] != L'\\') path[folderLength++] = L'\\';
    lstrcpyW(path + folderLength, name);
    return LoadLibraryExW(path, nullptr, 0);
}

// A call that older Windows lack, from a library the program has loaded already; null without it.
template <typename Fn>
Fn optionalCall(const wchar_t *library, const char *name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(library), name)));
}

}  // namespace

void restrictLibrarySearch() {
    auto restrict =
        optionalCall<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (restrict) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void setShutdownBlockReason(HWND window, const wchar_t *reason) {
    if (!reason) {
        auto destroy = optionalCall<ShutdownBlockReasonDestroyFn>(L"user32.dll",
                                                                  "ShutdownBlockReasonDestroy");
        if (destroy) destroy(window);
        return;
    }
    auto create =
        optionalCall<ShutdownBlockReasonCreateFn>(L"user32.dll", "ShutdownBlockReasonCreate");
    if (create) create(window, reason);
}

HMODULE loadSystemLibrary(const wchar_t *name) {
    HMODULE library = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A loader that does not know the flag refuses it; the system folder's full path serves there.
    if (!library && GetLastError() == ERROR_INVALID_PARAMETER) {
        wchar_t folder[PATH_CAPACITY];
        const UINT length = GetSystemDirectoryW(folder, PATH_CAPACITY);
        library = loadFromFolder(folder, length < PATH_CAPACITY ? length : 0, name);
    }
    return library;
}

HMODULE loadVendorLibrary(const wchar_t *name, bool &wrongProcessor) {
    HMODULE library = loadSystemLibrary(name);
    wrongProcessor = !library && GetLastError() == ERROR_BAD_EXE_FORMAT;
    if (library) return library;

    wchar_t folder[PATH_CAPACITY];
    DWORD length = GetModuleFileNameW(nullptr, folder, PATH_CAPACITY);
    if (length >= PATH_CAPACITY) length = 0;  // cut short: no trustworthy folder
    while (length > 0 && folder[length - 1] != L'\\') --length;
    folder[length] = L'\0';
    library = loadFromFolder(folder, length, name);
    if (!library && GetLastError() == ERROR_BAD_EXE_FORMAT) wrongProcessor = true;
    return library;
}
