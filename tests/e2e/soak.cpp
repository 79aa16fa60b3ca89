// The soak: a long session of the real program beside the stand-in. Hundreds of connections (the
// adapter unplugged and plugged again, and the port cycle that ends every completed operation),
// with operations spread among them: Erase, Read to a file and Write from a file, and their
// failures (a refused block, cancelled dialogs, an unplug in the middle). At the start and every
// SAMPLE_EVERY connections the program's handles, threads, memory and file descriptors and the
// adapter handles it holds are sampled; after the first SAMPLE_EVERY none may grow beyond its
// allowance.
#include "tests/e2e/steps.h"

#include <tlhelp32.h>

#include <cstdio>

#include "tests/e2e/scenarios.h"

int g_soakConnections = SOAK_SHORT_CONNECTIONS;
int g_soakOperations = SOAK_SHORT_OPERATIONS;

namespace {

// Growth allowed from the sample after the first SAMPLE_EVERY connections (by then every kind of
// step, dialog and file has been used once) to any later sample. Over the full soak's last 250
// connections a leak of one handle, thread or descriptor per connection exceeds them by far, and
// so does one 32 KB image buffer per operation (about 80 of them).
constexpr int SAMPLE_EVERY = 50;
constexpr long HANDLE_ALLOWANCE = 8;  // files the stand-in and Wine hold open for a moment
// Wine's file dialog (wine-8.0's comdlg32, as a program of a dozen lines shows too) leaves one
// registry key open for every file chosen in it; Windows does not. Registry keys are counted
// apart from the other handles and may grow by one per file chosen, and by this much beyond.
constexpr long REGISTRY_KEY_ALLOWANCE = 2;
constexpr long THREAD_ALLOWANCE = 1;
constexpr long RSS_ALLOWANCE_KB = 2048;  // the heap and Wine's caches settling
constexpr long FD_ALLOWANCE = 4;
constexpr long ADAPTER_HANDLE_ALLOWANCE = 0;  // exactly the connection's two channels


// Without wire timing a block operation takes about a second: the soak counts connections, not
// bytes. The unplug in the middle of an Erase switches it on for that Erase, so that it lasts.
const char WORLD[] = "adapter\n  memory random 17\n  wire-timing off\n  reenumerate-ms 300\n";
constexpr double SOAK_OPERATION_S = 60;

struct Sample {
    int connections, operations;
    double seconds;
    long handles;       // other than registry keys
    long registryKeys;
    long filesChosen;   // in the file dialogs, so far
    long threads, rssKb, fds, adapterHandles;
};

struct Soak {
    int operations = 0;
    long filesChosen = 0;
    int registryKeyType = -1;  // the object type of a registry key in the system handle table
    std::wstring images;     // the folder the image files are saved to and written from
    long unixPid = 0;        // the program as Linux sees it
    ULONGLONG start = 0;
    std::vector<Sample> samples;
};

// --- the figures ---

// A Linux file's text, read through Wine's Z: drive; empty when it cannot be read.
std::string linuxFile(const std::wstring &path) {
    std::vector<uint8_t> bytes;
    readFile(path, bytes);
    return std::string(bytes.begin(), bytes.end());
}

std::wstring procPath(long pid, const wchar_t *name) {
    return L"Z:\\proc\\" + std::to_wstring(pid) + L"\\" + name;
}

// Wine runs the program as a Linux process whose command line is the program's Windows path,
// here unique to the run folder; under user-mode emulation (the 32-bit program where the kernel
// refuses 32-bit code) the emulator and Wine's loader come first and the path last.
// (Z:\proc\self would be wineserver's: it opens files for us.)
long findUnixProcess() {
    const std::string program = utf8(g_runDir + L"KestaOBD1EMU.exe");
    for (const WIN32_FIND_DATAW &entry : entriesIn(L"Z:\\proc\\")) {
        const std::wstring name = entry.cFileName;
        if (name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        std::string commandLine = linuxFile(L"Z:\\proc\\" + name + L"\\cmdline");
        if (!commandLine.empty() && commandLine.back() == '\0') commandLine.pop_back();
        const std::string first = commandLine.substr(0, commandLine.find('\0'));
        const std::string last = commandLine.substr(commandLine.rfind('\0') + 1);
        if (lstrcmpiA(first.c_str(), program.c_str()) == 0 || lstrcmpiA(last.c_str(), program.c_str()) == 0)
            return std::stol(name);
    }
    return 0;
}

long residentKb(long pid) {
    const std::string status = linuxFile(procPath(pid, L"status"));
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

long openDescriptors(long pid) {
    const size_t n = entriesIn(procPath(pid, L"fd") + L"\\").size();
    return n ? long(n) : -1;
}

long threadCount(DWORD processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    long n = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == processId) ++n;
    CloseHandle(snapshot);
    return n;
}

// The system's handle table (under Wine its server's): every process's handles with their object
// types, so the program's registry keys can be told apart, and a count where
// GetProcessHandleCount answers 0, as Wine's does.
struct SystemHandleEntry {
    ULONG ownerProcessId;
    BYTE objectType, flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};
typedef LONG(WINAPI *QuerySystemInformation)(ULONG kind, PVOID data, ULONG size, PULONG needed);
constexpr ULONG SYSTEM_HANDLE_INFORMATION = 16;
constexpr LONG STATUS_INFO_LENGTH_MISMATCH = LONG(0xC0000004);

// Reads the table's entries; false when it cannot be read.
bool systemHandles(std::vector<SystemHandleEntry> &entries) {
    const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return false;
    std::vector<uint8_t> buffer(1 << 16);
    LONG status;
    ULONG needed = 0;
    while ((status = query(SYSTEM_HANDLE_INFORMATION, buffer.data(), ULONG(buffer.size()), &needed)) ==
           STATUS_INFO_LENGTH_MISMATCH)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return false;
    const auto *table = reinterpret_cast<const SystemHandleTable *>(buffer.data());
    entries.assign(table->entries, table->entries + table->count);
    return true;
}

// The type number of a registry key in the table (it differs between systems): that of a key the
// driver opens itself.
int registryKeyType() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    int type = -1;
    std::vector<SystemHandleEntry> handles;
    if (systemHandles(handles))
        for (const SystemHandleEntry &e : handles)
            if (e.ownerProcessId == GetCurrentProcessId() && e.value == USHORT(uintptr_t(key))) type = e.objectType;
    RegCloseKey(key);
    return type;
}

// The program's handles: all of them and the registry keys among them; false when unknown.
bool countHandles(int keyType, long &all, long &keys) {
    std::vector<SystemHandleEntry> handles;
    if (!systemHandles(handles)) return false;
    all = keys = 0;
    for (const SystemHandleEntry &e : handles) {
        if (e.ownerProcessId != programId()) continue;
        ++all;
        if (e.objectType == keyType) ++keys;
    }
    // Where the system reports the count itself (Wine answers 0), it is the one that counts.
    DWORD reported = 0;
    if (GetProcessHandleCount(programProcess(), &reported) && reported > 0) all = long(reported);
    return true;
}

bool takeSample(Soak &s, int connections) {
    long all = -1, keys = -1;
    const bool counted = countHandles(s.registryKeyType, all, keys);
    Sample x = {connections,      s.operations,      secondsSince(s.start), all - keys,
                keys,             s.filesChosen,     threadCount(programId()),
                residentKb(s.unixPid), openDescriptors(s.unixPid), -1};
    // The stand-in rewrites its count whole; a read that catches it empty is made again.
    REQUIRE(waitUntil(5, [&] { return (x.adapterHandles = adapterHandlesOpen()) >= 0; }),
            "the stand-in's adapter-handles.txt cannot be read");
    REQUIRE(counted && x.handles > 0 && x.threads > 0 && x.rssKb > 0 && x.fds > 0,
            "a figure cannot be taken: handles %ld, threads %ld, RSS %ld KB, fds %ld", x.handles, x.threads,
            x.rssKb, x.fds);
    printf("  %d connections, %d operations, %.0f s: handles %ld, registry keys %ld (%ld files chosen), "
           "threads %ld, RSS %ld KB, fds %ld, adapter handles %ld\n",
           x.connections, x.operations, x.seconds, x.handles, x.registryKeys, x.filesChosen, x.threads, x.rssKb,
           x.fds, x.adapterHandles);
    fflush(stdout);
    s.samples.push_back(x);
    return true;
}

// The latest sample against the one after the first SAMPLE_EVERY connections.
bool checkGrowth(const Soak &s) {
    const Sample &now = s.samples.back();
    if (now.connections <= SAMPLE_EVERY) return true;
    const Sample *base = &s.samples[1];  // taken after SAMPLE_EVERY connections, the first at the start
    struct Figure {
        const char *name;
        long base, now, allowance;
    } figures[] = {
        {"handles", base->handles, now.handles, HANDLE_ALLOWANCE},
        {"registry keys", base->registryKeys, now.registryKeys,
         now.filesChosen - base->filesChosen + REGISTRY_KEY_ALLOWANCE},
        {"threads", base->threads, now.threads, THREAD_ALLOWANCE},
        {"RSS (KB)", base->rssKb, now.rssKb, RSS_ALLOWANCE_KB},
        {"fds", base->fds, now.fds, FD_ALLOWANCE},
        {"adapter handles", base->adapterHandles, now.adapterHandles, ADAPTER_HANDLE_ALLOWANCE},
    };
    for (const Figure &f : figures)
        REQUIRE(f.now - f.base <= f.allowance, "%s grew from %ld to %ld between %d and %d connections (allowed: +%ld)",
                f.name, f.base, f.now, SAMPLE_EVERY, now.connections, f.allowance);
    return true;
}

// --- the steps: each ends in a new connection, waiting for the user's choice ---

bool reconnected() {
    CHECK(waitLogEquals(RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    return true;
}

bool unplugAndPlug() {
    CHECK(control("unplug 0"));
    CHECK(waitLogEndsWith(CHOICE + DISCONNECTED, 15));
    CHECK(waitButtons("----", 5));
    CHECK(control("plug 0"));
    return reconnected();
}

bool boardHolds(const std::vector<uint8_t> &image) {
    std::vector<uint8_t> memory;
    CHECK(boardMemory(memory));
    REQUIRE(memory == image, "the board memory differs from what it should hold");
    return true;
}

bool eraseAll(Soak &) {
    CHECK(pressButton(IDC_ERASE));
    CHECK(waitLogEndsWith(ERASE_OPENING + VERIFY_STEP + RECONNECT, SOAK_OPERATION_S));
    CHECK(boardHolds(std::vector<uint8_t>(IMAGE, 0xFF)));
    return reconnected();
}

bool saveTo(Soak &s, const std::wstring &path, bool asked) {
    CHECK(pressButton(IDC_READ));
    HWND dialog, question;
    CHECK(waitForDialog(SAVE_TITLE, SOAK_OPERATION_S, dialog));
    if (asked) {
        CHECK(answerDialogAsked(dialog, path, question));
        CHECK(pressMessageBoxButton(question, IDYES));
    } else {
        CHECK(answerDialog(dialog, path));
    }
    ++s.filesChosen;
    CHECK(waitLogEndsWith(SAVE_STEP + RECONNECT, 10));
    std::vector<uint8_t> saved;
    REQUIRE(readFile(path, saved), "no file at %s", utf8(path).c_str());
    return boardHolds(saved);
}

bool readToNewFile(Soak &s) {
    const std::wstring path = s.images + L"read-" + std::to_wstring(s.operations) + L".bin";
    CHECK(saveTo(s, path, false));
    DeleteFileW(path.c_str());
    return reconnected();
}

bool readOverFile(Soak &s) {
    CHECK(saveTo(s, s.images + L"kept.bin", true));
    return reconnected();
}

bool openUpload(Soak &s, std::vector<uint8_t> &image) {
    image = pattern(uint32_t(1000 + s.operations), IMAGE);
    const std::wstring path = s.images + L"upload.bin";
    CHECK(writeFile(path, image));
    CHECK(pressButton(IDC_WRITE));
    HWND dialog;
    CHECK(waitForDialog(OPEN_TITLE, 10, dialog));
    ++s.filesChosen;
    return answerDialog(dialog, path);
}

bool writeAll(Soak &s) {
    std::vector<uint8_t> image;
    CHECK(openUpload(s, image));
    CHECK(waitLogEndsWith(WRITE_STEP + VERIFY_STEP + RECONNECT, SOAK_OPERATION_S));
    CHECK(boardHolds(image));
    return reconnected();
}

// The board refuses a block: the failure is held, and the adapter, still attached, reconnects.
bool writeRefused(Soak &s) {
    CHECK(control("set 0 refuse-write-block 40"));
    std::vector<uint8_t> image;
    CHECK(openUpload(s, image));
    CHECK(waitLogEndsWith(WRITE_STEP + BLOCK_FAILED, SOAK_OPERATION_S));
    CHECK(reconnected());
    return control("set 0 refuse-write-block off");
}

bool readCancelled(Soak &) {
    CHECK(pressButton(IDC_READ));
    HWND dialog;
    CHECK(waitForDialog(SAVE_TITLE, SOAK_OPERATION_S, dialog));
    CHECK(cancelDialog(dialog));
    CHECK(waitLogEndsWith(SAVE_STEP + CANCELED, 5));
    return reconnected();
}

// A Write cancelled in its dialog keeps the connection; the new one comes from an unplug.
bool writeCancelled(Soak &) {
    CHECK(pressButton(IDC_WRITE));
    HWND dialog;
    CHECK(waitForDialog(OPEN_TITLE, 10, dialog));
    CHECK(cancelDialog(dialog));
    CHECK(waitLogEndsWith(WRITE_OPENING + CANCELED + REPORT_AGAIN + CHOICE, 15));
    CHECK(waitButtons("ERW-", 5));
    return unplugAndPlug();
}

bool eraseUnplugged(Soak &) {
    CHECK(control("set 0 wire-timing on"));
    CHECK(pressButton(IDC_ERASE));
    REQUIRE(waitUntil(SOAK_OPERATION_S, [] { return progressPosition() >= 20; }), "Erase did not get going");
    CHECK(control("unplug 0"));
    CHECK(waitLogEndsWith(ERASE_OPENING + BLOCK_FAILED + DISCONNECTED, 20));
    CHECK(control("set 0 wire-timing off"));
    CHECK(control("plug 0"));
    return reconnected();
}

struct SoakOperation {
    const char *name;
    bool (*run)(Soak &);
};

// Taken in turn; all of them come within the first SAMPLE_EVERY connections. The short soak's
// last few operations, after its first SAMPLE_EVERY connections, are the last rows: those with a
// file.
const SoakOperation OPERATIONS[] = {
    {"Erase", eraseAll},
    {"Write, a block refused", writeRefused},
    {"Read, the save dialog cancelled", readCancelled},
    {"Write", writeAll},
    {"Write, the open dialog cancelled", writeCancelled},
    {"Erase", eraseAll},
    {"Read to a new file", readToNewFile},
    {"Write", writeAll},
    {"Read over a file, asked and answered Yes", readOverFile},
    {"Erase, unplugged in the middle", eraseUnplugged},
};
constexpr int OPERATION_KINDS = sizeof OPERATIONS / sizeof OPERATIONS[0];

bool writeFigures(const Soak &s, int adapterHandlesAtExit) {
    FILE *out = _wfopen((g_runDir + L"soak-figures.txt").c_str(), L"w");
    REQUIRE(out, "cannot write soak-figures.txt");
    for (const Sample &x : s.samples)
        fprintf(out,
                "sample connections=%d operations=%d seconds=%.1f handles=%ld registry_keys=%ld files_chosen=%ld "
                "threads=%ld rss_kb=%ld fds=%ld adapter_handles=%ld\n",
                x.connections, x.operations, x.seconds, x.handles, x.registryKeys, x.filesChosen, x.threads,
                x.rssKb, x.fds, x.adapterHandles);
    fprintf(out, "exit adapter_handles=%d seconds=%.1f\n", adapterHandlesAtExit, secondsSince(s.start));
    fclose(out);
    return true;
}

}  // namespace

bool soak() {
    REQUIRE(g_soakConnections > SAMPLE_EVERY && g_soakOperations >= OPERATION_KINDS &&
                g_soakOperations <= g_soakConnections,
            "a soak needs more than %d connections and from %d operations up to one per connection",
            SAMPLE_EVERY, OPERATION_KINDS);
    Soak s;
    CHECK(prepareRun("soak", WORLD));
    s.images = g_runDir + L"images\\";
    REQUIRE(CreateDirectoryW(s.images.c_str(), nullptr), "cannot make the images folder");
    CHECK(writeFile(s.images + L"kept.bin", pattern(5, IMAGE)));
    s.start = GetTickCount64();
    CHECK(startProgram());
    CHECK(waitLogEquals(SEARCHING + RECONNECTED, CONNECT_S));
    CHECK(waitButtons("ERW-", 5));
    s.registryKeyType = registryKeyType();
    REQUIRE(s.registryKeyType >= 0, "the system handle table cannot be read");
    s.unixPid = findUnixProcess();
    REQUIRE(s.unixPid > 0, "no Linux process under Z:\\proc runs %s", utf8(g_runDir + L"KestaOBD1EMU.exe").c_str());
    CHECK(takeSample(s, 0));

    for (int connection = 1; connection <= g_soakConnections; ++connection) {
        // The operations spread evenly over the connections.
        const bool operate = long(connection) * g_soakOperations / g_soakConnections >
                             long(connection - 1) * g_soakOperations / g_soakConnections;
        if (operate) {
            const SoakOperation &op = OPERATIONS[s.operations % OPERATION_KINDS];
            ++s.operations;
            if (!op.run(s)) {
                failAt(__LINE__, "in operation %d (%s), connection %d", s.operations, op.name, connection);
                return false;
            }
        } else if (!unplugAndPlug()) {
            failAt(__LINE__, "in the unplug and plug before connection %d", connection);
            return false;
        }
        if (connection % SAMPLE_EVERY == 0 || connection == g_soakConnections) {
            CHECK(takeSample(s, connection));
            CHECK(checkGrowth(s));
        }
    }
    screenshot();
    closeWindow();
    REQUIRE(waitForExit(10), "the program did not end after WM_CLOSE");
    CHECK(checkTraceClean());
    CHECK(checkChannelsClosedAtExit());
    int atExit = -1;
    REQUIRE(waitUntil(5, [&] { return (atExit = adapterHandlesOpen()) >= 0; }), "no adapter handle count at exit");
    REQUIRE(atExit == 0, "the program ended holding %d adapter handles", atExit);
    CHECK(writeFigures(s, atExit));

    const Sample *base = &s.samples[1];  // as in checkGrowth
    const Sample &last = s.samples.back();
    printf("  took %.0f s\n", secondsSince(s.start));
    printf("soak: %d connections, %d operations; handles %+ld, threads %+ld, RSS %+ld KB, fds %+ld, "
           "adapter handles open %d; registry keys %+ld for %ld files chosen (Wine's file dialog)\n",
           g_soakConnections, s.operations, last.handles - base->handles, last.threads - base->threads,
           last.rssKb - base->rssKb, last.fds - base->fds, atExit, last.registryKeys - base->registryKeys,
           last.filesChosen - base->filesChosen);
    return true;
}
