// Table-driven interpreter cases: each case feeds bytes into a fresh screen and compares the
// screen dump, the debug traces and the beeps. Every case is also fed split in two at every byte
// boundary and must give the same result.
#include "platform/Beep.h"
#include "platform/DebugOutput.h"
#include "terminal/Screen.h"
#include "terminal/ScreenDump.h"

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::literals;
using terminal::TScreen;

struct ScreenCase {
    std::string name;
    int rows = 25;
    int cols = 80;
    std::string input;
    std::string expected;                  // DumpScreen of the result
    std::vector<std::string> traces = {};  // texts of the debug traces, without their numbers
    int beeps = 0;
    std::function<void(TScreen&)> setup = {};
};

void PrintTo(const ScreenCase& c, std::ostream* os)
{
    *os << c.name;
}

struct Outcome {
    std::string dump;
    std::string traces;
    std::string expectedTraces;
    std::uint64_t beeps;
};

Outcome Feed(const ScreenCase& c, size_t split)
{
    TScreen screen;
    screen.SetSize(c.rows, c.cols);
    screen.ResetDirty();
    if (c.setup) c.setup(screen);
    platform::ScopedDebugCapture capture;
    const std::uint64_t beeps = platform::BeepCount();
    const std::uint32_t base = terminal::DebugTraceCount();
    const std::string_view input = c.input;
    screen.FeedText(input.substr(0, split));
    screen.FeedText(input.substr(split));

    Outcome out{terminal::DumpScreen(screen), capture.Text(), {}, platform::BeepCount() - beeps};
    for (size_t i = 0; i < c.traces.size(); ++i) {
        char number[16];
        std::snprintf(number, sizeof(number), "%04X ", static_cast<unsigned>(base + 1 + i));
        out.expectedTraces += number + c.traces[i];
    }
    return out;
}

std::string Expected(std::string_view text)
{
    if (!text.empty() && text.front() == '\n') text.remove_prefix(1);
    return std::string(text);
}

class ScreenCaseTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(ScreenCaseTest, WholeAndSplitAtEveryByte)
{
    const ScreenCase& c = GetParam();
    const std::string expected = Expected(c.expected);
    const Outcome whole = Feed(c, c.input.size());
    EXPECT_EQ(whole.dump, expected);
    EXPECT_EQ(whole.traces, whole.expectedTraces);
    EXPECT_EQ(whole.beeps, static_cast<std::uint64_t>(c.beeps));
    for (size_t split = 1; split < c.input.size(); ++split) {
        const Outcome part = Feed(c, split);
        ASSERT_EQ(part.dump, whole.dump) << "split at byte " << split;
        ASSERT_EQ(part.traces, part.expectedTraces) << "split at byte " << split;
        ASSERT_EQ(part.beeps, whole.beeps) << "split at byte " << split;
    }
}

std::string CaseName(const ::testing::TestParamInfo<ScreenCase>& info)
{
    return info.param.name;
}

#define SCREEN_CASES(group, cases) \
    INSTANTIATE_TEST_SUITE_P(group, ScreenCaseTest, ::testing::ValuesIn(cases), CaseName)

const std::string kFiveLines = "a\r\nb\r\nc\r\nd\r\ne";

