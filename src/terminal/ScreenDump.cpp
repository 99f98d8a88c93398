#include "terminal/ScreenDump.h"

#include <cstdarg>
#include <cstdio>

namespace terminal {

namespace {

void Appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Appendf(std::string& out, const char* format, ...)
{
    char buf[128];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    if (n > 0) out.append(buf, static_cast<size_t>(n) < sizeof(buf) ? n : sizeof(buf) - 1);
}

void AppendByte(std::string& out, std::uint8_t b)
{
    if (b >= 0x20 && b < 0x7F && b != '\\')
        out += static_cast<char>(b);
    else
        Appendf(out, "\\x%02X", b);
}

// Appends "<prefix><row>|<cells first..last without trailing spaces>\n" unless they are all
// spaces.
void AppendTextLine(std::string& out, const char* prefix, int row, const TLine& line, int first,
                    int last)
{
    while (last >= first && line.Chars[last] == 0x20)
        --last;
    if (last < first) return;
    Appendf(out, "%s%d|", prefix, row);
    for (int c = first; c <= last; ++c)
        AppendByte(out, line.Chars[c]);
    out += '\n';
}

const char* MapName(const XlatTable& map)
{
    if (&map == &LatinToOemTable) return "latin";
    if (&map == &LineGraphicsTable) return "graphics";
    return "other";
}

}  // namespace

std::string DumpCells(const TLine& line, int first, int last)
{
    std::string out;
    for (int c = first; c <= last; ++c)
        AppendByte(out, line.Chars[c]);
    return out;
}

std::string DumpScreen(const TScreen& s)
{
    std::string out;
    Appendf(out, "%dx%d cursor %d,%d region %d-%d attr %02X\n", s.Rows(), s.Cols(), s.CursorRow(),
            s.CursorCol(), s.ScrollTop(), s.ScrollBottom(), s.CurrentAttr());
    if (s.SavedRow() != -1 || s.SavedCol() != -1)
        Appendf(out, "saved %d,%d\n", s.SavedRow(), s.SavedCol());

    const std::pair<bool, const char*> flags[] = {{s.HighBitOn(), "highbit"},
                                                  {s.ReverseOn(), "reverse"},
                                                  {s.AutoLF(), "autolf"},
                                                  {s.AutoCR(), "autocr"},
                                                  {s.WrapMode(), "wrap"},
                                                  {s.CursorHidden(), "cursorhidden"},
                                                  {s.AppCursorKeys(), "appcursorkeys"},
                                                  {s.TranslateOn(), "translate"},
                                                  {s.TranslateDefault(), "translatedefault"}};
    const char* lead = "flags";
    for (const auto& [on, name] : flags) {
        if (!on) continue;
        Appendf(out, "%s %s", lead, name);
        lead = "";
    }
    if (*lead == '\0') out += '\n';

    if (&s.ReceiveMap() != &LatinToOemTable || &s.SendMap() != &LatinToOemTable)
        Appendf(out, "maps receive=%s send=%s\n", MapName(s.ReceiveMap()), MapName(s.SendMap()));

    const std::uint8_t sets[4] = {s.DesignatedG0(), s.DesignatedG1(), s.DesignatedG2(),
                                  s.DesignatedG3()};
    lead = "charsets";
    for (int i = 0; i < 4; ++i) {
        if (sets[i] == 0) continue;
        Appendf(out, "%s G%d=", lead, i);
        AppendByte(out, sets[i]);
        lead = "";
    }
    if (*lead == '\0') out += '\n';

    if (s.LiteralCount() != 0) Appendf(out, "literal %d\n", s.LiteralCount());
    if (s.InEscape()) {
        out += "escape \"";
        for (char c : s.EscapeBuffer())
            AppendByte(out, static_cast<std::uint8_t>(c));
        out += "\"\n";
    }

    for (int r = 0; r < s.Rows(); ++r)
        AppendTextLine(out, "", r, s.Line(r), 0, s.Cols() - 1);
    for (int r = 0; r < s.Rows(); ++r)
        AppendTextLine(out, "~", r, s.Line(r), s.Cols(), kLastCol);
    for (int r = 0; r < s.Rows(); ++r) {
        const TLine& line = s.Line(r);
        bool plain = true;
        for (std::uint8_t a : line.Attrs)
            plain = plain && a == kDefaultAttr;
        if (plain) continue;
        Appendf(out, "@%d|", r);
        for (int c = 0; c < kLineCells;) {
            int end = c;
            while (end + 1 < kLineCells && line.Attrs[end + 1] == line.Attrs[c])
                ++end;
            Appendf(out, "%s%02Xx%d", c == 0 ? "" : " ", line.Attrs[c], end - c + 1);
            c = end + 1;
        }
        out += '\n';
    }
    return out;
}

}  // namespace terminal
