// The adapter's configuration image and the Update that writes it: the image word by word as the
// chip expects it, and the whole path from an old adapter to one that enumerates as current.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/cases.h"
#include "tests/support/host_recorder.h"
#include "tests/support/texts.h"
#include "worker/worker.h"

namespace {

using Texts = std::vector<std::string>;

using namespace text;
const std::string REPORT = std::string(CONNECTING) + "Ok." + PORTS;

// The simulator's library without the optional FT_ReadEE.
const D2xxApi *libraryWithoutReadEE(const D2xxApi *library) {
    static D2xxApi api;
    api = *library;
    api.readEE = nullptr;
    return &api;
}

// The chip's checksum, written out here on its own: start 0xAAAA; XOR each word, rotate left.
uint16_t referenceChecksum(const uint16_t *words) {
    uint32_t v = 0xAAAA;
    for (int i = 0; i < 63; ++i) {
        v ^= words[i];
        v = ((v << 1) | (v >> 15)) & 0xFFFF;
    }
    return uint16_t(v);
}

TEST(AdapterEepromImage, MatchesTheChipLayoutWordByWord) {
    // Words 0 to 62, typed in from the layout the chip reads (not from the builder).
    const uint16_t expected[63] = {
        0x0909, 0x0403, 0x6010, 0x0500, 0x7D80, 0x0008, 0x0200, 0x1896, 0x1EAE, 0x0CCC, 0x0046,
        // manufacturer descriptor at byte 0x16: length 24, "Quorvantide"
        0x0318, 0x0051, 0x0075, 0x006F, 0x0072, 0x0076, 0x0061, 0x006E, 0x0074, 0x0069, 0x0064, 0x0065,
        // product descriptor at byte 0x2E: length 30, "KESTA OBD1 EMU"
        0x031E, 0x004B, 0x0045, 0x0053, 0x0054, 0x0041, 0x0020, 0x004F, 0x0042, 0x0044, 0x0031,
        0x0020, 0x0045, 0x004D, 0x0055,
        // serial number descriptor at byte 0x4C: length 12, "KESTA"
        0x030C, 0x004B, 0x0045, 0x0053, 0x0054, 0x0041,
        // word 44 and 45, then 17 zero words
        0x0000, 0x0001, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    };
    for (int i = 0; i < 63; ++i) EXPECT_EQ(AdapterEepromImage[i], expected[i]) << "word " << i;
    EXPECT_EQ(AdapterEepromImage[63], referenceChecksum(expected));
    EXPECT_EQ(eepromChecksum(AdapterEepromImage, 63), AdapterEepromImage[63]);
}

TEST(AdapterEepromImage, ChecksumFollowsEveryCharacterOfEveryString) {
    const std::string strings[3] = {"Quorvantide", "KESTA OBD1 EMU", "KESTA"};
    uint16_t image[EEPROM_WORDS];
    ASSERT_TRUE(buildEepromImage(strings[0].c_str(), strings[1].c_str(), strings[2].c_str(), image));
    EXPECT_TRUE(std::equal(image, image + EEPROM_WORDS, AdapterEepromImage));
    for (int s = 0; s < 3; ++s) {
        for (size_t i = 0; i < strings[s].size(); ++i) {
            std::string changed[3] = {strings[0], strings[1], strings[2]};
            changed[s][i] = char(changed[s][i] ^ 0x01);
            ASSERT_TRUE(buildEepromImage(changed[0].c_str(), changed[1].c_str(), changed[2].c_str(), image));
            EXPECT_NE(image[63], AdapterEepromImage[63]) << "string " << s << " character " << i;
            EXPECT_EQ(image[63], referenceChecksum(image));
        }
    }
}

TEST(AdapterEepromImage, StringsThatDoNotFitAreRefused) {
    uint16_t image[EEPROM_WORDS];
    EXPECT_FALSE(buildEepromImage("Quorvantide", "KESTA OBD1 EMU, a much longer product name", "KESTA", image));
}

TEST(AdapterEepromImage, TheChipReadsBackTheIdentityTheSearchLooksFor) {
    const SimEepromIdentity id = simDecodeEeprom(AdapterEepromImage);
    EXPECT_TRUE(id.checksumValid);
    EXPECT_EQ(id.vendor, 0x0403);
    EXPECT_EQ(id.product, 0x6010);
    EXPECT_EQ(id.manufacturer, "Quorvantide");
    EXPECT_EQ(id.productName, "KESTA OBD1 EMU");
    EXPECT_EQ(id.serial, "KESTA");
    // The rest of the configuration, field by field: release 5.00, both channels in 245 FIFO mode
    // with the virtual COM port driver, bus-powered at 250 mA, serial number reported, USB 2.00.
    EXPECT_EQ(id.release, 0x0500);
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(id.channelMode[ch], SIM_CHANNEL_FIFO_245) << "channel " << ch;
        EXPECT_TRUE(id.vcpDriver[ch]) << "channel " << ch;
    }
    EXPECT_FALSE(id.selfPowered);
    EXPECT_FALSE(id.remoteWakeup);
    EXPECT_EQ(id.maxPowerMa, 250u);
    EXPECT_TRUE(id.useSerial);
    EXPECT_EQ(id.usbVersion, 0x0200);
    // The chip's own layout of those fields gives the program's words (up to its fixed tail).
    SimEepromIdentity fields;
    fields.manufacturer = "Quorvantide";
    fields.productName = "KESTA OBD1 EMU";
    fields.serial = "KESTA";
    uint16_t laidOut[EEPROM_WORDS];
    simEncodeEeprom(fields, laidOut);
    for (int i = 0; i < 44; ++i) EXPECT_EQ(laidOut[i], AdapterEepromImage[i]) << "word " << i;

