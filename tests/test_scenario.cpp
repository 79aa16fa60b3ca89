// Scenario files of the FTD2XX.dll stand-in: what a file describes, the lines it refuses, the
// world built from it and the commands that change that world while the program runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "sim/scenario.h"

namespace {

uint64_t g_now = 0;
const SimClock CLOCK = {nullptr, [](void *) { return g_now; }, [](void *, uint64_t us) { g_now += us; }};
ScenarioWorld g_world;

std::map<std::string, std::vector<uint8_t>> g_files;

// A line or command that is refused, and the error that says why.
struct Refusal {
    const char *input, *error;
};

bool readFakeFile(const std::string &path, std::vector<uint8_t> &bytes) {
    auto it = g_files.find(path);
    if (it == g_files.end()) return false;
    bytes = it->second;
    return true;
}

Scenario parsed(const std::string &text) {
    Scenario s;
    std::string error;
    EXPECT_TRUE(parseScenario(text, s, error)) << error;
    return s;
}

void build(const std::string &text) {
    std::string error;
    ASSERT_TRUE(buildScenarioWorld(g_world, parsed(text), CLOCK, "run/", readFakeFile, error)) << error;
}

std::vector<std::string> listedDescriptions() {
    uint32_t n = 0;
    simD2xx(g_world.sim)->createDeviceInfoList(&n);
    std::vector<FT_DEVICE_LIST_INFO_NODE> list(n);
    simD2xx(g_world.sim)->getDeviceInfoList(list.data(), &n);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < n; ++i)
        out.push_back(std::string(list[i].Description, strnlen(list[i].Description, 64)));
    return out;
}

