// Times the RTF reader and writer on generated inputs of two sizes each, so that the figures
// show whether the time grows in proportion to the input. Prints one line per case.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTextDocument>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "editor/Rtf.h"

namespace {

constexpr qsizetype kMB = 1024 * 1024;

// Repeats piece after head until the result holds at least size bytes, then closes the group.
QByteArray Repeat(const QByteArray& head, const QByteArray& piece, qsizetype size,
                  const QByteArray& tail = "}")
{
    QByteArray out;
    out.reserve(size + head.size() + piece.size() + tail.size());
    out += head;
    while (out.size() < size)
        out += piece;
    out += tail;
    return out;
}

struct Case {
    const char* name;
    std::function<QByteArray(qsizetype)> make;
};

const QByteArray kHeader =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}"
    "{\\f1\\froman\\fcharset0 Times New Roman;}}{\\colortbl ;\\red200\\green0\\blue0;}\n";

const Case kCases[] = {
    {"formatted prose",
     [](qsizetype n) {
         return Repeat(kHeader,
                       "\\pard\\sa120\\f0\\fs22 The quick brown fox \\b jumps\\b0  over the "
                       "\\i lazy\\i0  dog, \\cf1 caf\\'e9\\cf0  \\u1078? and \\f1 more text "
                       "here.\\f0\\par\n",
                       n);
     }},
    {"bulleted paragraphs",
     [](qsizetype n) {
         return Repeat(kHeader + "\\pard{\\*\\pn\\pnlvlblt{\\pntxtb\\'B7}}\\fi-360\\li720 ",
                       "{\\pntext\\'B7\\tab}A bulleted line of text\\par\n", n);
     }},
    {"numbered paragraphs",
     [](qsizetype n) {
         return Repeat(kHeader + "\\pard{\\*\\pn\\pnlvlbody\\pndec}\\fi-360\\li720 ",
                       "{\\pntext 1.\\tab}A numbered line of text\\par\n", n);
     }},
    {"empty paragraphs", [](qsizetype n) { return Repeat(kHeader, "\\par", n); }},
    {"unicode escapes",
     [](qsizetype n) { return Repeat(kHeader, "\\u1078?\\u-10179?\\u-8704?", n); }},
    {"picture hex data",
     [](qsizetype n) {
         return Repeat(kHeader + "a{\\pict\\pngblip ", "0123456789abcdef", n, "}b}");
     }},
    {"binary data",
     [](qsizetype n) {
         QByteArray rtf = kHeader + "a{\\pict\\bin" + QByteArray::number(n) + " ";
         rtf += QByteArray(n, '{');
         return rtf + "}b}";
     }},
    {"nested groups (open only)", [](qsizetype n) { return Repeat("{\\rtf1 ", "{", n, ""); }},
    {"empty groups", [](qsizetype n) { return Repeat("{\\rtf1 ", "{}", n); }},
    {"groups with formatting", [](qsizetype n) { return Repeat(kHeader, "{\\b x}{\\i y}", n); }},
    {"unknown control words",
     [](qsizetype n) { return Repeat("{\\rtf1 ", "\\qwertyuiop123 ", n); }},
};

double Seconds(const std::function<void()>& f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const qsizetype sizes[] = {8 * kMB, 32 * kMB};
    std::printf("%-28s %8s %10s %10s %10s %10s\n", "case", "MB in", "read s", "read MB/s",
                "write s", "write MB/s");
    for (const Case& c : kCases) {
        for (qsizetype size : sizes) {
            const QByteArray rtf = c.make(size);
            QByteArray written;
            QTextDocument doc;
            const double read = Seconds([&] { editor::ReadRtf(rtf, doc); });
            const double write = Seconds([&] { written = editor::WriteRtf(doc); });
            const double mb = double(rtf.size()) / kMB;
            std::printf("%-28s %8.1f %10.3f %10.1f %10.3f %10.1f\n", c.name, mb, read, mb / read,
                        write, double(written.size()) / kMB / write);
            std::fflush(stdout);
        }
    }
    return 0;
}
