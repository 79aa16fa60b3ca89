// A stranger's FTD2XX.dll, as one planted beside the program would be: it has none of the
// library's entry points, and its DllMain leaves planted-library-ran.txt in its own folder, so a
// scenario sees whether the program loaded it at all.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH * 4);
    while (length > 0 && path[length - 1] != L'\\') --length;
    const wchar_t name[] = L"planted-library-ran.txt";
    if (length == 0 || length + sizeof name / sizeof *name > MAX_PATH * 4) return TRUE;
    lstrcpyW(path + length, name);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
