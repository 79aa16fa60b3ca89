// The main window's small timing and trimming rules, kept free of <windows.h> so that they
// build and are tested natively. The Win32 shell applies them to the real controls.
#pragma once

#include <cstddef>
#include <cstdint>

// The log pane trims itself once it held more than this many characters before an append.
constexpr size_t LOG_TRIM_THRESHOLD = 32768;
// The first index at which a trim looks for a line feed to cut after.
constexpr size_t LOG_TRIM_SEARCH_FROM = 16383;

// Where the pane's kept text starts after an append. `text` is the pane's whole text read back
// after the append (`textLength` characters, the new piece included); `lengthBefore` is the
// length the pane had before the append. Only the text that was there before the append is
// searched, so the new piece always survives whole. Returns 0 when nothing is to be cut.
size_t logKeepFrom(const wchar_t *text, size_t textLength, size_t lengthBefore);

enum BannerText {
    BANNER_UNCHANGED,
    BANNER_EMPTY,
    BANNER_FIRST,
    BANNER_SECOND,
};

extern const wchar_t BANNER_FIRST_TEXT[];
extern const wchar_t BANNER_SECOND_TEXT[];

// `bannerTick` before the first tick: all bits set, so the first counted tick is 0.
constexpr uint32_t BANNER_TICK_START = 0xFFFFFFFFu;

struct BannerStep {
    uint32_t tick;    // the counter to keep for the next timer tick
    BannerText text;  // what the banner shows from this tick on
};

// One tick of the status timer (STATUS_TICK_MS) for the warning banner. The banner stays blank
// until a board has been found, then blinks the first text, then the second, and starts over
// every 151 ticks.
BannerStep nextBannerStep(uint32_t bannerTick, bool deviceFound);

// The text a banner step puts up; null for BANNER_UNCHANGED.
const wchar_t *bannerText(BannerText text);

struct StatusCountdownStep {
    uint32_t hold;   // the countdown to keep
    bool clearText;  // the status text runs out on this tick
};

// One timer tick of the status-line countdown: a hold of n empties the text on the n-th tick.
StatusCountdownStep nextStatusCountdown(uint32_t hold);
