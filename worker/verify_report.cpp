// The analysis of a failed verify and its log text: which addresses differ, and the one
// explanation, if any, that fits every one of them.
#include "worker/verify_report.h"

#include <bitset>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned ADDRESS_LINES = 15;

uint8_t sentAt(const uint8_t *sent, uint32_t address) { return sent ? sent[address] : 0xFF; }

// A set S of address lines fits when every address a reads sent[a | S]. That holds exactly when
// (1) the read-back does not change when any line of S flips, and (2) no differing address has
// every line of S set (such an address would read its own byte, which it does not). So the
// smallest S is the smallest set of lines passing (1) that lies within no differing address;
// which sets do is found for all 2^15 at once, from the differing addresses down to their subsets.
bool findAddressLines(const uint8_t *sent, const uint8_t *read, uint16_t &lines) {
    uint32_t candidates = 0;
    for (unsigned line = 0; line < ADDRESS_LINES; ++line) {
        const uint32_t bit = 1u << line;
        bool same = true;
        for (uint32_t a = 0; a < MEMORY_SIZE && same; ++a)
            same = (a & bit) || read[a] == read[a | bit];
        if (same) candidates |= bit;
    }
    if (!candidates) return false;
    std::bitset<MEMORY_SIZE> withinDifference;
    for (uint32_t a = 0; a < MEMORY_SIZE; ++a) withinDifference[a] = read[a] != sentAt(sent, a);
    for (unsigned line = 0; line < ADDRESS_LINES; ++line)
        for (uint32_t m = 0; m < MEMORY_SIZE; ++m)
            if (!(m & 1u << line) && withinDifference[m | 1u << line]) withinDifference[m] = true;
    // The fewest lines; among as few, the lowest mask.
    uint32_t best = 0;
    for (uint32_t m = candidates; m; m = (m - 1) & candidates) {
        if (withinDifference[m]) continue;
        const int fewer = __builtin_popcount(m) - __builtin_popcount(best);
        if (!best || fewer < 0 || (fewer == 0 && m < best)) best = m;
    }
    lines = uint16_t(best);
    return best != 0;
}

// Data bits fit when each bit that differs somewhere reads one level at all 32768 addresses; the
// bits that never differ need no forcing, so the differing ones are the smallest set.
bool findDataBits(const uint8_t *sent, const uint8_t *read, uint8_t &bits, uint8_t &values) {
    uint8_t differ = 0, everSet = 0, everClear = 0;
    for (uint32_t a = 0; a < MEMORY_SIZE; ++a) {
        differ |= uint8_t(read[a] ^ sentAt(sent, a));
        everSet |= read[a];
        everClear |= uint8_t(~read[a]);
    }
    if (differ & everSet & everClear) return false;
    bits = differ;
    values = uint8_t(differ & everSet);
    return true;
}

// A log text built a word at a time, so that no line passes LOG_LINE_COLUMNS.
struct LogText {
    wchar_t (&out)[VERIFY_TEXT_CAPACITY];
    size_t length;
    size_t column;
};

void put(LogText &t, const char *text) {
    for (; *text && t.length + 1 < VERIFY_TEXT_CAPACITY; ++text) {
        t.out[t.length++] = wchar_t(*text);
        t.column = *text == '\n' ? 0 : t.column + 1;
    }
    t.out[t.length] = L'\0';
}

// The word after a blank, or at the start of the next line when it would not fit.
void putWord(LogText &t, const char *word) {
    if (t.column > 0) put(t, t.column + 1 + strlen(word) > LOG_LINE_COLUMNS ? "\r\n" : " ");
    put(t, word);
}

// "Address lines A3, A14" or "Data bit D2": the noun, then each line of `mask` in rising order.
void putNames(LogText &t, const char *one, const char *many, char letter, uint32_t mask) {
    putWord(t, __builtin_popcount(mask) == 1 ? one : many);
    for (unsigned n = 0; n < 16; ++n) {
        if (!(mask >> n & 1)) continue;
        char name[8];
        snprintf(name, sizeof name, "%c%u%s", letter, n, mask >> n > 1 ? "," : "");
        putWord(t, name);
    }
}

}  // namespace

VerifyReport analyseVerify(const uint8_t *sent, const uint8_t *read) {
    VerifyReport r = {};
    uint32_t last = 0;
    for (uint32_t a = 0; a < MEMORY_SIZE; ++a) {
        if (read[a] == sentAt(sent, a)) continue;
        if (r.differing++ == 0) r.first = a, r.firstRead = read[a], r.firstSent = sentAt(sent, a);
        last = a;
    }
    if (r.differing == 0) return r;
    if (findAddressLines(sent, read, r.addressLines)) {
        r.explanation = EXPLAIN_ADDRESS_LINES;
    } else if (findDataBits(sent, read, r.stuckBits, r.stuckValues)) {
        r.explanation = EXPLAIN_DATA_BITS;
    } else if (r.differing > 1 && r.first / BLOCK_WRITE_SIZE == last / BLOCK_WRITE_SIZE) {
        r.explanation = EXPLAIN_BLOCK;
        r.block = r.first - r.first % BLOCK_WRITE_SIZE;
    }
    return r;
}

void formatVerifyReport(const VerifyReport &r, wchar_t (&out)[VERIFY_TEXT_CAPACITY]) {
    LogText t = {out, 0, 0};
    char line[LOG_LINE_COLUMNS + 1];
    put(t, "Mismatch!\r\n");
    snprintf(line, sizeof line, "At 0x%04X read %02X, sent %02X.\r\n", unsigned(r.first),
             r.firstRead, r.firstSent);
    put(t, line);
    snprintf(line, sizeof line, r.differing == 1 ? "%u byte differs." : "%u bytes differ.",
             unsigned(r.differing));
    put(t, line);
    const bool one = __builtin_popcount(r.addressLines | r.stuckBits) == 1;
    switch (r.explanation) {
    case EXPLAIN_NONE: return;
    case EXPLAIN_ADDRESS_LINES:
        put(t, "\r\n");
        putNames(t, "Address line", "Address lines", 'A', r.addressLines);
        putWord(t, one ? "is" : "are");
        return putWord(t, "faulty.");
    case EXPLAIN_DATA_BITS:
        put(t, "\r\n");
        putNames(t, "Data bit", "Data bits", 'D', r.stuckBits);
        if (!one) return putWord(t, "are stuck.");
        putWord(t, "is stuck");
        return putWord(t, r.stuckValues ? "at 1." : "at 0.");
    case EXPLAIN_BLOCK:
        snprintf(line, sizeof line, "\r\nBlock 0x%04X was not kept.", unsigned(r.block));
        return put(t, line);
    }
}
