// Feeds 64 MiB of generated terminal traffic (plain lines, colour changes every few characters,
// cursor positioning, erase-line, scrolling in the whole screen and in a region) through
// TScreen::FeedChar and prints the throughput. Where libvterm is installed, the same bytes go
// through its screen layer as well, for comparison. MB/s counts 10^6 bytes per second.
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

namespace {

constexpr size_t kWorkloadBytes = 64u << 20;
constexpr int kRows = 25;
constexpr int kCols = 80;
constexpr int kRuns = 3;

class Random {
public:
    std::uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }

private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

void AddText(std::string& out, Random& rnd, int length)
{
    static const char kWords[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int i = 0; i < length; ++i) {
        out += rnd.Below(6) == 0 ? ' ' : kWords[rnd.Below(sizeof(kWords) - 1)];
    }
}

template <typename... Args>
void Append(std::string& out, const char* format, Args... args)
{
    char buf[64];
    const int n = std::snprintf(buf, sizeof(buf), format, args...);
    out.append(buf, static_cast<size_t>(n));
}

std::string MakeWorkload()
{
    std::string out;
    out.reserve(kWorkloadBytes + 256);
    Random rnd;
    while (out.size() < kWorkloadBytes) {
        switch (rnd.Below(10)) {
        case 0:
        case 1:
        case 2:  // plain line, scrolling at the bottom
            AddText(out, rnd, 20 + rnd.Below(59));
            out += "\r\n";
            break;
        case 3:
        case 4:
        case 5: {  // coloured line: an attribute change every few characters
            int used = 0;
            while (used < 70) {
                const int n = 2 + rnd.Below(7);
                switch (rnd.Below(4)) {
                case 0:
                    out += "\033[0m";
                    break;
                case 1:
                    Append(out, "\033[1;3%dm", rnd.Below(8));
                    break;
                case 2:
                    Append(out, "\033[3%d;4%dm", rnd.Below(8), rnd.Below(8));
                    break;
                default:
                    out += "\033[m";
                    break;
                }
                AddText(out, rnd, n);
                used += n;
            }
            out += "\033[0m\r\n";
            break;
        }
        case 6:
        case 7:  // a status field: position, erase the line, write
            Append(out, "\033[%d;%dH\033[K", 1 + rnd.Below(kRows), 1 + rnd.Below(kCols));
            AddText(out, rnd, 5 + rnd.Below(30));
            break;
        case 8: {  // scrolling inside a region, then back to the whole screen
            const int top = 2 + rnd.Below(5);
            const int bottom = top + 5 + rnd.Below(10);
            Append(out, "\033[%d;%dr\033[%d;1H", top, bottom, bottom);
            for (int i = 0; i < 4; ++i) {
                AddText(out, rnd, 10 + rnd.Below(50));
                out += "\r\n";
            }
            Append(out, "\033[r\033[%d;1H", kRows);
            break;
        }
        default:  // tabs, a backspace and a bell-free erase below
            out += "\tcol\tvalue\t";
            AddText(out, rnd, 8);
            out += "\b\b\033[K\r\n";
            if (rnd.Below(20) == 0) out += "\033[H\033[J";
            break;
        }
    }
    out.resize(kWorkloadBytes);
    return out;
}

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
