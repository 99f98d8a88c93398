// Screen operations called directly: the things a dump does not show (line objects, the dirty
// rectangle, the hidden line Rows, notifications) and the limits of the model.
#include "platform/Beep.h"
#include "platform/DebugOutput.h"
#include "terminal/Screen.h"
#include "terminal/ScreenDump.h"

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using terminal::TDirtyRect;
using terminal::TLine;
using terminal::TScreen;

bool LineIsBlank(const TLine& line, std::uint8_t attr)
{
    for (int c = 0; c < terminal::kLineCells; ++c) {
        if (line.Chars[c] != 0x20 || line.Attrs[c] != attr) return false;
    }
    return true;
}

std::string Text(const TScreen& s, int row, int first, int last)
{
    return terminal::DumpCells(s.Line(row), first, last);
}

TEST(Screen, NewScreenIsBlank25By80)
{
    TScreen s;
    EXPECT_EQ(s.Rows(), 25);
    EXPECT_EQ(s.Cols(), 80);
    EXPECT_EQ(s.CursorRow(), 0);
    EXPECT_EQ(s.CursorCol(), 0);
    EXPECT_EQ(s.ScrollTop(), 0);
    EXPECT_EQ(s.ScrollBottom(), 24);
    EXPECT_EQ(s.SavedRow(), -1);
    EXPECT_EQ(s.SavedCol(), -1);
    EXPECT_EQ(s.CurrentAttr(), 7);
    EXPECT_FALSE(s.RepaintAll());
    EXPECT_TRUE(s.DirtyRect().IsEmpty());
    EXPECT_EQ(s.DirtyRect().Left, 9999);
    EXPECT_EQ(s.DirtyRect().Bottom, -1);
    for (int r = 0; r < terminal::kLineCount; ++r)
        EXPECT_TRUE(LineIsBlank(s.Line(r), 7)) << r;
    // A screen without a view can be fed at once: both maps start as the Latin map.
    EXPECT_EQ(&s.ReceiveMap(), &terminal::LatinToOemTable);
    EXPECT_EQ(&s.SendMap(), &terminal::LatinToOemTable);
}

TEST(Screen, ScrollingMovesLineObjectsNotCharacters)
{
    TScreen s;
    s.FeedText("top");
    const TLine* first = &s.Line(0);
    const TLine* second = &s.Line(1);
    const TLine* below = &s.Line(25);
    s.MoveCursor(0, 24);
    s.DoLineFeed();
    EXPECT_EQ(&s.Line(0), second);
    EXPECT_EQ(&s.Line(24),
              first);  // the line that left at the top, cleared, comes in at the bottom
    EXPECT_TRUE(LineIsBlank(s.Line(24), 7));
    EXPECT_EQ(&s.Line(25), below);  // lines outside the region stay
    EXPECT_TRUE(s.RepaintAll());
}

TEST(Screen, RegionScrollLeavesOtherLinesInPlace)
{
    TScreen s;
    std::vector<const TLine*> before;
    for (int r = 0; r < terminal::kLineCount; ++r)
        before.push_back(&s.Line(r));
    s.FeedText("\033[6;11r\033[21;1H\n");  // region 5..10, cursor on line 20
    EXPECT_EQ(s.CursorRow(), 10);
    for (int r = 0; r < terminal::kLineCount; ++r) {
        if (r >= 5 && r <= 10) continue;
        EXPECT_EQ(&s.Line(r), before[r]) << r;
    }
    EXPECT_EQ(&s.Line(10), before[5]);
    EXPECT_EQ(&s.Line(5), before[6]);
}

TEST(Screen, ScrolledInLineIsAttribute7WhateverTheCurrentOne)
{
    TScreen s;
    s.FeedText("\033[44m\033[25;1Hx\n");
    EXPECT_TRUE(LineIsBlank(s.Line(24), 7));
    s.FeedText("\033M\033[1;1H\033M");  // reverse index at the top scrolls down
    EXPECT_TRUE(LineIsBlank(s.Line(0), 7));
}

TEST(Screen, DirtyRectangleGrowsCellByCell)
{
    TScreen s;
    s.MoveCursor(5, 2);
    s.PutChar('a');
    EXPECT_EQ(s.DirtyRect().Left, 5);
    EXPECT_EQ(s.DirtyRect().Right, 5);
    EXPECT_EQ(s.DirtyRect().Top, 2);
    EXPECT_EQ(s.DirtyRect().Bottom, 2);
    s.MoveCursor(1, 7);
    s.PutChar('b');
    EXPECT_EQ(s.DirtyRect().Left, 1);
    EXPECT_EQ(s.DirtyRect().Right, 5);
    EXPECT_EQ(s.DirtyRect().Top, 2);
    EXPECT_EQ(s.DirtyRect().Bottom, 7);
    EXPECT_FALSE(s.RepaintAll());
    s.ResetDirty();
    EXPECT_TRUE(s.DirtyRect().IsEmpty());
}

