// The stand-in's set-up and its files: the simulator on a real-time clock, configured from the
// scenario file named by KESTA_SIM_SCENARIO, with a trace and memory dumps for tests to read and
// a control file through which they unplug and plug adapters while the program runs.
//
// The program calls the library from its worker thread only, and closes the channels at shutdown
// after the worker has stopped, so nothing here is locked.
#include "sim/dll/standin.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim.h"

namespace {

// How often the control file is looked at, at most.
constexpr uint64_t CONTROL_POLL_US = 20000;
// Sleep is coarse; the last stretch of a wait is spun so a wire-timed transfer keeps its pace.
constexpr uint64_t SPIN_US = 1500;
// Waits longer than this are time-outs rather than bytes on their way.
constexpr uint64_t LONG_WAIT_US = 50000;
// Bytes of a group of reads shown in the trace; the count of calls and bytes is always exact.
constexpr size_t TRACED_READ_BYTES = 300;

// Consecutive reads on one channel with one status become one trace line.
struct ReadGroup {
    bool open = false;
    int adapter = -1, channel = -1;
    FT_STATUS status = FT_OK;
    uint64_t time = 0;
    uint64_t lastTime = 0;
    uint32_t calls = 0, bytes = 0;
    std::string hex;
};

// The stand-in's one record: its exported calls carry no object, so they all reach this.
struct Standin {
    LARGE_INTEGER frequency;
    LARGE_INTEGER origin;  // when the library was loaded: the time origin of trace and events
    bool started = false;

    ScenarioWorld world;  // the one simulator, and the scenario's adapters
    Scenario scenario;
    size_t nextEvent = 0;
    std::wstring outputDir;  // with a trailing separator; empty: nothing is written
    HANDLE trace = INVALID_HANDLE_VALUE;
    std::wstring controlPath;
    uint64_t controlSize = 0;  // bytes of the control file already taken
    std::string controlPartial;
    uint64_t nextControlPoll = 0;
    std::vector<int> protocolErrors;  // per adapter, as last reported
    std::vector<FT_HANDLE> unclosed;  // handles given out and not closed yet
    uint64_t handlesOpened = 0;
    ReadGroup reads;
} g_standin;

uint64_t realNowUs(void * = nullptr) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t ticks = uint64_t(now.QuadPart - g_standin.origin.QuadPart);
    const uint64_t f = uint64_t(g_standin.frequency.QuadPart);
    return ticks / f * 1000000u + ticks % f * 1000000u / f;
}

void realSleepUs(void *, uint64_t us) {
    // A long wait is a read time-out, where a millisecond late does not matter: no spinning,
    // so that an idle program is measured, not the stand-in.
    if (us > LONG_WAIT_US) {
        Sleep(DWORD((us + 999) / 1000));
        return;
    }
    const uint64_t until = realNowUs() + us;
    for (uint64_t now = realNowUs(); now < until; now = realNowUs()) {
        const uint64_t left = until - now;
        if (left > SPIN_US + 1000)
            Sleep(DWORD((left - SPIN_US) / 1000));
        else
            YieldProcessor();
    }
}

const SimClock REAL_CLOCK = {nullptr, realNowUs, realSleepUs};

