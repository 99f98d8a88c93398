#include "terminal/Screen.h"

#include <algorithm>
#include <utility>

namespace terminal {

namespace {

// Counts from the host may be as large as kParamLimit; every effect of a count larger than the
// stock is the same as that of the stock size, so counts are cut there before any arithmetic.
int LimitCount(int n, int most)
{
    if (n <= 0) return 1;
    return n < most ? n : most;
}

}  // namespace

TScreen::TScreen()
{
    for (auto& line : lines_)
        line = std::make_unique<TLine>();
}

TScreen::~TScreen() = default;

const TLine& TScreen::BlankLine()
{
    static const TLine blank;
    return blank;
}

void TScreen::TriggerCursorShowHide()
{
    if (OnCursorShowHide) OnCursorShowHide(this);
}

void TScreen::ClearLines(int first, int last, std::uint8_t attr)
{
    first = std::max(first, 0);
    last = std::min(last, kLineCount - 1);
    for (int i = first; i <= last; ++i)
        lines_[i]->ClearLine(attr);
}

void TScreen::ScrollRegionUp()
{
    // The top line object moves to the bottom of the region; only references move.
    const auto first = lines_.begin() + scrollTop_;
    std::rotate(first, first + 1, lines_.begin() + scrollBottom_ + 1);
    lines_[scrollBottom_]->ClearLine(kDefaultAttr);
    repaintAll_ = true;
}

void TScreen::ScrollRegionDown()
{
    const auto last = lines_.begin() + scrollBottom_;
    std::rotate(lines_.begin() + scrollTop_, last, last + 1);
    lines_[scrollTop_]->ClearLine(kDefaultAttr);
    repaintAll_ = true;
}

void TScreen::DoLineFeed()
{
    ++cursorRow_;
    if (cursorRow_ > scrollBottom_) {
        cursorRow_ = scrollBottom_;
        ScrollRegionUp();
    }
}

void TScreen::DoReverseIndex()
{
    --cursorRow_;
    if (cursorRow_ < scrollTop_) {
        cursorRow_ = scrollTop_;
        ScrollRegionDown();
    }
}

void TScreen::MoveCursor(int col, int row)
{
    cursorCol_ = std::clamp(col, 0, cols_ - 1);
    cursorRow_ = std::clamp(row, 0, rows_ - 1);
}

void TScreen::SaveCursor()
{
    savedRow_ = cursorRow_;
    savedCol_ = cursorCol_;
}

void TScreen::RestoreCursor()
{
    if (savedRow_ == -1)
        MoveCursor(0, 0);
    else
        MoveCursor(savedCol_, savedRow_);
    savedRow_ = -1;
    savedCol_ = -1;
}

void TScreen::SetScrollRegion(int top1, int bottom1)
{
    const long long top = static_cast<long long>(top1) - 1;
    const long long bottom = static_cast<long long>(bottom1) - 1;
    if (bottom <= top || top < 0 || bottom >= rows_) {
        scrollTop_ = 0;
        scrollBottom_ = rows_ - 1;
    } else {
        scrollTop_ = static_cast<std::int32_t>(top);
        scrollBottom_ = static_cast<std::int32_t>(bottom);
    }
}

void TScreen::BlankScreen()
{
    // Line index Rows is cleared too: one more than the lines in use.
    ClearLines(0, rows_, currentAttr_);
    cursorRow_ = 0;
    cursorCol_ = 0;
    repaintAll_ = true;
}

void TScreen::EraseToEndOfLine()
{
    TLine& line = Cur();
    for (int c = cursorCol_; c < cols_; ++c) {
        line.Chars[c] = 0x20;
        line.Attrs[c] = currentAttr_;
    }
    MarkCell(cursorRow_, cursorCol_);
    MarkCell(cursorRow_, cols_);
}

void TScreen::EraseToEndOfScreen()
{
    EraseToEndOfLine();
    ClearLines(cursorRow_ + 1, rows_, currentAttr_);
    if (cursorRow_ == 0) {
        repaintAll_ = true;
    } else {
        MarkCell(cursorRow_, 0);
        MarkCell(rows_, cols_);
    }
}

void TScreen::EraseToCursorLine()
{
    ClearLines(0, cursorRow_, currentAttr_);
    MarkCell(0, 0);
    MarkCell(cursorRow_, cols_);
}

void TScreen::InsertLines(int n)
{
    n = LimitCount(n, kLineCount);
    cursorCol_ = 0;
    if (cursorRow_ + n > scrollBottom_) {
        ClearLines(cursorRow_, scrollBottom_, currentAttr_);
    } else {
        for (int i = scrollBottom_; i >= cursorRow_ + n; --i)
            std::swap(lines_[i], lines_[i - n]);
        ClearLines(cursorRow_, cursorRow_ + n - 1, currentAttr_);
    }
    repaintAll_ = true;
}

void TScreen::DeleteLines(int n)
{
    n = LimitCount(n, kLineCount);
    repaintAll_ = true;
    cursorCol_ = 0;
    if (cursorRow_ + n > scrollBottom_) {
        ClearLines(cursorRow_, scrollBottom_, currentAttr_);
    } else {
        ClearLines(cursorRow_, cursorRow_ + n - 1, currentAttr_);
        for (int i = cursorRow_; i <= scrollBottom_ - n; ++i)
            std::swap(lines_[i], lines_[i + n]);
    }
}

void TScreen::InsertChars(int n)
{
    n = LimitCount(n, kLineCells);
    if (cols_ - cursorCol_ - n <= 0) {
        EraseToEndOfLine();
        return;
    }
    TLine& line = Cur();
    for (int i = cols_ - 1; i >= cursorCol_ + n; --i) {
        line.Chars[i] = line.Chars[i - n];
        line.Attrs[i] = line.Attrs[i - n];
        MarkCell(cursorRow_, i);
    }
    for (int i = cursorCol_; i < cursorCol_ + n; ++i) {
        line.Chars[i] = 0x20;
        line.Attrs[i] = currentAttr_;
        MarkCell(cursorRow_, i);
    }
}

void TScreen::DeleteChars(int n)
{
    if (cursorCol_ >= cols_) return;
    n = LimitCount(n, cols_ - cursorCol_);
    TLine& line = Cur();
    for (int i = cursorCol_; i < cols_ - n; ++i) {
        line.Chars[i] = line.Chars[i + n];
        line.Attrs[i] = line.Attrs[i + n];
    }
    // The cells that come in at the right are always white on black.
    for (int i = cols_ - n; i < cols_; ++i) {
        line.Chars[i] = 0x20;
        line.Attrs[i] = kDefaultAttr;
    }
    MarkCell(cursorRow_, cursorCol_);
    MarkCell(cursorRow_, cols_);
}

void TScreen::WrapToNextLine()
{
    // The next line of the screen (not of the region); from the last line the region scrolls.
    cursorCol_ = 0;
    if (++cursorRow_ >= rows_) {
        cursorRow_ = rows_ - 1;
        ScrollRegionUp();
    }
}

void TScreen::SetSize(int newRows, int newCols)
{
    newRows = std::clamp(newRows, 1, kMaxRows);
    newCols = std::clamp(newCols, 1, kMaxCols);
    if (newRows != rows_) {
        rows_ = newRows;
        scrollTop_ = 0;
        scrollBottom_ = rows_ - 1;
        BlankScreen();
    }
    if (newCols != cols_) {
        cols_ = newCols;
        BlankScreen();
    }
}

}  // namespace terminal
