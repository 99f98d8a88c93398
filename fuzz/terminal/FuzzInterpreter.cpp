// Feeds arbitrary bytes through the interpreter and checks the screen's invariants after every
// byte. The first four bytes choose the setting:
//   byte 0  Rows as a signed byte (limited by SetSize to 1..50)
//   byte 1  Cols + 64 (so -64..191, limited to 1..132)
//   byte 2  flags: 1 AutoLF, 2 AutoCR, 4 WrapMode, 8 TranslateOn, 16 TranslateDefault,
//           32 a cursor show/hide handler that feeds a byte back, 64 SendMap/ReceiveMap graphics
//   byte 3  when not 0: a size change part-way through the rest, to a size taken from this byte
// The rest is fed byte by byte.
#include "terminal/Screen.h"
#include "terminal/ScreenDump.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using terminal::TScreen;

void Check(bool ok, const char* what, const TScreen& s)
{
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n%s", what, terminal::DumpScreen(s).c_str());
    std::abort();
}

void CheckInvariants(const TScreen& s)
{
    Check(s.Rows() >= 1 && s.Rows() <= terminal::kMaxRows, "rows inside the model", s);
    Check(s.Cols() >= 1 && s.Cols() <= terminal::kMaxCols, "cols inside the model", s);
    Check(s.CursorRow() >= 0 && s.CursorRow() < s.Rows(), "cursor row inside the screen", s);
    Check(s.CursorCol() >= 0 && s.CursorCol() <= terminal::kLastCol, "cursor col inside a line", s);
    Check(s.ScrollTop() >= 0 && s.ScrollTop() <= s.ScrollBottom() && s.ScrollBottom() < s.Rows(),
          "region inside the screen", s);
    Check((s.SavedRow() == -1 && s.SavedCol() == -1) ||
              (s.SavedRow() >= 0 && s.SavedRow() < terminal::kMaxRows && s.SavedCol() >= 0 &&
               s.SavedCol() <= terminal::kLastCol),
          "saved position inside the model", s);
    Check(s.EscapeBuffer().size() < terminal::kEscapeBufferSize, "escape buffer below 80", s);
    Check(s.LiteralCount() >= 0, "literal count not negative", s);
    const terminal::TDirtyRect& d = s.DirtyRect();
    Check(d.IsEmpty() || (d.Left >= 0 && d.Right <= terminal::kLastCol && d.Top >= 0 &&
                          d.Bottom < terminal::kLineCount),
          "dirty rectangle inside the model", s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) return 0;
    TScreen s;
    s.SetSize(static_cast<std::int8_t>(data[0]), static_cast<int>(data[1]) - 64);
    const std::uint8_t flags = data[2];
    s.SetAutoLF(flags & 1);
    s.SetAutoCR(flags & 2);
    s.SetWrapMode(flags & 4);
    s.SetTranslateOn(flags & 8);
    s.SetTranslateDefault(flags & 16);
    if (flags & 32) {
        s.OnCursorShowHide = [](TScreen* sender) {
            sender->FeedChar(sender->CursorHidden() ? '\033' : 'x');
        };
    }
    if (flags & 64) {
        s.SetReceiveMap(terminal::LineGraphicsTable);
        s.SetSendMap(terminal::LineGraphicsTable);
    }
    const std::uint8_t resize = data[3];
    const std::uint8_t* body = data + 4;
    const std::size_t length = size - 4;
    const std::size_t resizeAt = resize ? length * resize / 256 : length + 1;
    CheckInvariants(s);
    for (std::size_t i = 0; i < length; ++i) {
        if (i == resizeAt) {
            s.SetSize(resize % 60 - 4, (resize * 7) % 150 - 8);
            CheckInvariants(s);
        }
        s.FeedChar(body[i]);
        CheckInvariants(s);
    }
    // Every line the view may paint can be read.
    for (int r = -1; r <= terminal::kLineCount; ++r)
        (void)s.Line(r).Chars[terminal::kLastCol];
    (void)terminal::DumpScreen(s);
    s.ResetDirty();
    return 0;
}
