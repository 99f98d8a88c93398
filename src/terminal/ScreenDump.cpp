#include "terminal/ScreenDump.h"

#include <cstdio>

namespace terminal {

namespace {

void AppendByte(std::string& out, std::uint8_t b)
{
    if (b >= 0x20 && b < 0x7F && b != '\\') {
        out += static_cast<char>(b);
    } else {
        char hex[8];
        std::snprintf(hex, sizeof(hex), "\\x%02X", b);
        out += hex;
    }
}

std::string Trimmed(const TLine& line, int first, int last)
{
    while (last >= first && line.Chars[last] == 0x20)
        --last;
    return DumpCells(line, first, last);
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
    char buf[128];
    std::snprintf(buf, sizeof(buf), "%dx%d cursor %d,%d region %d-%d attr %02X\n", s.Rows(),
                  s.Cols(), s.CursorRow(), s.CursorCol(), s.ScrollTop(), s.ScrollBottom(),
                  s.CurrentAttr());
    out += buf;
    if (s.SavedRow() != -1 || s.SavedCol() != -1) {
        std::snprintf(buf, sizeof(buf), "saved %d,%d\n", s.SavedRow(), s.SavedCol());
        out += buf;
    }

    std::string flags;
    auto flag = [&](bool on, const char* name) {
        if (!on) return;
        flags += ' ';
        flags += name;
    };
    flag(s.HighBitOn(), "highbit");
    flag(s.ReverseOn(), "reverse");
    flag(s.AutoLF(), "autolf");
    flag(s.AutoCR(), "autocr");
    flag(s.WrapMode(), "wrap");
    flag(s.CursorHidden(), "cursorhidden");
    flag(s.AppCursorKeys(), "appcursorkeys");
    flag(s.TranslateOn(), "translate");
    flag(s.TranslateDefault(), "translatedefault");
    if (!flags.empty()) out += "flags" + flags + "\n";

    if (&s.ReceiveMap() != &LatinToOemTable || &s.SendMap() != &LatinToOemTable) {
        out += std::string("maps receive=") + MapName(s.ReceiveMap()) +
               " send=" + MapName(s.SendMap()) + "\n";
    }

    std::string sets;
    const std::uint8_t g[4] = {s.DesignatedG0(), s.DesignatedG1(), s.DesignatedG2(),
                               s.DesignatedG3()};
    for (int i = 0; i < 4; ++i) {
        if (g[i] == 0) continue;
        sets += " G" + std::to_string(i) + "=";
        AppendByte(sets, g[i]);
    }
    if (!sets.empty()) out += "charsets" + sets + "\n";
    if (s.LiteralCount() != 0) out += "literal " + std::to_string(s.LiteralCount()) + "\n";
    if (s.InEscape()) {
        out += "escape \"";
        for (char c : s.EscapeBuffer())
            AppendByte(out, static_cast<std::uint8_t>(c));
        out += "\"\n";
    }

    for (int r = 0; r < s.Rows(); ++r) {
        const std::string text = Trimmed(s.Line(r), 0, s.Cols() - 1);
        if (!text.empty()) out += std::to_string(r) + "|" + text + "\n";
    }
    for (int r = 0; r < s.Rows(); ++r) {
        const std::string hidden = Trimmed(s.Line(r), s.Cols(), kLastCol);
        if (!hidden.empty()) out += "~" + std::to_string(r) + "|" + hidden + "\n";
    }
    for (int r = 0; r < s.Rows(); ++r) {
        const TLine& line = s.Line(r);
        bool plain = true;
        for (std::uint8_t a : line.Attrs)
            plain = plain && a == kDefaultAttr;
        if (plain) continue;
        out += "@" + std::to_string(r) + "|";
        int c = 0;
        while (c < kLineCells) {
            int end = c;
            while (end + 1 < kLineCells && line.Attrs[end + 1] == line.Attrs[c])
                ++end;
            std::snprintf(buf, sizeof(buf), "%s%02Xx%d", c == 0 ? "" : " ", line.Attrs[c],
                          end - c + 1);
            out += buf;
            c = end + 1;
        }
        out += "\n";
    }
    return out;
}

}  // namespace terminal
