// The status query and the block packets against the simulated board, in virtual time: the bytes
// on the wire, the board's answers and what lands in the memory image.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/link.h"
#include "protocol/protocol.h"
#include "sim/sim.h"
#include "tests/support/cases.h"
#include "tests/support/host_recorder.h"
#include "worker/app_state.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A block written with nothing but 0xFF: the Erase.
const Bytes ERASED(128, 0xFF);

// A block's address and the checksum of the packet for it.
using AddressSum = std::pair<uint16_t, uint8_t>;

// A block packet as it goes on the wire: command, count, address, the data and the checksum.
Bytes packet(uint8_t command, uint8_t count, uint16_t address, const Bytes &data, uint8_t checksum) {
    Bytes p = {command, count, uint8_t(address >> 8), uint8_t(address)};
    p.insert(p.end(), data.begin(), data.end());
    p.push_back(checksum);
    return p;
}

// A connected adapter with an answering board; the trace starts empty.
class Protocol : public ::testing::Test {
protected:
    RecordingHost host;

    void SetUp() override {
        simAddAdapter(host.sim);
        ASSERT_TRUE(findAdapter(host.worker.link));
        ASSERT_TRUE(channelOpen(host.worker.link.channels.channelA));
        host.sim.world.trace.clear();
        start = host.nowUs;
    }
    void TearDown() override { EXPECT_FALSE(host.hitLimit); }

    SimBoard &board() { return simAdapter(host.sim, 0).board; }
    SimChannel &channelA() { return simAdapter(host.sim, 0).channels[0]; }
    uint64_t elapsedMs() const { return (host.nowUs - start) / 1000; }
    std::vector<Bytes> wire() { return simWrites(host.sim, 0, 0); }
    // The purge masks of channel A, in order.
    std::vector<uint32_t> purges() {
        std::vector<uint32_t> out;
        for (const SimCall &c : host.sim.world.trace)
            if (c.fn == SIM_PURGE && c.channel == 0) out.push_back(c.arg[0]);
        return out;
    }
    void unplugAfterMs(uint64_t ms) { host.atMs(start / 1000 + ms, [&] { simUnplug(host.sim, 0); }); }

    uint64_t start = 0;
};

// --- status query ---

struct ReplyCase {
    const char *name;
    SimVersionReply reply;
    uint16_t boardVersion;
    bool answered;
    uint16_t version;
    uint64_t elapsedMs;  // the reply's bytes come at once; the time-out after them ends it
};

void PrintTo(const ReplyCase &c, std::ostream *os) { *os << c.name; }

class StatusQuery : public Protocol, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(StatusQuery, ReadsTheReplyToItsTimeOut) {
    const ReplyCase &c = GetParam();
    board().versionReply = c.reply;
    board().version = c.boardVersion;
    BoardStatus status = {true, 0xBEEF};

    EXPECT_TRUE(queryBoardStatus(host.worker.link, &status));
    EXPECT_EQ(status.answered, c.answered);
    EXPECT_EQ(status.version, c.version);
    EXPECT_EQ(elapsedMs(), c.elapsedMs);

    EXPECT_EQ(wire(), (std::vector<Bytes>{{'V', 'V'}}));
    EXPECT_EQ(purges(), (std::vector<uint32_t>{3, 3}));
    EXPECT_EQ(host.sim.world.trace.front().fn, SIM_PURGE);
    EXPECT_EQ(host.sim.world.trace.back().fn, SIM_PURGE);
    EXPECT_TRUE(channelA().rx.empty()) << "whatever the query did not take is purged";
    EXPECT_EQ(board().protocolErrors, 0) << board().lastProtocolError;
}

INSTANTIATE_TEST_SUITE_P(Replies, StatusQuery,
    ::testing::Values(ReplyCase{"Valid", SIM_REPLY_NORMAL, 0x0102, true, 0x0102, 300},
                      ReplyCase{"HighBytesStayUnsigned", SIM_REPLY_NORMAL, 0xA0F5, true, 0xA0F5, 300},
                      ReplyCase{"TwoBytesOnly", SIM_REPLY_SHORT, 0x0102, false, 0, 300},
                      ReplyCase{"ThirdByteNotO", SIM_REPLY_WRONG_THIRD, 0x0102, false, 0, 300},
                      ReplyCase{"Silent", SIM_REPLY_SILENT, 0x0102, false, 0, 300},
                      // 64 bytes end the reply without waiting; the closing purge drops the rest.
                      ReplyCase{"LongerThan64Bytes", SIM_REPLY_LONG, 0x0102, true, 0x0102, 0}), CaseName());