    uint16_t corrupted[EEPROM_WORDS];
    std::copy(AdapterEepromImage, AdapterEepromImage + EEPROM_WORDS, corrupted);
    corrupted[30] ^= 0x0100;
    const SimEepromIdentity blank = simDecodeEeprom(corrupted);
    EXPECT_FALSE(blank.checksumValid);
    EXPECT_EQ(blank.vendor, 0x0403);
    EXPECT_EQ(blank.product, 0x6010);
    EXPECT_EQ(blank.productName, "Dual RS232");
    EXPECT_EQ(blank.serial, "");
    // Only the broken one is ours in need of repair; a sound image is no business of the probe.
    EXPECT_TRUE(eepromIsOursDamaged(corrupted));
    EXPECT_FALSE(eepromIsOursDamaged(AdapterEepromImage));
}

// The image builder as a codec: what it lays out, the chip's own reading gives back, for string
// sets short and long; the library names the channels as the search expects; and the blank-chip
// check looks for our name up to the last word of the string area, never into the checksum.
TEST(AdapterEepromImage, TheChipDecodesEveryImageTheBuilderLaysOut) {
    const char *const sets[][3] = {{ADAPTER_MANUFACTURER, ADAPTER_PRODUCT, ADAPTER_SERIAL}, {"", "P", ""},
                                   {"Adapter maker", "A product named at length", "SN-0042"}};
    for (const auto &set : sets) {
        SCOPED_TRACE(set[1]);
        uint16_t image[EEPROM_WORDS];
        ASSERT_TRUE(buildEepromImage(set[0], set[1], set[2], image));
        const SimEepromIdentity id = simDecodeEeprom(image);
        EXPECT_TRUE(id.checksumValid);
        EXPECT_EQ(uint32_t(id.vendor) << 16 | id.product, USB_ID_CURRENT);
        EXPECT_EQ(id.manufacturer + "|" + id.productName + "|" + id.serial,
                  std::string(set[0]) + "|" + set[1] + "|" + set[2]);
    }
    RecordingHost host;
    simAddAdapter(host.sim);
    EXPECT_STREQ(simAdapter(host.sim, 0).channels[0].record.Description, CHANNEL_A_NAME.description);
    EXPECT_STREQ(simAdapter(host.sim, 0).channels[1].record.SerialNumber, CHANNEL_B_NAME.serial);
    for (int start : {EEPROM_STRING_AREA_END / 2 - 5, EEPROM_STRING_AREA_END / 2 - 4}) {
        uint16_t words[EEPROM_WORDS] = {};
        for (int i = 0; i < 5; ++i) words[start + i] = uint16_t(ADAPTER_SERIAL[i]);
        EXPECT_EQ(eepromIsOursDamaged(words), start + 5 <= EEPROM_CHECKSUM_WORD) << start;
    }
}

