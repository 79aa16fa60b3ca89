// Erase, Read and Write from a button press to their tail, against the simulated board: what
// crosses the wire, what lands in the board's memory and in files, and what the user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/cases.h"
#include "tests/support/host_recorder.h"
#include "tests/support/texts.h"
#include "worker/worker.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;
using Positions = std::vector<uint32_t>;

using namespace text;
const char *const VERIFY = VERIFY_STEP;
const std::wstring IMAGE = L"C:\\Images\\ecu.bin";

Bytes pseudoRandom(uint32_t seed) {
    Bytes out(MEMORY_SIZE);
    for (uint8_t &b : out) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return out;
}

Bytes boardMemory(Sim &sim) {
    const SimBoard &b = simAdapter(sim, 0).board;
    return Bytes(b.memory, b.memory + MEMORY_SIZE);
}

// The progress positions `before`, then `count` more: first, first + step, and so on.
Positions progress(uint32_t first, uint32_t step, uint32_t count, Positions before = {}) {
    for (uint32_t i = 0; i < count; ++i) before.push_back(first + i * step);
    return before;
}
// The write phase's positions, then the read-back's.
const Positions WRITE_AND_VERIFY = progress(1, 2, 128, progress(1, 1, 256));

class MemoryOperations : public ::testing::Test {
protected:
    RecordingHost host;

    void SetUp() override {
        simAddAdapter(host.sim);
        memcpy(simAdapter(host.sim, 0).board.memory, pseudoRandom(7).data(), MEMORY_SIZE);
        host.answerDialog = [](FileDialogKind, std::wstring &name) { return name = IMAGE, true; };
    }
    void TearDown() override {
        EXPECT_FALSE(host.hitLimit) << "the worker ran into the test's time limit";
        EXPECT_EQ(host.sim.world.openHandles, 0);
        EXPECT_EQ(simAdapter(host.sim, 0).board.protocolErrors, 0) << simAdapter(host.sim, 0).board.lastProtocolError;
    }

    // Presses `op` once the buttons come on, and stops at the first of: the next choice after
    // the operation, the disconnect line, or just after the port cycle of the re-connect.
    void runOperation(Operation op) {
        host.whenEvent("buttons ready", [this, op] {
            host.press(op);
            host.whenLog(CHOICE, [this] { stop(); });
            host.whenLog(DISCONNECTED, [this] { stop(); });
            host.whenLog(RECONNECT, [this] { host.atMs(host.ms() + 2500, [this] { stop(); }); });
        });
        EXPECT_EQ(workerMain(host.worker), 0);
    }
    void stop() { host.stop = true; }

    // The log from the choice line on.
    Texts fromChoice() const {
        auto it = std::find(host.logTexts.begin(), host.logTexts.end(), CHOICE);
        return Texts(it, host.logTexts.end());
    }
    // The last `n` log texts.
    Texts lastTexts(long n) const { return Texts(host.logTexts.end() - n, host.logTexts.end()); }
    // Block packets of the given kinds, 'W' and 'R', in the order sent.
    std::vector<Bytes> blockPackets(const std::string &kinds = "WR") const {
        std::vector<Bytes> packets;
        for (const Bytes &w : simWrites(host.sim, 0, 0))
            if (kinds.find(char(w[0])) != std::string::npos) packets.push_back(w);
        return packets;
    }
};

TEST_F(MemoryOperations, EraseFillsTheMemoryWithFF) {
    runOperation(OP_ERASE);
    EXPECT_EQ(boardMemory(host.sim), Bytes(MEMORY_SIZE, 0xFF));
    EXPECT_EQ(fromChoice(), (Texts{CHOICE, ERASE_OPENING, VERIFY, RECONNECT}));
    EXPECT_EQ(host.progress, WRITE_AND_VERIFY);
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 1);

    // Every packet is a whole Erase packet, its data still all FF after the answers came back.
    const std::vector<Bytes> packets = blockPackets("W");
    ASSERT_EQ(packets.size(), 256u);
    for (uint32_t i = 0; i < packets.size(); ++i) {
        const Bytes &p = packets[i];
        const uint32_t address = i * 128;
        ASSERT_EQ(p.size(), 133u);
        EXPECT_EQ(Bytes(p.begin(), p.begin() + 4), (Bytes{0x57, 0x80, uint8_t(address >> 8), uint8_t(address)}));
        EXPECT_EQ(std::count(p.begin() + 4, p.begin() + 132, 0xFF), 128) << "block " << i;
        EXPECT_EQ(p[132], uint8_t(0x57 + (address >> 8) + (address & 0xFF)));
    }
    EXPECT_EQ(packets[0][132], 0x57);
    EXPECT_EQ(packets[1][132], 0xD7);
    EXPECT_EQ(packets[0x1200 / 128][132], 0x69);
    EXPECT_EQ(packets[255][132], 0x56);
}

