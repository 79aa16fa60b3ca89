// The connection loop against the simulator and the recording host, in virtual time: what the
// user sees from search to choice, the tails after an operation, lost adapters, stopping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/cases.h"
#include "tests/support/host_recorder.h"
#include "tests/support/texts.h"
#include "worker/window_ops.h"
#include "worker/worker.h"

namespace {

using Texts = std::vector<std::string>;

using namespace text;
const char READY[] = "buttons ready";  // the buttons came on

class WorkerConnection : public ::testing::Test {
protected:
    RecordingHost host;

    void TearDown() override {
        EXPECT_FALSE(host.hitLimit) << "the worker ran into the test's time limit";
        EXPECT_EQ(host.windowOpsAfterStop, 0) << "the worker drove the window after the stop";
        EXPECT_EQ(host.sim.world.openHandles, 0) << "a channel was left open";
        for (const SimAdapter &a : host.sim.world.adapters) EXPECT_EQ(a.board.protocolErrors, 0);
    }

    void run() { EXPECT_EQ(workerMain(host.worker), 0); }
    void stopNow() { host.stop = true; }
    void stopAt(uint64_t ms) { host.atMs(ms, [this] { stopNow(); }); }
    // Stops the worker `afterMs` after a log text appeared, so what follows it is seen too.
    void stopAfter(const std::string &text, uint64_t afterMs = 100) {
        host.whenLog(text, [this, afterMs] { stopAt(host.ms() + afterMs); });
    }
    int count(const std::string &text) const {
        return int(std::count(host.logTexts.begin(), host.logTexts.end(), text));
    }
    // Answers every file dialog with an image file that is there.
    void offerImage() {
        host.answerDialog = [](FileDialogKind, std::wstring &name) { return name = L"C:\\i.bin", true; };
        host.files[L"C:\\i.bin"] = std::vector<uint8_t>(MEMORY_SIZE, 0x11);
    }
    bool anyButton() const {
        return std::count(host.buttons + OP_ERASE, host.buttons + OP_UPDATE + 1, true) != 0;
    }
};

// When each status query was sent, in order.
std::vector<uint64_t> statusQueryTimes(const Sim &sim) {
    std::vector<uint64_t> times;
    for (const SimCall &c : sim.world.trace)
        if (c.fn == SIM_WRITE && c.data == std::vector<uint8_t>{'V', 'V'}) times.push_back(c.time);
    return times;
}

int statusQueries(const Sim &sim) { return int(statusQueryTimes(sim).size()); }

const Texts FIRST_CONNECTION = {
    SEARCHING, FOUND, "Ok.", "\r\n", "Ostrich Ver. 01.02.\r\n", "RTP port:\t\tCOM5.\r\n",
    "Datalog port:\tCOM6.\r\n", "---\r\n", CHOICE,
};

TEST_F(WorkerConnection, FirstConnectionReportsAdapterBoardAndPorts) {
    simAddAdapter(host.sim);
    stopAfter(CHOICE);
    run();
    EXPECT_EQ(host.logTexts, FIRST_CONNECTION);
    EXPECT_EQ(host.typeLabel, "KESTA OBD1 EMU");
    EXPECT_EQ(host.labels[LABEL_OSTRICH_VERSION], "Ver. 01.02");
    EXPECT_EQ(host.labels[LABEL_RTP_PORT], "COM5");
    EXPECT_EQ(host.labels[LABEL_DATA_PORT], "COM6");
    EXPECT_TRUE(host.buttons[OP_ERASE] && host.buttons[OP_READ] && host.buttons[OP_WRITE]);
    EXPECT_FALSE(host.buttons[OP_UPDATE]);
    EXPECT_EQ(g_appState.deviceFound.load(), 1);
    EXPECT_EQ(g_appState.updateRequired.load(), 0);
    // The start text stays until the adapter is found; then the status line empties at once.
    EXPECT_EQ(host.events[1], "status Connect the ECU with Kesta OBD1 EMU installed hold 4294967295");
    EXPECT_NE(std::find(host.events.begin(), host.events.end(), "status  hold 1"), host.events.end());
}

TEST_F(WorkerConnection, VersionDigitsAreTwoUpperCaseHexDigits) {
    simAddAdapter(host.sim);
    simAdapter(host.sim, 0).board.version = 0x0A0F;
    stopAfter(CHOICE);
    run();
    EXPECT_EQ(count("Ostrich Ver. 0A.0F.\r\n"), 1);
    EXPECT_EQ(host.labels[LABEL_OSTRICH_VERSION], "Ver. 0A.0F");
}

TEST_F(WorkerConnection, SilentBoardReportsNoStatusAndKeepsPollingUntilUnplugged) {
    simAddAdapter(host.sim);
    simAdapter(host.sim, 0).board.versionReply = SIM_REPLY_SILENT;
    host.atMs(20000, [&] { simUnplug(host.sim, 0); });
    stopAfter(DISCONNECTED);
    run();
    EXPECT_EQ(host.logTexts, (Texts{SEARCHING, FOUND, "Fail.", "\r\n", "---\r\n", NO_STATUS, DISCONNECTED}));
    EXPECT_EQ(host.labels[LABEL_OSTRICH_VERSION], "");
    EXPECT_FALSE(anyButton());
    // Three connect queries, the choice query, then one every 500 ms for about 18 seconds.
    const int queries = statusQueries(host.sim);
    EXPECT_GE(queries, 30);
    EXPECT_LE(queries, 45);
}

TEST_F(WorkerConnection, ThreeConnectQueriesForASilentBoard) {
    simAddAdapter(host.sim);
    simAdapter(host.sim, 0).board.versionReply = SIM_REPLY_SILENT;
    int queries = 0;
    host.whenLog("Fail.", [&] {
        queries = statusQueries(host.sim);
        stopNow();
    });
    run();
    EXPECT_EQ(queries, 3);
}

TEST_F(WorkerConnection, WaitQueriesStartEvery500Ms) {
    simAddAdapter(host.sim);
    simAdapter(host.sim, 0).board.wireTiming = true;
    host.whenLog(CHOICE, [this] { stopAt(host.ms() + 5100); });
    run();
    const std::vector<uint64_t> starts = statusQueryTimes(host.sim);
    // The connect query and the choice query, then the wait's: the first at once, then every 500.
    ASSERT_GE(starts.size(), 2u + 10u);
    for (size_t i = 3; i < starts.size(); ++i)
        EXPECT_NEAR(double(starts[i] - starts[i - 1]) / 1000, 500.0, 1.0) << "query " << i;
}

// An adapter that identifies but fails its first query at once is searched for again after a
// pause, not in a tight loop.
TEST_F(WorkerConnection, ShortLivedConnectionsArePaced) {
    simAddAdapter(host.sim);
    static D2xxApi api;
    api = *host.worker.link.d2xx;
    api.write = [](FT_HANDLE, void *, uint32_t, uint32_t *) -> FT_STATUS { return FT_IO_ERROR; };
    host.worker.link.d2xx = &api;
    // Without the pause virtual time would stand still: end such a run instead of hanging.
    static RecordingHost *self;
    self = &host;
    host.sim.world.onCall = [](Sim &, const SimCall &c) {
        static int searches = 0;
        if (c.fn == SIM_CREATE_LIST && ++searches % 1000 == 0) self->stop = true;
    };
    stopAt(host.ms() + 1000);
    run();
    const int passes = count(FOUND);
    EXPECT_GE(passes, 10);
    EXPECT_LE(passes, 21);  // one per 50 ms pause
}

// The info box shows channel A's description without the library's " A", and only that.
struct SuffixCase {
    const char *name;
    const char *description;  // as the device list gives it
    const char *shown;
};

void PrintTo(const SuffixCase &c, std::ostream *os) { *os << c.name; }

class ChannelSuffix : public WorkerConnection, public ::testing::WithParamInterface<SuffixCase> {};

TEST_P(ChannelSuffix, IsTrimmedExactly) {
    const SuffixCase &c = GetParam();
    simAddAdapter(host.sim);  // accepted and picked by its serials
    FT_DEVICE_LIST_INFO_NODE &r = simAdapter(host.sim, 0).channels[0].record;
    memset(r.Description, 0, sizeof r.Description);
    memcpy(r.Description, c.description, strlen(c.description));
    ASSERT_TRUE(findAdapter(host.worker.link));
    AdapterIdentity identity = {};
    ASSERT_TRUE(identifyAdapter(host.worker.link, identity));
    EXPECT_STREQ(identity.description, c.shown);
    closeChannels(host.worker.link);
}

INSTANTIATE_TEST_SUITE_P(Descriptions, ChannelSuffix,
                         ::testing::Values(SuffixCase{"ChannelA", "KESTA OBD1 EMU A", "KESTA OBD1 EMU"},
                                           SuffixCase{"LowerCaseA", "KESTA OBD1 EMU a", "KESTA OBD1 EMU a"},
                                           SuffixCase{"OnlyTheSuffix", " A", ""},
                                           SuffixCase{"OnlyTheLetter", "A", "A"},
                                           SuffixCase{"NoBlankBeforeA", "XA", "XA"},
                                           SuffixCase{"Empty", "", ""}),
                         CaseName());

// A text the C library cannot format (a wide character with no narrow form) is logged empty,
// never as the part formatted before the failure or whatever the buffer held.
TEST_F(WorkerConnection, AFormatThatFailsLogsAnEmptyText) {
    logText(host.worker, "abc%ls", L"\u00e9");
    EXPECT_EQ(host.logTexts, std::vector<std::string>{""});
}

struct ClassCase {
    const char *name;
    uint32_t usbId;
    SimVersionReply reply;
    const char *announce;
    const char *message;  // null: none
};

class AdapterClasses : public WorkerConnection, public ::testing::WithParamInterface<ClassCase> {};

TEST_P(AdapterClasses, ClassMessageFollowsTheSeparatorAndDecidesTheButtons) {
    const ClassCase &c = GetParam();
    SimAdapterConfig config;
    config.usbId = c.usbId;
    simAddAdapter(host.sim, config);
    simAdapter(host.sim, 0).board.versionReply = c.reply;
    stopAfter(CHOICE);
    run();
    EXPECT_EQ(host.logTexts[1], std::string(c.announce) + ".\r\nConnecting... ");
    auto sep = std::find(host.logTexts.begin(), host.logTexts.end(), "---\r\n");
    ASSERT_NE(sep, host.logTexts.end());
    if (c.message) {
        EXPECT_EQ(*(sep + 1), c.message);
        EXPECT_EQ(*(sep + 2), CHOICE);
        EXPECT_TRUE(host.buttons[OP_UPDATE]);
        EXPECT_FALSE(host.buttons[OP_ERASE] || host.buttons[OP_READ] || host.buttons[OP_WRITE]);
    } else {
        EXPECT_EQ(*(sep + 1), CHOICE);
        EXPECT_FALSE(host.buttons[OP_UPDATE]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Identities, AdapterClasses,
    ::testing::Values(
        ClassCase{"Current", 0x04036010, SIM_REPLY_NORMAL, "Found Kesta OBD1 EMU [0403/6010]", nullptr},
        ClassCase{"Old", 0x04036D20, SIM_REPLY_NORMAL, "Found Kesta OBD1 EMU [0403/6D20]", NEEDS_UPDATE},
        ClassCase{"OldSilentBoard", 0x04036D20, SIM_REPLY_SILENT, "Found Kesta OBD1 EMU [0403/6D20]", NEEDS_UPDATE},
        ClassCase{"OtherProduct", 0x04036001, SIM_REPLY_NORMAL, "Found Kesta OBD1 EMU [0403/6001]", INVALID_ID},
        ClassCase{"OtherVendorSilent", 0x12340042, SIM_REPLY_SILENT, "Found Kesta OBD1 EMU [1234/0042]", INVALID_ID}),
    CaseName());

struct PortCase {
    const char *name;
    int32_t port;
    FT_STATUS status;
    const char *label;  // "" when the port is not shown
};

class PortNumbers : public WorkerConnection, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortNumbers, OnlyPortsFrom1To255AreShown) {
    const PortCase &c = GetParam();
    simAddAdapter(host.sim);
    for (SimChannel &ch : simAdapter(host.sim, 0).channels) {
        ch.comPort = c.port;
        ch.comPortStatus = c.status;
    }
    // Labels from an earlier connection must be replaced, not kept.
    host.labels[LABEL_RTP_PORT] = host.labels[LABEL_DATA_PORT] = "COM9";
    stopAfter(CHOICE);
    run();
    EXPECT_EQ(host.labels[LABEL_RTP_PORT], c.label);
    EXPECT_EQ(host.labels[LABEL_DATA_PORT], c.label);
    const bool shown = *c.label != '\0';
    EXPECT_EQ(count(std::string("RTP port:\t\t") + c.label + ".\r\n"), shown ? 1 : 0);
    EXPECT_EQ(count(std::string("Datalog port:\t") + c.label + ".\r\n"), shown ? 1 : 0);
    EXPECT_EQ(host.logTexts.size(), FIRST_CONNECTION.size() - (shown ? 0 : 2));
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortNumbers,
    ::testing::Values(PortCase{"One", 1, FT_OK, "COM1"}, PortCase{"Max", 255, FT_OK, "COM255"},
                      PortCase{"Zero", 0, FT_OK, ""}, PortCase{"TooLarge", 256, FT_OK, ""},
                      PortCase{"Unknown", -1, FT_OK, ""}, PortCase{"CallFails", 7, FT_IO_ERROR, ""}),
    CaseName());

TEST_F(WorkerConnection, UnpluggedWhileWaitingClearsInfoAndSearchesAgain) {
    simAddAdapter(host.sim);
    host.whenLog(CHOICE, [this] { host.atMs(host.ms() + 1200, [&] { simUnplug(host.sim, 0); }); });
    host.whenLog(DISCONNECTED, [this] { host.atMs(host.ms() + 1000, [&] { simPlug(host.sim, 0); }); });
    host.whenLog(DISCONNECTED, [this] { stopAfter(CHOICE); });
    run();
    auto lost = std::find(host.logTexts.begin(), host.logTexts.end(), DISCONNECTED);
    ASSERT_NE(lost, host.logTexts.end());
    // The disconnect emptied all four labels and disabled the buttons.
    auto lostEvent = std::find(host.events.begin(), host.events.end(), std::string("log ") + DISCONNECTED);
    EXPECT_EQ(Texts(lostEvent - 5, lostEvent), (Texts{"buttons off", "type ", "label 0 ", "label 1 ", "label 2 "}));
    // A later identification empties the log before anything else is written.
    auto cleared = std::find(lost, host.logTexts.end(), "");
    ASSERT_NE(cleared, host.logTexts.end());
    EXPECT_EQ(*(cleared + 1), FOUND);
    EXPECT_EQ(host.logPane.rfind("Found Kesta OBD1 EMU", 0), 0u);
    EXPECT_EQ(host.typeLabel, "KESTA OBD1 EMU");
}

struct IncompleteCase {
    const char *name;
    void (*setUp)(SimAdapter &);
};

class IncompleteAdapters : public WorkerConnection, public ::testing::WithParamInterface<IncompleteCase> {};

TEST_P(IncompleteAdapters, AreDroppedSilently) {
    const IncompleteCase &c = GetParam();
    simAddAdapter(host.sim);
    c.setUp(simAdapter(host.sim, 0));
    stopAt(5000);
    EXPECT_EQ(workerMain(host.worker), 0);
    EXPECT_EQ(host.logTexts, Texts{SEARCHING});
    EXPECT_EQ(host.typeLabel, "");
    EXPECT_EQ(g_appState.deviceFound.load(), 0);
    EXPECT_EQ(host.sim.world.openHandles, 0);
    // Searches go on, paced rather than back to back.
    const int searches = simCount(host.sim, SIM_CREATE_LIST);
    EXPECT_GE(searches, 20);
    EXPECT_LE(searches, 101);
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, IncompleteAdapters,
    ::testing::Values(
        IncompleteCase{"DeviceInfoFails", [](SimAdapter &a) { a.channels[0].deviceInfoStatus = FT_IO_ERROR; }},
        IncompleteCase{"ChannelBMissing", [](SimAdapter &a) { a.channels[1].listed = false; }},
        IncompleteCase{"ChannelBWillNotOpen", [](SimAdapter &a) { a.channels[1].openFails = true; }}),
    CaseName());

TEST_F(WorkerConnection, LatencyTimerIsSetOnlyWhereTheLibraryCan) {
    struct Case {
        const char *name;
        bool present, fails;
        uint8_t timerMs;
        int calls;
    };
    const Case cases[] = {
        {"present", true, false, 2, 2}, {"absent", false, false, 16, 0}, {"failing", true, true, 16, 2}};
    static D2xxApi library;
    Texts firstLog;
    std::vector<std::string> firstCalls;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        host.reset();
        simAddAdapter(host.sim);
        library = *simD2xx(host.sim);
        if (!c.present) library.setLatencyTimer = nullptr;
        host.worker.link.d2xx = &library;
        for (SimChannel &ch : simAdapter(host.sim, 0).channels) ch.failSetting = c.fails ? 4 : 0;
        stopAfter(CHOICE);
        EXPECT_EQ(workerMain(host.worker), 0);
        // Every other call, its channel, arguments, bytes and outcome, in order.
        std::vector<std::string> calls;
        for (const SimCall &call : host.sim.world.trace) {
            if (call.fn == SIM_SET_LATENCY) continue;
            std::string line = std::string(simFnName(call.fn)) + " " + std::to_string(call.channel) +
                               " " + std::to_string(call.status);
            for (uint32_t a : call.arg) line += " " + std::to_string(a);
            for (uint8_t b : call.data) line += " " + std::to_string(b);
            calls.push_back(line);
        }
        if (firstCalls.empty()) firstLog = host.logTexts, firstCalls = calls;
        EXPECT_EQ(host.logTexts, FIRST_CONNECTION);
        EXPECT_EQ(host.logTexts, firstLog);
        EXPECT_EQ(calls, firstCalls);
        EXPECT_EQ(simCount(host.sim, SIM_SET_LATENCY), c.calls);
        for (const SimChannel &ch : simAdapter(host.sim, 0).channels) EXPECT_EQ(ch.latencyMs, c.timerMs);
    }
}

TEST_F(WorkerConnection, IdleSearchAndIdleWaitArePaced) {
    // No adapter: at most one search per 50 ms.
    stopAt(11000);
    run();
    const int searches = simCount(host.sim, SIM_CREATE_LIST);
    EXPECT_GE(searches, 150);
    EXPECT_LE(searches, 201);
    EXPECT_LE(host.clockReads, 10u * 200);

    // Waiting for a choice: two queries a second, and the waits are long ones.
    host.reset();
    simAddAdapter(host.sim);
    uint64_t readsAtChoice = 0, waitsAtChoice = 0;
    host.whenLog(CHOICE, [&] {
        readsAtChoice = host.clockReads;
        waitsAtChoice = host.waits;
        stopAt(host.ms() + 10000);
    });
    EXPECT_EQ(workerMain(host.worker), 0);
    EXPECT_LE(host.waits - waitsAtChoice, 25u);
    EXPECT_LE(host.clockReads - readsAtChoice, 20u * 20);
}

TEST_F(WorkerConnection, RequestIsTakenUpAtOnce) {
    simAddAdapter(host.sim);
    host.whenEvent(READY, [this] { host.atMs(host.ms() + 1400, [this] { host.press(OP_ERASE); }); });
    host.whenLog(ERASE_OPENING, [this] { stopNow(); });
    run();
    const uint64_t startedAt = host.msOfLog(ERASE_OPENING);
    const uint64_t pressedAt = host.msOf("press " + std::to_string(OP_ERASE));
    ASSERT_NE(startedAt, 0u);
    // A query in flight (its reply time-out) may finish first; nothing else delays the request.
    EXPECT_LE(startedAt - pressedAt, 300u + 10);
}

// A code that names no operation runs nothing: the connection waits on, still polling the board.
TEST_F(WorkerConnection, UnknownRequestCodeIsIgnored) {
    simAddAdapter(host.sim);
    host.whenEvent(READY, [this] { host.press(Operation(7)), stopAt(host.ms() + 2000); });
    run();
    EXPECT_EQ(host.logTexts.back(), CHOICE);
    EXPECT_EQ(simCount(host.sim, SIM_WRITE_EE) + simCount(host.sim, SIM_CYCLE_PORT), 0);
    EXPECT_GE(statusQueries(host.sim), 5);
}

TEST_F(WorkerConnection, FailedWriteFileStepReportsAgainOnTheSameConnection) {
    SimAdapterConfig old;
    old.usbId = 0x04036D20;
    simAddAdapter(host.sim, old);
    int chooses = 0;
    host.whenEvent(READY, [&] { ++chooses; host.press(OP_WRITE); });  // dialog: cancelled
    host.whenLog(CANCELED, [&] { host.whenLog(CHOICE, [&] { ++chooses; stopAt(host.ms() + 100); }); });
    run();
    EXPECT_EQ(Texts(host.logTexts.end() - 10, host.logTexts.end()),
              (Texts{CHOICE, WRITE_OPENING, CANCELED, "\r\n", "Ostrich Ver. 01.02.\r\n", "RTP port:\t\tCOM5.\r\n",
                     "Datalog port:\tCOM6.\r\n", "---\r\n", NEEDS_UPDATE, CHOICE}));
    EXPECT_EQ(chooses, 2);
    EXPECT_EQ(count(FOUND_OLD), 1);
    EXPECT_EQ(count(NEEDS_UPDATE), 2);
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 0);
    EXPECT_EQ(host.statusText, "Operation canceled!");
    EXPECT_TRUE(host.buttons[OP_UPDATE]);
}

