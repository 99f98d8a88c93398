// Reading a remote directory listing: the lines of a LIST reply in the nine-field layout of a Unix
// long listing (permissions, link count, owner, group, size, month, day, time or year, name),
// fields separated by one or more spaces. GUI-free, so it is tested, benchmarked and fuzzed
// headless; the transfer window puts the result into its directory list and file grid.
#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace ftp {

// One listing line: a directory (its name goes to the directory list) or a file (a grid row).
// Name, size and date are the listing's bytes as they stand.
struct TDirEntry {
    bool Directory = false;
    std::string Name;
    std::string Size;
    std::string Date;
};

// Parses one line:
// - a directory when the first character is "d" or "D";
// - fields 1 to 4 are skipped; Size is field 5; Date is fields 6, 7 and 8 joined by one space;
//   Name is everything from the first character of field 9 to the end of the line;
// - a symbolic link (first character "l" or "L") whose name holds no "." is taken for a
//   directory;
// - a directory's name longer than 4 characters loses everything from its first " ->" (found
//   at the second character or later) onward: the arrow and the link's target. A file keeps its
//   arrow and target.
// A line without a ninth field (or with an empty one) gives false and entry is left unchanged;
// nothing past the end of the line is read.
bool ParseDirEntry(std::string_view line, TDirEntry& entry);

// Lines shorter than this are skipped by the listing reader (the "total" line, empty lines).
inline constexpr std::size_t kShortestListingLine = 20;

struct TListing {
    std::vector<std::string> Directories;  // names, in listing order
    std::vector<TDirEntry> Files;          // in listing order
};

// Splits text into lines (LF, with a CR before it dropped), skips lines shorter than 20
// characters and lines ParseDirEntry rejects, and appends the rest to out.
void ParseListing(std::string_view text, TListing& out);

// Reads the listing file at path into out. False when the file does not exist or cannot be read
// (out is then untouched).
bool ReadListingFile(const QString& path, TListing& out);

// path + "/" when path is not empty and does not end with "/"; otherwise path unchanged.
QString AppendSlash(const QString& path);
std::string AppendSlash(std::string path);

}  // namespace ftp