// The last block's answer, 1000 ms of settling, the read-back, at once the success text,
// 2000 ms, the port cycle.
class VerifiedOperations : public MemoryOperations, public ::testing::WithParamInterface<Operation> {};

TEST_P(VerifiedOperations, PauseBeforeTheReadBackAndTheReconnect) {
    const Operation op = GetParam();
    host.files[IMAGE] = pseudoRandom(3);
    runOperation(op);
    const uint64_t verify = host.usOf(std::string("log ") + VERIFY);
    const uint64_t reconnect = host.usOf(std::string("log ") + RECONNECT);
    uint64_t lastWriteAnswer = 0, lastReadAnswer = 0, cycle = 0;
    bool readingBack = false;
    for (const SimCall &c : host.sim.world.trace) {
        readingBack = readingBack || (c.fn == SIM_WRITE && c.data[0] == 'R');
        if (c.fn == SIM_READ && !c.data.empty() && c.time <= reconnect)
            (readingBack ? lastReadAnswer : lastWriteAnswer) = c.time;
        if (c.fn == SIM_CYCLE_PORT) cycle = c.time;
    }
    ASSERT_NE(cycle, 0u);
    EXPECT_EQ((verify - lastWriteAnswer) / 1000, 1000u);
    EXPECT_LT(reconnect - lastReadAnswer, 1000u) << "no pause after the read-back";
    EXPECT_EQ(cycle - reconnect, 2000000u);
}

INSTANTIATE_TEST_SUITE_P(EraseWrite, VerifiedOperations, ::testing::Values(OP_ERASE, OP_WRITE),
                         [](const auto &info) { return info.param == OP_ERASE ? "Erase" : "Write"; });

TEST_F(MemoryOperations, ReadSavesTheBoardMemoryToTheChosenFile) {
    runOperation(OP_READ);
    ASSERT_EQ(host.files.count(IMAGE), 1u);
    EXPECT_EQ(host.files[IMAGE], boardMemory(host.sim));
    EXPECT_EQ(fromChoice(), (Texts{CHOICE, READ_OPENING, SAVE_STEP, RECONNECT}));
    EXPECT_EQ(host.progress, progress(1, 2, 128));
    EXPECT_EQ(host.msOfLog(RECONNECT), host.msOfLog(SAVE_STEP)) << "Read gives its result without a pause";
    // The save dialog started from the program's folder and kept the chosen path.
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].first, FILE_DIALOG_SAVE);
    EXPECT_EQ(host.dialogs[0].second, L"C:\\Tools\\Kesta\\*.bin");
    EXPECT_EQ(std::wstring(host.worker.fileName), IMAGE);
    const std::vector<Bytes> requests = blockPackets();
    ASSERT_EQ(requests.size(), 128u);
    EXPECT_EQ(requests[0], (Bytes{0x52, 0x00, 0x00, 0x00, 0x52}));
    EXPECT_EQ(requests[1], (Bytes{0x52, 0x00, 0x01, 0x00, 0x53}));
    EXPECT_EQ(requests[0x12], (Bytes{0x52, 0x00, 0x12, 0x00, 0x64}));
    EXPECT_EQ(requests[0x7F], (Bytes{0x52, 0x00, 0x7F, 0x00, 0xD1}));
}