TEST_F(Protocol, StatusQueryTakesAtMost64Bytes) {
    board().versionReply = SIM_REPLY_LONG;
    BoardStatus status = {};
    ASSERT_TRUE(queryBoardStatus(host.worker.link, &status));
    EXPECT_EQ(simCount(host.sim, SIM_READ), 64);
}

TEST_F(Protocol, StatusQueryWithoutAResultRunsTheExchange) {
    EXPECT_TRUE(queryBoardStatus(host.worker.link, nullptr));
    EXPECT_EQ(wire(), (std::vector<Bytes>{{'V', 'V'}}));
    EXPECT_EQ(purges(), (std::vector<uint32_t>{3, 3}));
}

// Channel A's FT_Write fails; everything else is the simulator's.
D2xxApi g_writeFails;

TEST_F(Protocol, StatusQueryWhoseCommandIsNotSentFails) {
    g_writeFails = *simD2xx(host.sim);
    g_writeFails.write = [](FT_HANDLE, void *, uint32_t, uint32_t *) -> FT_STATUS { return FT_IO_ERROR; };
    host.worker.link.d2xx = &g_writeFails;
    BoardStatus status = {true, 0x0304};
    EXPECT_FALSE(queryBoardStatus(host.worker.link, &status));
    EXPECT_TRUE(status.answered);
    EXPECT_EQ(status.version, 0x0304);
    EXPECT_EQ(purges(), (std::vector<uint32_t>{3})) << "no second purge";
    EXPECT_EQ(simCount(host.sim, SIM_READ), 0);
}

TEST_F(Protocol, StatusQueryWithAReadErrorFails) {
    board().byteIntervalMs = 100;
    unplugAfterMs(150);  // after the first reply byte
    BoardStatus status = {true, 0x0304};
    EXPECT_FALSE(queryBoardStatus(host.worker.link, &status));
    EXPECT_TRUE(status.answered);
    EXPECT_EQ(status.version, 0x0304);
    EXPECT_EQ(purges(), (std::vector<uint32_t>{3})) << "no second purge";
}

// --- block write ---

class EraseChecksum : public Protocol, public ::testing::WithParamInterface<AddressSum> {};

TEST_P(EraseChecksum, ErasePacketOnTheWire) {
    const auto [address, checksum] = GetParam();
    memset(board().memory, 0x11, sizeof board().memory);

    EXPECT_TRUE(writeBlock(host.worker.link, address, ERASED.data()));
    EXPECT_EQ(wire(), (std::vector<Bytes>{packet('W', 0x80, address, ERASED, checksum)}));
    EXPECT_EQ(simCount(host.sim, SIM_PURGE), 0);
    EXPECT_EQ(simCount(host.sim, SIM_READ), 1);
    EXPECT_EQ(Bytes(board().memory + address, board().memory + address + 128), ERASED);
    EXPECT_EQ(board().protocolErrors, 0) << board().lastProtocolError;
}

INSTANTIATE_TEST_SUITE_P(Addresses, EraseChecksum,
                         ::testing::ValuesIn(std::vector<AddressSum>{
                             {0x0000, 0x57}, {0x0080, 0xD7}, {0x1200, 0x69}, {0x7F80, 0x56}}));

TEST_F(Protocol, WritePacketCarriesTheDataInAddressOrder) {
    Bytes data(128);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);

    EXPECT_TRUE(writeBlock(host.worker.link, 0x0000, data.data()));
    EXPECT_EQ(wire(), (std::vector<Bytes>{packet('W', 0x80, 0x0000, data, 0x97)}));
    EXPECT_EQ(Bytes(board().memory, board().memory + 128), data);
    EXPECT_EQ(board().protocolErrors, 0) << board().lastProtocolError;
}

TEST_F(Protocol, ErasePacketKeepsItsDataAcrossBlocks) {
    BlockWritePacket erase;
    memset(erase.bytes, 0xFF, sizeof erase.bytes);
    for (uint16_t address = 0; address < 4 * 128; address += 128) {
        setBlockWriteHeader(erase, address);
        ASSERT_TRUE(sendBlockWritePacket(host.worker.link, erase));
    }
    const std::vector<Bytes> sent = wire();
    ASSERT_EQ(sent.size(), 4u);
    for (size_t i = 0; i < sent.size(); ++i) {
        const uint16_t address = uint16_t(i * 128);
        EXPECT_EQ(sent[i], packet('W', 0x80, address, ERASED, uint8_t(0x57 + (address >> 8) + (address & 0xFF))));
    }
    EXPECT_EQ(board().protocolErrors, 0) << board().lastProtocolError;
}