class UpdateOperation : public ::testing::Test {
protected:
    RecordingHost host;

    void SetUp() override {
        SimAdapterConfig old;
        old.usbId = 0x04036D20;
        simAddAdapter(host.sim, old);
    }
    void TearDown() override {
        EXPECT_FALSE(host.hitLimit) << "the worker ran into the test's time limit";
        EXPECT_EQ(host.sim.world.openHandles, 0);
    }
    SimAdapter &adapter() { return simAdapter(host.sim, 0); }
    bool eepromHoldsTheImage() {
        return std::equal(adapter().eeprom, adapter().eeprom + EEPROM_WORDS, AdapterEepromImage);
    }
    std::vector<const SimCall *> eepromWrites() const {
        std::vector<const SimCall *> calls;
        for (const SimCall &c : host.sim.world.trace)
            if (c.fn == SIM_WRITE_EE) calls.push_back(&c);
        return calls;
    }
    Texts fromChoice() const {
        auto it = std::find(host.logTexts.begin(), host.logTexts.end(), CHOICE);
        return Texts(it, host.logTexts.end());
    }
};

// With FT_ReadEE the image is read back before the cycle; without it the Update is as before.
class UpdateLibraries : public UpdateOperation, public ::testing::WithParamInterface<bool> {};

TEST_P(UpdateLibraries, OldAdapterComesBackAsCurrent) {
    const bool readBack = GetParam();
    if (!readBack) host.worker.link.d2xx = libraryWithoutReadEE(host.worker.link.d2xx);
    bool onlyUpdate = false;
    host.whenEvent("buttons ready", [&] {
        onlyUpdate = host.buttons[OP_UPDATE] && !host.buttons[OP_ERASE] && !host.buttons[OP_READ] &&
                     !host.buttons[OP_WRITE];
        host.press(OP_UPDATE);
        // After the re-connect: the next identification, then the choice.
        host.whenLog(RECONNECT, [this] {
            host.whenLog(CHOICE, [this] { host.atMs(host.ms() + 100, [this] { host.stop = true; }); });
        });
    });
    EXPECT_EQ(workerMain(host.worker), 0);

    EXPECT_TRUE(onlyUpdate);
    EXPECT_NE(std::find(host.logTexts.begin(), host.logTexts.end(), NEEDS_UPDATE), host.logTexts.end());
    const auto writes = eepromWrites();
    ASSERT_EQ(writes.size(), 64u);
    for (uint32_t i = 0; i < 64; ++i) {
        EXPECT_EQ(writes[i]->arg[0], i);
        EXPECT_EQ(writes[i]->arg[1], AdapterEepromImage[i]) << "word " << i;
        EXPECT_EQ(writes[i]->channel, 0);
    }
    std::vector<uint32_t> progress;
    for (uint32_t i = 0; i < 64; ++i) progress.push_back(4 * i + 3);
    EXPECT_EQ(host.progress, progress);
    EXPECT_EQ(simCount(host.sim, SIM_READ_EE), readBack ? 64 : 0);
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 1);
    EXPECT_TRUE(eepromHoldsTheImage());

    // It enumerated from its EEPROM, and the new connection began with an empty log.
    const FT_DEVICE_LIST_INFO_NODE &a = adapter().channels[0].record;
    EXPECT_EQ(a.ID, 0x04036010u);
    EXPECT_STREQ(a.Description, "KESTA OBD1 EMU A");
    EXPECT_STREQ(adapter().channels[1].record.Description, "KESTA OBD1 EMU B");
    EXPECT_STREQ(a.SerialNumber, "KESTAA");
    EXPECT_EQ(host.logPane, std::string(FOUND) + "Ok." + PORTS + CHOICE);
    EXPECT_TRUE(host.buttons[OP_ERASE] && host.buttons[OP_READ] && host.buttons[OP_WRITE]);
    EXPECT_FALSE(host.buttons[OP_UPDATE]);
}