// --- Scrolling and regions ---------------------------------------------------------------------
const std::vector<ScreenCase> kScrolling = {
    {.name = "LineFeedAtBottomScrolls",
     .rows = 5,
     .cols = 10,
     .input = "a\r\nb\r\nc\r\nd\r\ne\r\nf",
     .expected = R"(
5x10 cursor 4,1 region 0-4 attr 07
0|b
1|c
2|d
3|e
4|f
)"},
    {.name = "ScrolledInLineIsWhiteOnBlack",
     .rows = 3,
     .cols = 10,
     .input = "\033[3;1H\033[44mA\nB",
     .expected = R"(
3x10 cursor 2,2 region 0-2 attr 47
1|A
2| B
@1|47x1 07x132
@2|07x1 47x1 07x131
)"},
    {.name = "RegionScrollsOnlyItsLines",
     .rows = 6,
     .cols = 10,
     .input = "0\r\n1\r\n2\r\n3\r\n4\r\n5\033[2;4r\033[4;1H\nX",
     .expected = R"(
6x10 cursor 3,1 region 1-3 attr 07
0|0
1|2
2|3
3|X
4|4
5|5
)"},
    {.name = "LineFeedBelowRegionGoesToRegionBottom",
     .input = "\033[6;1Hfive\033[11;1Hten\033[21;1Htwenty\033[6;11r\033[21;1H\n",
     .expected = R"(
25x80 cursor 10,0 region 5-10 attr 07
9|ten
20|twenty
)"},
    {.name = "ReverseIndexAtRegionTopScrollsDown",
     .rows = 5,
     .cols = 10,
     .input = "a\r\nb\r\nc\r\nd\033[2;4r\033[2;1H\033M",
     .expected = R"(
5x10 cursor 1,0 region 1-3 attr 07
0|a
2|b
3|c
)"},
    {.name = "ReverseIndexInsideRegionMovesUp",
     .rows = 5,
     .cols = 10,
     .input = "\033[3;1H\033M",
     .expected = R"(
5x10 cursor 1,0 region 0-4 attr 07
)"},
    {.name = "ScrollUpOnceWhateverTheCount",
     .rows = 3,
     .cols = 10,
     .input = "a\r\nb\r\nc\033[5S",
     .expected = R"(
3x10 cursor 2,1 region 0-2 attr 07
0|b
1|c
)"},
    {.name = "RegionLeavesTheCursor",
     .rows = 5,
     .cols = 10,
     .input = "\033[3;3H\033[2;4r",
     .expected = R"(
5x10 cursor 2,2 region 1-3 attr 07
)"},
    {.name = "RegionWithoutBottomIsWholeScreen",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;4r\033[2r",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
    {.name = "RegionWithoutParametersIsWholeScreen",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;4r\033[r",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
    {.name = "RegionReversedIsWholeScreen",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;4r\033[4;2r",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
    {.name = "RegionPastLastLineIsWholeScreen",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;4r\033[2;6r",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
    {.name = "RegionOfOneLineIsWholeScreen",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;4r\033[3;3r",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
};
SCREEN_CASES(Scrolling, kScrolling);

// --- Erase -------------------------------------------------------------------------------------
const std::vector<ScreenCase> kErase = {
    {.name = "EraseToEndOfLine",
     .rows = 3,
     .cols = 10,
     .input = "abcdefghij\033[1;4H\033[44m\033[K",
     .expected = R"(
3x10 cursor 0,3 region 0-2 attr 47
0|abc
@0|07x3 47x7 07x123
)"},
    {.name = "EraseLineIgnoresItsParameter",
     .rows = 3,
     .cols = 10,
     .input = "abcdef\033[1;3H\033[2K",
     .expected = R"(
3x10 cursor 0,2 region 0-2 attr 07
0|ab
)"},
    {.name = "EraseBelowSetsAttribute7First",
     .rows = 3,
     .cols = 10,
     .input = "\033[44mab\r\ncd\r\nef\033[2;2H\033[J",
     .expected = R"(
3x10 cursor 1,1 region 0-2 attr 07
0|ab
1|c
@0|47x2 07x131
@1|47x1 07x132
)"},
    {.name = "EraseAboveIncludesTheCursorLine",
     .rows = 3,
     .cols = 10,
     .input = "\033[44mab\r\ncd\r\nef\033[2;2H\033[1J",
     .expected = R"(
3x10 cursor 1,1 region 0-2 attr 47
2|ef
@0|47x133
@1|47x133
@2|47x2 07x131
)"},
    {.name = "EraseScreenHomes",
     .rows = 3,
     .cols = 10,
     .input = "\033[44mab\r\ncd\033[2J",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 47
@0|47x133
@1|47x133
@2|47x133
)"},
    {.name = "EraseWithOtherParameterIsInvalid",
     .rows = 3,
     .cols = 10,
     .input = "ab\033[3J",
     .expected = R"(
3x10 cursor 0,2 region 0-2 attr 07
0|ab
)",
     .traces = {"Invalid Escape Sequence: [3J\r\n"}},
};
SCREEN_CASES(Erase, kErase);

// --- Insert and delete -------------------------------------------------------------------------
const std::vector<ScreenCase> kInsertDelete = {
    {.name = "InsertLinesMoveTheRestDown",
     .rows = 5,
     .cols = 10,
     .input = kFiveLines + "\033[2;3H\033[2L",
     .expected = R"(
5x10 cursor 1,0 region 0-4 attr 07
0|a
3|b
4|c
)"},
    {.name = "InsertLinesPastRegionBottomClear",
     .rows = 5,
     .cols = 10,
     .input = kFiveLines + "\033[4;1H\033[5L",
     .expected = R"(
5x10 cursor 3,0 region 0-4 attr 07
0|a
1|b
2|c
)"},
    {.name = "InsertLineZeroCountsAsOne",
     .rows = 5,
     .cols = 10,
     .input = kFiveLines + "\033[2;1H\033[0L",
     .expected = R"(
5x10 cursor 1,0 region 0-4 attr 07
0|a
2|b
3|c
4|d
)"},
    {.name = "InsertLineInRegionUsesCurrentAttribute",
     .rows = 5,
     .cols = 10,
     .input = kFiveLines + "\033[2;4r\033[3;1H\033[41m\033[L",
     .expected = R"(
5x10 cursor 2,0 region 1-3 attr 17
0|a
1|b
3|c
4|e
@2|17x133
)"},
    {.name = "DeleteLinesPullTheRestUp",
     .rows = 5,
     .cols = 10,
     .input = kFiveLines + "\033[2;1H\033[2M",
     .expected = R"(
5x10 cursor 1,0 region 0-4 attr 07
0|a
1|d
2|e
)"},
    {.name = "DeleteLineInsideRegion",
     .rows = 5,
     .cols = 10,
     .input = kFiveLines + "\033[2;4r\033[2;1H\033[44m\033[M",
     .expected = R"(
5x10 cursor 1,0 region 1-3 attr 47
0|a
1|c
2|d
4|e
@3|47x133
)"},
    {.name = "DeleteLinesPastRegionBottomClear",
     .rows = 5,
     .cols = 10,
     .input = kFiveLines + "\033[4;1H\033[9M",
     .expected = R"(
5x10 cursor 3,0 region 0-4 attr 07
0|a
1|b
2|c
)"},
    {.name = "InsertCharsShiftRight",
     .rows = 2,
     .cols = 10,
     .input = "abcdefghij\033[1;3H\033[2@",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
0|ab  cdefgh
)"},
    {.name = "InsertCharsNearTheEndErase",
     .rows = 2,
     .cols = 10,
     .input = "abcdefghij\033[1;9H\033[44m\033[3@",
     .expected = R"(
2x10 cursor 0,8 region 0-1 attr 47
0|abcdefgh
@0|07x8 47x2 07x123
)"},
    {.name = "InsertCharsKeepAttributesOfShiftedCells",
     .rows = 2,
     .cols = 10,
     .input = "\033[44mab\033[0m\033[1;1H\033[@",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
0| ab
@0|07x1 47x2 07x130
)"},
    {.name = "DeleteCharsBlankWithAttribute7",
     .rows = 2,
     .cols = 10,
     .input = "\033[44mabcdefghij\033[1;3H\033[2P",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 47
0|abefghij
@0|47x8 07x125
)"},
    {.name = "DeleteCharsCountLimitedToTheLine",
     .rows = 2,
     .cols = 10,
     .input = "abcdefghij\033[1;8H\033[100P",
     .expected = R"(
2x10 cursor 0,7 region 0-1 attr 07
0|abcdefg
)"},
    {.name = "DeleteCharZeroCountsAsOne",
     .rows = 2,
     .cols = 10,
     .input = "abc\033[1;1H\033[0P",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
0|bc
)"},
    {.name = "DeleteCharsPastLastColumnDoNothing",
     .rows = 2,
     .cols = 5,
     .input = "abcdefg\033[P",
     .expected = R"(
2x5 cursor 0,7 region 0-1 attr 07
0|abcde
~0|fg
)"},
};
SCREEN_CASES(InsertDelete, kInsertDelete);

// --- Wrap --------------------------------------------------------------------------------------
const std::vector<ScreenCase> kWrap = {
    {.name = "WithoutWrapTextGoesIntoHiddenCells",
     .rows = 2,
     .cols = 5,
     .input = "abcdefgh",
     .expected = R"(
2x5 cursor 0,8 region 0-1 attr 07
0|abcde
~0|fgh
)"},
    {.name = "WithoutWrapCell132IsOverwritten",
     .rows = 2,
     .cols = 5,
     .input = std::string(130, 'a') + "bcdef",
     .expected =
         "2x5 cursor 0,132 region 0-1 attr 07\n0|aaaaa\n~0|" + std::string(125, 'a') + "bcf\n"},
    {.name = "WrapContinuesOnTheNextLine",
     .rows = 2,
     .cols = 5,
     .input = "\033[?7habcdefg",
     .expected = R"(
2x5 cursor 1,2 region 0-1 attr 07
flags wrap
0|abcde
1|fg
)"},
    {.name = "WrapOnTheLastLineScrollsFirst",
     .rows = 2,
     .cols = 5,
     .input = "x\033[?7h\033[2;1Habcdefg",
     .expected = R"(
2x5 cursor 1,2 region 0-1 attr 07
flags wrap
0|abcde
1|fg
)"},
    {.name = "WrapWaitsForTheNextCharacter",
     .rows = 2,
     .cols = 5,
     .input = "\033[?7habcde",
     .expected = R"(
2x5 cursor 0,5 region 0-1 attr 07
flags wrap
0|abcde
)"},
    {.name = "WrapTurnedOffAgain",
     .rows = 2,
     .cols = 5,
     .input = "\033[?7h\033[?7labcdefg",
     .expected = R"(
2x5 cursor 0,7 region 0-1 attr 07
0|abcde
~0|fg
)"},
    {.name = "CursorForwardWrapsOnce",
     .rows = 3,
     .cols = 10,
     .input = "\033[?7h\033[1;8H\033[5C",
     .expected = R"(
3x10 cursor 1,2 region 0-2 attr 07
flags wrap
)"},
    {.name = "CursorForwardWithoutWrapStops",
     .rows = 3,
     .cols = 10,
     .input = "\033[1;8H\033[5C",
     .expected = R"(
3x10 cursor 0,9 region 0-2 attr 07
)"},
    {.name = "CursorForwardHugeCountStopsAtNextLineEnd",
     .rows = 3,
     .cols = 10,
     .input = "\033[?7h\033[1;8H\033[99999999999999C",
     .expected = R"(
3x10 cursor 1,9 region 0-2 attr 07
flags wrap
)"},
    {.name = "CursorForwardOnLastRowDoesNotScroll",
     .rows = 3,
     .cols = 10,
     .input = "x\033[?7h\033[3;8H\033[5C",
     .expected = R"(
3x10 cursor 2,2 region 0-2 attr 07
flags wrap
0|x
)"},
    {.name = "CursorForwardFromHiddenColumnWraps",
     .rows = 3,
     .cols = 10,
     .input = "abcdefghijkl\033[?7h\033[C",
     .expected = R"(
3x10 cursor 1,3 region 0-2 attr 07
flags wrap
0|abcdefghij
~0|kl
)"},
};
SCREEN_CASES(Wrap, kWrap);

// --- Tabs --------------------------------------------------------------------------------------
const std::vector<ScreenCase> kTabs = {
    {.name = "TabFromColumn0", .input = "\t", .expected = R"(
25x80 cursor 0,8 region 0-24 attr 07
)"},
    {.name = "TabFromColumn5", .input = "\033[1;6H\t", .expected = R"(
25x80 cursor 0,8 region 0-24 attr 07
)"},
    {.name = "TabFromColumn8", .input = "\033[1;9H\t", .expected = R"(
25x80 cursor 0,16 region 0-24 attr 07
)"},
    {.name = "TabFromColumn79", .input = "\033[1;80H\t", .expected = R"(
25x80 cursor 0,80 region 0-24 attr 07
)"},
    {.name = "TabStopsAtTheLastCell", .input = "\033[1;80H\t\t\t\t\t\t\t\t", .expected = R"(
25x80 cursor 0,132 region 0-24 attr 07
)"},
    {.name = "TabOnlyMovesTheCursor", .input = "ab\tc", .expected = R"(
25x80 cursor 0,9 region 0-24 attr 07
0|ab      c
)"},
};
SCREEN_CASES(Tabs, kTabs);

// --- Cursor motion and clamping ----------------------------------------------------------------
const std::vector<ScreenCase> kCursor = {
    {.name = "PositionTakesRowThenColumn", .input = "\033[5;2H", .expected = R"(
25x80 cursor 4,1 region 0-24 attr 07
)"},
    {.name = "PositionWithoutParametersHomes",
     .rows = 5,
     .cols = 10,
     .input = "\033[3;3H\033[H",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
    {.name = "PositionWithZerosHomes",
     .rows = 5,
     .cols = 10,
     .input = "\033[3;3H\033[0;0f",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
    {.name = "PositionIsClamped", .input = "\033[99;99H", .expected = R"(
25x80 cursor 24,79 region 0-24 attr 07
)"},
    {.name = "PositionRowOnly", .rows = 5, .cols = 10, .input = "\033[3H", .expected = R"(
5x10 cursor 2,0 region 0-4 attr 07
)"},
    {.name = "PositionColumnOnly", .rows = 5, .cols = 10, .input = "\033[;4H", .expected = R"(
5x10 cursor 0,3 region 0-4 attr 07
)"},
    {.name = "HugeParameterSaturates",
     .rows = 5,
     .cols = 10,
     .input = "\033[99999999999999999999;5H",
     .expected = R"(
5x10 cursor 4,4 region 0-4 attr 07
)"},
    {.name = "UpStopsAtTheTopIgnoringTheRegion",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;4r\033[3;1H\033[5A",
     .expected = R"(
5x10 cursor 0,0 region 1-3 attr 07
)"},
    {.name = "DownStopsAtTheLastRow", .rows = 5, .cols = 10, .input = "\033[9B", .expected = R"(
5x10 cursor 4,0 region 0-4 attr 07
)"},
    {.name = "ZeroCountsMoveOne",
     .rows = 5,
     .cols = 10,
     .input = "\033[3;3H\033[0A\033[0D",
     .expected = R"(
5x10 cursor 1,1 region 0-4 attr 07
)"},
    {.name = "BackStopsAtColumn0",
     .rows = 5,
     .cols = 10,
     .input = "\033[1;3H\033[9D",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
    {.name = "DownAndForward", .rows = 5, .cols = 10, .input = "\033[2B\033[3C", .expected = R"(
5x10 cursor 2,3 region 0-4 attr 07
)"},
    {.name = "BackspaceStopsAtColumn0", .rows = 5, .cols = 10, .input = "a\b\b\bb", .expected = R"(
5x10 cursor 0,1 region 0-4 attr 07
0|b
)"},
    {.name = "SaveAndRestore",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;3H\0337\033[H\0338",
     .expected = R"(
5x10 cursor 1,2 region 0-4 attr 07
)"},
    {.name = "SaveAndRestoreByControlSequence",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;3H\033[s\033[H\033[u",
     .expected = R"(
5x10 cursor 1,2 region 0-4 attr 07
)"},
    {.name = "RestoreOnlyOnce",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;3H\0337\033[5;5H\0338\033[5;5H\0338",
     .expected = R"(
5x10 cursor 0,0 region 0-4 attr 07
)"},
    {.name = "SavedPositionIsKept",
     .rows = 5,
     .cols = 10,
     .input = "\033[2;3H\0337",
     .expected = R"(
5x10 cursor 1,2 region 0-4 attr 07
saved 1,2
)"},
    {.name = "LineFeedKeepsTheColumn", .rows = 5, .cols = 10, .input = "ab\ncd", .expected = R"(
5x10 cursor 1,4 region 0-4 attr 07
0|ab
1|  cd
)"},
    {.name = "LineFeedWithAutoCR",
     .rows = 5,
     .cols = 10,
     .input = "ab\ncd",
     .expected = R"(
5x10 cursor 1,2 region 0-4 attr 07
flags autocr
0|ab
1|cd
)",
     .setup = [](TScreen& s) { s.SetAutoCR(true); }},
    {.name = "CarriageReturnWithAutoLF",
     .rows = 5,
     .cols = 10,
     .input = "ab\rc",
     .expected = R"(
5x10 cursor 1,1 region 0-4 attr 07
flags autolf
0|ab
1|c
)",
     .setup = [](TScreen& s) { s.SetAutoLF(true); }},
    {.name = "CarriageReturnWithAutoLFScrolls",
     .rows = 2,
     .cols = 10,
     .input = "a\rb\rc",
     .expected = R"(
2x10 cursor 1,1 region 0-1 attr 07
flags autolf
0|b
1|c
)",
     .setup = [](TScreen& s) { s.SetAutoLF(true); }},
};
SCREEN_CASES(Cursor, kCursor);

// --- Attributes and reverse --------------------------------------------------------------------
const std::vector<ScreenCase> kAttributes = {
    {.name = "BrightRed", .rows = 2, .cols = 10, .input = "\033[1;31mX", .expected = R"(
2x10 cursor 0,1 region 0-1 attr 09
0|X
@0|09x1 07x132
)"},
    {.name = "ResetThenBackground",
     .rows = 2,
     .cols = 10,
     .input = "\033[1;31m\033[0;44mX",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 47
0|X
@0|47x1 07x132
)"},
    {.name = "ForegroundKeepsBackground",
     .rows = 2,
     .cols = 10,
     .input = "\033[44m\033[33m",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 43
)"},
    {.name = "Reverse", .rows = 2, .cols = 10, .input = "\033[7mX", .expected = R"(
2x10 cursor 0,1 region 0-1 attr 70
flags reverse
0|X
@0|70x1 07x132
)"},
    {.name = "ReverseExchangesAgainOnTheNextSequence",
     .rows = 2,
     .cols = 10,
     .input = "\033[7m\033[1m",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 0F
flags reverse
)"},
    {.name = "ReverseWithForeground", .rows = 2, .cols = 10, .input = "\033[7;31m", .expected = R"(
2x10 cursor 0,0 region 0-1 attr 10
flags reverse
)"},
    {.name = "EmptyParametersOnlyExchange",
     .rows = 2,
     .cols = 10,
     .input = "\033[7m\033[;m",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
flags reverse
)"},
    {.name = "NoParametersReset", .rows = 2, .cols = 10, .input = "\033[7m\033[m", .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)"},
    {.name = "Code27Resets", .rows = 2, .cols = 10, .input = "\033[7;31m\033[27m", .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)"},
    {.name = "BlinkIsKeptByBackground",
     .rows = 2,
     .cols = 10,
     .input = "\033[5;42m",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr A7
)"},
    {.name = "Concealed", .rows = 2, .cols = 10, .input = "\033[1;8m", .expected = R"(
2x10 cursor 0,0 region 0-1 attr 00
)"},
    {.name = "BrightOff", .rows = 2, .cols = 10, .input = "\033[1;32m\033[22m", .expected = R"(
2x10 cursor 0,0 region 0-1 attr 02
)"},
    {.name = "UnderlineAccepted", .rows = 2, .cols = 10, .input = "\033[4m", .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)"},
    {.name = "UnknownParameterTracedAndWalkGoesOn",
     .rows = 2,
     .cols = 10,
     .input = "\033[2;31m",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 01
)",
     .traces = {"Invalid Escape Sequence: [2;31m\r\n"}},
    {.name = "HugeParameterIsUnknown",
     .rows = 2,
     .cols = 10,
     .input = "\033[99999999999m",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)",
     .traces = {"Invalid Escape Sequence: [99999999999m\r\n"}},
    {.name = "QuestionMarkIsSteppedOver",
     .rows = 2,
     .cols = 10,
     .input = "\033[?5m",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 87
)"},
    {.name = "SpacesSeparateDigits",
     .rows = 2,
     .cols = 10,
     .input = "\033[ 1 ; 3 4 m",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 0F
)",
     .traces = {"Invalid Escape Sequence: [ 1 ; 3 4 m\r\n"}},
    {.name = "HighBit", .rows = 2, .cols = 10, .input = "\033[12mA\033[10mA", .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
0|\xC1A
)"},
};
SCREEN_CASES(Attributes, kAttributes);

// --- Character sets and translation ------------------------------------------------------------
auto TranslateDefault = [](TScreen& s) { s.SetTranslateDefault(true); };
auto TranslateOn = [](TScreen& s) { s.SetTranslateOn(true); };

const std::vector<ScreenCase> kCharsets = {
    {.name = "LineGraphicsTranslated",
     .rows = 2,
     .cols = 10,
     .input = "\033(0q",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
flags translate translatedefault
maps receive=graphics send=graphics
charsets G0=0
0|\xC4
)",
     .setup = TranslateDefault},
    {.name = "LineGraphicsWithoutTranslation",
     .rows = 2,
     .cols = 10,
     .input = "\033(0q",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
maps receive=graphics send=graphics
charsets G0=0
0|q
)"},
    {.name = "DesignationResetsTranslation",
     .rows = 2,
     .cols = 10,
     .input = "\033(B\xe9",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
charsets G0=B
0|\xE9
)",
     .setup = TranslateOn},
    {.name = "BackToLatin",
     .rows = 2,
     .cols = 10,
     .input = "\033(0q\033(Bq",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
flags translate translatedefault
charsets G0=B
0|\xC4q
)",
     .setup = TranslateDefault},
    {.name = "ShiftOutAndShiftIn",
     .rows = 2,
     .cols = 10,
     .input = "\016q\017q",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
flags translate
0|\xC4q
)",
     .setup = TranslateOn},
    {.name = "LatinToOem",
     .rows = 2,
     .cols = 10,
     .input = "\xe9\xa0\x85x",
     .expected = R"(
2x10 cursor 0,4 region 0-1 attr 07
flags translate
0|\x82\xB1 x
)",
     .setup = TranslateOn},
    {.name = "PrivateTranslationSwitch",
     .rows = 2,
     .cols = 10,
     .input = "\033[0I\xe9\033[4I\xe9",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
0|\x82\xE9
)"},
    {.name = "OtherSetsAreOnlyRemembered",
     .rows = 2,
     .cols = 10,
     .input = "\033)0\033*B\033+A",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
charsets G1=0 G2=B G3=A
)"},
    {.name = "UnknownG0SetIsInvalid",
     .rows = 2,
     .cols = 10,
     .input = "\033(A",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)",
     .traces = {"Invalid Escape Sequence: (A\r\n"}},
    {.name = "SetNameMayBeAnyByte",
     .rows = 2,
     .cols = 10,
     .input = "\033(;x",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
0|x
)",
     .traces = {"Invalid Escape Sequence: (;\r\n"}},
    // Sequences are recognised as received, so the line-graphics map leaves their letters alone.
    {.name = "SequencesUnderLineGraphics",
     .rows = 2,
     .cols = 10,
     .input = "\033(0\033[1mq\033[0mq\033[?25l",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
flags cursorhidden translate translatedefault
maps receive=graphics send=graphics
charsets G0=0
0|\xC4\xC4
@0|0Fx1 07x132
)",
     .setup = TranslateDefault},
    // 0xA4 maps to 0x0F, a glyph; it is written, not taken for SI.
    {.name = "CurrencySignIsAGlyph",
     .rows = 2,
     .cols = 10,
     .input = "\016\xa4q",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
flags translate
maps receive=graphics send=graphics
0|\x0F\xC4
)",
     .setup = TranslateOn},
    {.name = "NulIsIgnored", .rows = 2, .cols = 10, .input = "a\0b"s, .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
0|ab
)"},
    {.name = "OtherControlsAreCharacters",
     .rows = 2,
     .cols = 10,
     .input = "\v\f\x01\x7f",
     .expected = R"(
2x10 cursor 0,4 region 0-1 attr 07
0|\x0B\x0C\x01\x7F
)"},
    {.name = "BellBeeps",
     .rows = 2,
     .cols = 10,
     .input = "a\ab",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
0|ab
)",
     .beeps = 1},
    {.name = "SpaceIntroducer",
     .rows = 2,
     .cols = 10,
     .input = "\033 F\033 G",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)",
     .traces = {"Invalid Escape Sequence:  G\r\n"}},
};
SCREEN_CASES(Charsets, kCharsets);

// --- Literal runs and private sequences --------------------------------------------------------
const std::vector<ScreenCase> kLiteral = {
    {.name = "OddWrittenEvenDropped",
     .rows = 2,
     .cols = 10,
     .input = "\033[1;4IABCD",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
0|BD
)"},
    {.name = "RunIsNotInterpreted",
     .rows = 2,
     .cols = 10,
     .input = "\033[1;3I\033X\rY",
     .expected = R"(
2x10 cursor 0,3 region 0-1 attr 07
0|\x1B\x0DY
)"},
    {.name = "RunIsNotTranslated",
     .rows = 2,
     .cols = 10,
     .input = "\033[1I\xe9\xe9",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
flags translate
0|\xE9\x82
)",
     .setup = TranslateOn},
    {.name = "DefaultCountIsOne", .rows = 2, .cols = 10, .input = "\033[1I\033[2J", .expected = R"(
2x10 cursor 0,4 region 0-1 attr 07
0|\x1B[2J
)"},
    {.name = "RunInProgress", .rows = 2, .cols = 10, .input = "\033[1;5IA", .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
literal 4
0|A
)"},
    {.name = "ZeroCountTakesNothing",
     .rows = 2,
     .cols = 10,
     .input = "ab\033[1;0I\033[D",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
0|ab
)"},
    {.name = "Private2HasNoEffect", .rows = 2, .cols = 10, .input = "\033[2;5Ix", .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
0|x
)"},
    {.name = "SpecialKeyTrace",
     .rows = 2,
     .cols = 10,
     .input = "\033[3;1;2;3;4I",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)",
     .traces = {"Special key 0201 0403"}},
    {.name = "SpecialKeyMissingValuesAreZero",
     .rows = 2,
     .cols = 10,
     .input = "\033[3;10I",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)",
     .traces = {"Special key 000A 0000"}},
    {.name = "UnknownPrivateSequence",
     .rows = 2,
     .cols = 10,
     .input = "\033[9I",
     .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
)",
     .traces = {"Unimplemented Escape Sequence: [9I\r\n"}},
};
SCREEN_CASES(Literal, kLiteral);

