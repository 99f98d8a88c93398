// Feeds 64 MiB of generated terminal traffic (plain lines, colour changes every few characters,
// cursor positioning, erase-line, scrolling in the whole screen and in a region) through
// TScreen::FeedChar and prints the throughput. Where libvterm is installed, the same bytes go
// through its screen layer as well, for comparison. MB/s counts 10^6 bytes per second.
#include "Workload.h"
#include "support/AllocationCount.h"
#include "terminal/Screen.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#ifdef ZARVOS_HAVE_VTERM
#include <vterm.h>
#endif

using namespace benchterm;

namespace {

constexpr int kRuns = 3;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double RunOurs(const std::string& data, std::uint64_t& checksum, long& allocations)
{
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        terminal::TScreen screen;
        screen.SetSize(kRows, kCols);
        testsupport::StartCountingAllocations();
        const auto start = std::chrono::steady_clock::now();
        for (char c : data)
            screen.FeedChar(static_cast<std::uint8_t>(c));
        const auto stop = std::chrono::steady_clock::now();
        allocations = testsupport::StopCountingAllocations();
        best = std::min(best, Seconds(stop - start));
        checksum = 0;
        for (int r = 0; r < kRows; ++r) {
            for (int c = 0; c < kCols; ++c)
                checksum = checksum * 31 + screen.Line(r).Chars[c] + screen.Line(r).Attrs[c];
        }
    }
    return best;
}

#ifdef ZARVOS_HAVE_VTERM
double RunVterm(const std::string& data)
{
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        VTerm* vt = vterm_new(kRows, kCols);
        vterm_set_size(vt, kRows, kCols);
        VTermScreen* screen = vterm_obtain_screen(vt);
        vterm_screen_reset(screen, 1);
        const auto start = std::chrono::steady_clock::now();
        constexpr size_t kChunk = 64 * 1024;
        for (size_t pos = 0; pos < data.size(); pos += kChunk)
            vterm_input_write(vt, data.data() + pos, std::min(kChunk, data.size() - pos));
        const auto stop = std::chrono::steady_clock::now();
        vterm_free(vt);
        best = std::min(best, Seconds(stop - start));
    }
    return best;
}
#endif

}  // namespace

int main()
{
    const std::string data = MakeWorkload();
    const double mb = static_cast<double>(data.size()) / 1e6;
    std::printf("workload: %.1f MB of generated terminal traffic, %dx%d screen, best of %d runs\n",
                mb, kRows, kCols, kRuns);

    std::uint64_t checksum = 0;
    long allocations = 0;
    const double ours = RunOurs(data, checksum, allocations);
    std::printf("FeedChar:        %8.1f MB/s  (%.3f s, %ld allocations, screen checksum %016llx)\n",
                mb / ours, ours, allocations, static_cast<unsigned long long>(checksum));
#ifdef ZARVOS_HAVE_VTERM
    const double theirs = RunVterm(data);
    std::printf("libvterm screen: %8.1f MB/s  (%.3f s)\n", mb / theirs, theirs);
    std::printf("ratio FeedChar/libvterm: %.2f\n", theirs / ours);
#else
    std::printf("libvterm not found: no reference figures\n");
#endif
    return 0;
}