TEST_F(MemoryOperations, WriteLoadsTheFileIntoTheBoard) {
    const Bytes image = pseudoRandom(42);
    host.files[IMAGE] = image;
    runOperation(OP_WRITE);
    EXPECT_EQ(boardMemory(host.sim), image);
    EXPECT_EQ(fromChoice(), (Texts{CHOICE, WRITE_OPENING, WRITE_STEP, VERIFY, RECONNECT}));
    EXPECT_EQ(host.progress, WRITE_AND_VERIFY);
    // The read-back asks for the whole memory in Read's blocks, in rising order.
    const std::vector<Bytes> reads = blockPackets("R");
    ASSERT_EQ(reads.size(), 128u);
    for (uint32_t i = 0; i < reads.size(); ++i)
        EXPECT_EQ(reads[i], (Bytes{0x52, 0x00, uint8_t(i), 0x00, uint8_t(0x52 + i)}));
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].first, FILE_DIALOG_OPEN);
}

TEST_F(MemoryOperations, LastChosenPathIsOfferedByTheNextDialog) {
    host.files[IMAGE] = pseudoRandom(1);
    host.whenEvent("buttons ready", [this] { host.press(OP_READ); });
    host.whenLog(RECONNECT, [&] {
        host.whenEvent("buttons ready", [&] { host.press(OP_WRITE); });
        host.whenLog(WRITE_STEP, [&] { stop(); });
    });
    EXPECT_EQ(workerMain(host.worker), 0);
    ASSERT_EQ(host.dialogs.size(), 2u);
    EXPECT_EQ(host.dialogs[1].first, FILE_DIALOG_OPEN);
    EXPECT_EQ(host.dialogs[1].second, IMAGE);
}

struct FileCase {
    const char *name;
    size_t size;      // SIZE_MAX: no such file
    bool locked;
    const char *statusText;  // logged too, with a line end
};

class WriteFileStep : public MemoryOperations, public ::testing::WithParamInterface<FileCase> {};

TEST_P(WriteFileStep, BadFileIsReportedAndTheConnectionStays) {
    const FileCase &c = GetParam();
    if (c.size != SIZE_MAX) host.files[IMAGE] = Bytes(c.size, 0x5A);
    if (c.locked) host.lockedFiles.push_back(IMAGE);
    const Bytes before = boardMemory(host.sim);
    runOperation(OP_WRITE);
    EXPECT_EQ(fromChoice(), (Texts{CHOICE, WRITE_OPENING, std::string(c.statusText) + "\r\n", "\r\n",
                                   "Ostrich Ver. 01.02.\r\n", "RTP port:\t\tCOM5.\r\n",
                                   "Datalog port:\tCOM6.\r\n", "---\r\n", CHOICE}));
    EXPECT_EQ(host.statusText, c.statusText);
    EXPECT_EQ(boardMemory(host.sim), before);
    EXPECT_TRUE(blockPackets().empty());
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 0);
    EXPECT_TRUE(host.buttons[OP_ERASE] && host.buttons[OP_READ] && host.buttons[OP_WRITE]);
}

INSTANTIATE_TEST_SUITE_P(
    Files, WriteFileStep,
    ::testing::Values(FileCase{"Empty", 0, false, "Invalid file size!"},
                      FileCase{"OneShort", 32767, false, "Invalid file size!"},
                      FileCase{"OneOver", 32769, false, "Invalid file size!"},
                      FileCase{"Missing", SIZE_MAX, false, "Can't open file!"},
                      FileCase{"Locked", 32768, true, "Can't open file!"}),
    CaseName());

TEST_F(MemoryOperations, CancelledWriteDialogKeepsTheConnection) {
    host.answerDialog = nullptr;
    runOperation(OP_WRITE);
    const Texts log = fromChoice();
    EXPECT_EQ(Texts(log.begin(), log.begin() + 4), (Texts{CHOICE, WRITE_OPENING, CANCELED, "\r\n"}));
    EXPECT_EQ(log.back(), CHOICE);
    EXPECT_EQ(host.statusText, "Operation canceled!");
}

TEST_F(MemoryOperations, CancelledSaveDialogDropsTheConnectionAfterTheHold) {
    host.answerDialog = nullptr;
    runOperation(OP_READ);
    EXPECT_EQ(fromChoice(), (Texts{CHOICE, READ_OPENING, SAVE_STEP, CANCELED, DISCONNECTED}));
    EXPECT_TRUE(host.files.empty());
    EXPECT_EQ(host.statusText, "Operation canceled!");
}

