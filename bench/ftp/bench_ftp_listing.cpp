// Cost of reading a large remote listing: a LIST output of 100,000 file lines (plus directories
// and a "total" line, about 7 MB) parsed by the GUI-free listing reader, and the same file read
// by the transfer window's ParseDir into its directory list and grid (offscreen). Prints the
// median of several runs in milliseconds: bench_ftp_listing [lines].
#include "ftp/FtpListing.h"
#include "ftp/FtpTransferWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string MakeListing(int lines)
{
    std::string listing = "total " + std::to_string(lines) + "\r\n";
    char line[128];
    for (int i = 0; i < lines; ++i) {
        if (i % 100 == 0)
            std::snprintf(line, sizeof line,
                          "drwxr-xr-x   2 owner    group        4096 Mar %2d  2021 dir%06d\r\n",
                          1 + i % 28, i);
        else
            std::snprintf(line, sizeof line,
                          "-rw-r--r--   1 owner    group    %8d Feb %2d 12:%02d file %06d.dat\r\n",
                          i * 7, 1 + i % 28, i % 60, i);
        listing += line;
    }
    return listing;
}

template <class F>
double MedianMs(int runs, F&& f)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    const std::string listing = MakeListing(lines);

    std::size_t entries = 0;
    const double parseMs = MedianMs(7, [&] {
        ftp::TListing out;
        ftp::ParseListing(listing, out);
        entries = out.Directories.size() + out.Files.size();
    });
    std::printf("ParseListing: %d lines (%.1f MB) into %zu entries: %.1f ms\n", lines,
                double(listing.size()) / 1e6, entries, parseMs);

    Tcopyform window;
    window.resize(600, 505);
    window.show();
    QApplication::processEvents();
    const QString path = TempDir + QStringLiteral("ftpdir.txt");
    const double windowMs = MedianMs(5, [&] {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(listing.data(), qint64(listing.size())) != qint64(listing.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
        f.close();
        window.ParseDir();
        QApplication::processEvents();  // the grid and the list lay out and paint
    });
    std::printf(
        "Tcopyform::ParseDir: %d grid rows, %d directories, painted: %.1f ms "
        "(file write included)\n",
        window.StringGrid1->RowCount(), window.RemoteDirList->count() - 1, windowMs);
    return 0;
}