// The board's one-byte answer to a block write, put on the line by the test.
class WriteAnswer : public Protocol, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(WriteAnswer, OnlyOAccepts) {
    board().powered = false;
    channelA().rx.push_back({GetParam(), start + 10 * 1000});
    EXPECT_EQ(writeBlock(host.worker.link, 0x0100, ERASED.data()), GetParam() == 0x4F);
}

INSTANTIATE_TEST_SUITE_P(Bytes, WriteAnswer, ::testing::Values(0x4F, 0x3F, 0x00, 0x4E, 0x6F, 0xCF, 0xFF));

TEST_F(Protocol, RefusedBlockWriteFails) {
    board().refuseWriteBlock = 2;
    EXPECT_FALSE(writeBlock(host.worker.link, 0x0100, ERASED.data()));
    EXPECT_EQ(simCount(host.sim, SIM_READ), 1) << "nothing is read after the answer";
}

// The answer's delay against its 300 ms deadline.
class WriteAnswerDelay : public Protocol, public ::testing::WithParamInterface<std::pair<uint32_t, bool>> {};

TEST_P(WriteAnswerDelay, MustComeWithinTheDeadline) {
    const auto [delayMs, accepted] = GetParam();
    board().byteIntervalMs = delayMs;
    EXPECT_EQ(writeBlock(host.worker.link, 0x0000, ERASED.data()), accepted);
    EXPECT_EQ(elapsedMs(), accepted ? delayMs : 300);
}

INSTANTIATE_TEST_SUITE_P(Delays, WriteAnswerDelay,
                         ::testing::ValuesIn(std::vector<std::pair<uint32_t, bool>>{
                             {0, true}, {299, true}, {301, false}, {5000, false}}));

TEST_F(Protocol, BlockWriteWithAReadErrorFailsAtOnce) {
    board().byteIntervalMs = 250;
    unplugAfterMs(100);
    EXPECT_FALSE(writeBlock(host.worker.link, 0x0000, ERASED.data()));
    EXPECT_LT(elapsedMs(), 300u);
}

TEST_F(Protocol, BlockWriteNotSentFailsWithoutReading) {
    simUnplug(host.sim, 0);
    EXPECT_FALSE(writeBlock(host.worker.link, 0x0000, ERASED.data()));
    EXPECT_EQ(simCount(host.sim, SIM_READ), 0);
}

// --- block read ---

class ReadRequest : public Protocol, public ::testing::WithParamInterface<AddressSum> {};

TEST_P(ReadRequest, RequestOnTheWire) {
    const auto [address, checksum] = GetParam();
    EXPECT_TRUE(readBlock(host.worker.link, address, g_memoryImage + address));
    EXPECT_EQ(wire(), (std::vector<Bytes>{packet('R', 0x00, address, {}, checksum)}));
    EXPECT_EQ(simCount(host.sim, SIM_PURGE), 0);
    EXPECT_EQ(simCount(host.sim, SIM_READ), 257);
    EXPECT_EQ(board().protocolErrors, 0) << board().lastProtocolError;
}

INSTANTIATE_TEST_SUITE_P(Addresses, ReadRequest,
                         ::testing::ValuesIn(std::vector<AddressSum>{
                             {0x0000, 0x52}, {0x0100, 0x53}, {0x1200, 0x64}, {0x7F00, 0xD1}}));

// A board whose memory differs from the image everywhere, so any stray store shows.
class BlockRead : public Protocol {
protected:
    void SetUp() override {
        Protocol::SetUp();
        for (uint32_t i = 0; i < MEMORY_SIZE; ++i) board().memory[i] = uint8_t(i * 7 + (i >> 8));
        memset(g_memoryImage, 0xA5, MEMORY_SIZE);
    }
    Bytes image(uint32_t from, uint32_t to) { return Bytes(g_memoryImage + from, g_memoryImage + to); }
    Bytes boardMemory(uint32_t from, uint32_t to) { return Bytes(board().memory + from, board().memory + to); }
    // The image is untouched outside [from, to).
    void expectUntouchedOutside(uint32_t from, uint32_t to) {
        EXPECT_EQ(image(0, from), Bytes(from, 0xA5));
        EXPECT_EQ(image(to, MEMORY_SIZE), Bytes(MEMORY_SIZE - to, 0xA5));
    }
};

