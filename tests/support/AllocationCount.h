// Counts the allocations a piece of code makes, by replacing the global allocation functions.
// Include this header in exactly one source file of a program (a test or benchmark program of its
// own), then: StartCountingAllocations(); ...; long n = StopCountingAllocations();
// Only operator new is counted; code that calls malloc directly is not.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace testsupport {
inline std::atomic<bool> g_countingAllocations{false};
inline std::atomic<long> g_allocationCount{0};

inline void StartCountingAllocations()
{
    g_allocationCount = 0;
    g_countingAllocations = true;
}

inline long StopCountingAllocations()
{
    g_countingAllocations = false;
    return g_allocationCount.load();
}
}  // namespace testsupport

void* operator new(std::size_t size)
{
    if (testsupport::g_countingAllocations.load(std::memory_order_relaxed))
        ++testsupport::g_allocationCount;
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
