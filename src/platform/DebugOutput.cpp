#include "platform/DebugOutput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

DebugSink InitialSink()
{
    const char* env = std::getenv("ZARVOS_DEBUG_OUTPUT");
    if (env && std::strcmp(env, "1") == 0)
        return [](std::string_view text) {
            std::fwrite(text.data(), 1, text.size(), stderr);
            std::fflush(stderr);
        };
    return {};
}

DebugSink& Sink()
{
    static DebugSink sink = InitialSink();
    return sink;
}

}  // namespace

void DebugOutput(std::string_view text)
{
    if (const DebugSink& s = Sink()) s(text);
}

DebugSink SetDebugSink(DebugSink sink)
{
    DebugSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

ScopedDebugCapture::ScopedDebugCapture()
    : previous_(SetDebugSink([this](std::string_view t) { text_.append(t); }))
{
}

ScopedDebugCapture::~ScopedDebugCapture()
{
    SetDebugSink(std::move(previous_));
}

}  // namespace platform
