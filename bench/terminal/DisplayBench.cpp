// The full display path of the telnet terminal against the bare interpreter, on the 64 MiB
// workload of the interpreter benchmark (Workload.h), in one run:
//  - interpreter: TScreen::FeedChar for every byte;
//  - display path: a shown, focused TTnEmulVT (25 x 80, offscreen platform) gets the bytes through
//    its session data handler in blocks of 2048 bytes (what one socket read delivers): the
//    OnDataAvailable step, DisplayChar for every byte (interpreting and refreshing), a refresh per
//    block, and the event loop run after every block, so the flush timer fires and the widget
//    paints as it would in the program. The run ends once the last frame is painted.
// MB/s counts 10^6 bytes per second; each figure is the best of kRuns runs.
#include "Workload.h"
#include "terminal/TelnetTerminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace benchterm;

namespace {

constexpr int kRuns = 3;
constexpr std::size_t kBlock = 2048;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double RunInterpreter(const std::string& data)
{
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        terminal::TScreen screen;
        screen.SetSize(kRows, kCols);
        const auto start = std::chrono::steady_clock::now();
        for (char c : data)
            screen.FeedChar(static_cast<std::uint8_t>(c));
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    return best;
}

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

double RunDisplay(std::string& data, int& paints, std::uint64_t& checksum)
{
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        TTnEmulVT term;
        term.SetFont(QFont(QStringLiteral("DejaVu Sans Mono"), 10));
        term.SetRows(kRows);
        term.SetCols(kCols);
        term.resize(6 + kCols * term.CharWidth() + 30, 4 + kRows * term.LineHeight() + 20);
        term.show();
        term.setFocus();
        PaintCounter counter;
        term.installEventFilter(&counter);
        QCoreApplication::processEvents();
        counter.paints = 0;

        const auto start = std::chrono::steady_clock::now();
        for (std::size_t pos = 0; pos < data.size(); pos += kBlock) {
            const std::size_t n = std::min(kBlock, data.size() - pos);
            term.SessionDataAvailable(term.Session(), data.data() + pos,
                                      static_cast<std::int32_t>(n));
            QCoreApplication::processEvents();
        }
        // The last frame.
        QElapsedTimer settle;
        settle.start();
        const int before = counter.paints;
        while (counter.paints == before && settle.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            5);
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
        paints = counter.paints;
        checksum = 0;
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kCols; ++c)
                checksum =
                    checksum * 31 + term.Screen().Line(r).Chars[c] + term.Screen().Line(r).Attrs[c];
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    std::string data = MakeWorkload();
    const double mb = static_cast<double>(data.size()) / 1e6;
    std::printf("workload: %.1f MB of generated terminal traffic, %dx%d screen, best of %d runs\n",
                mb, kRows, kCols, kRuns);

    const double interp = RunInterpreter(data);
    std::printf("interpreter (FeedChar):     %8.1f MB/s  (%.3f s)\n", mb / interp, interp);
    int paints = 0;
    std::uint64_t checksum = 0;
    const double display = RunDisplay(data, paints, checksum);
    std::printf(
        "display path (TTnEmulVT):   %8.1f MB/s  (%.3f s, %d paint events, "
        "%zu-byte blocks, screen checksum %016llx)\n",
        mb / display, display, paints, kBlock, static_cast<unsigned long long>(checksum));
    std::printf("display path / interpreter: %.2f x the time\n", display / interp);
    return 0;
}
