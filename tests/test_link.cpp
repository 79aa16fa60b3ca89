// Adapter discovery, channel opening and the byte transport against the simulator, in virtual time.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/cases.h"
#include "tests/support/host_recorder.h"
#include "worker/worker.h"

namespace {

using Texts = std::vector<std::string>;

const uint32_t LOC_A = 0x1001;  // the first adapter's channels, as simAddAdapter places them
const uint32_t LOC_B = 0x1002;

// How channelCalls shows channels A and B of the first adapter opened with the line settings.
const Texts OPENS_A = {"FT_OpenEx 1001 4 0A ok", "FT_SetBaudRate 115200 0A ok", "FT_SetDataCharacteristics 8 2 0 0A ok",
                       "FT_SetTimeouts 300 300 0A ok", "FT_SetLatencyTimer 2 0A ok"};
const Texts OPENS_B = {"FT_OpenEx 1002 4 0B ok", "FT_SetBaudRate 115200 0B ok", "FT_SetDataCharacteristics 8 2 0 0B ok",
                       "FT_SetTimeouts 300 300 0B ok", "FT_SetLatencyTimer 2 0B ok"};

// The library calls that changed a channel's state, as text: "FT_OpenEx 1001 4 ok".
Texts channelCalls(const Sim &sim) {
    // How many arguments each of those calls shows; the trace's other calls are left out.
    const std::map<SimFn, int> shown = {{SIM_OPEN, 2},         {SIM_SET_BAUD, 1},    {SIM_SET_DATA, 3},
                                        {SIM_SET_TIMEOUTS, 2}, {SIM_SET_LATENCY, 1}, {SIM_CLOSE, 0}};
    Texts out;
    for (const SimCall &c : sim.world.trace) {
        const auto it = shown.find(c.fn);
        if (it == shown.end()) continue;
        std::string line = simFnName(c.fn);
        for (int i = 0; i < it->second; ++i) {
            char arg[16];  // a location is shown in hex
            snprintf(arg, sizeof arg, c.fn == SIM_OPEN && i == 0 ? " %X" : " %u", unsigned(c.arg[i]));
            line += arg;
        }
        if (c.adapter >= 0) line += std::string(" ") + char('0' + c.adapter) + "AB"[c.channel];
        line += c.status == FT_OK ? " ok" : " fail";
        out.push_back(line);
    }
    return out;
}

// Location ids that FT_OpenEx opened successfully, in order.
std::vector<uint32_t> openedLocations(const Sim &sim) {
    std::vector<uint32_t> out;
    for (const SimCall &c : sim.world.trace)
        if (c.fn == SIM_OPEN && c.status == FT_OK) out.push_back(c.arg[0]);
    return out;
}

// Which simulated channel a slot holds ("0A", "0B", ...), "none" for an empty slot. Asks the
// simulator through a purge that empties nothing, so call it after the trace was checked.
std::string heldChannel(RecordingHost &host, FT_HANDLE h) {
    if (!channelOpen(h)) return "none";
    host.worker.link.d2xx->purge(h, 0);
    const SimCall &c = host.sim.world.trace.back();
    if (c.status != FT_OK) return "stale";
    return std::string(1, char('0' + c.adapter)) + "AB"[c.channel];
}

// The list record of a channel of the first adapter.
FT_DEVICE_LIST_INFO_NODE &record(Sim &sim, int channel) { return simAdapter(sim, 0).channels[channel].record; }

// The pad that fills a text field to its last byte, leaving no terminating NUL.
const char FULL = '~';

// Writes a text into a fixed field of a record, the rest of the field set to `pad`.
template <size_t N>
void setField(char (&field)[N], const char *text, char pad = 0) {
    memset(field, pad, N);
    memcpy(field, text, std::min(N, strlen(text)));
}

// A channel's texts in the list; nullptr leaves one as it is.
struct Names {
    const char *description = nullptr, *serial = nullptr;
};

// Gives a channel of the first adapter other texts, the rest of each field set to `pad`.
void rename(Sim &sim, int channel, Names names, char pad = 0) {
    FT_DEVICE_LIST_INFO_NODE &r = record(sim, channel);
    if (names.description) setField(r.Description, names.description, pad);
    if (names.serial) setField(r.SerialNumber, names.serial, pad);
}

// An arrangement that gives channels A and B of the first adapter other texts.
std::function<void(Sim &)> renamed(Names a, Names b, char pad = 0) {
    return [=](Sim &sim) {
        rename(sim, 0, a, pad);
        rename(sim, 1, b, pad);
    };
}

// The library's list calls replaced, the rest left to the simulator.
D2xxApi g_patched;
const D2xxApi *g_unpatched;

class LinkTest : public ::testing::Test {
protected:
    RecordingHost host;
    void TearDown() override {
        EXPECT_FALSE(host.hitLimit);
        host.worker.link.allocate = calloc;
    }
    FT_HANDLE &slotA() { return host.worker.link.channels.channelA; }
    FT_HANDLE &slotB() { return host.worker.link.channels.channelB; }
    // The search's library from now on: a copy of the simulator's, whose calls a test replaces.
    D2xxApi &patchedLibrary() {
        g_unpatched = host.worker.link.d2xx;
        g_patched = *g_unpatched;
        host.worker.link.d2xx = &g_patched;
        return g_patched;
    }
};

// --- discovery ---

using Discovery = LinkTest;

TEST_F(Discovery, NoDeviceAttachedAllocatesAndOpensNothing) {
    static int allocations;
    allocations = 0;
    host.worker.link.allocate = [](size_t count, size_t size) {
        ++allocations;
        return calloc(count, size);
    };
    EXPECT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(slotA(), NO_CHANNEL);
    EXPECT_EQ(slotB(), NO_CHANNEL);
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(simCount(host.sim, SIM_OPEN), 0);
    EXPECT_EQ(simCount(host.sim, SIM_GET_LIST), 0);
}

TEST_F(Discovery, OneAdapterOpensBothChannelsWithTheLineSettings) {
    simAddAdapter(host.sim);
    ASSERT_TRUE(findAdapter(host.worker.link));
    Texts expected = OPENS_A;
    expected.insert(expected.end(), OPENS_B.begin(), OPENS_B.end());
    EXPECT_EQ(channelCalls(host.sim), expected);
    for (const SimChannel &c : simAdapter(host.sim, 0).channels) {
        EXPECT_TRUE(c.open);
        EXPECT_EQ(c.baudRate, 115200u);
        EXPECT_EQ(c.wordLength, 8);
        EXPECT_EQ(c.stopBits, 2);
        EXPECT_EQ(c.parity, 0);
        EXPECT_EQ(c.readTimeout, 300u);
        EXPECT_EQ(c.writeTimeout, 300u);
        EXPECT_EQ(c.latencyMs, 2);
    }
    EXPECT_EQ(heldChannel(host, slotA()), "0A");
    EXPECT_EQ(heldChannel(host, slotB()), "0B");
}

// One search over a device list shaped by `arrange`; the slots and the opened channels tell the outcome.
struct DiscoveryCase {
    const char *name;
    std::function<void(Sim &)> arrange;
    const char *channelA;  // simulated channel held by the slot afterwards, or "none"
    const char *channelB;
    std::vector<uint32_t> opened;  // successful FT_OpenEx calls, by location
    bool damaged = false;          // the stored adapter was recognised by its EEPROM
};

void PrintTo(const DiscoveryCase &c, std::ostream *os) { *os << c.name; }

class DiscoveryTable : public LinkTest, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(DiscoveryTable, PicksTheChannelsItShould) {
    const DiscoveryCase &c = GetParam();
    c.arrange(host.sim);
    ASSERT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(openedLocations(host.sim), c.opened);
    // Every channel opened along the way is either in a slot or closed again.
    EXPECT_EQ(host.sim.world.openHandles, channelOpen(slotA()) + channelOpen(slotB()));
    EXPECT_EQ(heldChannel(host, slotA()), c.channelA);
    EXPECT_EQ(heldChannel(host, slotB()), c.channelB);
    EXPECT_EQ(host.worker.link.adapterDamaged, c.damaged);
}

const char *const OTHER_TEXT = "USB Serial Converter";

// A chip listed with its blank defaults: ours after a cut Update (our strings, bad checksum) or
// someone else's erased one.
void attachBlank(Sim &sim, SimEepromContent eeprom) {
    SimAdapterConfig config;
    config.eeprom = eeprom;
    simAddAdapter(sim, config);
}

// The arrangements that begin with one adapter attached.
DiscoveryCase withAdapter(const char *name, std::function<void(Sim &)> change, const char *channelA,
                          const char *channelB, std::vector<uint32_t> opened) {
    return {name, [change](Sim &sim) { simAddAdapter(sim), change(sim); }, channelA, channelB, opened};
}

// Our blank chip as a cut Update leaves it, changed so that it is not taken for one: nothing opens.
DiscoveryCase blankNotProbed(const char *name, std::function<void(Sim &)> change) {
    return {name, [change](Sim &sim) { attachBlank(sim, SIM_EEPROM_BAD_CHECKSUM), change(sim); }, "none", "none", {}};
}

INSTANTIATE_TEST_SUITE_P(Records, DiscoveryTable,
    ::testing::Values(
        DiscoveryCase{"OtherDevicesAhead",
                      [](Sim &sim) {
                          simAddForeignDevice(sim, FT_DEVICE_2232C, 0x04036010, "Dual RS232 A", "FT1234A");
                          simAddForeignDevice(sim, 8, 0x04036014, OTHER_TEXT, "FT99");
                          // The library reports devices it cannot read with ID 0.
                          simAddForeignDevice(sim, FT_DEVICE_2232C, 0, "KESTA OBD1 EMU A", "KESTAA");
                          simAddAdapter(sim);
                      },
                      "0A", "0B", {LOC_A, LOC_B}},
        withAdapter("ChannelsReportedBThenA", [](Sim &sim) { std::swap(sim.world.list[0], sim.world.list[1]); },
                    "0A", "0B", {LOC_A, LOC_B}),
        withAdapter("OnlyChannelAAccepted", [](Sim &sim) { record(sim, 1).ID = 0; }, "0A", "none", {LOC_A}),
        withAdapter("OnlyChannelBAcceptedIsClosedAgain", [](Sim &sim) { record(sim, 0).ID = 0; }, "none",
                    "none", {LOC_B}),
        withAdapter("TwoAdaptersOpenNothing", [](Sim &sim) { simAddAdapter(sim); }, "none", "none", {}),
        withAdapter("AThirdAcceptedRecordOpensNothing",
                    [](Sim &sim) { simAddForeignDevice(sim, FT_DEVICE_2232C, 0x04036010, OTHER_TEXT, "KESTA1"); },
                    "none", "none", {}),
        DiscoveryCase{"OtherTypeWithTheAdapterDescriptionIsNotAccepted",
                      [](Sim &sim) {
                          // Accepted, it would make three records and nothing would open.
                          simAddForeignDevice(sim, 5, 0x04036010, "KESTA OBD1 EMU A", "KESTAA");
                          simAddAdapter(sim);
                      },
                      "0A", "0B", {LOC_A, LOC_B}},
        withAdapter("WrongTypeOnTheAdaptersChannelA", [](Sim &sim) { record(sim, 0).Type = 5; }, "none",
                    "none", {LOC_B}),
        withAdapter("LowerCaseTextsArePicked", renamed({"kesta obd1 emu a", "x"}, {"Kesta Obd1 Emu b", "y"}),
                    "0A", "0B", {LOC_A, LOC_B}),
        withAdapter("OneMoreCharacterIsPickedForNeither",
                    [](Sim &sim) {
                        rename(sim, 0, {"KESTA OBD1 EMU AX", "FT0001A"});
                        simAdapter(sim, 0).channels[1].listed = false;
                    },
                    "none", "none", {}),
        withAdapter("OneMoreCharacterBesideChannelB", renamed({"KESTA OBD1 EMU A2", "FT0001A"}, {}),
                    "none", "none", {LOC_B}),
        withAdapter("SerialKestaAWithAnotherDescription", renamed({"Dual RS232-HS A"}, {"Dual RS232-HS B"}),
                    "0A", "0B", {LOC_A, LOC_B}),
        withAdapter("ChannelAHeldByAnotherProgram", [](Sim &sim) { simAdapter(sim, 0).channels[0].openFails = true; },
                    "none", "none", {LOC_B}),
        withAdapter("ChannelBFailsToOpen", [](Sim &sim) { simAdapter(sim, 0).channels[1].openFails = true; }, "0A",
                    "none", {LOC_A}),
        withAdapter("FullFieldsAreAcceptedByPrefixAndPickedForNeither",
                    renamed({"KESTA OBD1 EMU A", "KESTAA"}, {"KESTA OBD1 EMU B", "KESTAB"}, FULL), "none", "none", {}),
        withAdapter("FullDescriptionWithTheChannelSerials", renamed({"Dual RS232-HS A"}, {"Dual RS232-HS B"}, FULL),
                    "0A", "0B", {LOC_A, LOC_B}),
        withAdapter("FullSerialWithTheChannelDescriptions", renamed({nullptr, "FT"}, {nullptr, "FT"}, FULL),
                    "0A", "0B", {LOC_A, LOC_B}),
        // A non-null handle right after the fields: reading past them runs off the end of the list.
        withAdapter("FullFieldsOfAnOpenForeignRecordLast",
                    [](Sim &sim) {
                        simAdapter(sim, 0).channels[1].listed = false;
                        simAddForeignDevice(sim, FT_DEVICE_2232C, 0x04036010, "", "");
                        FT_DEVICE_LIST_INFO_NODE &r = sim.world.list.back().foreign;
                        setField(r.Description, "KESTA OBD1 EMU B", FULL);
                        setField(r.SerialNumber, "KESTAB", FULL);
                        memset(&r.ftHandle, 0x41, sizeof r.ftHandle);
                    },
                    "0A", "none", {LOC_A}),
        // Probed first (opened, read, closed), then opened as the adapter.
        DiscoveryCase{"DamagedAdapterIsRecognisedByItsEeprom",
                      [](Sim &sim) { attachBlank(sim, SIM_EEPROM_BAD_CHECKSUM); },
                      "0A", "0B", {LOC_A, LOC_A, LOC_B}, true},
        DiscoveryCase{"ErasedChipIsProbedAndClosed", [](Sim &sim) { attachBlank(sim, SIM_EEPROM_FILL); },
                      "none", "none", {LOC_A}},
        // Only a chip with the blank defaults exactly, serials empty, is opened to be probed.
        blankNotProbed("BlankNamesWithSerialsAreNotProbed", renamed({nullptr, "FT1234A"}, {nullptr, "FT1234B"})),
        blankNotProbed("BlankNamesInOtherLetterCaseAreNotProbed", renamed({"DUAL RS232 A"}, {})),
        DiscoveryCase{"ChannelBIsTheOneBesideTheRecognisedChannelA",
                      [](Sim &sim) {
                          attachBlank(sim, SIM_EEPROM_FILL);
                          attachBlank(sim, SIM_EEPROM_BAD_CHECKSUM);
                      },
                      "1A", "1B", {LOC_A, 0x2001, 0x2001, 0x2002}, true},
        DiscoveryCase{"NoBlankChipIsProbedBesideOurAdapter",
                      [](Sim &sim) {
                          attachBlank(sim, SIM_EEPROM_BAD_CHECKSUM);
                          simAddAdapter(sim);
                      },
                      "1A", "1B", {0x2001, 0x2002}}), CaseName());

// Once the probe table is full of chips judged not ours, a new blank chip is left alone, even our
// own damaged adapter: leaving a device alone is the safe side.
TEST_F(Discovery, AFullProbeTableProbesNoNewChip) {
    for (int i = 0; i < PROBED_CAPACITY; ++i) attachBlank(host.sim, SIM_EEPROM_FILL);
    ASSERT_TRUE(findAdapter(host.worker.link));
    ASSERT_EQ(simCount(host.sim, SIM_OPEN), PROBED_CAPACITY);
    attachBlank(host.sim, SIM_EEPROM_BAD_CHECKSUM);
    ASSERT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(simCount(host.sim, SIM_OPEN), PROBED_CAPACITY);
    EXPECT_EQ(slotA(), NO_CHANNEL);
}

// A channel that will not take a setting is closed again and the next candidate is tried.
class FailingSetting : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(FailingSetting, ClosesTheChannelAndTriesTheNextCandidate) {
    simAddAdapter(host.sim);
    // Both records are candidates for channel A; the first will not take setting GetParam().
    rename(host.sim, 1, {"KESTA OBD1 EMU A", "KESTAA"});
    simAdapter(host.sim, 0).channels[0].failSetting = GetParam();
    ASSERT_TRUE(findAdapter(host.worker.link));