TEST(ScenarioFile, DescribesAdaptersForeignDevicesBoardFaultsAndEvents) {
    const Scenario s = parsed(
        "# two devices ahead of an old adapter\n"
        "output \"out dir\"\n"
        "foreign 4 04036010 \"Other Dual A\" OTHERA\n"
        "adapter\n"
        "  usb-id 0403/6D20\n"
        "  product \"KESTA OBD1 EMU\"   # the channels add A and B\n"
        "  serial KESTA\n"
        "  manufacturer Quorvantide\n"
        "  com 7 none\n"
        "  channel-b unlisted\n"
        "  open-fails A on\n"
        "  version 0A.1F\n"
        "  reply wrong-third\n"
        "  power off\n"
        "  memory random 42\n"
        "  byte-interval 3\n"
        "  wire-timing off\n"
        "  chip on\n"
        "  call-cost-us 35\n"
        "  board-delay-us 700\n"
        "  latency-timer-fails on\n"
        "  refuse-write-block 99\n"
        "  bad-checksum-read-block 5\n"
        "  truncate-read-block 6 100\n"
        "  drop-write-block 17\n"
        "  ignore-address-lines 4080\n"
        "  stuck-bit 7ffe 7 1\n"
        "  stuck-data-line 2 0\n"
        "  stuck-data-line 5 1\n"
        "  unplug-at-block-command 64\n"
        "  unplug-at-eeprom-word 30\n"
        "  eeprom-fail-at-word 63\n"
        "  eeprom-drop-word 2 once\n"
        "  read-ee-fails on\n"
        "  cycle-port-fails on\n"
        "  eeprom bad-checksum\n"
        "  reenumerate-ms 900\n"
        "  plugged no\n"
        "\r\n"
        "at 5000 plug 0\n"
        "at 3000 set 0 refuse-write-block off\n"
        "at 3000 power 0 on\n");
    EXPECT_EQ(s.outputDir, "out dir");
    ASSERT_EQ(s.foreign.size(), 1u);
    EXPECT_EQ(s.foreign[0].type, 4u);
    EXPECT_EQ(s.foreign[0].id, 0x04036010u);
    EXPECT_EQ(s.foreign[0].description, "Other Dual A");
    EXPECT_EQ(s.foreign[0].serial, "OTHERA");
    ASSERT_EQ(s.order.size(), 2u);
    EXPECT_TRUE(s.order[0].foreign);
    EXPECT_FALSE(s.order[1].foreign);

    ASSERT_EQ(s.adapters.size(), 1u);
    const ScenarioAdapter &a = s.adapters[0];
    EXPECT_EQ(a.config.product, "KESTA OBD1 EMU");
    EXPECT_EQ(a.config.serial, "KESTA");
    EXPECT_EQ(a.config.manufacturer, "Quorvantide");
    const SimMemoryFaults &m = a.board.memoryFaults;
    EXPECT_EQ(a.config.usbId, 0x04036D20);
    EXPECT_EQ(a.config.comPortA, 7);
    EXPECT_EQ(a.config.comPortB, -1);
    EXPECT_EQ(a.channels[0].listed, 1);
    EXPECT_EQ(a.channels[1].listed, 0);
    EXPECT_EQ(a.channels[0].openFails, 1);
    EXPECT_EQ(a.channels[1].openFails, 0);
    EXPECT_EQ(a.board.version, 0x0A1F);
    EXPECT_EQ(a.board.versionReply, SIM_REPLY_WRONG_THIRD);
    EXPECT_EQ(a.board.powered, 0);
    EXPECT_EQ(a.memoryKind, MEMORY_RANDOM);
    EXPECT_EQ(a.seed, 42);
    EXPECT_EQ(a.board.byteIntervalMs, 3);
    EXPECT_EQ(a.board.wireTiming, 0);
    EXPECT_EQ(a.adapter.chip.on, 1);
    EXPECT_EQ(a.adapter.chip.callCostUs, 35);
    EXPECT_EQ(a.adapter.chip.boardDelayUs, 700);
    EXPECT_EQ(a.channels[0].failSetting, 4);
    EXPECT_EQ(a.channels[1].failSetting, 4);
    EXPECT_EQ(a.board.refuseWriteBlock, 99);
    EXPECT_EQ(a.board.badChecksumReadBlock, 5);
    EXPECT_EQ(a.board.truncateReadBlock, 6);
    EXPECT_EQ(a.board.truncateAfterBytes, 100);
    EXPECT_EQ(m.dropWriteBlock, 17);
    EXPECT_EQ(m.ignoredAddressLines, 0x4080);
    EXPECT_EQ(m.stuckAddress, 0x7FFE);
    EXPECT_EQ(m.stuckBit, 7);
    EXPECT_EQ(m.stuckHigh, 1);
    EXPECT_EQ(m.stuckDataLow, 0x04);
    EXPECT_EQ(m.stuckDataHigh, 0x20);
    EXPECT_EQ(a.board.unplugAtBlockCommand, 64);
    EXPECT_EQ(a.adapter.unplugAtEepromWord, 30);
    EXPECT_EQ(a.adapter.eepromFailAtWord, 63);
    EXPECT_EQ(a.adapter.eepromDropWord, 2);
    EXPECT_EQ(a.adapter.eepromDropWrites, 1);
    EXPECT_EQ(a.adapter.readEeFails, 1);
    EXPECT_EQ(a.adapter.cyclePortFails, 1);
    EXPECT_EQ(a.config.eeprom, SIM_EEPROM_BAD_CHECKSUM);
    EXPECT_EQ(a.adapter.reenumerateMs, 900);
    EXPECT_EQ(a.config.plugged, 0);

    // Sorted by time; equal times keep their order in the file.
    ASSERT_EQ(s.events.size(), 3u);
    EXPECT_EQ(s.events[0].atMs, 3000u);
    EXPECT_EQ(s.events[0].command, "set 0 refuse-write-block off");
    EXPECT_EQ(s.events[1].command, "power 0 on");
    EXPECT_EQ(s.events[2].atMs, 5000u);
    EXPECT_EQ(s.events[2].command, "plug 0");
    EXPECT_EQ(s.events[2].line, 40);
}

