// The program's image file code on real Windows file calls (under Wine in the tests), each call
// of a save made to fail in turn: what is on disk afterwards is what counts.
#include <cstring>

#include "app/image_files.h"
#include "tests/e2e/e2e.h"
#include "tests/e2e/scenarios.h"

namespace {

UINT WINAPI failTempName(LPCWSTR, LPCWSTR, UINT, LPWSTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}
BOOL WINAPI failWrite(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}
BOOL WINAPI failMove(LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
}

struct SaveCase {
    const char *name;
    bool existing;            // an older image is there before the save
    ImageFileCalls calls;     // the real calls with some made to fail
    FileResult result;
    bool replaced;            // the file holds the new image afterwards
};

const ImageFileCalls REAL = {GetTempFileNameW, WriteFile, MoveFileExW};

const SaveCase SAVES[] = {
    {"new file", false, REAL, FILE_OK, true},
    {"new file, write fails: nothing left", false, {GetTempFileNameW, failWrite, MoveFileExW}, FILE_IO_FAILED, false},
    {"existing file through a temporary file", true, REAL, FILE_OK, true},
    // Never written in place, where a failure part-way would damage the older image.
    {"existing file, no temporary file: refused", true, {failTempName, WriteFile, MoveFileExW}, FILE_OPEN_FAILED, false},
    {"existing file, no temporary file, writes would fail", true, {failTempName, failWrite, MoveFileExW}, FILE_OPEN_FAILED, false},
    {"existing file, temporary write fails", true, {GetTempFileNameW, failWrite, MoveFileExW}, FILE_IO_FAILED, false},
    {"existing file, move fails", true, {GetTempFileNameW, WriteFile, failMove}, FILE_IO_FAILED, false},
};

// Runs one save in an empty folder and checks the folder afterwards.
bool checkSave(const std::wstring &folder, const SaveCase &c) {
    const std::wstring target = folder + L"image.bin";
    const std::vector<uint8_t> older = pattern(1, MEMORY_SIZE), newer = pattern(2, MEMORY_SIZE);
    if (c.existing) CHECK(writeFile(target, older));
    const FileResult result = saveImageFileWin32(c.calls, target.c_str(), newer.data());
    REQUIRE(result == c.result, "%s: result %d, expected %d", c.name, int(result), int(c.result));
    std::vector<uint8_t> onDisk;
    const bool present = readFile(target, onDisk);
    if (c.replaced)
        REQUIRE(present && onDisk == newer, "%s: the file does not hold the new image", c.name);
    else if (c.existing)
        REQUIRE(present && onDisk == older, "%s: the older file was changed", c.name);
    else
        REQUIRE(!present, "%s: a partial new file was left behind", c.name);
    const size_t expectedFiles = present ? 1 : 0;
    REQUIRE(filesIn(folder).size() == expectedFiles, "%s: %u files in the folder afterwards", c.name,
            unsigned(filesIn(folder).size()));
    DeleteFileW(target.c_str());
    return true;
}

struct SizeCase {
    int64_t size;
    FileResult result;
};

}  // namespace

bool imageFileSaves() {
    CHECK(prepareRun("image_file_saves", ""));
    const std::wstring folder = g_runDir + L"saves\\";
    REQUIRE(CreateDirectoryW(folder.c_str(), nullptr), "cannot make the folder");
    for (const SaveCase &c : SAVES) CHECK(checkSave(folder, c));

    // A folder whose path leaves no room for a temporary name on Windows (Wine makes one all the
    // same; the refused case is the injected one above): both kinds of target are saved.
    std::wstring deep = folder;
    while (deep.size() < MAX_PATH - 12) {
        deep += std::wstring(std::min<size_t>(40, MAX_PATH - 12 - deep.size()), L'd') + L"\\";
        REQUIRE(CreateDirectoryW(deep.c_str(), nullptr), "cannot make %s", utf8(deep).c_str());
    }
    CHECK(checkSave(deep, SaveCase{"near the path limit, new", false, REAL, FILE_OK, true}));
    CHECK(checkSave(deep, SaveCase{"near the path limit, existing", true, REAL, FILE_OK, true}));

    // A target held open by another program, and one in a missing folder, cannot be created.
    const std::wstring held = folder + L"held.bin";
    CHECK(writeFile(held, pattern(3, MEMORY_SIZE)));
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE, "cannot hold the file");
    const std::vector<uint8_t> image(MEMORY_SIZE, 0x5A);
    const FileResult heldResult = saveImageFileWin32(REAL, held.c_str(), image.data());
    CloseHandle(holder);
    REQUIRE(heldResult == FILE_OPEN_FAILED, "a file held open was saved over (%d)", int(heldResult));
    std::vector<uint8_t> kept;
    REQUIRE(readFile(held, kept) && kept == pattern(3, MEMORY_SIZE), "the held file changed");
    REQUIRE(filesIn(folder).size() == 1, "the refused save left files behind");
    REQUIRE(saveImageFileWin32(REAL, (folder + L"missing\\x.bin").c_str(), image.data()) == FILE_OPEN_FAILED,
            "a file in a missing folder was saved");

    // Loading looks at the whole 64-bit size: 4 GiB plus one image is not an image (sparse).
    const SizeCase sizes[] = {{MEMORY_SIZE, FILE_OK}, {MEMORY_SIZE - 1, FILE_BAD_SIZE},
                              {MEMORY_SIZE + 1, FILE_BAD_SIZE}, {0, FILE_BAD_SIZE},
                              {(int64_t(1) << 32) + MEMORY_SIZE, FILE_BAD_SIZE}};
    const std::wstring sized = folder + L"sized.bin";
    for (const SizeCase &c : sizes) {
        HANDLE file = CreateFileW(sized.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        REQUIRE(file != INVALID_HANDLE_VALUE, "cannot make the sized file");
        LARGE_INTEGER end;
        end.QuadPart = c.size;
        const bool sizedOk = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
        CloseHandle(file);
        REQUIRE(sizedOk, "cannot make a file of %lld bytes", static_cast<long long>(c.size));
        std::vector<uint8_t> loaded(MEMORY_SIZE);
        const FileResult r = loadImageFileWin32(sized.c_str(), loaded.data());
        REQUIRE(r == c.result, "a file of %lld bytes loads as %d", static_cast<long long>(c.size), int(r));
    }
    DeleteFileW(sized.c_str());
    uint8_t none[1];
    REQUIRE(loadImageFileWin32((folder + L"absent.bin").c_str(), none) == FILE_OPEN_FAILED, "a missing file loads");
    return true;
}
