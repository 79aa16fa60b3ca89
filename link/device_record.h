// Comparing the text fields of the library's device records (link/ only). The fields need not
// be NUL-terminated, so every comparison stays within the field.
#pragma once

#include <cstddef>

enum LetterCase {
    // Our adapter's names: the library reports whatever its EEPROM was programmed with, and an
    // adapter named in other letter case is still ours.
    LETTER_CASE_IGNORED,
    // The chip's blank defaults: its own fixed text, so a device named like them in other letter
    // case was configured by someone and is not a blank chip.
    LETTER_CASE_EXACT,
};

inline bool sameLetter(char a, char b, LetterCase letterCase) {
    if (letterCase == LETTER_CASE_IGNORED) {
        if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
    }
    return a == b;
}

// True when the field begins with `text`.
template <size_t N>
bool recordTextStartsWith(const char (&field)[N], const char *text, LetterCase letterCase) {
    for (size_t i = 0; text[i] != '\0'; ++i)
        if (i == N || field[i] == '\0' || !sameLetter(field[i], text[i], letterCase)) return false;
    return true;
}

// True when the field holds exactly `text`.
template <size_t N>
bool recordTextIs(const char (&field)[N], const char *text, LetterCase letterCase) {
    if (!recordTextStartsWith(field, text, letterCase)) return false;
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length == N || field[length] == '\0';
}