struct SaveFailure {
    const char *name;
    bool locked, failSaves;
    const char *statusText;  // logged too, with a line end
};

class SaveFailures : public MemoryOperations, public ::testing::WithParamInterface<SaveFailure> {};

TEST_P(SaveFailures, DropTheConnection) {
    const SaveFailure &c = GetParam();
    if (c.locked) host.lockedFiles.push_back(IMAGE);
    host.failSaves = c.failSaves;
    runOperation(OP_READ);
    EXPECT_EQ(lastTexts(2), (Texts{std::string(c.statusText) + "\r\n", DISCONNECTED}));
    EXPECT_EQ(host.statusText, c.statusText);
    EXPECT_TRUE(host.files.empty());
}

INSTANTIATE_TEST_SUITE_P(Read, SaveFailures,
                         ::testing::Values(SaveFailure{"CannotCreate", true, false, "Can't create file!"},
                                           SaveFailure{"CannotWrite", false, true, "Can't write file!"}),
                         CaseName());

TEST_F(MemoryOperations, RefusedBlockEndsTheWriteWithTheEarlierBlocksWritten) {
    const Bytes image = pseudoRandom(3);
    const Bytes before = boardMemory(host.sim);
    host.files[IMAGE] = image;
    simAdapter(host.sim, 0).board.refuseWriteBlock = 99;  // the 100th block
    runOperation(OP_WRITE);
    const Bytes after = boardMemory(host.sim);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 99 * 128, image.begin()));
    EXPECT_TRUE(std::equal(after.begin() + 99 * 128, after.end(), before.begin() + 99 * 128));
    EXPECT_EQ(blockPackets().size(), 100u);
    EXPECT_EQ(fromChoice(), (Texts{CHOICE, WRITE_OPENING, WRITE_STEP, "Fail!", DISCONNECTED}));
    EXPECT_EQ(host.statusText, OPERATION_FAILED);
    EXPECT_EQ(host.progress.back(), 100u);
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 0);
}

class BadReadChecksum : public MemoryOperations, public ::testing::WithParamInterface<int> {};

TEST_P(BadReadChecksum, SavesNothing) {
    const int block = GetParam();
    simAdapter(host.sim, 0).board.badChecksumReadBlock = block;
    runOperation(OP_READ);
    EXPECT_TRUE(host.files.empty());
    EXPECT_TRUE(host.dialogs.empty());
    EXPECT_EQ(lastTexts(2), (Texts{"Fail!", DISCONNECTED}));
    EXPECT_EQ(host.progress.size(), size_t(block + 1));
}

INSTANTIATE_TEST_SUITE_P(Blocks, BadReadChecksum, ::testing::Values(0, 57, 127));

TEST_F(MemoryOperations, AnswerThatStopsLeavesThatBlockOfTheImageAlone) {
    memset(g_memoryImage, 0xA5, MEMORY_SIZE);
    simAdapter(host.sim, 0).board.truncateReadBlock = 10;
    simAdapter(host.sim, 0).board.truncateAfterBytes = 200;
    runOperation(OP_READ);
    const uint64_t blockTook = host.msOfLog("Fail!") - host.msOf("progress 21");
    EXPECT_TRUE(std::equal(g_memoryImage, g_memoryImage + 10 * 256, boardMemory(host.sim).begin()));
    EXPECT_TRUE(std::all_of(g_memoryImage + 10 * 256, g_memoryImage + MEMORY_SIZE,
                            [](uint8_t b) { return b == 0xA5; }));
    EXPECT_GE(blockTook, 300u);
    EXPECT_LE(blockTook, 310u);
}

TEST_F(MemoryOperations, SlowButSteadyBoardStillReads) {
    simAdapter(host.sim, 0).board.byteIntervalMs = 250;
    host.limitUs = uint64_t(128) * 258 * 250 * 1000 + 60000000;
    runOperation(OP_READ);
    ASSERT_EQ(host.files.count(IMAGE), 1u);
    EXPECT_EQ(host.files[IMAGE], boardMemory(host.sim));
}