INSTANTIATE_TEST_SUITE_P(ReadEE, UpdateLibraries, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Present" : "Missing"; });

TEST_F(UpdateOperation, WordLostOnceIsWrittenAgainBeforeTheCycle) {
    adapter().eepromDropWord = 2;  // the product id: 6D20 stays where 6010 belongs
    adapter().eepromDropWrites = 1;
    host.whenEvent("buttons ready", [this] {
        host.press(OP_UPDATE);
        host.whenLog(RECONNECT, [this] { host.whenLog(CHOICE, [this] { host.stop = true; }); });
    });
    EXPECT_EQ(workerMain(host.worker), 0);

    const auto writes = eepromWrites();
    ASSERT_EQ(writes.size(), 65u);
    EXPECT_EQ(writes[64]->arg[0], 2u);
    // The rewrite came before the cycle: the adapter enumerated current from it.
    EXPECT_TRUE(eepromHoldsTheImage());
    EXPECT_EQ(adapter().channels[0].record.ID, 0x04036010u);
    EXPECT_EQ(host.progress.back(), 255u);
    const Texts log = fromChoice();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(Texts(log.begin(), log.begin() + 3), (Texts{CHOICE, UPDATE_OPENING, RECONNECT}));
}

// An Update cut short by unplugging, then the adapter plugged in again: it enumerates from what
// its EEPROM holds, is offered Update alone and comes back current from it.
struct CutCase {
    const char *name;
    int cutBeforeWord;
    const char *usbId;    // as the announce line shows it after the replug
    const char *type;     // the info box's description then
    const char *message;  // the class message then
};

class CutUpdates : public UpdateOperation, public ::testing::WithParamInterface<CutCase> {};

TEST_P(CutUpdates, AdapterIsRecognisedAgainAndRepaired) {
    const CutCase &c = GetParam();
    adapter().unplugAtEepromWord = c.cutBeforeWord;
    std::string replugged, type;
    bool onlyUpdate = false;
    host.whenEvent("buttons ready", [&] {
        host.press(OP_UPDATE);
        host.whenLog(DISCONNECTED, [&] {
            adapter().unplugAtEepromWord = -1;
            host.atMs(host.ms() + 1000, [&] { simPlug(host.sim, 0); });
            host.whenEvent("buttons ready", [&] {
                replugged = host.logPane;
                type = host.typeLabel;
                onlyUpdate = host.buttons[OP_UPDATE] && !host.buttons[OP_ERASE];
                host.press(OP_UPDATE);
                host.whenLog(RECONNECT, [&] {
                    host.whenLog(CHOICE, [&] { host.atMs(host.ms() + 100, [&] { host.stop = true; }); });
                });
            });
        });
    });
    EXPECT_EQ(workerMain(host.worker), 0);

    EXPECT_EQ(replugged, std::string("Found Kesta OBD1 EMU [") + c.usbId + REPORT + c.message + CHOICE);
    EXPECT_EQ(type, c.type);
    EXPECT_TRUE(onlyUpdate);
    EXPECT_EQ(eepromWrites().size(), size_t(c.cutBeforeWord + 1 + 64));
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 1);
    EXPECT_TRUE(eepromHoldsTheImage());
    EXPECT_STREQ(adapter().channels[0].record.Description, "KESTA OBD1 EMU A");
    EXPECT_EQ(host.logPane, std::string("Found Kesta OBD1 EMU [0403/6010") + REPORT + CHOICE);
    EXPECT_TRUE(host.buttons[OP_ERASE] && !host.buttons[OP_UPDATE]);
}

INSTANTIATE_TEST_SUITE_P(Unplugged, CutUpdates,
    ::testing::Values(
        // Word 0 is the same in the old image and the new one: nothing has changed yet.
        CutCase{"BeforeWord1", 1, "0403/6D20", "KESTA OBD1 EMU", NEEDS_UPDATE},
        CutCase{"BeforeWord30", 30, "0403/6010", "Dual RS232", DAMAGED},
        CutCase{"BeforeWord62", 62, "0403/6010", "Dual RS232", DAMAGED},
        CutCase{"BeforeWord63", 63, "0403/6010", "Dual RS232", DAMAGED}), CaseName());