// --- Over-long sequences -----------------------------------------------------------------------
const std::vector<ScreenCase> kAbandon = {
    {.name = "EightiethByteAbandonsWithBeep",
     .rows = 2,
     .cols = 10,
     .input = "\033[" + std::string(79, '1') + "AB",
     .expected = R"(
2x10 cursor 0,2 region 0-1 attr 07
0|AB
)",
     .beeps = 1},
    {.name = "SeventyNineBytesStillASequence",
     .rows = 2,
     .cols = 10,
     .input = "\033[" + std::string(77, '0') + "1mA",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 0F
0|A
@0|0Fx1 07x132
)"},
    {.name = "SpacesCountToo",
     .rows = 2,
     .cols = 10,
     .input = "\033" + std::string(80, ' ') + "x",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
0|x
)",
     .beeps = 1},
    {.name = "NewSequenceAfterAbandon",
     .rows = 2,
     .cols = 10,
     .input = "\033[" + std::string(79, '1') + "\033[1mA",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 0F
0|A
@0|0Fx1 07x132
)",
     .beeps = 1},
    {.name = "UnfinishedSequenceWaits", .rows = 2, .cols = 10, .input = "\033[12;", .expected = R"(
2x10 cursor 0,0 region 0-1 attr 07
escape "[12;"
)"},
};
SCREEN_CASES(Abandon, kAbandon);

