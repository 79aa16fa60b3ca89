// The version and status query: "VV", answered by major, minor and 'O'.
#include "link/link.h"
#include "protocol/protocol.h"

namespace {
constexpr uint32_t REPLY_LIMIT = 64;
}

bool queryBoardStatus(BoardStatus *status) {
    g_d2xx->purge(g_channels.channelA, FT_PURGE_RX | FT_PURGE_TX);

    BoardStatus result = {false, 0};
    uint8_t command[2] = {'V', 'V'};
    uint32_t written = 0;
    if (g_d2xx->write(g_channels.channelA, command, sizeof command, &written) != FT_OK) return false;

    // The reply has no length: it ends when no byte comes within the byte deadline.
    uint8_t reply[REPLY_LIMIT];
    uint32_t length = 0;
    while (length < REPLY_LIMIT) {
        LinkResult r = readLinkByte(&g_channels.channelA, &reply[length]);
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
    g_d2xx->purge(g_channels.channelA, FT_PURGE_RX | FT_PURGE_TX);
    return true;
}
