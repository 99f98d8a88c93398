// The interpreter must not allocate while it handles ordinary traffic: text, controls, colours,
// cursor motion, erases and scrolling. This program replaces the global allocation functions and
// counts the allocations made while bytes are fed.
#include "terminal/Screen.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size)
{
    if (g_counting.load(std::memory_order_relaxed)) ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

long AllocationsWhileFeeding(terminal::TScreen& s, const std::string& bytes)
{
    g_allocations = 0;
    g_counting = true;
    s.FeedText(bytes);
    g_counting = false;
    return g_allocations.load();
}

TEST(Allocation, OrdinaryTrafficAllocatesNothing)
{
    std::string traffic;
    for (int i = 0; i < 200; ++i) {
        traffic += "plain text line with a few words\r\n";
        traffic += "\033[1;32mgreen\033[0m \033[33;44mon blue\033[m\t\b\a";
        traffic += "\033[" + std::to_string(i % 30) + ";" + std::to_string(i % 90) + "H\033[K";
        traffic += "\033[5;20r\033[20;1H\n\n\033[r\033M\033[2L\033[M\033[3@\033[2P\033[J\033[1J";
        traffic += "\0337\033[?7h\033[?25l\033[?25h\0338\033(0lqqk\033(B\016x\017\033[1;2Iab";
        traffic += std::string(150, 'x') + "\033[?7l\033[2J";
    }
    terminal::TScreen s;
    s.OnCursorShowHide = [](terminal::TScreen*) {};
    s.SetTranslateOn(true);
    EXPECT_EQ(AllocationsWhileFeeding(s, traffic), 0);
}

TEST(Allocation, TracesAreBuiltWithoutTheHeap)
{
    // With the debug channel off, a trace costs no allocation either.
    terminal::TScreen s;
    EXPECT_EQ(AllocationsWhileFeeding(s, "\033[6n\033c\033[" + std::string(78, '1') + "x" +
                                             "\033[3;1;2I\033[?5m\033[" + std::string(90, '2')),
              0);
}

}  // namespace
