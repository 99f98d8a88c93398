// Unix-text import of a generated 100 MB, 2-million-line file into a hidden editor window.
// Prints, from one run: the time to merely read and clean the bytes, the time to fill a bare
// QTextEdit with the same lines, and the time of the whole import (reading, cleaning, progress,
// event processing and filling the editor), with the peak memory of each phase and the longest
// time the import went without processing the program's events, and what a keystroke costs in
// the filled window (its median and longest time over 41 keys, one in ten a line break), and
// once the window is shown (where the control's document layout adds its share), with the time the
// shown window takes to lay out the whole document from the event loop and recount its lines.
//   bench_import [MEGABYTES [LINES]]   (default 100 and 2000000)
#include "editor/EditorDocumentLayout.h"
#include "editor/EditorWindow.h"
#include "editor/LineCounter.h"
#include "editor/TextConvert.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Peak resident memory (VmHWM) in MB; ResetPeak starts a new measurement.
long PeakMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
    return -1;
}

long CurrentMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
    return -1;
}

void ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

// Lines of equal length with some bytes the import drops (CR, tab, Latin-1 letters).
bool Generate(const QString& path, long long bytes, long long lines)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    const long long perLine = bytes / lines;  // including the LF
    QByteArray buffer;
    buffer.reserve(1 << 22);
    const char words[] = "the quick brown fox jumps over the lazy dog 0123456789 ";
    for (long long i = 0; i < lines; ++i) {
        QByteArray line;
        for (long long k = 0; k < perLine - 1; ++k)
            line.append(words[(i * 7 + k) % (sizeof words - 1)]);
        if (i % 5 == 0 && line.size() > 3) line[1] = '\t';
        if (i % 7 == 0 && line.size() > 3) line[2] = char(0xe9);
        if (i % 3 == 0 && line.size() > 1) line[line.size() - 1] = '\r';
        buffer += line;
        buffer += '\n';
        if (buffer.size() > (1 << 22) - 256) {
            f.write(buffer);
            buffer.clear();
        }
    }
    f.write(buffer);
    return f.error() == QFile::NoError;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 100;
    const long long lines = argc > 2 ? std::atoll(argv[2]) : 2000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("import.unx"));
    if (!Generate(path, megabytes * 1000 * 1000, lines)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("file: %lld MB (%lld bytes), %lld lines\n", megabytes,
                (long long)QFile(path).size(), lines);
    const QSize controlSize(547, 200);

    // 1. Reading and cleaning only.
    ResetPeak();
    QElapsedTimer t;
    t.start();
    QString text;
    long long counted = 0;
    {
        editor::InputFile in;
        editor::UnixTextFilter filter;
        if (in.Open(path) != 0) return 1;
        filter.Reserve(in.Size());
        std::vector<char> block(std::size_t(1) << 20);
        for (;;) {
            const std::int64_t n = in.Read(block.data(), std::int64_t(block.size()));
            if (n <= 0) break;
            filter.Feed(block.data(), n);
        }
        counted = filter.Lines();
        text = filter.TakeText();
    }
    const qint64 readMs = t.elapsed();
    std::printf("read and clean:       %6lld ms  (%lld lines, peak %ld MB)\n", (long long)readMs,
                counted, PeakMb());

    // 2. A bare QTextEdit filled with the same lines.
    long long bareMs = 0;
    {
        QTextEdit bare;
        bare.resize(controlSize);
        bare.setLineWrapMode(QTextEdit::WidgetWidth);
        ResetPeak();
        const long before = CurrentMb();
        t.restart();
        bare.setPlainText(text);
        bareMs = t.elapsed();
        std::printf("bare QTextEdit fill:  %6lld ms  (%d paragraphs, peak %ld MB, +%ld MB)\n",
                    bareMs, bare.document()->blockCount(), PeakMb(), PeakMb() - before);
    }
    text = QString();
    QApplication::processEvents();

    // 3. The whole import into a hidden editor window.
    long long importMs = 0;
    {
        TmyForm1 form;
        form.resize(559, 299);
        form.MEMO1->resize(controlSize);
        qint64 longestGap = 0;
        QElapsedTimer sinceTick;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout,
                         [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
        ResetPeak();
        const long before = CurrentMb();
        t.restart();
        sinceTick.start();
        tick.start();
        const bool ok = ImportUnixText(&form, path, true);
        importMs = t.elapsed();
        const qint64 lastGap = sinceTick.elapsed();
        tick.stop();
        std::printf("whole import:         %6lld ms  (%s, \"%s\", peak %ld MB, +%ld MB)\n",
                    importMs, ok ? "ok" : "FAILED", qPrintable(form.StatusText()), PeakMb(),
                    PeakMb() - before);
        std::printf(
            "event processing:     every %d ms while reading and filling; longest gap "
            "%lld ms\n",
            TmyForm1::ImportPumpInterval(), (long long)std::max(longestGap, lastGap));
        // What typed characters cost afterwards: each key goes through the window's key
        // handling into the document, and the status line counts the lines.
        std::vector<double> keys;
        for (int i = 0; i < 41; ++i) {
            QKeyEvent press(QEvent::KeyPress, i % 10 == 9 ? Qt::Key_Return : Qt::Key_X,
                            Qt::NoModifier,
                            i % 10 == 9 ? QStringLiteral("\r") : QStringLiteral("x"));
            QElapsedTimer key;
            key.start();
            QApplication::sendEvent(form.MEMO1, &press);
            keys.push_back(double(key.nsecsElapsed()) / 1e6);
            QApplication::processEvents();
        }
        std::sort(keys.begin(), keys.end());
        std::printf("keystroke:            %9.3f ms median, %.3f ms longest of %zu (\"%s\")\n",
                    keys[keys.size() / 2], keys.back(), keys.size(), qPrintable(form.StatusText()));
        t.restart();
        const auto n = editor::DocumentLineCount(*form.MEMO1->document(), false);
        std::printf("full line count:      %6lld ms  (%lld; what one keystroke cost before)\n",
                    (long long)t.elapsed(), (long long)n);
        t.restart();
        editor::TLineCounter fresh(form.MEMO1->document(), false);
        std::printf("counter from scratch: %6lld ms  (%lld)\n", (long long)t.elapsed(),
                    (long long)fresh.Count());

        // The same window on the (offscreen) screen, word wrap on: the line count then takes
        // the screen lines, recounted from the event loop once the document layout has laid out
        // every paragraph there; a keystroke also costs what the layout of its paragraph costs.
        t.restart();
        form.show();
        qint64 longestRound = 0;
        auto* layout = qobject_cast<editor::TEditorDocumentLayout*>(
            form.MEMO1->document()->documentLayout());
        while (form.LineCounter->Recounting() || (layout && !layout->Complete())) {
            QElapsedTimer round;
            round.start();
            QApplication::processEvents();
            longestRound = std::max(longestRound, round.elapsed());
        }
        std::printf("shown, laid out:      %6lld ms  (from the event loop, longest event round %lld ms, \"%s\")\n",
                    (long long)t.elapsed(), (long long)longestRound, qPrintable(form.StatusText()));
        std::vector<double> shownKeys;
        // At the top of the document, where a change moves every paragraph below it.
        form.MEMO1->moveCursor(QTextCursor::Start);
        for (int i = 0; i < 10; ++i) {
            // One in five a line break, which adds a paragraph and moves every one below.
            const bool enter = i % 5 == 4;
            QKeyEvent press(QEvent::KeyPress, enter ? Qt::Key_Return : Qt::Key_X, Qt::NoModifier,
                            enter ? QStringLiteral("\r") : QStringLiteral("x"));
            QElapsedTimer key;
            key.start();
            QApplication::sendEvent(form.MEMO1, &press);
            shownKeys.push_back(double(key.nsecsElapsed()) / 1e6);
            QApplication::processEvents();
        }
        std::sort(shownKeys.begin(), shownKeys.end());
        t.restart();
        const std::int64_t shownCount = form.LineCounter->Count();
        const double countMs = double(t.nsecsElapsed()) / 1e6;
        std::printf(
            "keystroke, shown:     %9.3f ms median, %.3f ms longest of %zu, of which the line count "
            "%.3f ms (the rest is the layout of its paragraph; %lld lines)\n",
            shownKeys[shownKeys.size() / 2], shownKeys.back(), shownKeys.size(), countMs,
            (long long)shownCount);
    }
    std::printf("import / bare fill:   %.2f (goal: at most 1.25)\n",
                bareMs > 0 ? double(importMs) / double(bareMs) : 0.0);
    return 0;
}
