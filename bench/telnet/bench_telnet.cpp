// Throughput of the telnet session's receive parser and of the plain telnet window's text
// appending, on blocks as the session delivers them (2048 bytes).
#include "telnet/PlainTelnetWindow.h"
#include "telnet/TnCnx.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The receive path without a socket: blocks go straight into the parser.
class ParserOnly : public TTnCnx {
public:
    using TTnCnx::ProcessReceived;
};

std::string TextWithLines(std::size_t size, std::size_t lineLength)
{
    std::string s;
    s.reserve(size);
    while (s.size() < size) {
        for (std::size_t i = 0; i < lineLength && s.size() < size; ++i)
            s.push_back(static_cast<char>('a' + (s.size() * 7 + i) % 26));
        s += "\r\n";
    }
    s.resize(size);
    return s;
}

void ReportRate(const char* what, std::size_t bytes, qint64 ns)
{
    const double seconds = static_cast<double>(ns) / 1e9;
    std::printf("%-52s %8.1f MB/s  (%zu bytes in %.3f s)\n", what,
                static_cast<double>(bytes) / 1e6 / seconds, bytes, seconds);
}

void BenchParser(const char* what, const std::string& stream)
{
    ParserOnly tn;
    std::size_t delivered = 0;
    tn.OnDataAvailable = [&](TTnCnx*, char*, std::int32_t len) {
        delivered += static_cast<std::size_t>(len);
    };
    QElapsedTimer t;
    t.start();
    for (int round = 0; round < 10; ++round)
        for (std::size_t pos = 0; pos < stream.size(); pos += TTnCnx::ReceiveBlockSize) {
            const std::size_t n =
                std::min<std::size_t>(TTnCnx::ReceiveBlockSize, stream.size() - pos);
            tn.ProcessReceived(stream.data() + pos, static_cast<int>(n));
        }
    ReportRate(what, stream.size() * 10, t.nsecsElapsed());
    if (delivered == 0) std::abort();
}

void BenchWindow(const char* what, const std::string& text)
{
    TTnDemoForm form;
    QElapsedTimer t;
    t.start();
    for (std::size_t pos = 0; pos < text.size(); pos += TTnCnx::ReceiveBlockSize)
        form.AppendReceivedText(std::string_view(text).substr(pos, TTnCnx::ReceiveBlockSize));
    ReportRate(what, text.size(), t.nsecsElapsed());
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    const std::string text = TextWithLines(8u << 20, 78);
    BenchParser("parser, plain text (8 MB x 10)", text);
    std::string withCommands;
    for (std::size_t i = 0; i < text.size(); ++i) {
        withCommands.push_back(text[i]);
        if (i % 64 == 0) withCommands += "\xFF\xFF\xFF\xF1";  // IAC IAC and IAC NOP
    }
    BenchParser("parser, text with a command every 64 bytes (x 10)", withCommands);

    BenchWindow("window, 2 MB in lines of 80 characters", TextWithLines(2u << 20, 78));
    BenchWindow("window, 2 MB without a line break", std::string(2u << 20, 'x'));
    BenchWindow("window, 20 MB in lines of 80 characters (beyond capacity)",
                TextWithLines(20u << 20, 78));
    return 0;
}
