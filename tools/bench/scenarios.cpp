// The benchmark's driving part: runs the real program against the stand-in in real time and
// leaves what it did beside the stand-in's trace, for tools/bench_report.py to measure.
//
// Press and detection times are written in the trace's own clock (milliseconds since the
// stand-in was loaded), converted through the origin the stand-in notes in its trace.
#include <cstdio>
#include <string>

#include "tests/e2e/e2e.h"
#include "tests/e2e/scenarios.h"
#include "tests/e2e/texts.h"

namespace {


// One current adapter whose board answers at wire speed.
const char CONNECTED_WORLD[] =
    "adapter\n"
    "  memory random 11\n"
    "  wire-timing on\n"
    "  reenumerate-ms 1000\n";

// The same adapter with its chip's packets and latency timer, the library's cost per call and
// the board's time to answer (the stand-in's defaults for them).
const std::string CHIP_WORLD = std::string(CONNECTED_WORLD) + "  chip on\n";
// As the program would run without setting the latency timer: the stand-in refuses the call, the
// program goes on (as with a library that has no such call) and the timer stays at 16 ms. The
// program reads one byte per call in either run.
const std::string CHIP_WORLD_TIMER16 = CHIP_WORLD + "  latency-timer-fails on\n";

double g_qpcOrigin = 0;
double g_qpcPerMs = 0;

// The stand-in's clock origin, from its trace.
bool readClock() {
    for (const std::string &line : traceLines()) {
        unsigned long long origin = 0, frequency = 0;
        const size_t at = line.find("# clock ");
        if (at != std::string::npos &&
            sscanf(line.c_str() + at, "# clock qpc-origin=%llu qpc-frequency=%llu", &origin, &frequency) == 2) {
            g_qpcOrigin = double(origin);
            g_qpcPerMs = double(frequency) / 1000.0;
            return true;
        }
    }
    REQUIRE(false, "the trace has no clock line");
}

double traceNowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double(now.QuadPart) - g_qpcOrigin) / g_qpcPerMs;
}

FILE *g_events = nullptr;

void event(const char *what, double ms) {
    fprintf(g_events, "%s %.3f\n", what, ms);
    fflush(g_events);
}

bool openEvents() {
    g_events = _wfopen((g_runDir + L"bench-events.txt").c_str(), L"w");
    REQUIRE(g_events, "cannot write bench-events.txt");
    return true;
}

bool connected(double seconds) {
    CHECK(waitLogEndsWith(CHOICE, seconds));
    CHECK(waitButtons("ERW-", 5));
    return true;
}

// Holds the program in its present state until tools/bench.sh has measured it.
bool holdForMeasurement() {
    CHECK(writeFile(g_runDir + L"hold-ready", {}));
    REQUIRE(waitUntil(60, [] { return fileExists(g_runDir + L"hold-done"); }),
            "the measurement did not finish");
    return true;
}

bool closeProgram() {
    closeWindow();
    REQUIRE(waitForExit(5), "the program did not end after WM_CLOSE");
    return true;
}

bool idleWait() {
    CHECK(prepareRun("bench_idle_wait", CONNECTED_WORLD));
    CHECK(startProgram());
    CHECK(connected(30));
    CHECK(holdForMeasurement());
    return closeProgram();
}

bool idleSearch() {
    CHECK(prepareRun("bench_idle_search", "# No adapter attached.\n"));
    CHECK(startProgram());
    Sleep(1000);
    CHECK(holdForMeasurement());
    return closeProgram();
}

// Presses `button` at the moment given and notes it.
bool pressAt(int button, const char *name) {
    const double ms = traceNowMs();
    CHECK(pressButton(button));
    event(name, ms);
    return true;
}

bool waitReconnected() {
    CHECK(waitLogEndsWith(RECONNECT, 60));
    CHECK(connected(30));
    return true;
}

bool operationsIn(const char *name, const std::string &world) {
    CHECK(prepareRun(name, world));
    CHECK(startProgram());
    CHECK(connected(30));
    CHECK(readClock());
    CHECK(openEvents());
    // The run's first block pays the stand-in's one-time costs (its first dump files); an Erase
    // before the measured ones takes them.
    CHECK(pressAt(IDC_ERASE, "warmup-erase"));
    CHECK(waitReconnected());
    // Presses fall at different moments of the board query cycle (500 ms).
    const DWORD offsets[] = {130, 370, 610};
    for (DWORD offset : offsets) {
        Sleep(offset);
        CHECK(pressAt(IDC_ERASE, "press-erase"));
        CHECK(waitReconnected());
    }
    std::wstring image;
    for (DWORD offset : offsets) {
        // A new file each time: the dialog asks nothing.
        image = g_runDir + L"image-" + std::to_wstring(offset) + L".bin";
        Sleep(offset);
        CHECK(pressAt(IDC_READ, "press-read"));
        HWND dialog;
        CHECK(waitForDialog(SAVE_TITLE, 60, dialog));
        CHECK(answerDialog(dialog, image));
        CHECK(waitReconnected());
    }
    for (int i = 0; i < 3; ++i) {
        CHECK(pressAt(IDC_WRITE, "press-write"));
        HWND dialog;
        CHECK(waitForDialog(OPEN_TITLE, 10, dialog));
        CHECK(answerDialog(dialog, image));
        CHECK(waitReconnected());
    }
    return closeProgram();
}

bool operations() { return operationsIn("bench_operations", CHIP_WORLD); }
bool operationsTimer16() { return operationsIn("bench_operations_timer16", CHIP_WORLD_TIMER16); }

// The adapter appears five times; each time, the moment its announce line shows is noted.
bool detection() {
    std::string world = CONNECTED_WORLD;
    world += "  plugged no\n";
    const int plugAt[] = {5000, 11000, 17000, 23000, 29000};
    for (int at : plugAt) {
        world += "at " + std::to_string(at) + " plug 0\n";
        world += "at " + std::to_string(at + 4500) + " unplug 0\n";
    }
    CHECK(prepareRun("bench_detection", world));
    CHECK(startProgram());
    Sleep(500);
    CHECK(readClock());
    CHECK(openEvents());
    const std::wstring &lost = DISCONNECTED;
    for (int at : plugAt) {
        event("plug", at);
        // A tight poll, since the moment the line shows is what is measured. Until then the
        // log holds the start text or the last disconnect line.
        auto announced = [&] {
            const std::wstring log = logText();
            return log.find(FOUND) != std::wstring::npos && log.find(lost) == std::wstring::npos;
        };
        const ULONGLONG start = GetTickCount64();
        while (!announced() && secondsSince(start) < 8) Sleep(1);
        REQUIRE(announced(), "the adapter plugged at %d ms was not announced", at);
        event("announced", traceNowMs());
        CHECK(waitLogEndsWith(lost, 8));
    }
    return closeProgram();
}

const Scenario BENCHMARKS[] = {
    {"bench_idle_wait", idleWait},
    {"bench_idle_search", idleSearch},
    {"bench_operations_timer16", operationsTimer16},
    {"bench_operations", operations},
    {"bench_detection", detection},
};

}  // namespace

const Scenario *benchmarks(size_t &count) {
    count = sizeof BENCHMARKS / sizeof BENCHMARKS[0];
    return BENCHMARKS;
}