TEST(ScenarioFile, AnAdapterLineAloneIsTheUsualAdapterAndTheDefaultWorldHasOne) {
    const Scenario s = parsed("adapter\n");
    ASSERT_EQ(s.adapters.size(), 1u);
    const ScenarioAdapter &a = s.adapters[0];
    EXPECT_EQ(a.config.product, "KESTA OBD1 EMU");
    EXPECT_EQ(a.config.serial, "KESTA");
    EXPECT_EQ(a.config.usbId, 0x04036010);
    EXPECT_EQ(a.config.comPortA, 5);
    EXPECT_EQ(a.config.comPortB, 6);
    EXPECT_EQ(a.board.version, 0x0102);
    EXPECT_EQ(a.board.versionReply, SIM_REPLY_NORMAL);
    EXPECT_EQ(a.board.powered, 1);
    EXPECT_EQ(a.config.plugged, 1);
    EXPECT_EQ(a.board.wireTiming, 1);
    EXPECT_EQ(a.adapter.chip.on, 0);
    EXPECT_EQ(a.channels[0].failSetting, 0);
    EXPECT_EQ(a.channels[1].failSetting, 0);
    EXPECT_EQ(a.adapter.chip.callCostUs, 20);
    EXPECT_EQ(a.adapter.chip.boardDelayUs, 500);
    EXPECT_EQ(a.memoryKind, MEMORY_FILL);
    EXPECT_EQ(a.fillByte, 0xFF);
    EXPECT_EQ(a.board.refuseWriteBlock, -1);
    EXPECT_EQ(a.board.unplugAtBlockCommand, -1);

    const Scenario d = defaultScenario();
    ASSERT_EQ(d.adapters.size(), 1u);
    EXPECT_EQ(d.adapters[0].config.usbId, a.config.usbId);
    EXPECT_EQ(d.order.size(), 1u);
    EXPECT_TRUE(d.events.empty());

    EXPECT_TRUE(parsed("# nothing attached\n\n").adapters.empty());
}

TEST(ScenarioFile, RefusesWhatItDoesNotUnderstandNamingTheLine) {
    const Refusal cases[] = {
        {"version 01.02\n", "line 1: \"version\" comes before any adapter line"},
        {"adapter\nspeed 9600\n", "line 2: unknown setting \"speed\""},
        {"adapter\nrefuse-write-block 256\n", "line 2: \"256\" is not a number from 0 to 255"},
        {"adapter\nrefuse-write-block -3\n", "line 2: \"-3\" is not a number from 0 to 255"},
        {"adapter\nignore-address-lines 8000\n", "line 2: \"8000\" is not a hexadecimal number from 0 to 7FFF"},
        {"adapter\nstuck-bit 1234 8 1\n", "line 2: \"8\" is not a number from 0 to 7"},
        {"adapter\nbyte-interval 5ms\n", "line 2: \"5ms\" is not a number from 0 to 60000"},
        {"adapter\ncall-cost-us 2000000\n", "line 2: \"2000000\" is not a number from 0 to 1000000"},
        {"adapter\nchip fast\n", "line 2: expected on or off, not \"fast\""},
        {"adapter\nusb-id 403/6010/1\n", "line 2: \"403/6010/1\" is not a USB id (04036010 or 0403/6010)"},
        {"adapter\nusb-id 4036010\n", "line 2: \"4036010\" is not a USB id (04036010 or 0403/6010)"},
        {"adapter\nversion 1.2\n", "line 2: \"1.2\" is not a version like 01.02"},
        {"adapter\nreply loud\n", "line 2: unknown reply mode \"loud\""},
        {"adapter\npower maybe\n", "line 2: expected on or off, not \"maybe\""},
        {"adapter\nproduct \"KESTA OBD1\n", "line 2: unterminated quote"},
        {"adapter\nproduct KESTA OBD1 EMU\n", "line 2: \"product\" takes 1 value(s)"},
        {"adapter\nmemory pattern 1\n", "line 2: memory takes fill, random or file"},
        {"adapter\nopen-fails C on\n", "line 2: expected channel A or B, not \"C\""},
        {"adapter\nat 100 unplug 1\n", "line 2: no adapter 1"},
        {"adapter\nat 100 explode 0\n", "line 2: unknown command \"explode\""},
        {"adapter\nat soon unplug 0\n", "line 2: \"soon\" is not a number from 0 to 4294967295"},
        {"adapter\nat 100 set 0 usb-id 04036010\n", "line 2: \"usb-id\" can only be set at start"},
        {"foreign 4 xyz a b\n", "line 1: \"xyz\" is not a hexadecimal id"},
        {"adapter\neeprom fill 10000\n", "line 2: eeprom takes valid, bad-checksum or fill HHHH"},
        {"adapter\neeprom-drop-word 2 twice\n", "line 2: eeprom-drop-word takes a word and once or always"},
        {"adapter\nat 100 set 0 eeprom valid\n", "line 2: \"eeprom\" can only be set at start"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input);
        Scenario s;
        std::string error;
        EXPECT_FALSE(parseScenario(c.input, s, error));
        EXPECT_EQ(error, c.error);
    }
}

