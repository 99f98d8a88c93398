// The interpreter must not allocate while it handles ordinary traffic: text, controls, colours,
// cursor motion, erases and scrolling. This program replaces the global allocation functions and
// counts the allocations made while bytes are fed.
#include "support/AllocationCount.h"
#include "terminal/Screen.h"

#include <string>

#include <gtest/gtest.h>

namespace {

long AllocationsWhileFeeding(terminal::TScreen& s, const std::string& bytes)
{
    testsupport::StartCountingAllocations();
    s.FeedText(bytes);
    return testsupport::StopCountingAllocations();
}

TEST(Allocation, CounterSeesAllocations)
{
    volatile int length = 100;
    testsupport::StartCountingAllocations();
    const std::string text(static_cast<size_t>(length), 'x');
    EXPECT_GE(testsupport::StopCountingAllocations(), 1);
    EXPECT_EQ(text.size(), 100u);
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
