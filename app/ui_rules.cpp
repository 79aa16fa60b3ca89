#include "app/ui_rules.h"

const wchar_t BANNER_FIRST_TEXT[] = L"Disconnection USB during operation may damage the ECU!";
const wchar_t BANNER_SECOND_TEXT[] = L"Exit this utility before using the Kesta Board!";

namespace {

constexpr uint32_t BANNER_SECOND_FROM = 100;
constexpr uint32_t BANNER_CYCLE_END = 150;

}  // namespace

size_t logKeepFrom(const wchar_t *text, size_t textLength, size_t lengthBefore) {
    if (lengthBefore <= LOG_TRIM_THRESHOLD) return 0;
    const size_t searchEnd = textLength < lengthBefore ? textLength : lengthBefore;
    for (size_t n = LOG_TRIM_SEARCH_FROM; n < searchEnd; ++n)
        if (text[n] == L'\n') return n + 1;
    // No line end to cut at: drop all the old text rather than cut a line in the middle.
    return lengthBefore;
}

BannerStep nextBannerStep(uint32_t bannerTick, bool deviceFound) {
    const uint32_t tick = deviceFound ? bannerTick + 1 : 0;
    if ((tick & 3) == 0) return {tick, BANNER_EMPTY};
    if (tick < BANNER_SECOND_FROM) return {tick, BANNER_FIRST};
    if (tick < BANNER_CYCLE_END) return {tick, BANNER_SECOND};
    return {BANNER_TICK_START, BANNER_UNCHANGED};
}

const wchar_t *bannerText(BannerText text) {
    switch (text) {
    case BANNER_EMPTY: return L"";
    case BANNER_FIRST: return BANNER_FIRST_TEXT;
    case BANNER_SECOND: return BANNER_SECOND_TEXT;
    case BANNER_UNCHANGED: break;
    }
    return nullptr;
}

StatusCountdownStep nextStatusCountdown(uint32_t hold) {
    if (hold == 0) return {0, false};
    return {hold - 1, hold == 1};
}