// --- Control bytes inside a sequence -----------------------------------------------------------
const std::vector<ScreenCase> kControlInSequence = {
    {.name = "CarriageReturnEndsTheSequence",
     .rows = 2,
     .cols = 10,
     .input = "ab\033[1\rc",
     .expected = R"(
2x10 cursor 0,3 region 0-1 attr 07
0|abc
)",
     .traces = {"Invalid Escape Sequence: [1\r\r\n"}},
    {.name = "LineFeedEndsTheSequence",
     .rows = 2,
     .cols = 10,
     .input = "ab\033[\nc",
     .expected = R"(
2x10 cursor 0,3 region 0-1 attr 07
0|abc
)",
     .traces = {"Invalid Escape Sequence: [\n\r\n"}},
    {.name = "EscapeEndsTheSequence",
     .rows = 2,
     .cols = 10,
     .input = "\033[1\033[2Jx",
     .expected = R"(
2x10 cursor 0,4 region 0-1 attr 07
0|[2Jx
)",
     .traces = {"Invalid Escape Sequence: [1\033\r\n"}},
    {.name = "EscapeEscapeShowsEscape",
     .rows = 2,
     .cols = 10,
     .input = "\033\033",
     .expected = R"(
2x10 cursor 0,1 region 0-1 attr 07
0|\x1B
)",
     .traces = {"Invalid Escape Sequence: \033\r\n"}},
};
SCREEN_CASES(ControlInSequence, kControlInSequence);

