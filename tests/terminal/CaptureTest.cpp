// Real program output recorded from a pseudo-terminal (tests/data/terminal/record.sh): fed through
// the interpreter, the plain text must land where the programs put it.
#include "platform/DebugOutput.h"
#include "terminal/Screen.h"
#include "terminal/ScreenDump.h"

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace {

using terminal::TScreen;

std::string ReadCapture(const char* name)
{
    const std::string path = std::string(ZARVOS_TEST_DATA_DIR) + "/terminal/" + name;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Row(const TScreen& s, int row)
{
    std::string text = terminal::DumpCells(s.Line(row), 0, s.Cols() - 1);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

bool StartsWith(const std::string& s, std::string_view prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, std::string_view suffix)
{
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Attribute of the first cell of `word` in a row, or -1 when the word is not there.
int AttrOf(const TScreen& s, int row, std::string_view word)
{
    const size_t at = Row(s, row).find(word);
    return at == std::string::npos ? -1 : s.Line(row).Attrs[at];
}

// The same bytes fed in uneven pieces give the same screen as fed whole.
void ExpectSameInPieces(const std::string& data, const std::string& whole)
{
    TScreen s;
    size_t pos = 0;
    for (size_t piece = 1; pos < data.size(); piece = piece * 3 % 17 + 1) {
        s.FeedText(std::string_view(data).substr(pos, piece));
        pos += piece;
    }
    EXPECT_EQ(terminal::DumpScreen(s), whole);
}

TEST(Captures, LsWithColours)
{
    const std::string data = ReadCapture("ls.typescript");
    ASSERT_FALSE(data.empty());
    TScreen s;
    s.FeedText(data);
    EXPECT_EQ(Row(s, 0), "README.txt  build.sh  docs  link  notes.md  src");
    EXPECT_EQ(AttrOf(s, 0, "README"), 0x07);
    EXPECT_EQ(AttrOf(s, 0, "build.sh"), 0x0A);  // 01;32: bright green
    EXPECT_EQ(AttrOf(s, 0, "docs"), 0x0C);      // 01;34: bright blue
    EXPECT_EQ(AttrOf(s, 0, "link"), 0x0E);      // 01;36: bright cyan
    EXPECT_EQ(AttrOf(s, 0, "notes"), 0x07);
    EXPECT_TRUE(StartsWith(Row(s, 1), "total "));
    const char* names[] = {"README.txt",         "build.sh", "docs",
                           "link -> README.txt", "notes.md", "src"};
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(EndsWith(Row(s, 2 + i), names[i])) << Row(s, 2 + i);
    EXPECT_TRUE(StartsWith(Row(s, 4), "drwx"));
    EXPECT_EQ(AttrOf(s, 3, "build.sh"), 0x0A);
    EXPECT_EQ(AttrOf(s, 5, " -> "), 0x07);  // reset after the coloured name
    EXPECT_EQ(s.CursorRow(), 8);
    EXPECT_EQ(s.CursorCol(), 0);
    EXPECT_EQ(s.CurrentAttr(), 0x07);
    ExpectSameInPieces(data, terminal::DumpScreen(s));
}

TEST(Captures, TopBatchOutput)
{
    const std::string data = ReadCapture("top.typescript");
    ASSERT_FALSE(data.empty());
    TScreen s;
    s.FeedText(data);
    EXPECT_TRUE(StartsWith(Row(s, 0), "top - ")) << Row(s, 0);
    EXPECT_TRUE(StartsWith(Row(s, 1), "Tasks:")) << Row(s, 1);
    EXPECT_TRUE(StartsWith(Row(s, 2), "%Cpu(s):")) << Row(s, 2);
    EXPECT_TRUE(StartsWith(Row(s, 3), "MiB Mem :")) << Row(s, 3);
    EXPECT_EQ(Row(s, 5), "");
    EXPECT_EQ(Row(s, 6),
              "  PID USER      PR  NI    VIRT    RES    SHR S  %CPU  %MEM     TIME+ COMMAND");
    EXPECT_TRUE(StartsWith(Row(s, 7), "    1 root")) << Row(s, 7);
    EXPECT_EQ(s.CursorRow(), 20);
    EXPECT_EQ(s.CursorCol(), 0);
    ExpectSameInPieces(data, terminal::DumpScreen(s));
}

TEST(Captures, ViSession)
{
    const std::string data = ReadCapture("vi.typescript");
    ASSERT_FALSE(data.empty());
    ASSERT_EQ(data.back(), '\n');
    platform::ScopedDebugCapture capture;
    TScreen s;
    // The screen as vi leaves it, before the line feed it writes on the way out.
    s.FeedText(std::string_view(data).substr(0, data.size() - 1));
    EXPECT_EQ(Row(s, 0), "Roses are red, here");
    EXPECT_EQ(Row(s, 1), "violets are blue.");
    for (int r = 2; r <= 23; ++r)
        EXPECT_EQ(Row(s, r), "~") << r;
    EXPECT_EQ(s.Line(5).Attrs[0], 0x0F);  // the filler lines are drawn bright
    EXPECT_EQ(Row(s, 24), "\"poem.txt\" [New] 2L, 38B written");
    EXPECT_EQ(s.CursorRow(), 24);
    EXPECT_EQ(s.CursorCol(), 0);
    // That line feed on the last line scrolls everything up by one.
    s.FeedChar('\n');
    EXPECT_EQ(Row(s, 0), "violets are blue.");
    EXPECT_EQ(Row(s, 23), "\"poem.txt\" [New] 2L, 38B written");
    EXPECT_EQ(Row(s, 24), "");
    EXPECT_FALSE(s.AppCursorKeys());  // switched on at the start, off at the end
    EXPECT_EQ(s.ScrollTop(), 0);
    EXPECT_EQ(s.ScrollBottom(), 24);
    // The status requests and the string vi sends to probe the terminal are traced, not answered.
    EXPECT_NE(capture.Text().find("Unimplemented Escape Sequence: [6n\r\n"), std::string::npos);
    ExpectSameInPieces(data, terminal::DumpScreen(s));
}

TEST(Captures, OtherSettingsDoNotBreakAnything)
{
    for (const char* name : {"ls.typescript", "top.typescript", "vi.typescript"}) {
        const std::string data = ReadCapture(name);
        for (int variant = 0; variant < 8; ++variant) {
            TScreen s;
            s.SetSize(variant & 1 ? 10 : 50, variant & 2 ? 20 : 132);
            s.SetWrapMode(variant & 4);
            s.SetTranslateOn(variant & 2);
            s.SetAutoLF(variant & 1);
            s.FeedText(data);
            EXPECT_GE(s.CursorRow(), 0);
            EXPECT_LT(s.CursorRow(), s.Rows());
            EXPECT_LE(s.CursorCol(), terminal::kLastCol);
        }
    }
}

}  // namespace