TEST_F(WorkerConnection, FailedHoldLastsFiveSecondsThenDropsForRead) {
    simAddAdapter(host.sim);
    host.whenEvent(READY, [this] { host.press(OP_READ); });  // save dialog: cancelled
    host.whenLog(DISCONNECTED, [this] { stopNow(); });
    run();
    EXPECT_EQ(host.msOfLog(DISCONNECTED) - host.msOfLog(CANCELED), 5000u);
    EXPECT_EQ(host.statusText, "Operation canceled!");
    EXPECT_EQ(g_appState.statusHold.load(), 50u);
    EXPECT_EQ(host.labels[LABEL_RTP_PORT], "");
}

TEST_F(WorkerConnection, PressRightAfterTheButtonsReturnIsNotLost) {
    simAddAdapter(host.sim);
    host.whenEvent(READY, [this] {
        host.press(OP_WRITE);  // cancelled: the connection stays
        // The user presses Erase the moment the buttons are back, before the report runs.
        host.whenEvent(READY, [this] { host.press(OP_ERASE); });
    });
    host.whenLog(ERASE_OPENING, [this] { stopNow(); });
    run();
    EXPECT_EQ(host.logTexts.back(), ERASE_OPENING);
}

struct TailCase {
    const char *name;
    Operation op;
    bool cycleFails;
};