// --- Traces for unimplemented and invalid sequences, modes -------------------------------------
const std::vector<ScreenCase> kTraces = {
    {.name = "IndexIsOnlyTraced",
     .rows = 3,
     .cols = 10,
     .input = "\033[3;1H\033D",
     .expected = R"(
3x10 cursor 2,0 region 0-2 attr 07
)",
     .traces = {"Unimplemented Escape Sequence: D\r\n"}},
    {.name = "NextLineIsOnlyTraced",
     .rows = 3,
     .cols = 10,
     .input = "\033E",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Unimplemented Escape Sequence: E\r\n"}},
    {.name = "UnknownEscapeIsTracedAndShown",
     .rows = 3,
     .cols = 10,
     .input = "\033c",
     .expected = R"(
3x10 cursor 0,1 region 0-2 attr 07
0|c
)",
     .traces = {"Invalid Escape Sequence: c\r\n"}},
    {.name = "ModeWithoutQuestionMark",
     .rows = 3,
     .cols = 10,
     .input = "\033[4h",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Unimplemented Escape Sequence: [4h\r\n"}},
    {.name = "ModeWithoutParameters",
     .rows = 3,
     .cols = 10,
     .input = "\033[l",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Unimplemented Escape Sequence: [l\r\n"}},
    {.name = "UnknownPrivateMode",
     .rows = 3,
     .cols = 10,
     .input = "\033[?12l",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Unimplemented Escape Sequence: [?12l\r\n"}},
    {.name = "DeviceStatusIsNotAnswered",
     .rows = 3,
     .cols = 10,
     .input = "\033[6n",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Unimplemented Escape Sequence: [6n\r\n"}},
    {.name = "ScrollDownIsUnimplemented",
     .rows = 3,
     .cols = 10,
     .input = "\033[2T",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Unimplemented Escape Sequence: [2T\r\n"}},
    {.name = "UnknownFinalIsInvalid",
     .rows = 3,
     .cols = 10,
     .input = "\033[5x",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Invalid Escape Sequence: [5x\r\n"}},
    {.name = "DigitsAfterEscapeAreInvalid",
     .rows = 3,
     .cols = 10,
     .input = "\03312x",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Invalid Escape Sequence: 12x\r\n"}},
    {.name = "TwoTracesNumberedInOrder",
     .rows = 3,
     .cols = 10,
     .input = "\033[5x\033[6n",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)",
     .traces = {"Invalid Escape Sequence: [5x\r\n", "Unimplemented Escape Sequence: [6n\r\n"}},
    {.name = "IgnoredSequences",
     .rows = 3,
     .cols = 10,
     .input = "\033[g\033[>\033=\033>\033<\033H\033[?4h\033[?4l",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)"},
    {.name = "HideCursor", .rows = 3, .cols = 10, .input = "\033[?25l", .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
flags cursorhidden
)"},
    {.name = "ShowCursorAgain",
     .rows = 3,
     .cols = 10,
     .input = "\033[?25l\033[?25h",
     .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
)"},
    {.name = "ApplicationCursorKeys", .rows = 3, .cols = 10, .input = "\033[?1h", .expected = R"(
3x10 cursor 0,0 region 0-2 attr 07
flags appcursorkeys
)"},
};
SCREEN_CASES(Traces, kTraces);

}  // namespace