// The board acknowledges every block and keeps something else; the read-back goes on to the last
// block and names the first address that differs, the count and the one explanation that fits
// every difference, without a port cycle. A fault that what was sent cannot show (all FF over
// stuck-high bits or aliased lines) is no failure.
struct MemoryFaultCase {
    const char *name;
    Operation op;
    void (*fault)(SimMemoryFaults &);
    const char *failure;  // the log text after the verify line; null: verified
};

const MemoryFaultCase MEMORY_FAULTS[] = {
    {"clean Erase", OP_ERASE, [](SimMemoryFaults &) {}, nullptr},
    {"clean Write", OP_WRITE, [](SimMemoryFaults &) {}, nullptr},
    {"Erase, block 37 dropped", OP_ERASE, [](SimMemoryFaults &m) { m.dropWriteBlock = 37; },
     "Mismatch!\r\nAt 0x1280 read 00, sent FF.\r\n128 bytes differ.\r\nBlock 0x1280 was not kept."},
    {"Write, block 37 dropped", OP_WRITE, [](SimMemoryFaults &m) { m.dropWriteBlock = 37; },
     "Mismatch!\r\nAt 0x1280 read 00, sent F7.\r\n127 bytes differ.\r\nBlock 0x1280 was not kept."},
    {"Erase, line A14 ignored", OP_ERASE, [](SimMemoryFaults &m) { m.ignoredAddressLines = 0x4000; }, nullptr},
    {"Write, line A14 ignored", OP_WRITE, [](SimMemoryFaults &m) { m.ignoredAddressLines = 0x4000; },
     "Mismatch!\r\nAt 0x0000 read 76, sent 89.\r\n16299 bytes differ.\r\nAddress line A14 is faulty."},
    {"Write, lines A3 and A14 ignored", OP_WRITE, [](SimMemoryFaults &m) { m.ignoredAddressLines = 0x4008; },
     "Mismatch!\r\nAt 0x0000 read 78, sent 89.\r\n24510 bytes differ.\r\nAddress lines A3, A14 are faulty."},
    {"Erase, data line D6 stuck at 0", OP_ERASE, [](SimMemoryFaults &m) { m.stuckDataLow = 0x40; },
     "Mismatch!\r\nAt 0x0000 read BF, sent FF.\r\n32768 bytes differ.\r\nData bit D6 is stuck at 0."},
    {"Write, data lines D2 and D5 stuck", OP_WRITE,
     [](SimMemoryFaults &m) { m.stuckDataLow = 0x04, m.stuckDataHigh = 0x20; },
     "Mismatch!\r\nAt 0x0000 read A9, sent 89.\r\n24521 bytes differ.\r\nData bits D2, D5 are stuck."},
    {"Erase, bit 3 at 5A5A stuck at 0", OP_ERASE,
     [](SimMemoryFaults &m) { m.stuckAddress = 0x5A5A, m.stuckBit = 3; },
     "Mismatch!\r\nAt 0x5A5A read F7, sent FF.\r\n1 byte differs."},
    {"Erase, bit 3 at 5A5A stuck at 1", OP_ERASE,
     [](SimMemoryFaults &m) { m.stuckAddress = 0x5A5A, m.stuckBit = 3, m.stuckHigh = true; }, nullptr},
    {"Write, bit 3 at 5A5A stuck at 1", OP_WRITE,
     [](SimMemoryFaults &m) { m.stuckAddress = 0x5A5A, m.stuckBit = 3, m.stuckHigh = true; },
     "Mismatch!\r\nAt 0x5A5A read 0E, sent 06.\r\n1 byte differs."},
    {"Write, line A14 ignored and D0 stuck at 1: scattered, unexplained", OP_WRITE,
     [](SimMemoryFaults &m) { m.ignoredAddressLines = 0x4000, m.stuckDataHigh = 0x01; },
     "Mismatch!\r\nAt 0x0000 read 77, sent 89.\r\n24413 bytes differ."},
};

class ReadBack : public MemoryOperations, public ::testing::WithParamInterface<MemoryFaultCase> {};