// Every setting of the table is documented, and every keyword the document gives is a setting or
// one of the other lines and commands: the first cell of each table row names them.
TEST(ScenarioFile, SettingsAreTheKeywordsOfTheDocument) {
    std::ifstream doc(KESTA_SOURCE_DIR "/sim/dll/SCENARIO.md");
    ASSERT_TRUE(doc.good());
    std::set<std::string> documented;
    for (std::string line; std::getline(doc, line);) {
        if (line.compare(0, 3, "| `") != 0) continue;
        const std::string cell = line.substr(0, line.find(" | "));
        for (size_t tick = cell.find('`'); tick != std::string::npos;
             tick = cell.find('`', cell.find('`', tick + 1) + 1))
            documented.insert(cell.substr(tick + 1, cell.find_first_of(" `", tick + 1) - tick - 1));
    }
    std::set<std::string> known = {"adapter", "foreign", "output", "at", "unplug", "plug", "set"};
    for (const std::string &word : scenarioSettingWords()) known.insert(word);
    EXPECT_EQ(documented, known);
}

TEST(ScenarioWorld, ListsDevicesInFileOrderWithTheirBoardsAndMemory) {
    g_files["run/image.bin"] = std::vector<uint8_t>(32768, 0x5A);
    g_files["run/image.bin"][0] = 0x01;
    g_files["/abs/short.bin"] = {0x11, 0x22};
    build("adapter\n  memory file image.bin\n"
          "foreign 4 04036010 \"Other Dual A\" OTHERA\n"
          "adapter\n  product \"SECOND\"\n  channel-b unlisted\n  memory random 7\n"
          "adapter\n  memory file /abs/short.bin\n  plugged no\n"
          "adapter\n  memory fill 00\n  wire-timing off\n  reply silent\n  chip on\n  latency-timer-fails on\n"
          "adapter\n  eeprom fill FFFF\n");
    const std::vector<std::string> listed = {"KESTA OBD1 EMU A", "KESTA OBD1 EMU B", "Other Dual A", "SECOND A",
                                             "KESTA OBD1 EMU A", "KESTA OBD1 EMU B", "Dual RS232 A", "Dual RS232 B"};
    EXPECT_EQ(listedDescriptions(), listed);
    ASSERT_EQ(g_world.sim.world.adapters.size(), 5u);
    EXPECT_EQ(simAdapter(g_world.sim, 4).eeprom[63], 0xFFFF);
    EXPECT_EQ(simAdapter(g_world.sim, 0).board.memory[0], 0x01);
    EXPECT_EQ(simAdapter(g_world.sim, 0).board.memory[32767], 0x5A);

    uint8_t pattern[32768];
    scenarioRandomMemory(7, pattern, sizeof pattern);
    EXPECT_EQ(memcmp(simAdapter(g_world.sim, 1).board.memory, pattern, sizeof pattern), 0);
    uint8_t other[32768];
    scenarioRandomMemory(8, other, sizeof other);
    EXPECT_NE(memcmp(pattern, other, sizeof pattern), 0);
    // A pattern, not a fill: many different byte values.
    EXPECT_GT(std::count(pattern, pattern + 256, pattern[0]), 0);
    EXPECT_LT(std::count(pattern, pattern + 256, pattern[0]), 16);

    // A short file fills the front; the rest stays erased.
    EXPECT_EQ(simAdapter(g_world.sim, 2).board.memory[1], 0x22);
    EXPECT_EQ(simAdapter(g_world.sim, 2).board.memory[2], 0xFF);
    EXPECT_FALSE(simAdapter(g_world.sim, 2).plugged);
    EXPECT_EQ(simAdapter(g_world.sim, 3).board.memory[100], 0x00);
    EXPECT_FALSE(simAdapter(g_world.sim, 3).board.wireTiming);
    EXPECT_TRUE(simAdapter(g_world.sim, 0).board.wireTiming);
    EXPECT_EQ(simAdapter(g_world.sim, 3).board.versionReply, SIM_REPLY_SILENT);
    EXPECT_TRUE(simAdapter(g_world.sim, 3).chip.on);
    EXPECT_FALSE(simAdapter(g_world.sim, 0).chip.on);
    EXPECT_EQ(simAdapter(g_world.sim, 3).channels[1].failSetting, 4);
    EXPECT_EQ(simAdapter(g_world.sim, 0).channels[1].failSetting, 0);

    // The identity lives in the EEPROM too, so a port cycle brings the same names back.
    const SimEepromIdentity id = simDecodeEeprom(simAdapter(g_world.sim, 1).eeprom);
    EXPECT_TRUE(id.checksumValid);
    EXPECT_EQ(id.productName, "SECOND");
}

