// The main window's rules: where the log pane cuts, what the warning banner shows on each timer
// tick, and when a status text runs out.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/ui_rules.h"
#include "tests/support/cases.h"

namespace {

// A pane text of `length` characters with line feeds at the given indexes.
std::wstring paneText(size_t length, const std::vector<size_t> &lineFeeds = {}) {
    std::wstring text(length, L'x');
    for (size_t at : lineFeeds) text[at] = L'\n';
    return text;
}

// Appends `piece` to `pane` as the log pane does and applies the cut.
void appendAndTrim(std::wstring &pane, const std::wstring &piece) {
    const size_t before = pane.size();
    pane += piece;
    pane.erase(0, logKeepFrom(pane.c_str(), pane.size(), before));  // 0: no cut
}

// --- log cut ---

struct LogCutCase {
    const char *name;
    size_t lengthBefore;
    std::vector<size_t> lineFeeds;  // in the text before the append
    std::wstring piece;
    size_t keepFrom;  // 0: no cut
};

void PrintTo(const LogCutCase &c, std::ostream *os) { *os << c.name; }

class LogCut : public ::testing::TestWithParam<LogCutCase> {};

TEST_P(LogCut, KeepsTextFromTheExpectedIndex) {
    const LogCutCase &c = GetParam();
    const std::wstring text = paneText(c.lengthBefore, c.lineFeeds) + c.piece;
    EXPECT_EQ(logKeepFrom(text.c_str(), text.size(), c.lengthBefore), c.keepFrom);
}

INSTANTIATE_TEST_SUITE_P(
    UiRules, LogCut,
    ::testing::Values(
        LogCutCase{"EmptyPane", 0, {}, L"Searching for device...\r\n", 0},
        LogCutCase{"ExactlyAtThresholdIsNotCut", 32768, {20000}, L"abc", 0},
        LogCutCase{"OneOverThresholdIsCut", 32769, {20000}, L"abc", 20001},
        LogCutCase{"NoLineFeedFromSearchStartKeepsOnlyThePiece", 32769, {}, L"new", 32769},
        LogCutCase{"LineFeedsBeforeSearchStartAreIgnored", 32769, {0, 100, 16382}, L"new", 32769},
        LogCutCase{"LineFeedAtSearchStart", 32769, {16383}, L"new", 16384},
        LogCutCase{"FirstLineFeedFromSearchStartWins", 40000, {16382, 17000, 18000}, L"n", 17001},
        LogCutCase{"OnlyLineFeedIsLastOldCharacter", 32769, {32768}, L"new", 32769},
        LogCutCase{"LineFeedsInThePieceAreNotCutAt", 32769, {}, L"a\r\nb\r\n", 32769},
        LogCutCase{"EmptyPieceStillTrims", 32769, {16500}, L"", 16501}),
    CaseName());

TEST(UiRulesLogCut, ReadBackShorterThanBeforeSearchesOnlyWhatWasRead) {
    const std::wstring text = paneText(40000, {30000});
    EXPECT_EQ(logKeepFrom(text.c_str(), 20000, 40000), 40000u);
}

TEST(UiRulesLogCut, PaneAtThresholdTrimsOnTheFollowingAppend) {
    std::wstring pane = paneText(32766, {16383}) + L"\r\n";
    ASSERT_EQ(pane.size(), 32768u);

    appendAndTrim(pane, L"first");
    EXPECT_EQ(pane.size(), 32768u + 5) << "the length before this append was not over the limit";

    appendAndTrim(pane, L"second");
    EXPECT_EQ(pane, paneText(32766 - 16384) + L"\r\nfirstsecond");
}

TEST(UiRulesLogCut, KeptTextStartsAtALineStartAndTheCutLineEndGoesWithIt) {
    std::wstring pane;
    for (int line = 0; pane.size() <= LOG_TRIM_THRESHOLD; ++line)
        pane += L"line " + std::to_wstring(line) + L"\r\n";
    const std::wstring piece = L"Waiting for your choice...";

    appendAndTrim(pane, piece);

    ASSERT_LT(pane.size(), LOG_TRIM_THRESHOLD);
    EXPECT_EQ(pane.compare(0, 5, L"line "), 0) << "kept text must begin a line";
    EXPECT_EQ(pane.substr(pane.size() - piece.size()), piece);
}

TEST(UiRulesLogCut, PieceWithoutLineFeedJoinsTheLastLineAfterATrim) {
    std::wstring pane = paneText(32769, {17000});
    appendAndTrim(pane, L"Ok.");
    appendAndTrim(pane, L" Read.");
    EXPECT_EQ(pane, paneText(32769 - 17001) + L"Ok. Read.");
}

TEST(UiRulesLogCut, LongPieceSurvivesATrimWhole) {
    std::wstring pane = paneText(32769, {20000});
    const std::wstring piece = paneText(50000, {10, 45000});
    appendAndTrim(pane, piece);
    EXPECT_EQ(pane, paneText(32769 - 20001) + piece);
}

// --- banner ---

struct BannerCase {
    const char *name;
    uint32_t tickBefore;
    bool deviceFound;
    uint32_t tickAfter;
    BannerText text;
};

void PrintTo(const BannerCase &c, std::ostream *os) { *os << c.name; }

class Banner : public ::testing::TestWithParam<BannerCase> {};

TEST_P(Banner, Step) {
    const BannerCase &c = GetParam();
    const BannerStep step = nextBannerStep(c.tickBefore, c.deviceFound);
    EXPECT_EQ(step.tick, c.tickAfter);
    EXPECT_EQ(step.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    UiRules, Banner,
    ::testing::Values(
        BannerCase{"BlankAtStartWithoutDevice", BANNER_TICK_START, false, 0, BANNER_EMPTY},
        BannerCase{"HeldAtZeroWithoutDevice", 0, false, 0, BANNER_EMPTY},
        BannerCase{"CounterMidCycleDropsToZeroWithoutDevice", 57, false, 0, BANNER_EMPTY},
        BannerCase{"StartCounterGivesBlankZero", BANNER_TICK_START, true, 0, BANNER_EMPTY},
        BannerCase{"TickOneShowsFirstText", 0, true, 1, BANNER_FIRST},
        BannerCase{"TickThreeShowsFirstText", 2, true, 3, BANNER_FIRST},
        BannerCase{"TickFourIsBlank", 3, true, 4, BANNER_EMPTY},
        BannerCase{"TickNinetyNineShowsFirstText", 98, true, 99, BANNER_FIRST},
        BannerCase{"TickHundredIsBlank", 99, true, 100, BANNER_EMPTY},
        BannerCase{"TickHundredOneShowsSecondText", 100, true, 101, BANNER_SECOND},
        BannerCase{"TickHundredFortyEightIsBlank", 147, true, 148, BANNER_EMPTY},
        BannerCase{"TickHundredFortyNineShowsSecondText", 148, true, 149, BANNER_SECOND},
        BannerCase{"TickHundredFiftyLeavesBannerAndRestarts", 149, true, BANNER_TICK_START,
                   BANNER_UNCHANGED}),
    CaseName());

TEST(UiRulesBanner, FullCycleOnceADeviceWasFound) {
    uint32_t tick = BANNER_TICK_START;
    std::vector<BannerText> shown;
    for (int i = 0; i < 152; ++i) {
        const BannerStep step = nextBannerStep(tick, true);
        tick = step.tick;
        shown.push_back(step.text);
    }
    for (uint32_t t = 0; t <= 149; ++t) {
        const BannerText expected = t % 4 == 0 ? BANNER_EMPTY : t < 100 ? BANNER_FIRST : BANNER_SECOND;
        EXPECT_EQ(shown[t], expected) << "tick " << t;
    }
    EXPECT_EQ(shown[150], BANNER_UNCHANGED) << "the second text of tick 149 stays";
    EXPECT_EQ(shown[151], BANNER_EMPTY) << "the cycle restarts with a blank tick";
    EXPECT_EQ(tick, 0u);
}

TEST(UiRulesBanner, FirstTextShowsSeventyFiveTicksPerCycle) {
    uint32_t tick = BANNER_TICK_START;
    int first = 0, second = 0;
    for (int i = 0; i < 151; ++i) {
        const BannerStep step = nextBannerStep(tick, true);
        tick = step.tick;
        first += step.text == BANNER_FIRST;
        second += step.text == BANNER_SECOND;
    }
    EXPECT_EQ(first, 75);
    EXPECT_EQ(second, 37);
}

TEST(UiRulesBanner, Texts) {
    EXPECT_STREQ(bannerText(BANNER_FIRST), L"Disconnection USB during operation may damage the ECU!");
    EXPECT_STREQ(bannerText(BANNER_SECOND), L"Exit this utility before using the Kesta Board!");
    EXPECT_STREQ(bannerText(BANNER_EMPTY), L"");
    EXPECT_EQ(bannerText(BANNER_UNCHANGED), nullptr);
}

// --- status countdown ---

// Counts the ticks until the status text runs out, at most `limit`.
int ticksUntilCleared(uint32_t hold, int limit) {
    for (int tick = 1; tick <= limit; ++tick) {
        const StatusCountdownStep step = nextStatusCountdown(hold);
        hold = step.hold;
        if (step.clearText) {
            EXPECT_EQ(hold, 0u) << "the countdown stays at 0 once it has run out";
            return tick;
        }
    }
    return 0;
}

struct CountdownCase {
    const char *name;
    uint32_t hold;
    int clearedAtTick;  // 0: not within the ticks looked at
};

void PrintTo(const CountdownCase &c, std::ostream *os) { *os << c.name; }

class StatusCountdown : public ::testing::TestWithParam<CountdownCase> {};

TEST_P(StatusCountdown, ClearsOnTheHoldthTick) {
    EXPECT_EQ(ticksUntilCleared(GetParam().hold, 100), GetParam().clearedAtTick);
}

INSTANTIATE_TEST_SUITE_P(
    UiRules, StatusCountdown,
    ::testing::Values(CountdownCase{"HoldOneClearsAtNextTick", 1, 1},
                      CountdownCase{"HoverHoldOfFive", 5, 5},
                      CountdownCase{"FailureHoldOfFifty", 50, 50},
                      CountdownCase{"HoldZeroNeverClears", 0, 0},
                      CountdownCase{"HoldForeverDoesNotClear", 0xFFFFFFFFu, 0}),
    CaseName());

TEST(UiRulesStatusCountdown, HoldZeroChangesNothing) {
    const StatusCountdownStep step = nextStatusCountdown(0);
    EXPECT_EQ(step.hold, 0u);
    EXPECT_FALSE(step.clearText);
}

TEST(UiRulesStatusCountdown, HoldForeverOnlyCountsDown) {
    const StatusCountdownStep step = nextStatusCountdown(0xFFFFFFFFu);
    EXPECT_EQ(step.hold, 0xFFFFFFFEu);
    EXPECT_FALSE(step.clearText);
}

}  // namespace
