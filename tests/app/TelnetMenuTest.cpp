// "Telnet" in the frame's and the editor's Internet menus, chosen with the mouse through the real
// menu bar: each choice opens a new telnet terminal window inside the frame, whose own File menu
// merges into the frame's while it is active.
#include "FrameMenuFixture.h"

#include "editor/EditorWindow.h"
#include "terminal/TerminalWindow.h"

#include <QSignalSpy>

using testsupport::ProcessEventsUntil;

namespace {

using TelnetMenu = FrameMenuFixture;

TEST_F(TelnetMenu, TheEditorsAndTheFramesEntriesOpenANewTerminalWindowEachTime)
{
    // From the editor's Internet menu.
    Choose(QStringLiteral("Internet"), QStringLiteral("Telnet"));
    ASSERT_EQ(Children<TTelnetForm>().size(), 1);
    TTelnetForm* first = Children<TTelnetForm>().at(0);
    EXPECT_EQ(frame_->MdiArea()->activeSubWindow()->widget(), first);
    EXPECT_EQ(first->parentWidget()->size(), QSize(599, 403));
    // Its File menu takes the place of the frame's File and Internet.
    EXPECT_EQ(MenuBarTexts(), (QStringList{"&File", "Window", "About"}));
    EXPECT_EQ(frame_->menuBar()->actions().at(0)->menu(), first->File1);

    // From the frame's own Internet menu, with no child window active.
    frame_->MdiArea()->setActiveSubWindow(nullptr);
    ASSERT_EQ(MenuBarTexts(), (QStringList{"File", "Internet", "Window", "About"}));
    Choose(QStringLiteral("Internet"), QStringLiteral("Telnet"));
    ASSERT_EQ(Children<TTelnetForm>().size(), 2);
    TTelnetForm* second = Children<TTelnetForm>().at(1);
    EXPECT_NE(second, first);
    EXPECT_NE(second->TnEmulVT1->Session(), first->TnEmulVT1->Session());
    EXPECT_EQ(frame_->menuBar()->actions().at(0)->menu(), second->File1);

    // The window's "New Editor" opens an editor, whose Internet menu opens a third one.
    Choose(QStringLiteral("&File"), QStringLiteral("New Editor"));
    ASSERT_EQ(Children<TmyForm1>().size(), 2);
    Choose(QStringLiteral("Internet"), QStringLiteral("Telnet"));
    EXPECT_EQ(Children<TTelnetForm>().size(), 3);
    EXPECT_NE(frame_->FindWindowByName(QStringLiteral("TelnetForm")), nullptr);
}

TEST_F(TelnetMenu, TheWindowsExitEndsTheProgram)
{
    Choose(QStringLiteral("Internet"), QStringLiteral("Telnet"));
    ASSERT_EQ(Children<TTelnetForm>().size(), 1);
    QSignalSpy closed(frame_.get(), &TMyMDI::FrameClosed);
    Children<TTelnetForm>().at(0)->Exit1->trigger();
    EXPECT_TRUE(ProcessEventsUntil([&] { return closed.count() == 1; }, 5000));
    EXPECT_FALSE(frame_->isVisible());
}

}  // namespace