class SuccessTails : public WorkerConnection, public ::testing::WithParamInterface<TailCase> {};

// Only a failed cycle after an Update is told: the adapter keeps its old identity until it is
// unplugged. After the others the search finds it again either way.
TEST_P(SuccessTails, CycleThePortAndKeepTheLabels) {
    const TailCase &c = GetParam();
    SimAdapterConfig config;
    if (c.op == OP_UPDATE) config.usbId = 0x04036D20;
    simAddAdapter(host.sim, config);
    simAdapter(host.sim, 0).cyclePortFails = c.cycleFails;
    offerImage();
    host.whenEvent(READY, [this, c] {
        host.press(c.op);
        host.whenLog(CHOICE, [this] { stopAt(host.ms() + 100); });
    });
    int32_t blockingAtEnd = -1;
    host.whenLog(RECONNECT, [&] { blockingAtEnd = g_appState.blockingOperation; });
    run();
    EXPECT_EQ(blockingAtEnd, 0) << "the session stays blocked past the ending text";
    auto ok = std::find(host.events.begin(), host.events.end(), "log  Ok.\r\nRe-connect...");
    ASSERT_NE(ok, host.events.end());
    auto next = std::find(ok, host.events.end(), "clear log");
    ASSERT_NE(next, host.events.end());
    // Between the success text and the next identification nothing touches the info box, the
    // log or the buttons, unless the user must re-plug the adapter; that is held 5 s.
    const bool told = c.cycleFails && c.op == OP_UPDATE;
    const Texts replug = {std::string("log ") + REPLUG, std::string("status ") + REPLUG_STATUS + " hold 50"};
    EXPECT_EQ(Texts(ok + 1, next), told ? replug : Texts{});
    EXPECT_GE(host.msOf("clear log") - host.msOfLog(RECONNECT), told ? 2000u + 5000u : 2000u);
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 1);
    EXPECT_EQ(count(DISCONNECTED), 0);
    // The progress bar stayed until the next identification showed the status line.
    EXPECT_EQ(*(next + 3), "status  hold 1");
}

