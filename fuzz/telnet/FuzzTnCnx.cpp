// Feeds arbitrary bytes to the telnet session's receive parser (no connection: answers are
// dropped) and checks what must hold for any input:
//  - every delivered block holds 1..2049 bytes followed by a NUL, and nothing stays buffered
//    after a received block;
//  - the sub-negotiation being collected never exceeds its cap;
//  - the data and the events do not depend on where the stream is cut into reads: the input fed
//    in blocks of 2048 and fed in pieces of the sizes that byte 0 chooses give the same result.
#include "telnet/TnCnx.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class Session : public TTnCnx {
public:
    Session()
    {
        OnDataAvailable = [this](TTnCnx*, char* buffer, std::int32_t len) {
            Check(len >= 1 && len <= DataBufferSize, "block length within 1..2049");
            Check(buffer[len] == '\0', "NUL after the block");
            data.append(buffer, static_cast<std::size_t>(len));
        };
        OnEndOfRecord = [this](QObject*) { events += 'R'; };
        OnTermType = [this](QObject*) { events += 'T'; };
        OnSendLoc = [this](QObject*) { events += 'L'; };
        OnLocalEcho = [this](QObject*) { events += LocalEcho() ? 'E' : 'e'; };
    }
    void Feed(const std::uint8_t* p, std::size_t n)
    {
        ProcessReceived(reinterpret_cast<const char*>(p), static_cast<int>(n));
        Check(DataCount() == 0, "nothing left buffered after a block");
        Check(SubNegotiationSize() <= SubNegotiationLimit, "sub-negotiation within its cap");
    }
    static void Check(bool ok, const char* what)
    {
        if (ok) return;
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }

    std::string data;
    std::string events;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    ++data;
    --size;

    Session whole;
    for (std::size_t pos = 0; pos < size; pos += TTnCnx::ReceiveBlockSize)
        whole.Feed(data + pos, std::min<std::size_t>(TTnCnx::ReceiveBlockSize, size - pos));

    Session pieces;
    for (std::size_t pos = 0; pos < size; pos += piece)
        pieces.Feed(data + pos, std::min(piece, size - pos));

    Session::Check(whole.data == pieces.data, "same data however the stream is cut");
    Session::Check(whole.events == pieces.events, "same events however the stream is cut");
    Session::Check(whole.data.size() <= size, "no more data than bytes received");
    return 0;
}
