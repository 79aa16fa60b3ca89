// The emulator board behind channel A: its packets ("VV", block write, block read), its 32 KB
// memory and the faults of that memory. It refuses a malformed or unknown packet.
#include "sim/sim_internal.h"

namespace {

constexpr uint8_t ACK = 0x4F;
constexpr uint8_t REFUSAL = 0x3F;

void protocolError(SimBoard &b, const char *what) {
    ++b.protocolErrors;
    b.lastProtocolError = what;
    b.pending.clear();
}

uint8_t sum8(const uint8_t *p, size_t n) {
    uint32_t s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return uint8_t(s);
}

// The cell that board address `address` reaches: the lines the memory ignores read as 0.
uint32_t memoryCell(const SimMemoryFaults &f, uint32_t address) {
    return address & ~uint32_t(f.ignoredAddressLines) & (SIM_MEMORY_BYTES - 1);
}

}  // namespace

bool simRunBoard(Sim &s, int adapterIndex, uint64_t arrival) {
    SimAdapter &a = s.world.adapters[adapterIndex];
    SimBoard &b = a.board;
    while (!b.pending.empty()) {
        std::vector<uint8_t> &p = b.pending;
        std::vector<uint8_t> reply;
        if (p[0] == 'V') {
            if (p.size() < 2) return true;
            if (p[1] != 'V') return protocolError(b, "V without V"), true;
            p.erase(p.begin(), p.begin() + 2);
            uint8_t major = uint8_t(b.version >> 8), minor = uint8_t(b.version);
            switch (b.versionReply) {
            case SIM_REPLY_NORMAL: reply = {major, minor, ACK}; break;
            case SIM_REPLY_SILENT: break;
            case SIM_REPLY_SHORT: reply = {major, minor}; break;
            case SIM_REPLY_WRONG_THIRD: reply = {major, minor, 0x4E}; break;
            case SIM_REPLY_LONG:
                reply = {major, minor, ACK};
                for (int i = 0; i < 100; ++i) reply.push_back(uint8_t(i));
                break;
            }
        } else if (p[0] == 'W' || p[0] == 'R') {
            const bool write = p[0] == 'W';
            const size_t size = write ? 133 : 5;
            if (p.size() < size) return true;
            const uint32_t address = uint32_t(p[2]) << 8 | p[3];
            const uint32_t blockSize = write ? 128 : 256;
            if (p[1] != (write ? 0x80 : 0x00)) return protocolError(b, "bad count byte"), true;
            if (sum8(p.data(), size - 1) != p[size - 1]) return protocolError(b, "bad checksum"), true;
            if (address % blockSize != 0 || address + blockSize > SIM_MEMORY_BYTES)
                return protocolError(b, "bad block address"), true;
            if (b.blockCommands++ == b.unplugAtBlockCommand) {
                simUnplug(s, adapterIndex);
                return false;
            }
            const int block = int(address / blockSize);
            if (write) {
                if (block == b.refuseWriteBlock) {
                    reply = {REFUSAL};
                } else {
                    if (block != b.memoryFaults.dropWriteBlock)
                        for (uint32_t i = 0; i < 128; ++i) simBoardStore(b, address + i, p[4 + i]);
                    reply = {ACK};
                }
            } else {
                for (uint32_t i = 0; i < 256; ++i) reply.push_back(simBoardByte(b, address + i));
                uint8_t sum = sum8(reply.data(), 256);
                reply.push_back(block == b.badChecksumReadBlock ? uint8_t(sum + 1) : sum);
                if (block == b.truncateReadBlock) reply.resize(size_t(b.truncateAfterBytes));
            }
            p.erase(p.begin(), p.begin() + long(size));
        } else {
            return protocolError(b, "unknown command"), true;
        }
        if (b.powered) simScheduleReply(a, reply, arrival);
    }
    return true;
}

uint8_t simBoardByte(const SimBoard &board, uint32_t address) {
    const SimMemoryFaults &f = board.memoryFaults;
    const uint32_t cell = memoryCell(f, address);
    uint8_t byte = board.memory[cell];
    if (f.stuckAddress >= 0 && cell == memoryCell(f, uint32_t(f.stuckAddress))) {
        const uint8_t bit = uint8_t(1u << f.stuckBit);
        byte = f.stuckHigh ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
    }
    return uint8_t((byte & ~f.stuckDataLow) | f.stuckDataHigh);
}

void simBoardStore(SimBoard &board, uint32_t address, uint8_t byte) {
    board.memory[memoryCell(board.memoryFaults, address)] = byte;
}
