// e2e_driver: runs one end-to-end scenario against the real program and the FTD2XX.dll stand-in.
//
//   e2e_driver --list | --list-bench
//   e2e_driver NAME [--program EXE] [--standin DLL] [--work FOLDER]
//              [--full | --soak-connections N --soak-operations M]
//
// By default the program and the stand-in are taken from the build folder the driver lives in
// (KestaOBD1EMU.exe and standin\FTD2XX.dll) and each scenario runs in WORK\NAME\ (default
// ..\e2e\run\ beside that folder). The soak is the short one unless --full or a size is given. Exit code 0:
// passed; 1: failed; 2: wrong use.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/e2e/e2e.h"
#include "tests/e2e/scenarios.h"

namespace {

std::wstring withSlash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder;
}

std::wstring fullPath(const std::wstring &path) {
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return n && n < MAX_PATH * 4 ? std::wstring(full, n) : path;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    size_t count = 0;
    const Scenario *table = scenarios(count);
    size_t benchCount = 0;
    const Scenario *bench = benchmarks(benchCount);
    const std::wstring only = argc == 2 ? argv[1] : L"";
    if (only == L"--list" || only == L"--list-bench") {
        const bool tests = only == L"--list";
        const Scenario *list = tests ? table : bench;
        for (size_t i = 0; i < (tests ? count : benchCount); ++i) printf("%s\n", list[i].name);
        return 0;
    }

    wchar_t self[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring folder(self, length);
    folder.erase(folder.find_last_of(L'\\') + 1);
    g_paths.program = folder + L"KestaOBD1EMU.exe";
    g_paths.standin = folder + L"standin\\FTD2XX.dll";
    g_paths.workRoot = folder + L"..\\e2e\\run\\";

    std::string name;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--program" && hasValue) g_paths.program = argv[++i];
        else if (arg == L"--standin" && hasValue) g_paths.standin = argv[++i];
        else if (arg == L"--other-standin" && hasValue) g_paths.otherStandin = fullPath(argv[++i]);
        else if (arg == L"--time-factor" && hasValue) g_timeFactor = _wtof(argv[++i]);
        else if (arg == L"--work" && hasValue) g_paths.workRoot = argv[++i];
        else if (arg == L"--full") {
            g_soakConnections = SOAK_FULL_CONNECTIONS;
            g_soakOperations = SOAK_FULL_OPERATIONS;
        }
        else if (arg == L"--soak-connections" && hasValue) g_soakConnections = _wtoi(argv[++i]);
        else if (arg == L"--soak-operations" && hasValue) g_soakOperations = _wtoi(argv[++i]);
        else if (name.empty() && arg.compare(0, 2, L"--") != 0) name = utf8(arg);
        else name = "?";
    }
    g_paths.program = fullPath(g_paths.program);
    g_paths.standin = fullPath(g_paths.standin);
    g_paths.workRoot = withSlash(fullPath(g_paths.workRoot));

    if (!(g_timeFactor >= 1)) name = "?";

    const Scenario *chosen = nullptr;
    for (size_t i = 0; i < count; ++i)
        if (name == table[i].name) chosen = &table[i];
    for (size_t i = 0; i < benchCount; ++i)
        if (name == bench[i].name) chosen = &bench[i];
    if (!chosen) {
        printf("usage: e2e_driver --list | --list-bench | NAME [--program EXE] [--standin DLL]\n"
               "       [--other-standin DLL] [--time-factor F] [--work FOLDER]\n"
               "       [--full | --soak-connections N --soak-operations M]\n");
        return 2;
    }

    printf("%s\n", chosen->name);
    fflush(stdout);
    const bool passed = chosen->run() && !failed();
    killProgram();
    printf("%s %s\n", passed ? "PASS" : "FAIL", chosen->name);
    return passed ? 0 : 1;
}