TEST(Screen, EraseMarksToTheColumnAfterTheLast)
{
    TScreen s;
    s.MoveCursor(10, 3);
    s.EraseToEndOfLine();
    EXPECT_EQ(s.DirtyRect().Left, 10);
    EXPECT_EQ(s.DirtyRect().Right, 80);
    EXPECT_EQ(s.DirtyRect().Top, 3);
    EXPECT_EQ(s.DirtyRect().Bottom, 3);

    s.ResetDirty();
    s.EraseToEndOfScreen();
    EXPECT_FALSE(s.RepaintAll());
    EXPECT_EQ(s.DirtyRect().Left, 0);
    EXPECT_EQ(s.DirtyRect().Top, 3);
    EXPECT_EQ(s.DirtyRect().Right, 80);
    EXPECT_EQ(s.DirtyRect().Bottom, 25);

    s.ResetDirty();
    s.MoveCursor(10, 0);
    s.EraseToEndOfScreen();
    EXPECT_TRUE(s.RepaintAll());

    s.ResetDirty();
    s.MoveCursor(10, 4);
    s.EraseToCursorLine();
    EXPECT_EQ(s.DirtyRect().Left, 0);
    EXPECT_EQ(s.DirtyRect().Top, 0);
    EXPECT_EQ(s.DirtyRect().Right, 80);
    EXPECT_EQ(s.DirtyRect().Bottom, 4);
}

TEST(Screen, RepaintAllStopsMarking)
{
    TScreen s;
    s.BlankScreen();
    s.PutChar('x');
    EXPECT_TRUE(s.RepaintAll());
    EXPECT_TRUE(s.DirtyRect().IsEmpty());
}

TEST(Screen, CharacterOperationsMarkTheirCells)
{
    TScreen s;
    s.FeedText("abcdef");
    s.ResetDirty();
    s.MoveCursor(2, 0);
    s.InsertChars(2);
    EXPECT_EQ(s.DirtyRect().Left, 2);
    EXPECT_EQ(s.DirtyRect().Right, 79);
    s.ResetDirty();
    s.DeleteChars(1);
    EXPECT_EQ(s.DirtyRect().Left, 2);
    EXPECT_EQ(s.DirtyRect().Right, 80);
    EXPECT_FALSE(s.RepaintAll());
}

TEST(Screen, BlankScreenAlsoClearsLineRows)
{
    TScreen s;
    s.FeedText("\033[44m\033[2J");
    EXPECT_TRUE(LineIsBlank(s.Line(25), 0x47));
    EXPECT_TRUE(LineIsBlank(s.Line(26), 7));
    s.FeedText("\033[1;1H\033[J");  // erase below also reaches line Rows, with attribute 7
    EXPECT_TRUE(LineIsBlank(s.Line(25), 7));
}

TEST(Screen, SetSizeBlanksHomesAndResetsTheRegion)
{
    TScreen s;
    s.FeedText("hello\033[5;10r\033[3;4H");
    s.ResetDirty();
    s.SetSize(25, 80);  // unchanged: nothing happens
    EXPECT_FALSE(s.RepaintAll());
    EXPECT_EQ(Text(s, 0, 0, 4), "hello");
    EXPECT_EQ(s.CursorRow(), 2);
    EXPECT_EQ(s.ScrollTop(), 4);

    s.SetSize(24, 80);
    EXPECT_EQ(s.Rows(), 24);
    EXPECT_EQ(s.ScrollTop(), 0);
    EXPECT_EQ(s.ScrollBottom(), 23);
    EXPECT_EQ(s.CursorRow(), 0);
    EXPECT_EQ(s.CursorCol(), 0);
    EXPECT_EQ(Text(s, 0, 0, 4), "     ");
    EXPECT_TRUE(s.RepaintAll());

    s.FeedText("\033[5;10r");
    s.SetSize(24, 40);  // a column change blanks but keeps the region
    EXPECT_EQ(s.Cols(), 40);
    EXPECT_EQ(s.ScrollTop(), 4);
}