std::wstring widen(const std::string &text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

std::string narrow(const std::wstring &text) {
    if (text.empty()) return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool readWholeFile(const std::wstring &path, std::vector<uint8_t> &bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (64 << 20);
    if (ok) {
        bytes.resize(size_t(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() ||
             (ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr) && got == bytes.size());
    }
    CloseHandle(file);
    return ok;
}

bool readScenarioFile(const std::string &path, std::vector<uint8_t> &bytes) {
    return readWholeFile(widen(path), bytes);
}

// Written whole each time and shared for reading, so a test may read it at any moment and
// retries when it catches a write in progress.
void writeWholeFile(const std::wstring &path, const void *data, DWORD size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, data, size, &written, nullptr);
    CloseHandle(file);
}

// --- trace ---

void writeTraceLine(uint64_t timeUs, const std::string &text) {
    if (g_standin.trace == INVALID_HANDLE_VALUE) return;
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%llu.%03u ", (unsigned long long)(timeUs / 1000),
             unsigned(timeUs % 1000));
    const std::string line = stamp + text + "\r\n";
    DWORD written = 0;
    WriteFile(g_standin.trace, line.data(), DWORD(line.size()), &written, nullptr);
}

void note(const std::string &text) { writeTraceLine(realNowUs(), "# " + text); }

std::string who(int adapter, int channel) {
    std::string s = adapter < 0 ? std::string("-") : "a" + std::to_string(adapter);
    s += '/';
    s += channel < 0 ? '-' : channel == 0 ? 'A' : 'B';
    return s;
}

void appendHex(std::string &out, const uint8_t *bytes, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
}

void flushReads() {
    ReadGroup &r = g_standin.reads;
    if (!r.open) return;
    r.open = false;
    // `last` is when the group's last read returned: the end of a block's answer.
    char head[192];
    snprintf(head, sizeof head, "FT_Read %s st=%u calls=%u bytes=%u last=%llu.%03u",
             who(r.adapter, r.channel).c_str(), unsigned(r.status), unsigned(r.calls), unsigned(r.bytes),
             (unsigned long long)(r.lastTime / 1000), unsigned(r.lastTime % 1000));
    std::string line = head;
    if (r.bytes) line += " data=" + r.hex + (r.bytes > TRACED_READ_BYTES ? "..." : "");
    writeTraceLine(r.time, line);
}

void traceRead(const SimCall &c) {
    ReadGroup &r = g_standin.reads;
    if (r.open && (r.adapter != c.adapter || r.channel != c.channel || r.status != c.status)) flushReads();
    if (!r.open) {
        r = ReadGroup();
        r.open = true;
        r.adapter = c.adapter;
        r.channel = c.channel;
        r.status = c.status;
        r.time = c.time;
    }
    r.lastTime = c.time;
    ++r.calls;
    const size_t room = r.bytes < TRACED_READ_BYTES ? TRACED_READ_BYTES - r.bytes : 0;
    appendHex(r.hex, c.data.data(), std::min(room, c.data.size()));
    r.bytes += uint32_t(c.data.size());
}

// The call's arguments by name, as the program passed them.
std::string arguments(const SimCall &c) {
    char s[96] = "";
    switch (c.fn) {
    case SIM_CREATE_LIST:
    case SIM_GET_LIST: snprintf(s, sizeof s, "count=%u", unsigned(c.arg[0])); break;
    case SIM_OPEN: snprintf(s, sizeof s, "loc=%X flags=%u", unsigned(c.arg[0]), unsigned(c.arg[1])); break;
    case SIM_SET_BAUD: snprintf(s, sizeof s, "baud=%u", unsigned(c.arg[0])); break;
    case SIM_SET_DATA:
        snprintf(s, sizeof s, "bits=%u stop=%u parity=%u", unsigned(c.arg[0]), unsigned(c.arg[1]),
                 unsigned(c.arg[2]));
        break;
    case SIM_SET_TIMEOUTS: snprintf(s, sizeof s, "read=%u write=%u", unsigned(c.arg[0]), unsigned(c.arg[1])); break;
    case SIM_PURGE: snprintf(s, sizeof s, "mask=%u", unsigned(c.arg[0])); break;
    case SIM_SET_LATENCY: snprintf(s, sizeof s, "ms=%u", unsigned(c.arg[0])); break;
    case SIM_WRITE: snprintf(s, sizeof s, "length=%u", unsigned(c.arg[0])); break;
    case SIM_WRITE_EE:
    case SIM_READ_EE: snprintf(s, sizeof s, "word=%u value=%04X", unsigned(c.arg[0]), unsigned(c.arg[1])); break;
    default: break;
    }
    return s;
}

// --- memory dumps ---

void dumpAdapter(int adapter) {
    const Sim &sim = g_standin.world.sim;
    if (g_standin.outputDir.empty() || adapter < 0 || size_t(adapter) >= sim.world.adapters.size())
        return;
    const SimAdapter &a = simAdapter(g_standin.world.sim, adapter);
    const std::wstring n = std::to_wstring(adapter);
    // The memory as the board reads it, its faults included.
    uint8_t memory[sizeof a.board.memory];
    for (uint32_t address = 0; address < sizeof memory; ++address) memory[address] = simBoardByte(a.board, address);
    writeWholeFile(g_standin.outputDir + L"memory-" + n + L".bin", memory, sizeof memory);
    uint8_t eeprom[128];
    for (int i = 0; i < 64; ++i) {
        eeprom[2 * i] = uint8_t(a.eeprom[i]);
        eeprom[2 * i + 1] = uint8_t(a.eeprom[i] >> 8);
    }
    writeWholeFile(g_standin.outputDir + L"eeprom-" + n + L".bin", eeprom, sizeof eeprom);
}

void dumpAll() {
    for (size_t i = 0; i < g_standin.world.sim.world.adapters.size(); ++i) dumpAdapter(int(i));
}

void writeHandleCount() {
    if (g_standin.outputDir.empty()) return;
    char text[96];
    snprintf(text, sizeof text, "open=%u opened=%llu\r\n", unsigned(g_standin.unclosed.size()),
             (unsigned long long)g_standin.handlesOpened);
    writeWholeFile(g_standin.outputDir + L"adapter-handles.txt", text, DWORD(strlen(text)));
}

void handleOpened(FT_HANDLE handle) {
    g_standin.unclosed.push_back(handle);
    ++g_standin.handlesOpened;
    writeHandleCount();
}

void handleClosed(FT_HANDLE handle) {
    for (size_t i = 0; i < g_standin.unclosed.size(); ++i) {
        if (g_standin.unclosed[i] != handle) continue;
        g_standin.unclosed.erase(g_standin.unclosed.begin() + long(i));
        writeHandleCount();
        return;
    }
}

void onCall(Sim &, const SimCall &c) {
    if (c.fn == SIM_READ) {
        traceRead(c);
    } else {
        flushReads();
        std::string line = std::string(simFnName(c.fn)) + " " + who(c.adapter, c.channel) +
                           " st=" + std::to_string(c.status);
        const std::string args = arguments(c);
        if (!args.empty()) line += " " + args;
        if (c.fn == SIM_WRITE) {
            line += " data=";
            appendHex(line, c.data.data(), c.data.size());
        }
        writeTraceLine(c.time, line);
    }
    // A malformed packet is a fault of the program; it must stand out in the trace.
    for (size_t i = 0; i < g_standin.world.sim.world.adapters.size(); ++i) {
        const SimBoard &b = simAdapter(g_standin.world.sim, int(i)).board;
        if (i >= g_standin.protocolErrors.size()) g_standin.protocolErrors.resize(i + 1, 0);
        if (b.protocolErrors != g_standin.protocolErrors[i]) {
            g_standin.protocolErrors[i] = b.protocolErrors;
            note("protocol-error a" + std::to_string(i) + " " + b.lastProtocolError);
        }
    }
    // A handle stays given out until FT_Close, even when its adapter was unplugged meanwhile.
    if (c.fn == SIM_OPEN && c.status == FT_OK) handleOpened(c.handle);
    if (c.fn == SIM_CLOSE) handleClosed(c.handle);
    const bool blockWrite = c.fn == SIM_WRITE && c.channel == 0 && !c.data.empty() && c.data[0] == 'W';
    if (blockWrite || c.fn == SIM_WRITE_EE || c.fn == SIM_CLOSE || c.fn == SIM_CYCLE_PORT)
        dumpAdapter(c.adapter);
}

// --- run-time commands ---

void runCommand(const char *source, const std::string &command) {
    std::string error;
    flushReads();
    if (runScenarioCommand(g_standin.world, command, error)) {
        note(std::string(source) + " " + command);
        dumpAll();
    } else {
        note(std::string(source) + "-error \"" + command + "\": " + error);
    }
}

void pollControlFile() {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(g_standin.controlPath.c_str(), GetFileExInfoStandard, &info)) return;
    const uint64_t size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    if (size <= g_standin.controlSize) return;
    std::vector<uint8_t> bytes;
    if (!readWholeFile(g_standin.controlPath, bytes) || bytes.size() <= g_standin.controlSize) return;
    g_standin.controlPartial.append(bytes.begin() + long(g_standin.controlSize), bytes.end());
    g_standin.controlSize = bytes.size();
    // Only whole lines: the writer may be half-way through the last one.
    size_t start = 0;
    for (size_t end; (end = g_standin.controlPartial.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = g_standin.controlPartial.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) runCommand("control", line);
    }
    g_standin.controlPartial.erase(0, start);
}

