// The platform beep. Every beep is counted (tests read the count); the sound itself comes from a
// hook that the application installs (QApplication::beep), so GUI-free code can beep too.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

enum class BeepKind { Default, Information };

void Beep(BeepKind kind = BeepKind::Default);

// Number of beeps since the program started.
std::uint64_t BeepCount();

using BeepHook = std::function<void(BeepKind)>;
// Installs the hook that makes the sound and returns the previous one.
BeepHook SetBeepHook(BeepHook hook);

}  // namespace platform
