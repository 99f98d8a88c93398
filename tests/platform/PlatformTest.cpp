#include "platform/Beep.h"
#include "platform/DebugOutput.h"
#include "platform/FileErrors.h"
#include "platform/TempDir.h"
#include "platform/Ticks.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <cerrno>

#include <gtest/gtest.h>

namespace {

TEST(FileErrors, TextsForTheKnownFaults)
{
    EXPECT_EQ(platform::FileErrorText(ENOENT), "File not found");
    EXPECT_EQ(platform::FileErrorText(ENAMETOOLONG), "Invalid filename");
    EXPECT_EQ(platform::FileErrorText(EMFILE), "Too many open files");
    EXPECT_EQ(platform::FileErrorText(EACCES), "File access denied");
    EXPECT_EQ(platform::FileErrorText(platform::kReadBeyondEnd), "Read beyond end of file");
    EXPECT_EQ(platform::FileErrorText(ENOSPC), "Disk full");
    EXPECT_EQ(platform::FileErrorText(EIO), QString("I/O error %1").arg(EIO));
}

TEST(DebugOutput, CaptureCollectsPiecesAndRestoresPreviousSink)
{
    std::string outer;
    platform::SetDebugSink([&](std::string_view t) { outer.append(t); });
    {
        platform::ScopedDebugCapture capture;
        platform::DebugOutput("0001 ");
        platform::DebugOutput("text");
        EXPECT_EQ(capture.Text(), "0001 text");
    }
    platform::DebugOutput("after");
    EXPECT_EQ(outer, "after");
    platform::SetDebugSink({});
    platform::DebugOutput("dropped");
    EXPECT_EQ(outer, "after");
}

TEST(Beep, CountsAndCallsHook)
{
    int sounds = 0;
    auto previous = platform::SetBeepHook([&](platform::BeepKind) { ++sounds; });
    const auto before = platform::BeepCount();
    platform::Beep(platform::BeepKind::Information);
    platform::Beep();
    EXPECT_EQ(platform::BeepCount() - before, 2u);
    EXPECT_EQ(sounds, 2);
    platform::SetBeepHook(std::move(previous));
}

TEST(TempDir, PrivateAndStable)
{
    const QString dir = platform::PrivateTempDir();
    ASSERT_FALSE(dir.isEmpty());
    EXPECT_TRUE(dir.endsWith('/'));
    EXPECT_EQ(dir, platform::PrivateTempDir());
    struct stat st {};
    ASSERT_EQ(::stat(dir.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(dir.startsWith(QDir::tempPath()));
}

TEST(Ticks, AdvanceAcrossASleep)
{
    const std::uint32_t t0 = platform::GetTickCount();
    platform::SleepMs(20);
    EXPECT_GE(static_cast<std::uint32_t>(platform::GetTickCount() - t0), 19u);
}

}  // namespace