struct FailureCase {
    const char *name;
    int failAtWord;
    int unplugAtWord;
    int neverStoredWord;  // every write of it is lost
    bool readBackFails;
    size_t calls;         // of FT_WriteEE
    size_t steps;         // of the progress bar
};

class UpdateFailures : public UpdateOperation, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateFailures, StopAtTheFailedWordAndDisconnect) {
    const FailureCase &c = GetParam();
    adapter().eepromFailAtWord = c.failAtWord;
    adapter().unplugAtEepromWord = c.unplugAtWord;
    adapter().eepromDropWord = c.neverStoredWord;
    adapter().eepromDropWrites = -1;
    adapter().readEeFails = c.readBackFails;
    host.whenEvent("buttons ready", [this] { host.press(OP_UPDATE); });
    host.whenLog(DISCONNECTED, [this] { host.stop = true; });
    EXPECT_EQ(workerMain(host.worker), 0);

    EXPECT_EQ(eepromWrites().size(), c.calls);
    EXPECT_EQ(fromChoice(), (Texts{CHOICE, UPDATE_OPENING, CANNOT_PROGRAM, "\r\n", DISCONNECTED}));
    EXPECT_EQ(host.progress.size(), c.steps);
    EXPECT_EQ(host.progress.back(), uint32_t(4 * (c.steps - 1) + 3));
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 0) << "a failed update must not reach the success tail";
}

INSTANTIATE_TEST_SUITE_P(Words, UpdateFailures,
                         ::testing::Values(FailureCase{"FirstWord", 0, -1, -1, false, 1, 1},
                                           FailureCase{"LastWord", 63, -1, -1, false, 64, 64},
                                           FailureCase{"Unplugged", -1, 20, -1, false, 21, 21},
                                           // Written, then written again three times.
                                           FailureCase{"NeverStored", -1, -1, 63, false, 67, 64},
                                           FailureCase{"ReadBackFails", -1, -1, -1, true, 64, 64}), CaseName());

// Closing the window during an Update lets it finish the words, so the adapter is not left with
// half an image, but neither cycles the port nor touches the window again.
TEST_F(UpdateOperation, StopRequestDuringTheWordsFinishesThemWithoutACycle) {
    host.whenEvent("buttons ready", [this] { host.press(OP_UPDATE); });
    host.whenEvent("progress 123", [this] { host.stop = true; });
    EXPECT_EQ(workerMain(host.worker), 0);
    ASSERT_EQ(eepromWrites().size(), 64u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(adapter().eeprom[i], AdapterEepromImage[i]);
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 0);
    EXPECT_EQ(host.windowOpsAfterStop, 0);
}

TEST_F(UpdateOperation, FailurePausesFiveSeconds) {
    adapter().eepromFailAtWord = 5;
    uint64_t failedAt = 0, lostAt = 0;
    host.whenEvent("buttons ready", [this] { host.press(OP_UPDATE); });
    host.whenLog(CANNOT_PROGRAM, [&] { failedAt = host.ms(); });
    host.whenLog(DISCONNECTED, [&] {
        lostAt = host.ms();
        host.stop = true;
    });
    EXPECT_EQ(workerMain(host.worker), 0);
    EXPECT_EQ(lostAt - failedAt, 5000u);
}

TEST_F(UpdateOperation, WithoutReadEEAnAdapterWithABadChecksumComesBackBlankAndIsNotAccepted) {
    host.worker.link.d2xx = libraryWithoutReadEE(host.worker.link.d2xx);
    adapter().eeprom[63] ^= 1;
    FT_HANDLE slot = NO_CHANNEL;
    ASSERT_EQ(openChannel(host.worker.link, adapter().channels[0].record.LocId, slot), LINK_OK);
    ASSERT_EQ(host.worker.link.d2xx->cyclePort(slot), FT_OK);
    closeChannel(host.worker.link, slot);
    host.advanceUs(uint64_t(adapter().reenumerateMs) * 1000);
    const int opens = simCount(host.sim, SIM_OPEN);
    ASSERT_TRUE(findAdapter(host.worker.link));
    EXPECT_EQ(host.worker.link.channels.channelA, NO_CHANNEL);
    EXPECT_EQ(simCount(host.sim, SIM_OPEN), opens) << "probed without FT_ReadEE";
    EXPECT_EQ(adapter().channels[0].record.ID, 0x04036010u);
    EXPECT_STREQ(adapter().channels[0].record.Description, "Dual RS232 A");
    EXPECT_STREQ(adapter().channels[1].record.Description, "Dual RS232 B");
    EXPECT_STREQ(adapter().channels[0].record.SerialNumber, "");
}