TEST_F(BlockRead, StoresExactlyTheBlock) {
    for (uint16_t address : {0x1200, 0x7F00}) {
        memset(g_memoryImage, 0xA5, MEMORY_SIZE);
        EXPECT_TRUE(readBlock(host.worker.link, address, g_memoryImage + address));
        EXPECT_EQ(image(address, address + 256u), boardMemory(address, address + 256u));
        expectUntouchedOutside(address, address + 256u);
    }
    EXPECT_EQ(board().protocolErrors, 0) << board().lastProtocolError;
}

TEST_F(BlockRead, AnswerThatStopsFailsAfterTheMissingBytesDeadline) {
    board().truncateReadBlock = 0x12;
    board().truncateAfterBytes = 200;
    EXPECT_FALSE(readBlock(host.worker.link, 0x1200, g_memoryImage + 0x1200));
    EXPECT_EQ(elapsedMs(), 300u);
    expectUntouchedOutside(0, 0);
}

TEST_F(BlockRead, BadChecksumFailsButTheDataAreStored) {
    board().badChecksumReadBlock = 0x12;
    EXPECT_FALSE(readBlock(host.worker.link, 0x1200, g_memoryImage + 0x1200));
    EXPECT_EQ(image(0x1200, 0x1300), boardMemory(0x1200, 0x1300));
    expectUntouchedOutside(0x1200, 0x1300);
    EXPECT_EQ(simCount(host.sim, SIM_READ), 257) << "nothing is read after the checksum";
}

TEST_F(BlockRead, SlowButSteadyAnswerSucceeds) {
    board().byteIntervalMs = 250;
    EXPECT_TRUE(readBlock(host.worker.link, 0x0100, g_memoryImage + 0x0100));
    EXPECT_EQ(elapsedMs(), 257u * 250u);
    EXPECT_EQ(image(0x0100, 0x0200), boardMemory(0x0100, 0x0200));
}

TEST_F(BlockRead, ReadErrorFailsAtOnce) {
    board().byteIntervalMs = 10;
    unplugAfterMs(1005);  // while waiting for byte 100
    EXPECT_FALSE(readBlock(host.worker.link, 0x0100, g_memoryImage + 0x0100));
    EXPECT_LT(elapsedMs(), 1005u + 300u);
    expectUntouchedOutside(0, 0);
}

TEST_F(BlockRead, RequestNotSentFailsWithoutReading) {
    simUnplug(host.sim, 0);
    EXPECT_FALSE(readBlock(host.worker.link, 0x0100, g_memoryImage + 0x0100));
    EXPECT_EQ(simCount(host.sim, SIM_READ), 0);
    expectUntouchedOutside(0, 0);
}

// The read rules on the chip model at its defaults, with the latency timer the program sets: the
// answers come in packets, each call costs its time, and the deadlines are still per byte.
class ChipBlockRead : public BlockRead {
protected:
    void SetUp() override {
        BlockRead::SetUp();
        simAdapter(host.sim, 0).chip.on = true;
    }
};

TEST_F(ChipBlockRead, SlowButSteadyAnswerSucceeds) {
    board().byteIntervalMs = 250;
    EXPECT_TRUE(readBlock(host.worker.link, 0x0100, g_memoryImage + 0x0100));
    EXPECT_EQ(image(0x0100, 0x0200), boardMemory(0x0100, 0x0200));
}

TEST_F(ChipBlockRead, AnswerThatStopsFailsAfterItsLastByte) {
    board().truncateReadBlock = 0x12;
    board().truncateAfterBytes = 200;
    EXPECT_FALSE(readBlock(host.worker.link, 0x1200, g_memoryImage + 0x1200));
    uint64_t lastByteAt = 0;
    int bytes = 0;
    for (const SimCall &c : host.sim.world.trace) {
        if (c.fn != SIM_READ || c.data.empty()) continue;
        lastByteAt = c.time;
        bytes += int(c.data.size());
    }
    EXPECT_EQ(bytes, 200);
    EXPECT_NEAR(double(host.nowUs - lastByteAt), 300000, 100);  // within a call's cost
    expectUntouchedOutside(0, 0);
}

TEST_F(ChipBlockRead, SurplusAfterTheStatusReplyLeavesTheNextAnswerIntact) {
    board().versionReply = SIM_REPLY_LONG;
    BoardStatus status = {};
    ASSERT_TRUE(queryBoardStatus(host.worker.link, &status));
    EXPECT_TRUE(status.answered);
    EXPECT_TRUE(readBlock(host.worker.link, 0x1200, g_memoryImage + 0x1200));
    EXPECT_EQ(image(0x1200, 0x1300), boardMemory(0x1200, 0x1300));
    EXPECT_EQ(board().protocolErrors, 0) << board().lastProtocolError;
}

}  // namespace
