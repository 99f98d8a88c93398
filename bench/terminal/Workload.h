// The generated terminal traffic of the terminal benchmarks: 64 MiB of plain lines, colour
// changes every few characters, cursor positioning, erase-line, scrolling in the whole screen and
// in a region, tabs and backspaces, for a 25 x 80 screen. Deterministic (a fixed xorshift seed).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace benchterm {

inline constexpr size_t kWorkloadBytes = 64u << 20;
inline constexpr int kRows = 25;
inline constexpr int kCols = 80;

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

inline void AddText(std::string& out, Random& rnd, int length)
{
    static const char kWords[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int i = 0; i < length; ++i) {
        out += rnd.Below(6) == 0 ? ' ' : kWords[rnd.Below(sizeof(kWords) - 1)];
    }
}

template <typename... Args>
inline void Append(std::string& out, const char* format, Args... args)
{
    char buf[64];
    const int n = std::snprintf(buf, sizeof(buf), format, args...);
    out.append(buf, static_cast<size_t>(n));
}

inline std::string MakeWorkload()
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

}  // namespace benchterm