// A probe whose FT_ReadEE failed once judged nothing: the next search probes again and finds our
// damaged adapter, instead of leaving it alone for as long as it stays plugged in.
TEST(DamagedAdapterProbe, ProbeThatCouldNotReadIsRepeated) {
    RecordingHost host;
    SimAdapterConfig config;
    config.eeprom = SIM_EEPROM_BAD_CHECKSUM;
    simAddAdapter(host.sim, config);
    simAdapter(host.sim, 0).readEeFails = true;
    host.sim.world.onCall = [](Sim &sim, const SimCall &call) {
        if (call.fn == SIM_READ_EE) simAdapter(sim, 0).readEeFails = false;
    };
    host.whenEvent("buttons ready", [&host] { host.stop = true; });
    EXPECT_EQ(workerMain(host.worker), 0);
    EXPECT_EQ(simCount(host.sim, SIM_READ_EE), 1 + 64);
    EXPECT_NE(std::find(host.logTexts.begin(), host.logTexts.end(), DAMAGED), host.logTexts.end());
    EXPECT_TRUE(host.buttons[OP_UPDATE]);
}

// Someone else's blank chip, alone on the bus: probed once each time it is plugged in, never
// written, cycled or shown.
struct ForeignCase {
    const char *name;
    SimEepromContent eeprom;
    const char *manufacturer, *product, *serial;
};

class ForeignBlankChips : public ::testing::TestWithParam<ForeignCase> {
protected:
    RecordingHost host;
};

TEST_P(ForeignBlankChips, AreProbedOncePerAttachmentAndLeftAlone) {
    const ForeignCase &c = GetParam();
    SimAdapterConfig config;
    config.eeprom = c.eeprom;
    config.manufacturer = c.manufacturer;
    config.product = c.product;
    config.serial = c.serial;
    simAddAdapter(host.sim, config);
    simAdapter(host.sim, 0).board.powered = false;
    host.atMs(host.ms() + 5000, [&] { simUnplug(host.sim, 0); });
    host.atMs(host.ms() + 6000, [&] { simPlug(host.sim, 0); });
    host.atMs(host.ms() + 11000, [this] { host.stop = true; });
    EXPECT_EQ(workerMain(host.worker), 0);

    EXPECT_STREQ(simAdapter(host.sim, 0).channels[0].record.Description, "Dual RS232 A");
    EXPECT_GE(simCount(host.sim, SIM_CREATE_LIST), 100);
    EXPECT_EQ(simCount(host.sim, SIM_OPEN), 2);
    EXPECT_EQ(simCount(host.sim, SIM_READ_EE), 2 * 64);
    EXPECT_EQ(simCount(host.sim, SIM_CLOSE), 2);
    EXPECT_EQ(host.sim.world.openHandles, 0);
    EXPECT_EQ(simCount(host.sim, SIM_WRITE_EE) + simCount(host.sim, SIM_CYCLE_PORT) + simCount(host.sim, SIM_WRITE), 0);
    EXPECT_EQ(host.logTexts, Texts{SEARCHING});
    EXPECT_EQ(g_appState.deviceFound.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Contents, ForeignBlankChips,
    ::testing::Values(ForeignCase{"Erased", SIM_EEPROM_FILL, "Quorvantide", "KESTA OBD1 EMU", "KESTA"},
                      ForeignCase{"OtherMakerBadChecksum", SIM_EEPROM_BAD_CHECKSUM, "Other Maker",
                                  "USB Dual Serial", "OM0042"}), CaseName());

}  // namespace
