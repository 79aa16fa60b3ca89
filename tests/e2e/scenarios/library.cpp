// Where FTD2XX.dll comes from: missing, built for the other processor, a stranger's beside
// the program with the vendor's installed, and one beside the program alone.
#include "tests/e2e/scenarios.h"
#include "tests/e2e/steps.h"

namespace {

// The program beside no FTD2XX.dll, or beside one built for the other processor: its own error
// box captioned "Fatal error...", and the program ends with exit code 0 once it is dismissed.
bool fatalLibrary(const char *name, const wchar_t *replacement, const wchar_t *expected) {
    CHECK(prepareRun(name, "adapter\n"));
    const std::wstring dll = g_runDir + L"FTD2XX.dll";
    REQUIRE(DeleteFileW(dll.c_str()), "cannot remove the stand-in");
    if (replacement)
        REQUIRE(CopyFileW(replacement, dll.c_str(), FALSE), "cannot copy %s", utf8(replacement).c_str());
    // The box comes while the window is being shown for the first time.
    CHECK(startProgram(true, false));
    HWND box;
    CHECK(waitForDialog(L"Fatal error...", 15, box));
    const std::wstring text = messageBoxText(box);
    REQUIRE(text.find(expected) != std::wstring::npos, "the box reads %s", shown(text).c_str());
    Sleep(300);  // painted, for the screenshot
    screenshot();
    CHECK(pressMessageBoxOk(box));
    DWORD code = 1;
    REQUIRE(waitForExit(10, &code), "the program did not end after the box");
    REQUIRE(code == 0, "exit code %lu", code);
    return true;
}

bool libraryForOtherProcessor() {
    // The stand-in of the other processor beside the program: named, or the win32 build's
    // beside a program from the win64 build.
    std::wstring other = g_paths.otherStandin;
    if (other.empty()) {
        other = g_paths.standin;
        const size_t at = other.rfind(L"\\win64\\");
        REQUIRE(at != std::wstring::npos, "no win64 folder in %s", utf8(other).c_str());
        other.replace(at, 7, L"\\win32\\");
    }
    REQUIRE(fileExists(other), "no stand-in for the other processor at %s", utf8(other).c_str());
    return fatalLibrary("library_other_processor", other.c_str(), L"not built for this program's processor");
}

// A stranger's FTD2XX.dll beside the program and the vendor's installed in the system folder:
// the installed one is used, and the stranger's is never loaded (its DllMain would leave a mark).
bool systemLibraryUsed(const std::wstring &installed) {
    CHECK(prepareRun("library_system_first", "adapter\n"));
    const std::wstring planted = plantedLibrary();
    REQUIRE(CopyFileW(planted.c_str(), (g_runDir + L"FTD2XX.dll").c_str(), FALSE), "cannot copy %s",
            utf8(planted).c_str());
    REQUIRE(CopyFileW(g_paths.standin.c_str(), installed.c_str(), FALSE), "cannot install the stand-in as %s",
            utf8(installed).c_str());
    // Had the stranger's been loaded, the program would end in an error box without a window.
    const bool started = startProgram();
    REQUIRE(!fileExists(g_runDir + PLANTED_LIBRARY_MARK), "the library beside the program was loaded");
    CHECK(started);
    CHECK(waitLogEquals(FIRST_CONNECTION, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    screenshot();
    CHECK(closeAndCheck());
    REQUIRE(!fileExists(g_runDir + PLANTED_LIBRARY_MARK), "the library beside the program was loaded");
    return true;
}

bool librarySystemFirst() {
    const std::wstring system = programSystemFolder();
    REQUIRE(!system.empty(), "no system folder");
    const std::wstring installed = system + L"FTD2XX.dll";
    REQUIRE(!fileExists(installed), "%s is there before the scenario put it there", utf8(installed).c_str());
    const bool passed = systemLibraryUsed(installed);
    // The program lets go of the library when it ends; later scenarios must find none there.
    killProgram();
    REQUIRE(DeleteFileW(installed.c_str()) || !fileExists(installed), "cannot remove %s",
            utf8(installed).c_str());
    return passed;
}

// None in the system folder: the library beside the program is loaded, by its full path. A
// stranger's there is loaded too (its DllMain ran), and the program names what it lacks.
bool libraryBesideProgram() {
    const std::wstring installed = programSystemFolder() + L"FTD2XX.dll";
    REQUIRE(!fileExists(installed), "%s is there", utf8(installed).c_str());
    const std::wstring planted = plantedLibrary();
    REQUIRE(fileExists(planted), "no planted library at %s", utf8(planted).c_str());
    CHECK(fatalLibrary("library_beside_program", planted.c_str(),
                       L"FTD2XX.dll has no entry point FT_CreateDeviceInfoList."));
    REQUIRE(fileExists(g_runDir + PLANTED_LIBRARY_MARK), "the library beside the program was not loaded");
    return true;
}

const Scenario SCENARIOS[] = {
    {"library_missing",
     [] { return fatalLibrary("library_missing", nullptr, L"the adapter's driver library is missing"); }},
    {"library_other_processor", libraryForOtherProcessor},
    {"library_system_first", librarySystemFirst},
    {"library_beside_program", libraryBesideProgram},
};

}  // namespace

const Scenario *libraryScenarios(size_t &count) { return tableOf(SCENARIOS, count); }