    // Channel A's calls up to the setting that fails, its close, then channel B opened.
    Texts expected(OPENS_A.begin(), OPENS_A.begin() + 1 + GetParam());
    expected.back().replace(expected.back().rfind("ok"), 2, "fail");
    expected.push_back("FT_Close 0A ok");
    expected.insert(expected.end(), OPENS_B.begin(), OPENS_B.end());
    EXPECT_EQ(channelCalls(host.sim), expected);
    EXPECT_EQ(host.sim.world.openHandles, 1);
    EXPECT_EQ(heldChannel(host, slotA()), "0B");
    EXPECT_EQ(heldChannel(host, slotB()), "none");
}

INSTANTIATE_TEST_SUITE_P(BaudDataTimeouts, FailingSetting, ::testing::Values(1, 2, 3));

TEST_F(Discovery, LeavesTheSlotsAloneWhenNoChannelAOpened) {
    simAddAdapter(host.sim);
    simAdapter(host.sim, 0).channels[0].openFails = true;
    const FT_HANDLE before = reinterpret_cast<FT_HANDLE>(uintptr_t(0x5150));
    host.worker.link.channels = {nullptr, before};
    ASSERT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(slotA(), nullptr);
    EXPECT_EQ(slotB(), before);
    EXPECT_EQ(host.sim.world.openHandles, 0);
}

TEST_F(Discovery, StoresBothSlotsTogetherWhenChannelAOpened) {
    simAddAdapter(host.sim);
    record(host.sim, 1).ID = 0;
    host.worker.link.channels = {NO_CHANNEL, reinterpret_cast<FT_HANDLE>(uintptr_t(0x5150))};
    ASSERT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(heldChannel(host, slotA()), "0A");
    EXPECT_EQ(slotB(), NO_CHANNEL);
}

TEST_F(Discovery, FailingDeviceCountIsNoAdapter) {
    simAddAdapter(host.sim);
    patchedLibrary().createDeviceInfoList = [](uint32_t *count) -> FT_STATUS {
        *count = 2;
        return FT_IO_ERROR;
    };
    EXPECT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(slotA(), NO_CHANNEL);
    EXPECT_EQ(simCount(host.sim, SIM_GET_LIST), 0) << "a failed count is not followed by the list";
    EXPECT_EQ(simCount(host.sim, SIM_OPEN), 0);
}

TEST_F(Discovery, FailingDeviceListIsNoAdapterEvenWhenFilled) {
    simAddAdapter(host.sim);
    patchedLibrary().getDeviceInfoList = [](FT_DEVICE_LIST_INFO_NODE *list, uint32_t *count) -> FT_STATUS {
        g_unpatched->getDeviceInfoList(list, count);
        return FT_IO_ERROR;
    };
    EXPECT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(simCount(host.sim, SIM_OPEN), 0);
    EXPECT_EQ(slotA(), NO_CHANNEL);
}

TEST_F(Discovery, DeviceListClaimingMoreRecordsThanAskedForIsCut) {
    simAddAdapter(host.sim);
    patchedLibrary().getDeviceInfoList = [](FT_DEVICE_LIST_INFO_NODE *list, uint32_t *count) -> FT_STATUS {
        FT_STATUS st = g_unpatched->getDeviceInfoList(list, count);
        *count = 1000;
        return st;
    };
    EXPECT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(heldChannel(host, slotA()), "0A");
    EXPECT_EQ(heldChannel(host, slotB()), "0B");
}

// Out of memory for the record list.
TEST_F(Discovery, OutOfMemoryIsFatalAndOpensNothing) {
    static int calls;
    calls = 0;
    host.worker.link.allocate = [](size_t, size_t) -> void * { return ++calls, nullptr; };
    simAddAdapter(host.sim);
    EXPECT_FALSE(findAdapter(host.worker.link));
    EXPECT_EQ(host.fatal, "");  // the worker reports it, and then ends
    calls = 0;
    EXPECT_EQ(workerMain(host.worker), 0);
    EXPECT_EQ(host.fatal, "Can't allocate memory!");
    EXPECT_EQ(simCount(host.sim, SIM_GET_LIST), 0);
    EXPECT_EQ(simCount(host.sim, SIM_OPEN), 0);
    EXPECT_EQ(slotA(), NO_CHANNEL);
    EXPECT_EQ(slotB(), NO_CHANNEL);
    EXPECT_EQ(calls, 1);
}

// --- byte transport ---

class ReadLinkByte : public LinkTest {
protected:
    void SetUp() override {
        simAddAdapter(host.sim);
        ASSERT_TRUE(findAdapter(host.worker.link));
        host.sim.world.trace.clear();
        start = host.nowUs;
    }
    SimChannel &channelA() { return simAdapter(host.sim, 0).channels[0]; }
    void byteAtMs(uint8_t byte, uint64_t ms) { channelA().rx.push_back({byte, start + ms * 1000}); }
    uint64_t elapsedMs() const { return (host.nowUs - start) / 1000; }
    LinkResult read() { return readLinkByte(host.worker.link, &slotA(), &out); }

