// Helpers of the terminal widget tests: a private configuration and working directory for the
// whole test program (settings files and EMULVT.LOG land there), screen text, and pixel checks
// on images grabbed from the real widgets.
#pragma once

#include "support/EventLoopWait.h"
#include "terminal/ScreenDump.h"
#include "terminal/TerminalView.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace termtest {

using testsupport::ProcessEventsFor;
using testsupport::ProcessEventsUntil;

// XDG_CONFIG_HOME and the current directory point into a temporary directory while the tests run.
class IsolatedDirs : public ::testing::Environment {
public:
    void SetUp() override
    {
        dir_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(dir_->isValid());
        setenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->filePath("config")).constData(), 1);
        QDir().mkpath(dir_->filePath("work"));
        ASSERT_TRUE(QDir::setCurrent(dir_->filePath("work")));
    }
    void TearDown() override
    {
        QDir::setCurrent(QDir::tempPath());
        dir_.reset();
    }
    static QString ConfigDir() { return QString::fromLocal8Bit(std::getenv("XDG_CONFIG_HOME")); }

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

// The characters of cells 0..Cols-1 of a line, trailing spaces removed.
inline std::string LineText(const terminal::TScreen& s, int row)
{
    std::string t = terminal::DumpCells(s.Line(row), 0, s.Cols() - 1);
    while (!t.empty() && t.back() == ' ')
        t.pop_back();
    return t;
}

// The row whose cells start with prefix (trailing spaces count), or -1.
inline int FindLine(const terminal::TScreen& s, const std::string& prefix)
{
    for (int r = 0; r < terminal::kLineCount; ++r)
        if (terminal::DumpCells(s.Line(r), 0, s.Cols() - 1).rfind(prefix, 0) == 0) return r;
    return -1;
}

// Widget coordinates of a cell's background, as the view paints it.
inline QRect CellRect(const TCustomEmulVT& v, int row, int col)
{
    const QPoint o = v.ClientRect().topLeft();
    return QRect(o.x() + 6 + col * v.CharWidth(),
                 o.y() + 4 + (row - v.ViewOffset()) * v.LineHeight() + v.Leading(), v.CharWidth(),
                 v.LineHeight());
}

// The middle of a cell (half its width, a third of its height): what a full block's glyph
// covers whatever the font's ascent and the line height.
inline QRect CellCore(const TCustomEmulVT& v, int row, int col)
{
    const QRect r = CellRect(v, row, col);
    return QRect(r.left() + r.width() / 4, r.top() + r.height() / 3, std::max(1, r.width() / 2),
                 std::max(1, r.height() / 3));
}

inline int CountColour(const QImage& img, const QRect& r, QRgb colour)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

inline QImage Grab(QWidget& w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace termtest
