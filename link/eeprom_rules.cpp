#include "link/eeprom_rules.h"

namespace {

// The string descriptors begin at byte 0x16; word 63 is the checksum.
constexpr int FIRST_STRING_WORD = 0x16 / 2;
constexpr int LAST_STRING_WORD = EEPROM_WORDS - 2;

// "KESTA" as the chip stores it: one 16-bit word per character.
constexpr uint16_t OUR_NAME[] = {'K', 'E', 'S', 'T', 'A'};
constexpr int OUR_NAME_LENGTH = sizeof OUR_NAME / sizeof OUR_NAME[0];

bool stringAreaHoldsOurName(const uint16_t *words) {
    for (int start = FIRST_STRING_WORD; start + OUR_NAME_LENGTH - 1 <= LAST_STRING_WORD; ++start) {
        int matched = 0;
        while (matched < OUR_NAME_LENGTH && words[start + matched] == OUR_NAME[matched]) ++matched;
        if (matched == OUR_NAME_LENGTH) return true;
    }
    return false;
}

}  // namespace

bool eepromIsOursDamaged(const uint16_t words[EEPROM_WORDS]) {
    return eepromChecksum(words, EEPROM_WORDS - 1) != words[EEPROM_WORDS - 1] &&
           stringAreaHoldsOurName(words);
}