TEST(Screen, SetSizeIsLimitedToTheModel)
{
    TScreen s;
    s.SetSize(99, 500);
    EXPECT_EQ(s.Rows(), 50);
    EXPECT_EQ(s.Cols(), 132);
    EXPECT_EQ(s.ScrollBottom(), 49);
    s.SetSize(0, -7);
    EXPECT_EQ(s.Rows(), 1);
    EXPECT_EQ(s.Cols(), 1);
    s.SetSize(INT_MIN, INT_MAX);
    EXPECT_EQ(s.Rows(), 1);
    EXPECT_EQ(s.Cols(), 132);
    // The largest screen works to its last line: erase below touches line 50.
    s.SetSize(50, 132);
    s.FeedText("\033[44m\033[50;132Hx\033[2J\033[1;1H\033[J\n\n");
    EXPECT_EQ(s.CursorRow(), 2);
}

TEST(Screen, OneByOneScreen)
{
    TScreen s;
    s.SetSize(1, 1);
    s.FeedText("\033[?7habc\r\n\033[5;5Hz\033[L\033[M\033M\033[2;1r\033[3@\033[3P");
    EXPECT_EQ(s.CursorRow(), 0);
    EXPECT_EQ(s.ScrollTop(), 0);
    EXPECT_EQ(s.ScrollBottom(), 0);
}

TEST(Screen, RestoreAfterShrinkStaysInside)
{
    TScreen s;
    s.FeedText("\033[20;70H\0337");
    s.SetSize(10, 40);
    s.FeedText("\0338");
    EXPECT_EQ(s.CursorRow(), 9);
    EXPECT_EQ(s.CursorCol(), 39);
}

TEST(Screen, CountsThatArriveNegativeCountAsOne)
{
    TScreen s;
    s.FeedText("abcdef\r\nline2");
    s.MoveCursor(1, 0);
    s.InsertChars(-5);
    EXPECT_EQ(Text(s, 0, 0, 6), "a bcdef");
    s.DeleteChars(INT_MIN);
    EXPECT_EQ(Text(s, 0, 0, 5), "abcdef");
    s.InsertLines(-1);
    EXPECT_EQ(Text(s, 1, 0, 5), "abcdef");
    s.DeleteLines(-100);
    EXPECT_EQ(Text(s, 0, 0, 5), "abcdef");
    EXPECT_EQ(Text(s, 1, 0, 4), "line2");
}

TEST(Screen, HugeCountsStayInsideTheModel)
{
    TScreen s;
    s.FeedText("abc\r\ndef");
    s.MoveCursor(1, 0);
    s.InsertChars(INT_MAX);
    EXPECT_EQ(Text(s, 0, 0, 2), "a  ");
    s.MoveCursor(0, 1);
    s.InsertLines(INT_MAX);
    s.DeleteLines(INT_MAX);
    s.DeleteChars(INT_MAX);
    s.SetScrollRegion(INT_MIN, INT_MAX);
    EXPECT_EQ(s.ScrollTop(), 0);
    EXPECT_EQ(s.ScrollBottom(), 24);
    s.MoveCursor(INT_MAX, INT_MIN);
    EXPECT_EQ(s.CursorCol(), 79);
    EXPECT_EQ(s.CursorRow(), 0);
    s.FeedText(
        "\033[99999999999999999999A\033[99999999999999999999B"
        "\033[99999999999999999999D\033[99999999999999999999C");
    EXPECT_EQ(s.CursorRow(), 24);
    EXPECT_EQ(s.CursorCol(), 79);
}

TEST(Screen, LineOutsideTheStockIsBlank)
{
    TScreen s;
    EXPECT_TRUE(LineIsBlank(s.Line(-1), 7));
    EXPECT_TRUE(LineIsBlank(s.Line(51), 7));
}

TEST(Screen, ScrollRegionEdgeCasesFromOperations)
{
    TScreen s;
    s.SetScrollRegion(5, 10);
    EXPECT_EQ(s.ScrollTop(), 4);
    EXPECT_EQ(s.ScrollBottom(), 9);
    s.SetScrollRegion(5, 3);
    EXPECT_EQ(s.ScrollTop(), 0);
    EXPECT_EQ(s.ScrollBottom(), 24);
    s.SetScrollRegion(5, 10);
    s.SetScrollRegion(0, 10);
    EXPECT_EQ(s.ScrollTop(), 0);
    EXPECT_EQ(s.ScrollBottom(), 24);
    s.SetScrollRegion(2, 26);
    EXPECT_EQ(s.ScrollBottom(), 24);
}