INSTANTIATE_TEST_SUITE_P(
    Operations, SuccessTails,
    ::testing::Values(TailCase{"Erase", OP_ERASE, false}, TailCase{"EraseCycleFails", OP_ERASE, true},
                      TailCase{"ReadCycleFails", OP_READ, true}, TailCase{"WriteCycleFails", OP_WRITE, true},
                      TailCase{"UpdateCycleFails", OP_UPDATE, true}),
    CaseName());

struct StopCase {
    const char *name;
    Operation op;         // OP_NONE: stop while waiting for a choice
    const char *trigger;  // log text after which the stop comes
    uint64_t delayMs;
};

class StopRequests : public WorkerConnection, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopRequests, EveryWaitEndsWithinOneReadTimeout) {
    const StopCase &c = GetParam();
    simAddAdapter(host.sim);
    simAdapter(host.sim, 0).board.wireTiming = true;  // block traffic takes its real time
    offerImage();
    host.whenEvent(READY, [this, c] { if (c.op != OP_NONE) host.press(c.op); });
    uint64_t stoppedAt = 0;
    host.whenLog(c.trigger, [&, c] {
        host.atMs(host.ms() + c.delayMs, [&] {
            stoppedAt = host.ms();
            stopNow();
        });
    });
    run();
    ASSERT_NE(stoppedAt, 0u);
    EXPECT_LE(host.ms() - stoppedAt, 300u);
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, StopRequests,
    ::testing::Values(
        StopCase{"Search", OP_NONE, "Searching for device...\r\n", 1},
        StopCase{"Connect", OP_NONE, "Found Kesta OBD1 EMU [0403/6010].\r\nConnecting... ", 10},
        StopCase{"Choice", OP_NONE, CHOICE, 1234},
        StopCase{"Erase", OP_ERASE, " Erase.\r\nClear ECU memory, wait... ", 700},
        StopCase{"EraseSettlePause", OP_ERASE, " Erase.\r\nClear ECU memory, wait... ", 3700},
        StopCase{"EraseVerify", OP_ERASE, " Ok.\r\nVerify ECU memory, wait... ", 1500},
        StopCase{"Read", OP_READ, " Read.\r\nRead data from ECU, wait... ", 1500},
        StopCase{"Write", OP_WRITE, " Ok.\r\nWrite data to ECU, wait... ", 100},
        StopCase{"ReconnectPause", OP_ERASE, " Ok.\r\nRe-connect...", 1000}),
    CaseName());

