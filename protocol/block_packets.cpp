// Block write and block read: the only commands that touch the board's memory.
#include <cstring>

#include "protocol/protocol.h"

namespace {

uint8_t additiveChecksum(const uint8_t *bytes, uint32_t count) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) sum += bytes[i];
    return uint8_t(sum);
}

}  // namespace

void setBlockWriteHeader(BlockWritePacket &packet, uint16_t address) {
    packet.bytes[0] = 'W';
    packet.bytes[1] = uint8_t(BLOCK_WRITE_SIZE);
    packet.bytes[2] = uint8_t(address >> 8);
    packet.bytes[3] = uint8_t(address);
    packet.bytes[132] = additiveChecksum(packet.bytes, 132);
}

BlockReadRequest makeBlockReadRequest(uint16_t address) {
    BlockReadRequest request = {{'R', 0x00, uint8_t(address >> 8), uint8_t(address), 0}};
    request.bytes[4] = additiveChecksum(request.bytes, 4);
    return request;
}

bool sendBlockWritePacket(const Link &link, const BlockWritePacket &packet) {
    uint32_t written = 0;
    if (link.d2xx->write(link.channels.channelA, const_cast<uint8_t *>(packet.bytes),
                         sizeof packet.bytes, &written) != FT_OK)
        return false;
    uint8_t answer = 0;
    return readLinkByte(link, &link.channels.channelA, &answer) == LINK_OK && answer == BOARD_ACK;
}

bool writeBlock(const Link &link, uint16_t address, const uint8_t *data) {
    BlockWritePacket packet;
    memcpy(packet.bytes + 4, data, BLOCK_WRITE_SIZE);
    setBlockWriteHeader(packet, address);
    return sendBlockWritePacket(link, packet);
}

bool readBlock(const Link &link, uint16_t address, uint8_t *data) {
    BlockReadRequest request = makeBlockReadRequest(address);
    uint32_t written = 0;
    if (link.d2xx->write(link.channels.channelA, request.bytes, sizeof request.bytes, &written) !=
        FT_OK)
        return false;

    // Each byte has its own deadline: a slow but steady board never times out. One byte per
    // call: a larger FT_Read returns only at its own time-out once an answer breaks off, and the
    // block would then fail up to 300 ms after the deadline of its missing byte.
    BlockReadAnswer answer;
    for (uint8_t &byte : answer.bytes)
        if (readLinkByte(link, &link.channels.channelA, &byte) != LINK_OK) return false;

    memcpy(data, answer.bytes, BLOCK_READ_SIZE);
    return additiveChecksum(answer.bytes, BLOCK_READ_SIZE) == answer.bytes[BLOCK_READ_SIZE];
}
