// What a failed verify says: the analysis of what was sent against what the board read back, and
// the log text that names it. Pure code, no I/O: the memory operations hand it both images.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/protocol.h"
#include "worker/app_state.h"

// The one explanation that fits every difference, the first in this order that does.
enum VerifyExplanation {
    EXPLAIN_NONE,
    EXPLAIN_ADDRESS_LINES,  // the memory ignores `addressLines`: each address reads what was sent
                            // to it with those lines set to 1 (written last, as blocks go up)
    EXPLAIN_DATA_BITS,      // `stuckBits` read `stuckValues` at every address, the rest as sent
    EXPLAIN_BLOCK,          // more than one address differs, all in the write block at `block`
};

struct VerifyReport {
    uint32_t differing;  // addresses that read otherwise than sent; 0: verified
    uint32_t first;      // the lowest of them
    uint8_t firstRead, firstSent;
    VerifyExplanation explanation;
    uint16_t addressLines;  // mask of A0..A14, the smallest set that fits
    uint8_t stuckBits;      // mask of D0..D7, every one of them differs somewhere
    uint8_t stuckValues;    // their levels, within `stuckBits`
    uint32_t block;         // the block's first address
};

// Compares MEMORY_SIZE bytes. `sent` null: every byte sent was 0xFF (an Erase).
VerifyReport analyseVerify(const uint8_t *sent, const uint8_t *read);

// The widest line the program writes to the log pane, which shows about 44 characters at 96 DPI.
constexpr size_t LOG_LINE_COLUMNS = 40;
// Room for the whole text of a failed verify, its longest explanation wrapped.
constexpr size_t VERIFY_TEXT_CAPACITY = 256;

// The log text of a failed verify, after "Verify ECU memory, wait... ": "Mismatch!", the first
// address with the bytes read and sent, the count and the explanation, if any, separated by
// "\r\n" and the last without a line end. No line is wider than LOG_LINE_COLUMNS: an explanation
// that names many lines goes on at the next line.
void formatVerifyReport(const VerifyReport &report, wchar_t (&out)[VERIFY_TEXT_CAPACITY]);
