#include "platform/Beep.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<std::uint64_t> g_count{0};
BeepHook& Hook()
{
    static BeepHook hook;
    return hook;
}
}  // namespace

void Beep(BeepKind kind)
{
    ++g_count;
    if (const BeepHook& h = Hook()) h(kind);
}

std::uint64_t BeepCount()
{
    return g_count.load();
}

BeepHook SetBeepHook(BeepHook hook)
{
    BeepHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

}  // namespace platform