TEST(ScenarioWorld, AMissingMemoryFileLeavesNothingAttached) {
    Scenario s = parsed("adapter\nmemory file missing.bin\n");
    std::string error;
    EXPECT_FALSE(buildScenarioWorld(g_world, s, CLOCK, "run/", readFakeFile, error));
    EXPECT_EQ(error, "cannot read memory file \"run/missing.bin\"");
    EXPECT_TRUE(g_world.sim.world.adapters.empty());
    EXPECT_TRUE(listedDescriptions().empty());
}

TEST(ScenarioCommands, ChangeTheRunningWorldOneSettingAtATime) {
    build("adapter\n  refuse-write-block 10\n  bad-checksum-read-block 3\n"
          "adapter\n  serial OTHER\n");
    std::string error;
    EXPECT_TRUE(runScenarioCommand(g_world, "unplug 0", error)) << error;
    EXPECT_EQ(listedDescriptions().size(), 2u);
    EXPECT_TRUE(runScenarioCommand(g_world, "plug 0", error)) << error;
    EXPECT_EQ(listedDescriptions().size(), 4u);

    EXPECT_TRUE(runScenarioCommand(g_world, "power 0 off", error)) << error;
    EXPECT_FALSE(simAdapter(g_world.sim, 0).board.powered);
    EXPECT_TRUE(runScenarioCommand(g_world, "reply 0 short", error)) << error;
    EXPECT_EQ(simAdapter(g_world.sim, 0).board.versionReply, SIM_REPLY_SHORT);
    // A later command keeps what earlier ones set.
    EXPECT_FALSE(simAdapter(g_world.sim, 0).board.powered);
    EXPECT_TRUE(runScenarioCommand(g_world, "set 0 refuse-write-block off", error)) << error;
    EXPECT_EQ(simAdapter(g_world.sim, 0).board.refuseWriteBlock, -1);
    EXPECT_EQ(simAdapter(g_world.sim, 0).board.badChecksumReadBlock, 3);
    EXPECT_TRUE(runScenarioCommand(g_world, "set 0 stuck-data-line 6 0", error)) << error;
    EXPECT_EQ(simBoardByte(simAdapter(g_world.sim, 0).board, 0x1234) & 0x40, 0);
    EXPECT_TRUE(runScenarioCommand(g_world, "set 0 stuck-data-line off", error)) << error;
    EXPECT_EQ(simAdapter(g_world.sim, 0).board.memoryFaults.stuckDataLow, 0);
    EXPECT_TRUE(runScenarioCommand(g_world, "set 1 channel-b unlisted", error)) << error;
    EXPECT_EQ(listedDescriptions().size(), 3u);
    EXPECT_TRUE(runScenarioCommand(g_world, "set 1 com 12 none", error)) << error;
    EXPECT_EQ(simAdapter(g_world.sim, 1).channels[0].comPort, 12);
    EXPECT_EQ(simAdapter(g_world.sim, 1).channels[1].comPort, -1);
    EXPECT_EQ(simAdapter(g_world.sim, 0).board.refuseWriteBlock, -1);

    const Refusal refused[] = {
        {"unplug 2", "no adapter 2"}, {"unplug", "\"unplug\" needs an adapter number"},
        {"unplug 0 now", "\"unplug\" takes 1 value(s)"}, {"set 0", "set needs a setting"},
        {"set 0 memory fill 00", "\"memory\" can only be set at start"}, {"reply 0", "\"reply\" takes 1 value(s)"},
        {"", "empty command"},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(r.input);
        EXPECT_FALSE(runScenarioCommand(g_world, r.input, error));
        EXPECT_EQ(error, r.error);
    }
}

TEST(ScenarioCommands, UnplugClosesOpenChannels) {
    build("adapter\n");
    FT_HANDLE h = nullptr;
    ASSERT_EQ(simD2xx(g_world.sim)->openEx(reinterpret_cast<void *>(uintptr_t(0x1001)), FT_OPEN_BY_LOCATION, &h),
              FT_OK);
    std::string error;
    ASSERT_TRUE(runScenarioCommand(g_world, "unplug 0", error)) << error;
    EXPECT_EQ(g_world.sim.world.openHandles, 0);
    uint8_t byte;
    uint32_t done = 0;
    EXPECT_NE(simD2xx(g_world.sim)->read(h, &byte, 1, &done), FT_OK);
}

}  // namespace
