// Feeds arbitrary bytes to the FTP listing parser and checks what must hold for any listing:
//  - ParseDirEntry reads only the line it is given (AddressSanitizer catches a read past the end
//    of the exact-size copy made here) and, when it accepts a line, gives a name that is a
//    non-empty part of the line, a size without spaces and a date of three fields;
//  - a whole listing gives exactly the entries that its lines give one by one;
//  - the local-name check refuses every name that holds a path separator, a control byte, or
//    is "." or "..".
#include "ftp/FtpListing.h"
#include "ftp/FtpLocalFiles.h"

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

void CheckEntry(std::string_view line, const ftp::TDirEntry& e)
{
    Check(!e.Name.empty(), "a name");
    Check(e.Name.size() <= line.size(), "the name is part of the line");
    Check(line.find(e.Name) != std::string_view::npos, "the name comes from the line");
    Check(e.Size.find(' ') == std::string::npos, "the size is one field");
    std::size_t spaces = 0;
    for (const char c : e.Date)
        spaces += c == ' ';
    Check(spaces == 2, "the date is three fields");
    const std::string problem = ftp::LocalNameProblem(e.Name);
    const bool separator =
        e.Name.find('/') != std::string::npos || e.Name.find('\\') != std::string::npos;
    bool control = false;
    for (const char c : e.Name) {
        const auto b = static_cast<unsigned char>(c);
        control = control || b < 32 || b == 127;
    }
    if (separator || control || e.Name == "." || e.Name == "..")
        Check(!problem.empty(), "unsafe names are refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // One line, copied into a buffer of exactly its size.
    const std::size_t eol = text.find('\n');
    const std::string_view first = text.substr(0, eol);
    std::unique_ptr<char[]> exact(new char[first.size() ? first.size() : 1]);
    std::copy(first.begin(), first.end(), exact.get());
    const std::string_view line(exact.get(), first.size());
    ftp::TDirEntry entry;
    if (ftp::ParseDirEntry(line, entry)) CheckEntry(line, entry);

    // The whole listing against its lines one by one.
    ftp::TListing listing;
    ftp::ParseListing(text, listing);
    std::size_t dirs = 0;
    std::size_t files = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) end = text.size();
        std::string_view l = text.substr(start, end - start);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        ftp::TDirEntry e;
        if (l.size() >= ftp::kShortestListingLine && ftp::ParseDirEntry(l, e)) {
            CheckEntry(l, e);
            if (e.Directory) {
                Check(dirs < listing.Directories.size() && listing.Directories[dirs] == e.Name,
                      "directories in listing order");
                ++dirs;
            } else {
                Check(files < listing.Files.size() && listing.Files[files].Name == e.Name,
                      "files in listing order");
                ++files;
            }
        }
        if (last) break;
        start = end + 1;
    }
    Check(dirs == listing.Directories.size() && files == listing.Files.size(), "nothing more");
    return 0;
}
