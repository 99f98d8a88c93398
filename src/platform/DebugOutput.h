// The debug output channel: trace text for developers, never shown to the user. Off by default;
// a sink receives each piece exactly as written (no line break is added). Tests capture the
// channel with ScopedDebugCapture; ZARVOS_DEBUG_OUTPUT=1 in the environment sends it to stderr.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

using DebugSink = std::function<void(std::string_view)>;

void DebugOutput(std::string_view text);

// Installs a sink (empty: channel off) and returns the previous one.
DebugSink SetDebugSink(DebugSink sink);

// Collects everything written to the channel while it lives, then restores the previous sink.
class ScopedDebugCapture {
public:
    ScopedDebugCapture();
    ~ScopedDebugCapture();
    ScopedDebugCapture(const ScopedDebugCapture&) = delete;
    ScopedDebugCapture& operator=(const ScopedDebugCapture&) = delete;

    const std::string& Text() const { return text_; }
    void Clear() { text_.clear(); }

private:
    std::string text_;
    DebugSink previous_;
};

}  // namespace platform
