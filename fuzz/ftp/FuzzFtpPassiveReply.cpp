// Feeds arbitrary reply lines to the readers of the EPSV (229) and PASV (227) replies and checks
// what must hold for any reply a server (or a meddler) sends:
//  - the readers read only the line they are given (AddressSanitizer catches a read past the end
//    of the exact-size copy made here);
//  - an accepted port is between 1 and 65535; an EPSV port stands in the line as decimal text, a
//    PASV reply holds the six comma-separated numbers it was read from.
#include "ftp/FtpEngine.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

void Check(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto copy = std::make_unique<char[]>(size);
    for (std::size_t i = 0; i < size; ++i)
        copy[i] = static_cast<char>(data[i]);
    const std::string_view line(copy.get(), size);

    int port = -1;
    if (TCustomFtpCli::ParseEpsvReply(line, port)) {
        Check(port >= 1 && port <= 65535, "an EPSV port in range");
        Check(line.find(std::to_string(port)) != std::string_view::npos, "the EPSV port text");
    }
    std::uint32_t address = 0;
    port = -1;
    if (TCustomFtpCli::ParsePasvReply(line, address, port)) {
        Check(port >= 1 && port <= 65535, "a PASV port in range");
        std::size_t commas = 0;
        for (const char c : line)
            commas += c == ',';
        Check(commas >= 5, "six numbers for the address and the port");
        Check(address != 0 || line.find('0') != std::string_view::npos,
              "the address from the line");
    }
    return 0;
}
