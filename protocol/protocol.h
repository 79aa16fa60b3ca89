// The packets spoken to the emulator board on channel A: the status query and the block
// write and block read commands. Every routine runs on the worker thread and talks over the
// open channel A of the link it is given; none writes a log text.
#pragma once

#include <cstdint>

#include "link/link.h"

struct BoardStatus {
    bool answered;     // a valid reply arrived
    uint16_t version;  // major in the high byte; 0 when not answered
};

// Sends "VV" and reads the reply to its time-out. False only when the link failed (the status is
// then not written); true otherwise, with `status` (when given) answered or all zeros.
bool queryBoardStatus(const Link &link, BoardStatus *status);

constexpr uint32_t BLOCK_WRITE_SIZE = 128;
constexpr uint32_t BLOCK_READ_SIZE = 256;
constexpr uint8_t BOARD_ACK = 0x4F;  // 'O'

// 'W', 0x80, address high, address low, 128 data bytes, additive checksum.
struct BlockWritePacket {
    uint8_t bytes[4 + BLOCK_WRITE_SIZE + 1];
};
static_assert(sizeof(BlockWritePacket) == 133, "block write packet is 133 bytes");

// 'R', 0x00 (256 bytes), address high, address low, additive checksum.
struct BlockReadRequest {
    uint8_t bytes[5];
};

// 256 data bytes and the additive checksum of the data.
struct BlockReadAnswer {
    uint8_t bytes[BLOCK_READ_SIZE + 1];
};

// Sets the command, count, address and checksum of `packet`, leaving its data as they are.
void setBlockWriteHeader(BlockWritePacket &packet, uint16_t address);
BlockReadRequest makeBlockReadRequest(uint16_t address);

// Sends a prepared packet and reads the board's one-byte answer; true when it accepted the block.
// The answer is read outside the packet, so its data survive for the next block.
bool sendBlockWritePacket(const Link &link, const BlockWritePacket &packet);

// Writes the 128 bytes at `data` to the board at `address`.
bool writeBlock(const Link &link, uint16_t address, const uint8_t *data);

// Reads the 256 bytes at `address` into `data` (BLOCK_READ_SIZE bytes). True when the whole
// answer arrived and its checksum matched; a block with a bad checksum has been stored all the
// same, and one whose answer broke off leaves `data` untouched.
bool readBlock(const Link &link, uint16_t address, uint8_t *data);