struct FolderCase {
    const char *name;
    std::wstring programPath;
    std::wstring expected;
};

class FileNameBuffer : public WorkerConnection, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(FileNameBuffer, StartsInTheProgramFolder) {
    const FolderCase &c = GetParam();
    host.programPath = c.programPath;
    host.stop = true;
    EXPECT_EQ(workerMain(host.worker), 0);
    EXPECT_EQ(std::wstring(host.worker.fileName), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, FileNameBuffer, ::testing::ValuesIn(std::vector<FolderCase>{
        {"usual", L"C:\\Tools\\Kesta\\KestaOBD1EMU.exe", L"C:\\Tools\\Kesta\\*.bin"},
        {"no folder", L"KestaOBD1EMU.exe", L"KestaOBD1EMU.exe*.bin"},
        {"unknown", L"", L"*.bin"},
        {"folder just fits", L"C:\\" + std::wstring(250, L'd') + L"\\k.exe",
         L"C:\\" + std::wstring(250, L'd') + L"\\*.bin"},
        {"folder too long", L"C:\\" + std::wstring(251, L'd') + L"\\k.exe", L"*.bin"},
        {"path longer than any buffer", L"C:\\" + std::wstring(5000, L'd') + L"\\k.exe", L"*.bin"},
}), CaseName());

}  // namespace
