// Millisecond tick counter (wraps like a 32-bit counter) and a sleep call.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, modulo 2^32; compare deadlines by unsigned difference.
std::uint32_t GetTickCount();

// Gives up the processor for ms milliseconds (0: yield the rest of the time slice).
void SleepMs(std::uint32_t ms);

}  // namespace platform
