// The terminal view as a real widget on the offscreen platform: what it paints (grabbed into an
// image), what a change invalidates, the caret, the scroll bar, the properties, fonts and the log.
#include "TerminalTestUtil.h"

#include "terminal/Cp437.h"
#include "terminal/TerminalView.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <memory>
#include <vector>

using namespace termtest;

static auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new IsolatedDirs);

namespace {

QRgb Pal(int i)
{
    return TCustomEmulVT::Palette[i];
}

// Records the region of every paint event of a widget.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget* w) { w->installEventFilter(this); }
    std::vector<QRegion> regions;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) regions.push_back(static_cast<QPaintEvent*>(e)->region());
        return false;
    }
};

class TerminalView : public ::testing::Test {
protected:
    void SetUp() override
    {
        view = std::make_unique<TEmulVT>();
        view->resize(700, 500);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        Settle();
    }
    // Runs the event loop until the pending refresh has been flushed and painted.
    void Settle()
    {
        ASSERT_TRUE(ProcessEventsUntil([&] { return !view->FlushPending(); }, 5000));
        // The update requests the flush posted: painted when they are delivered.
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    std::unique_ptr<TEmulVT> view;
};

TEST(Cp437Glyphs, MatchTheCodePage)
{
    // An independent transcription of the upper half of code page 437.
    const QString upper = QString::fromUtf8(
        "ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐"
        "└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00A0");
    ASSERT_EQ(upper.size(), 128);
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(terminal::Cp437ToUnicode[0x80 + i], upper.at(i).unicode()) << i;
    for (int i = 0x20; i < 0x7F; ++i)
        EXPECT_EQ(terminal::Cp437ToUnicode[i], i);
    EXPECT_EQ(terminal::Cp437ToUnicode[0x00], u' ');
    EXPECT_EQ(terminal::Cp437ToUnicode[0x01], u'\u263A');
    EXPECT_EQ(terminal::Cp437ToUnicode[0x7F], u'\u2302');
}

TEST_F(TerminalView, NewViewShowsEmulVTInWhiteOnBlack)
{
    TEmulVT fresh;
    EXPECT_EQ(fresh.size(), QSize(250, 100));
    EXPECT_EQ(fresh.Rows(), 25);
    EXPECT_EQ(fresh.Cols(), 80);
    EXPECT_EQ(fresh.FKeys(), 1);
    EXPECT_TRUE(fresh.Xlat());
    EXPECT_TRUE(fresh.AutoRepaint());
    EXPECT_FALSE(fresh.LocalEcho());
    EXPECT_FALSE(fresh.Log());
    EXPECT_EQ(fresh.BorderStyle(), TBorderStyle::bsSingle);
    EXPECT_EQ(fresh.MarkRect().Top, -1);
    EXPECT_EQ(fresh.ScrollBar()->width(), 16);
    EXPECT_EQ(fresh.ScrollBar()->geometry().right(), fresh.ClientRect().right());
    EXPECT_EQ(LineText(fresh.Screen(), 0), "EmulVT");
    EXPECT_EQ(fresh.Screen().CursorRow(), 1);
    EXPECT_EQ(fresh.Screen().CursorCol(), 0);

    const QImage img = Grab(*view);
    for (int col = 0; col < 6; ++col) {
        const QRect cell = CellRect(*view, 0, col);
        EXPECT_GT(CountColour(img, cell, Pal(7)), 0) << col;
        EXPECT_EQ(CountColour(img, cell, Pal(7)) + CountColour(img, cell, Pal(0)) > 0, true);
    }
    // Blank cells, the left and top margins and the area right of the grid are black.
    const QRect blank = CellRect(*view, 0, 8).united(CellRect(*view, 3, 20));
    EXPECT_EQ(CountColour(img, blank, Pal(0)), blank.width() * blank.height());
    const QPoint o = view->ClientRect().topLeft();
    EXPECT_EQ(img.pixel(o.x() + 2, o.y() + 2) & 0xFFFFFF, Pal(0) & 0xFFFFFF);
}

TEST_F(TerminalView, PaintsAttributesWithThePaletteAndTheMonochromeRule)
{
    // 0xDB fills its cell with the text colour; a space shows the background only.
    view->DisplayText("\x1b[1;31m\xDB\x1b[0m \x1b[5m\xDB \x1b[0m\r\n");
    view->DisplayText("\x1b[7m\xDB \x1b[0m\x1b[1m\xDB \x1b[0m\xDB ");
    ASSERT_EQ(view->Screen().Line(1).Attrs[0], 0x09);
    ASSERT_EQ(view->Screen().Line(1).Attrs[2], 0x87);
    // A background fills the whole cell; a full block's glyph covers at least the cell's core.
    const auto fullOf = [&](const QImage& img, int row, int col, QRgb c) {
        const QRect r = CellRect(*view, row, col);
        return CountColour(img, r, c) == r.width() * r.height();
    };
    const auto coreOf = [&](const QImage& img, int row, int col, QRgb c) {
        const QRect r = CellCore(*view, row, col);
        return CountColour(img, r, c) == r.width() * r.height();
    };
    QImage img = Grab(*view);
    // 0x09: palette entry 9, a blue, not a light red.
    EXPECT_TRUE(coreOf(img, 1, 0, Pal(9)));
    EXPECT_EQ(QColor(Pal(9)), QColor(84, 84, 212));
    // 0x87: text in entry 7 on a background of entry 8 (blink shows as a bright background).
    EXPECT_TRUE(coreOf(img, 1, 2, Pal(7)));
    EXPECT_TRUE(fullOf(img, 1, 3, Pal(8)));

    view->SetMonoChrome(true);
    img = Grab(*view);
    // 0x70 (reverse): white on grey; 0x0F: black on grey; 7: black on white.
    EXPECT_TRUE(coreOf(img, 2, 0, qRgb(255, 255, 255)));
    EXPECT_TRUE(fullOf(img, 2, 1, qRgb(127, 127, 127)));
    EXPECT_TRUE(coreOf(img, 2, 2, qRgb(0, 0, 0)));
    EXPECT_TRUE(fullOf(img, 2, 3, qRgb(127, 127, 127)));
    EXPECT_TRUE(coreOf(img, 2, 4, qRgb(0, 0, 0)));
    EXPECT_TRUE(fullOf(img, 2, 5, qRgb(255, 255, 255)));
    // Monochrome margins are white.
    const QPoint o = view->ClientRect().topLeft();
    EXPECT_EQ(img.pixel(o.x() + 2, o.y() + 1) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(TerminalView, EveryPixelOfTheClientAreaIsPainted)
{
    // White margins (monochrome) in a window taller than the 50 lines of the stock and wider
    // than the grid: nothing is left unpainted at the bottom or the right edge.
    view->SetMonoChrome(true);
    QFont tiny(QStringLiteral("DejaVu Sans Mono"));
    tiny.setPixelSize(4);
    view->SetFont(tiny);
    view->SetLineHeight(4);
    ASSERT_LT(4 + 50 * view->LineHeight(), view->ClientRect().height());
    const QImage img = Grab(*view);
    const QRect c = view->ClientRect();
    EXPECT_EQ(img.pixel(c.left(), c.bottom()) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(img.pixel(c.right() - 20, c.bottom()) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(img.pixel(c.right() - 20, c.top() + 10) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(TerminalView, MarginColourStaysWithinThePalette)
{
    const QPoint o = view->ClientRect().topLeft();
    // CurrentAttr 0x70: entry 0x70 div 15 = 7.
    view->DisplayText("\x1b[7m");
    EXPECT_EQ(Grab(*view).pixel(o.x() + 2, o.y() + 1) & 0xFFFFFF, Pal(7) & 0xFFFFFF);
    // CurrentAttr 0xF7 (blink, background 7): 247 div 15 = 16 is past the palette; the last entry
    // serves.
    view->DisplayText("\x1b[0;5;47m");
    ASSERT_EQ(view->Screen().CurrentAttr(), 0xF7);
    EXPECT_EQ(Grab(*view).pixel(o.x() + 2, o.y() + 1) & 0xFFFFFF, Pal(15) & 0xFFFFFF);
}

TEST_F(TerminalView, AChangedCellInvalidatesOnlyItsRectangleAndTheCursorCell)
{
    view->DisplayText("\x1b[11;21H");
    Settle();
    PaintRecorder rec(view.get());
    view->DisplayChar('X');
    Settle();
    ASSERT_FALSE(rec.regions.empty());
    QRegion painted;
    for (const QRegion& r : rec.regions)
        painted += r;
    const QRect cell = CellRect(*view, 10, 20);
    const QRect cursor = CellRect(*view, 10, 21).translated(0, -view->Leading());
    EXPECT_EQ(painted, QRegion(cell) + QRegion(cursor));

    // With ViewOffset 3 the cell is invalidated where it is painted, three lines higher.
    view->SetViewOffset(3);
    Settle();
    rec.regions.clear();
    view->DisplayText("\x1b[11;5HY");
    Settle();
    painted = QRegion();
    for (const QRegion& r : rec.regions)
        painted += r;
    EXPECT_TRUE(painted.contains(CellRect(*view, 10, 4)));
    EXPECT_EQ(CellRect(*view, 10, 4).top(),
              view->ClientRect().top() + 4 + 7 * view->LineHeight() + view->Leading());
    EXPECT_FALSE(painted.intersects(CellRect(*view, 2, 40)));

    // A scroll repaints everything.
    rec.regions.clear();
    view->DisplayText("\x1b[25;1H\n");
    Settle();
    painted = QRegion();
    for (const QRegion& r : rec.regions)
        painted += r;
    EXPECT_EQ(painted, QRegion(view->rect()));
}

TEST_F(TerminalView, ManyChangesBetweenFramesArePaintedTogether)
{
    Settle();
    PaintRecorder rec(view.get());
    for (int i = 0; i < 2000; ++i)
        view->DisplayChar(static_cast<char>('a' + i % 26));
    Settle();
    EXPECT_LE(rec.regions.size(), 2u);
}

TEST_F(TerminalView, CaretFollowsTheCursorAndTheHostsShowHide)
{
    EXPECT_FALSE(view->CaretCreated());
    view->setFocus();
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->hasFocus(); }, 2000));
    EXPECT_TRUE(view->CaretCreated());
    EXPECT_TRUE(view->CaretShown());
    EXPECT_EQ(view->CaretPos(), QPoint(6, 4 + view->LineHeight()));
    EXPECT_TRUE(view->Screen().HasFocus());

    view->DisplayText("\x1b[6;4H");
    EXPECT_EQ(view->CaretPos(), QPoint(6 + 3 * view->CharWidth(), 4 + 5 * view->LineHeight()));
    view->SetViewOffset(3);
    EXPECT_EQ(view->CaretPos(), QPoint(6 + 3 * view->CharWidth(), 4 + 2 * view->LineHeight()));

    view->DisplayText("\x1b[?25l");
    EXPECT_FALSE(view->CaretShown());
    view->DisplayText("abc\r\n");
    view->RefreshScreen();
    EXPECT_FALSE(view->CaretShown());
    view->DisplayText("\x1b[?25h");
    EXPECT_TRUE(view->CaretShown());

    view->clearFocus();
    EXPECT_FALSE(view->CaretCreated());
    EXPECT_FALSE(view->Screen().HasFocus());
}

TEST_F(TerminalView, ScrollBarLinesMoveTheViewOffsetWithinTheStock)
{
    QScrollBar* bar = view->ScrollBar();
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(view->ViewOffset(), 0);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(view->ViewOffset(), 1);
    EXPECT_TRUE(ProcessEventsUntil([&] { return view->hasFocus(); }, 2000));
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(view->ViewOffset(), 1);
    for (int i = 0; i < 60; ++i)
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(view->ViewOffset(), 49);
    // Line 0 is out of sight; line 49 stands at the top.
    view->DisplayText("\x1b[1;1H\xDB");
    const QImage img = Grab(*view);
    EXPECT_EQ(CountColour(img, CellRect(*view, 49, 0), Pal(7)), 0);
}

TEST_F(TerminalView, SizeLineHeightAndTranslationProperties)
{
    view->DisplayText("keep");
    view->SetRows(25);
    EXPECT_EQ(FindLine(view->Screen(), "keep"), 1);
    view->SetRows(24);
    EXPECT_EQ(view->Rows(), 24);
    EXPECT_EQ(FindLine(view->Screen(), "keep"), -1);
    view->SetRows(500);
    view->SetCols(-3);
    EXPECT_EQ(view->Rows(), 50);
    EXPECT_EQ(view->Cols(), 1);

    // A line height of 0 would divide by zero in painting and in the pixel conversions; one below
    // the font's glyphs would cut them: the cell grows to the font's height.
    QFont small(QStringLiteral("DejaVu Sans Mono"));
    small.setPixelSize(10);
    view->SetFont(small);
    ASSERT_LT(view->FontHeight(), 16);
    ASSERT_GE(view->FontHeight(), QFontMetrics(view->Font()).height());
    view->SetLineHeight(0);
    EXPECT_EQ(view->LineHeight(), view->FontHeight());
    EXPECT_EQ(view->PixelToRow(4 + 3 * view->FontHeight()), 3);
    EXPECT_FALSE(Grab(*view).isNull());
    view->SetLineHeight(16);
    EXPECT_EQ(view->LineHeight(), 16);
    EXPECT_EQ(view->PixelToRow(3), 0);
    EXPECT_EQ(view->PixelToRow(4 + 33), 2);
    EXPECT_EQ(view->SnapPixelToTop(4 + 33), 4 + 32);
    EXPECT_EQ(view->PixelToCol(0), 0);

    // Xlat true shows received bytes as they are; false maps them from Latin-1.
    view->SetCols(80);
    view->DisplayText("\x1b[1;1H\xE9");
    EXPECT_EQ(view->Screen().Line(0).Chars[0], 0xE9);
    view->SetXlat(false);
    EXPECT_TRUE(view->Screen().TranslateOn());
    EXPECT_TRUE(view->Screen().TranslateDefault());
    view->DisplayText("\x1b[1;1H\xE9");
    EXPECT_EQ(view->Screen().Line(0).Chars[0], 0x82);
}

TEST_F(TerminalView, FontsAreFixedPitchWithFallbackForMissingFamilies)
{
    const QString systemFixed = FixedPitchFamily();
    EXPECT_TRUE(QFontDatabase::isFixedPitch(systemFixed));
    for (const char* name : {"Terminal", "System", "Courier New", "DejaVu Sans"}) {
        QFont f(QString::fromLatin1(name), 14);
        f.setBold(true);
        view->SetFont(f);
        EXPECT_EQ(view->Font().family(), systemFixed) << name;
        EXPECT_EQ(view->Font().pointSize(), 14) << name;
        EXPECT_TRUE(view->Font().bold()) << name;
        EXPECT_TRUE(QFontInfo(view->Font()).fixedPitch()) << name;
    }
    view->SetFont(QFont(QStringLiteral("DejaVu Sans Mono"), 10));
    EXPECT_EQ(view->Font().family(), QStringLiteral("DejaVu Sans Mono"));
    const QFontMetrics fm(view->Font());
    EXPECT_EQ(view->CharWidth(), fm.horizontalAdvance(QLatin1Char('M')));
    EXPECT_EQ(view->LineHeight(), view->FontHeight());
    EXPECT_GE(view->LineHeight(), fm.height());
    // A run of text lands in its cells: a full block in column 10 fills that cell only.
    view->DisplayText("\x1b[3;1Habcdefghij\xDBklm");
    const QImage img = Grab(*view);
    const QRect block = CellCore(*view, 2, 10);
    EXPECT_EQ(CountColour(img, block, Pal(7)), block.width() * block.height());
    EXPECT_EQ(CountColour(img, CellCore(*view, 2, 11).adjusted(2, 0, 0, 0), Pal(7)), 0);
}

// Every glyph is drawn whole, from its ascent to its descent, inside its cell: the ink of tall and
// deep glyphs as the view paints them equals the same characters drawn unclipped by QPainter in
// the same font, for every installed fixed-pitch family at 6 to 24 points and line heights from 1
// (which grows to the font's height) to far more than the font needs.
TEST_F(TerminalView, TallAndDeepGlyphsAreDrawnWhole)
{
    const QString chars = QString::fromUtf8("f[|gj_\u00C9");
    const std::string bytes = "f [ | g j _ \x90";  // CP437: 0x90 is E acute
    QStringList families;
    for (const QString& family : QFontDatabase::families())
        if (QFontDatabase::isFixedPitch(family) && !QFontDatabase::isPrivateFamily(family))
            families.append(family);
    ASSERT_FALSE(families.isEmpty());
    const QRgb ink = Pal(7);
    // The pixels of a glyph, cut to their ink (anything not black).
    const auto inkOf = [](const QImage& img, const QRect& area) {
        QRect box;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if ((img.pixel(x, y) & 0xFFFFFF) != 0) box |= QRect(x, y, 1, 1);
        return box.isEmpty() ? QImage() : img.copy(box);
    };
    int checked = 0;
    for (const QString& family : families) {
        for (int points = 6; points <= 24; ++points) {
            view->SetFont(QFont(family, points));
            const int fontHeight = view->FontHeight();
            for (const int lineHeight : {1, fontHeight - 1, fontHeight, fontHeight + 5, 64}) {
                view->SetLineHeight(lineHeight);
                ASSERT_EQ(view->LineHeight(), std::max(lineHeight, fontHeight));
                view->DisplayText("\x1b[2J\x1b[3;3H" + bytes);
                const QImage img = Grab(*view);
                const int w = view->CharWidth(), h = view->LineHeight();
                for (int i = 0; i < chars.size(); ++i) {
                    // A column and a half around the cell, a line above and below it.
                    const QRect cell = CellRect(*view, 2, 2 + 2 * i);
                    const QRect area = cell.adjusted(-w / 2, -h, w / 2, h);
                    QImage ref(area.size(), QImage::Format_RGB32);
                    ref.fill(Qt::black);
                    {
                        QPainter p(&ref);
                        p.setFont(view->Font());
                        p.setPen(QColor(ink));
                        p.drawText(QPointF(cell.left() - area.left(), h + h / 2 + 2),
                                   QString(chars.at(i)));
                    }
                    const QImage painted = inkOf(img, area);
                    const QImage whole = inkOf(ref, ref.rect());
                    ASSERT_FALSE(whole.isNull());
                    EXPECT_EQ(painted.size(), whole.size())
                        << family.toStdString() << " " << points << "pt, line height " << lineHeight
                        << ", glyph " << i;
                    EXPECT_TRUE(painted == whole)
                        << family.toStdString() << " " << points << "pt, line height " << lineHeight
                        << ", glyph " << i;
                    if (HasFailure()) return;
                    ++checked;
                }
            }
        }
    }
    EXPECT_GE(checked, 19 * 5 * 7);
}

TEST(TerminalViewLog, OpensOnceAppendsRawBytesAndCloses)
{
    QFile::remove(QStringLiteral("EMULVT.LOG"));
    {
        TEmulVT view;
        view.SetLog(true);
        view.SetLog(true);
        view.DisplayText("a\xE9");
        view.DisplayChar('\n');
        view.SetLog(false);
        view.SetLog(true);
        view.DisplayText("z");
    }  // destroyed with the log on
    QFile f(QStringLiteral("EMULVT.LOG"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("<Open>a\xE9\n<Close><Open>z<Close>"));
    f.close();
    QFile::remove(QStringLiteral("EMULVT.LOG"));

    // A log that cannot be opened raises an error and stays off.
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("EMULVT.LOG")));
    TEmulVT view;
    EXPECT_THROW(view.SetLog(true), std::runtime_error);
    EXPECT_FALSE(view.Log());
    view.DisplayText("still shown");
    EXPECT_EQ(LineText(view.Screen(), 1), "still shown");
    QDir().rmdir(QStringLiteral("EMULVT.LOG"));
}

}  // namespace