void beforeCall(Sim &) {
    // The simulator's own record of calls is not needed here: the trace file has them.
    g_standin.world.sim.world.trace.clear();
    const uint64_t now = realNowUs();
    while (g_standin.nextEvent < g_standin.scenario.events.size() &&
           uint64_t(g_standin.scenario.events[g_standin.nextEvent].atMs) * 1000 <= now)
        runCommand("event", g_standin.scenario.events[g_standin.nextEvent++].command);
    if (!g_standin.controlPath.empty() && now >= g_standin.nextControlPoll) {
        g_standin.nextControlPoll = now + CONTROL_POLL_US;
        pollControlFile();
    }
}

std::wstring folderOf(const std::wstring &path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool isAbsolute(const std::wstring &path) {
    return (!path.empty() && (path[0] == L'\\' || path[0] == L'/')) ||
           (path.size() > 1 && path[1] == L':');
}

// Sets the simulator up on the first call into the library (not in DllMain, where reading files
// is not safe, and not at all in a process that never calls the library, such as a second
// instance that exits at once).
void start() {
    g_standin.started = true;

    wchar_t name[32768];
    const DWORD length = GetEnvironmentVariableW(L"KESTA_SIM_SCENARIO", name, 32768);
    std::string error;
    if (length == 0 || length >= 32768) {
        g_standin.scenario = defaultScenario();
        buildScenarioWorld(g_standin.world, g_standin.scenario, REAL_CLOCK, std::string(), nullptr, error);
    } else {
        const std::wstring path(name, length);
        const std::wstring base = folderOf(path);
        std::vector<uint8_t> bytes;
        const bool read = readWholeFile(path, bytes);
        const std::string text(bytes.begin(), bytes.end());
        bool ok = read && parseScenario(text, g_standin.scenario, error);
        if (!read) error = "cannot read the scenario file";
        g_standin.outputDir = base;
        if (ok && !g_standin.scenario.outputDir.empty()) {
            const std::wstring out = widen(g_standin.scenario.outputDir);
            g_standin.outputDir = isAbsolute(out) ? out : base + out;
            if (g_standin.outputDir.back() != L'\\' && g_standin.outputDir.back() != L'/') g_standin.outputDir += L'\\';
            CreateDirectoryW(g_standin.outputDir.c_str(), nullptr);
        }
        if (g_standin.outputDir.empty()) g_standin.outputDir = L".\\";
        g_standin.trace = CreateFileW((g_standin.outputDir + L"trace.txt").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        g_standin.controlPath = g_standin.outputDir + L"control.txt";
        note("scenario " + narrow(path));
        // Trace times count from here; other processes convert their own clock readings with it.
        note("clock qpc-origin=" + std::to_string(g_standin.origin.QuadPart) +
             " qpc-frequency=" + std::to_string(g_standin.frequency.QuadPart));
        // A scenario that cannot be used leaves nothing attached, so the run shows the error
        // instead of passing against some other world.
        if (ok) ok = buildScenarioWorld(g_standin.world, g_standin.scenario, REAL_CLOCK, narrow(base), readScenarioFile, error);
        if (!ok) {
            note("scenario-error " + error);
            g_standin.scenario = Scenario();
            buildScenarioWorld(g_standin.world, g_standin.scenario, REAL_CLOCK, std::string(), nullptr, error);
        }
    }
    g_standin.world.sim.world.beforeCall = beforeCall;
    g_standin.world.sim.world.onCall = onCall;
    dumpAll();
    writeHandleCount();
}

}  // namespace

const D2xxApi *standinLibrary() {
    if (!g_standin.started) start();
    return simD2xx(g_standin.world.sim);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        QueryPerformanceFrequency(&g_standin.frequency);
        QueryPerformanceCounter(&g_standin.origin);
    } else if (reason == DLL_PROCESS_DETACH && g_standin.started) {
        // The last word of the run: whatever is still open was never closed by the program.
        flushReads();
        dumpAll();
        note("exit open-handles=" + std::to_string(g_standin.world.sim.world.openHandles));
        if (g_standin.trace != INVALID_HANDLE_VALUE) CloseHandle(g_standin.trace);
        g_standin.trace = INVALID_HANDLE_VALUE;
    }
    return TRUE;
}