TEST(Interpreter, CursorShowHideNotifiesOncePerSequence)
{
    TScreen s;
    std::vector<bool> seen;
    s.OnCursorShowHide = [&](TScreen* sender) {
        EXPECT_EQ(sender, &s);
        seen.push_back(sender->CursorHidden());
    };
    s.FeedText("\033[?25l");
    s.FeedText("\033[?25h");
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
}

TEST(Interpreter, HandlerMayFeedBytes)
{
    TScreen s;
    s.OnCursorShowHide = [](TScreen* sender) { sender->FeedText("\033[1mX"); };
    s.FeedText("\033[?25lY");
    EXPECT_EQ(Text(s, 0, 0, 1), "XY");
    EXPECT_EQ(s.Line(0).Attrs[1], 0x0F);
    EXPECT_FALSE(s.InEscape());
}

TEST(Interpreter, ReadParamStaysInsideTheCollectedBytes)
{
    TScreen s;
    s.FeedText("\033[ 12 ; 3");
    ASSERT_TRUE(s.InEscape());
    ASSERT_EQ(s.EscapeBuffer(), "[ 12 ; 3");
    terminal::TParam p = s.ReadParam(1);
    EXPECT_EQ(p.Value, 12);
    EXPECT_EQ(p.Next, 4);
    p = s.ReadParam(6);
    EXPECT_EQ(p.Value, 3);
    EXPECT_EQ(p.Next, 8);
    p = s.ReadParam(20);
    EXPECT_EQ(p.Value, 0);
    EXPECT_EQ(p.Next, 20);
    p = s.ReadParam(5);  // ';' is no digit
    EXPECT_EQ(p.Value, 0);
    EXPECT_EQ(p.Next, 5);
}

TEST(Interpreter, ReadParamSaturates)
{
    TScreen s;
    s.FeedText("\033[2147483647;2147483648;" + std::string(50, '9'));
    EXPECT_EQ(s.ReadParam(1).Value, 2147483647);
    EXPECT_EQ(s.ReadParam(12).Value, terminal::kParamLimit);
    EXPECT_EQ(s.ReadParam(23).Value, terminal::kParamLimit);
}

TEST(Interpreter, BellIsTheInformationBeep)
{
    std::vector<platform::BeepKind> kinds;
    auto previous = platform::SetBeepHook([&](platform::BeepKind k) { kinds.push_back(k); });
    TScreen s;
    s.FeedText("\a\033[" + std::string(79, '0'));
    platform::SetBeepHook(std::move(previous));
    EXPECT_EQ(kinds, (std::vector<platform::BeepKind>{platform::BeepKind::Information,
                                                      platform::BeepKind::Information}));
}

TEST(Interpreter, TraceIsNumberThenTextInTwoPieces)
{
    std::vector<std::string> pieces;
    auto previous = platform::SetDebugSink([&](std::string_view t) { pieces.emplace_back(t); });
    const std::uint32_t before = terminal::DebugTraceCount();
    terminal::DebugTrace("hello");
    TScreen s;
    s.FeedText("\033[6n");
    platform::SetDebugSink(std::move(previous));
    ASSERT_EQ(pieces.size(), 4u);
    char number[16];
    std::snprintf(number, sizeof(number), "%04X ", before + 1);
    EXPECT_EQ(pieces[0], number);
    EXPECT_EQ(pieces[1], "hello");
    std::snprintf(number, sizeof(number), "%04X ", before + 2);
    EXPECT_EQ(pieces[2], number);
    EXPECT_EQ(pieces[3], "Unimplemented Escape Sequence: [6n\r\n");
    EXPECT_EQ(terminal::DebugTraceCount(), before + 2);
}

TEST(Interpreter, LongestTraceIsWhole)
{
    platform::ScopedDebugCapture capture;
    TScreen s;
    const std::string params(78, '9');
    s.FeedText("\033[" + params + "x");
    const std::string expected = "Invalid Escape Sequence: [" + params + "x\r\n";
    ASSERT_GE(capture.Text().size(), expected.size());
    EXPECT_EQ(capture.Text().substr(capture.Text().size() - expected.size()), expected);
}

TEST(Interpreter, NewTerminalGreeting)
{
    // What the view does with a new screen: the word on line 0, the cursor at the start of line 1.
    TScreen s;
    s.MoveCursor(0, 0);
    s.FeedText("EmulVT");
    s.MoveCursor(0, 1);
    EXPECT_EQ(Text(s, 0, 0, 5), "EmulVT");
    EXPECT_EQ(s.Line(0).Attrs[0], 7);
    EXPECT_EQ(s.CursorRow(), 1);
    EXPECT_EQ(s.CursorCol(), 0);
}

}  // namespace
