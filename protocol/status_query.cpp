// The version and status query: "VV", answered by major, minor and 'O'.
#include "protocol/protocol.h"

namespace {
constexpr uint32_t REPLY_LIMIT = 64;
}

bool queryBoardStatus(const Link &link, BoardStatus *status) {
    const D2xxApi &d2xx = *link.d2xx;
    const FT_HANDLE channel = link.channels.channelA;
    d2xx.purge(channel, FT_PURGE_RX | FT_PURGE_TX);

    BoardStatus result = {false, 0};
    uint8_t command[2] = {'V', 'V'};
    uint32_t written = 0;
    if (d2xx.write(channel, command, sizeof command, &written) != FT_OK) return false;

    // The reply has no length: it ends when no byte comes within the byte deadline.
    uint8_t reply[REPLY_LIMIT];
    uint32_t length = 0;
    while (length < REPLY_LIMIT) {
        LinkResult r = readLinkByte(link, &link.channels.channelA, &reply[length]);
        if (r == LINK_TIMEOUT) break;
        if (r == LINK_ERROR) return false;
        ++length;
    }
    if (length >= 3 && reply[2] == BOARD_ACK) {
        result.answered = true;
        result.version = uint16_t(reply[0] << 8 | reply[1]);
    }
    if (status) *status = result;

    // Whatever followed the first 64 bytes is dropped here.
    d2xx.purge(channel, FT_PURGE_RX | FT_PURGE_TX);
    return true;
}