TEST_P(ReadBack, FindsWhatTheBoardDidNotKeep) {
    const MemoryFaultCase &c = GetParam();
    SimBoard &board = simAdapter(host.sim, 0).board;
    memset(board.memory, 0x00, MEMORY_SIZE);
    // Each fault shows in the file at its address: not 00, halves that differ, bit 3 clear.
    Bytes image = pseudoRandom(42);
    image[0x1280] |= 0x01;
    image[0x4000] = uint8_t(~image[0x0000]);
    image[0x5A5A] &= 0xF7;
    host.files[IMAGE] = image;
    c.fault(board.memoryFaults);
    runOperation(c.op);
    const char *lastStep = c.op == OP_ERASE ? ERASE_OPENING : WRITE_STEP;
    const Texts log = fromChoice();
    EXPECT_EQ(Texts(std::find(log.begin(), log.end(), lastStep), log.end()),
              c.failure ? (Texts{lastStep, VERIFY, c.failure, DISCONNECTED}) : (Texts{lastStep, VERIFY, RECONNECT}));
    EXPECT_EQ(blockPackets("R").size(), 128u);
    EXPECT_EQ(host.progress.back(), 255u);
    EXPECT_EQ(host.statusText, c.failure ? VERIFY_FAILED : "");
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), c.failure ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReadBack, ::testing::ValuesIn(MEMORY_FAULTS), CaseName());

// A memory that reads one byte everywhere fits many lines or bits at once; the explanation then
// goes on at the next line, so that no line is wider than the log pane.
TEST(VerifyReport, ManyLinesAreNamedOnLinesThatFitThePane) {
    Bytes sent(MEMORY_SIZE, 0x5A), read(MEMORY_SIZE, 0xFF);
    sent[0x7FFF] = 0xFF;
    wchar_t text[VERIFY_TEXT_CAPACITY];
    formatVerifyReport(analyseVerify(sent.data(), read.data()), text);
    EXPECT_STREQ(text, L"Mismatch!\r\nAt 0x0000 read FF, sent 5A.\r\n32767 bytes differ.\r\n"
                       L"Address lines A0, A1, A2, A3, A4, A5,\r\nA6, A7, A8, A9, A10, A11, A12, A13, A14\r\n"
                       L"are faulty.");
    std::fill(read.begin(), read.end(), 0x00);
    formatVerifyReport(analyseVerify(nullptr, read.data()), text);
    EXPECT_STREQ(text, L"Mismatch!\r\nAt 0x0000 read 00, sent FF.\r\n32768 bytes differ.\r\n"
                       L"Data bits D0, D1, D2, D3, D4, D5, D6, D7\r\nare stuck.");
}

// A read-back block that fails is a failed block like any other.
TEST_F(MemoryOperations, FailedReadBackBlockFailsTheOperation) {
    simAdapter(host.sim, 0).board.badChecksumReadBlock = 5;
    runOperation(OP_ERASE);
    EXPECT_EQ(lastTexts(3), (Texts{VERIFY, "Fail!", DISCONNECTED}));
    EXPECT_EQ(host.statusText, OPERATION_FAILED);
    EXPECT_EQ(blockPackets("R").size(), 6u);
    EXPECT_EQ(simCount(host.sim, SIM_CYCLE_PORT), 0);
}

struct UnplugCase {
    const char *name;
    Operation op;
    int blockCommand;
};

class UnplugMidOperation : public MemoryOperations, public ::testing::WithParamInterface<UnplugCase> {};

TEST_P(UnplugMidOperation, FailsAndDropsTheConnection) {
    const UnplugCase &c = GetParam();
    host.files[IMAGE] = pseudoRandom(9);
    simAdapter(host.sim, 0).board.unplugAtBlockCommand = c.blockCommand;
    runOperation(c.op);
    EXPECT_EQ(lastTexts(2), (Texts{"Fail!", DISCONNECTED}));
    EXPECT_EQ(host.statusText, OPERATION_FAILED);
    EXPECT_EQ(host.typeLabel, "");
    EXPECT_TRUE(host.files.size() <= 1 && (c.op != OP_READ || host.dialogs.empty()));
}

INSTANTIATE_TEST_SUITE_P(Operations, UnplugMidOperation,
                         ::testing::Values(UnplugCase{"Erase", OP_ERASE, 0},
                                           UnplugCase{"Read", OP_READ, 64},
                                           UnplugCase{"Write", OP_WRITE, 255}),
                         CaseName());

}  // namespace