    uint64_t start = 0;
    uint8_t out = 0xEE;
};

TEST_F(ReadLinkByte, ByteWithinTheDeadline) {
    byteAtMs(0x5A, 250);
    EXPECT_EQ(read(), LINK_OK);
    EXPECT_EQ(out, 0x5A);
    EXPECT_EQ(elapsedMs(), 250u);
}

TEST_F(ReadLinkByte, NothingTimesOutAfterOneAttempt) {
    EXPECT_EQ(read(), LINK_TIMEOUT);
    EXPECT_EQ(out, 0xEE);
    EXPECT_EQ(elapsedMs(), 300u);
    EXPECT_EQ(simCount(host.sim, SIM_READ), 1);
}

TEST_F(ReadLinkByte, ByteJustAfterTheDeadlineIsLate) {
    byteAtMs(0x5A, 301);
    EXPECT_EQ(read(), LINK_TIMEOUT);
    EXPECT_EQ(out, 0xEE);
    EXPECT_EQ(read(), LINK_OK);  // still there for the next read
    EXPECT_EQ(out, 0x5A);
}

TEST_F(ReadLinkByte, EmptyAttemptsBeforeTheDeadlineAreRepeated) {
    channelA().readTimeout = 100;
    EXPECT_EQ(read(), LINK_TIMEOUT);
    EXPECT_EQ(elapsedMs(), 300u);
    EXPECT_EQ(simCount(host.sim, SIM_READ), 3);

    start = host.nowUs;
    byteAtMs(0x33, 250);
    EXPECT_EQ(read(), LINK_OK);
    EXPECT_EQ(out, 0x33);
    for (const SimCall &c : host.sim.world.trace) {
        if (c.fn != SIM_READ) continue;
        EXPECT_EQ(c.arg[0], 1u) << "one byte per library call";
    }
}

TEST_F(ReadLinkByte, LibraryFailureIsAnErrorAtOnce) {
    simUnplug(host.sim, 0);
    EXPECT_EQ(read(), LINK_ERROR);
    EXPECT_EQ(out, 0xEE);
    EXPECT_EQ(elapsedMs(), 0u);
}

TEST_F(ReadLinkByte, UnplugWhileWaitingIsAnError) {
    host.atMs(host.ms() + 100, [&] { simUnplug(host.sim, 0); });
    EXPECT_EQ(read(), LINK_ERROR);
    EXPECT_EQ(out, 0xEE);
}

TEST_F(ReadLinkByte, MissingSlotIsAnErrorWithoutALibraryCall) {
    EXPECT_EQ(readLinkByte(host.worker.link, nullptr, &out), LINK_ERROR);
    EXPECT_EQ(out, 0xEE);
    EXPECT_EQ(simCount(host.sim, SIM_READ), 0);
}

TEST_F(ReadLinkByte, StopRequestEndsTheRead) {
    byteAtMs(0x5A, 0);
    host.stop = true;
    EXPECT_EQ(read(), LINK_ERROR);
    EXPECT_EQ(out, 0xEE);
}

TEST_F(ReadLinkByte, StopRequestedDuringAnEmptyAttempt) {
    host.atMs(host.ms() + 100, [this] { host.stop = true; });
    EXPECT_EQ(read(), LINK_ERROR);
}

// The 32-bit tick count wraps 100 ms after the read starts.
class ReadLinkByteAcrossTheTickWrap : public ReadLinkByte {
protected:
    void SetUp() override {
        host.nowUs = (uint64_t(1) << 32) * 1000 - 100 * 1000;
        host.limitUs = host.nowUs + 60 * 1000 * 1000;
        ReadLinkByte::SetUp();
        ASSERT_GT(host.ms(), 0xFFFFFF00u);
    }
};

TEST_F(ReadLinkByteAcrossTheTickWrap, ByteAfterTheWrapIsReceived) {
    byteAtMs(0x77, 250);
    EXPECT_EQ(read(), LINK_OK);
    EXPECT_EQ(out, 0x77);
    EXPECT_EQ(elapsedMs(), 250u);
}

TEST_F(ReadLinkByteAcrossTheTickWrap, SilenceTimesOutAfterTheFullDeadline) {
    channelA().readTimeout = 50;
    EXPECT_EQ(read(), LINK_TIMEOUT);
    EXPECT_EQ(elapsedMs(), 300u);
    EXPECT_EQ(simCount(host.sim, SIM_READ), 6);
}

// --- the chip model ---

// The adapter chip between board and host: packets, the latency timer and the library's cost per
// call. The cost is off unless a test sets it, so times are the chip's alone.
class ChipModel : public ReadLinkByte {
protected:
    void SetUp() override {
        ReadLinkByte::SetUp();
        simAdapter(host.sim, 0).chip.on = true;
        simAdapter(host.sim, 0).chip.callCostUs = 0;
    }
    FT_STATUS setLatency(uint8_t ms) { return host.worker.link.d2xx->setLatencyTimer(slotA(), ms); }
    void send(std::vector<uint8_t> bytes) {
        uint32_t written = 0;
        ASSERT_EQ(host.worker.link.d2xx->write(slotA(), bytes.data(), uint32_t(bytes.size()), &written), FT_OK);
    }
};

// An Erase block's answer byte reaches the chip 13.3 ms after the packet was sent (the wire both
// ways and the board's 0.5 ms); it goes out at the next expiry of the timer, which runs from the
// open, and can be read 0.5 ms later.
class OneByteAnswer : public ChipModel, public ::testing::WithParamInterface<std::pair<uint8_t, uint64_t>> {};

TEST_P(OneByteAnswer, WaitsForTheLatencyTimer) {
    const auto [latencyMs, readableUs] = GetParam();
    ASSERT_EQ(setLatency(latencyMs), FT_OK);
    std::vector<uint8_t> erase(133, 0xFF);
    erase[0] = 'W', erase[1] = 0x80, erase[2] = 0, erase[3] = 0, erase[132] = 0x57;
    send(erase);
    EXPECT_EQ(read(), LINK_OK);
    EXPECT_EQ(out, 0x4F);
    EXPECT_EQ(host.nowUs - start, readableUs);
}

INSTANTIATE_TEST_SUITE_P(Latencies, OneByteAnswer,
                         ::testing::ValuesIn(std::vector<std::pair<uint8_t, uint64_t>>{
                             {16, 16500}, {2, 14500}, {5, 15500}, {255, 255500}}));

TEST_F(ChipModel, BlockAnswerComesAsFourFullPacketsAndOneShort) {
    ASSERT_EQ(setLatency(16), FT_OK);
    send({'R', 0x00, 0x00, 0x00, 0x52});
    // With no cost per call, the bytes of one packet are all read at the moment it can be read.
    std::vector<std::pair<uint64_t, int>> packets;  // readable at, bytes
    for (int i = 0; i < 257; ++i) {
        ASSERT_EQ(read(), LINK_OK);
        if (packets.empty() || packets.back().first != host.nowUs) packets.push_back({host.nowUs, 0});
        ++packets.back().second;
    }
    std::vector<int> sizes;
    for (const auto &p : packets) sizes.push_back(p.second);
    EXPECT_EQ(sizes, (std::vector<int>{62, 62, 62, 62, 9}));
    // The full packets go as their 62nd byte arrives (62 bytes on the wire: 5.92 ms); the rest
    // waits for the timer.
    EXPECT_NEAR(double(packets[1].first - packets[0].first), 5920, 1);
    EXPECT_EQ(packets[4].first - packets[3].first, 16000u);
}

TEST_F(ChipModel, LatencyTimerTakesTwoTo255Ms) {
    const std::pair<uint8_t, FT_STATUS> cases[] = {
        {0, FT_INVALID_PARAMETER}, {1, FT_INVALID_PARAMETER}, {2, FT_OK}, {255, FT_OK}};
    for (const auto &[ms, status] : cases) {
        channelA().latencyMs = 9;
        EXPECT_EQ(setLatency(ms), status) << int(ms);
        EXPECT_EQ(channelA().latencyMs, status == FT_OK ? ms : 9) << int(ms);
    }
}

TEST_F(ChipModel, EveryCallCostsItsTime) {
    simAdapter(host.sim, 0).chip.callCostUs = 20;
    for (int i = 0; i < 10; ++i) host.worker.link.d2xx->purge(slotA(), 0);
    EXPECT_EQ(host.nowUs - start, 200u);
    // Bytes that can be read at once still cost a call each.
    for (uint8_t b = 0; b < 5; ++b) byteAtMs(b, 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(read(), LINK_OK);
    EXPECT_EQ(host.nowUs - start, 300u);
    // The wire alone costs nothing.
    simAdapter(host.sim, 0).chip.on = false;
    host.worker.link.d2xx->purge(slotA(), 0);
    EXPECT_EQ(host.nowUs - start, 300u);
}

// --- closing ---

using CloseChannel = LinkTest;

TEST_F(CloseChannel, EmptySlotsAreLeftAlone) {
    for (FT_HANDLE empty : {NO_CHANNEL, FT_HANDLE(nullptr)}) {
        FT_HANDLE slot = empty;
        closeChannel(host.worker.link, slot);
        EXPECT_EQ(slot, empty);
    }
    EXPECT_EQ(simCount(host.sim, SIM_CLOSE), 0);
}

TEST_F(CloseChannel, SecondCloseOfASlotDoesNothing) {
    simAddAdapter(host.sim);
    ASSERT_TRUE(findAdapter(host.worker.link));
    closeChannel(host.worker.link, slotA());
    EXPECT_EQ(slotA(), NO_CHANNEL);
    closeChannel(host.worker.link, slotA());
    EXPECT_EQ(simCount(host.sim, SIM_CLOSE), 1);
    EXPECT_FALSE(simAdapter(host.sim, 0).channels[0].open);
    EXPECT_TRUE(simAdapter(host.sim, 0).channels[1].open);
}

}  // namespace
