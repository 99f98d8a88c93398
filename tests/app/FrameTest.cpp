// The frame window with its start-up windows: menus and merging, the window list, arranging,
// the about rule, window registration and the unsaved-work question on every closing path.
#include "app/AboutWindow.h"
#include "app/FrameWindow.h"
#include "app/Startup.h"
#include "editor/EditorWindow.h"
#include "ftp/FtpLoginWindow.h"
#include "ftp/FtpTransferWindow.h"

#include "support/Modal.h"

#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

using testsupport::ModalAnswerer;

namespace {

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        frame_.reset(CreateStartupWindows());
        QApplication::processEvents();
    }
    void TearDown() override
    {
        // Nothing may ask any more.
        for (QMdiSubWindow* sub : frame_->MdiArea()->subWindowList())
            if (auto* ed = qobject_cast<TmyForm1*>(sub->widget())) ed->SetModified(false);
        frame_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QStringList MenuBarTexts() const
    {
        QStringList texts;
        for (QAction* a : frame_->menuBar()->actions())
            texts.append(a->text());
        return texts;
    }
    QList<TmyForm1*> Editors() const
    {
        QList<TmyForm1*> out;
        for (QMdiSubWindow* sub : frame_->MdiArea()->subWindowList(QMdiArea::CreationOrder))
            if (auto* ed = qobject_cast<TmyForm1*>(sub->widget())) out.append(ed);
        return out;
    }
    static QMdiSubWindow* SubOf(QWidget* w)
    {
        return qobject_cast<QMdiSubWindow*>(w->parentWidget());
    }
    static void Flush()
    {
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
    static void Type(TmyForm1* ed, const QString& text) { QTest::keyClicks(ed->MEMO1, text); }

    std::unique_ptr<TMyMDI> frame_;
};

TEST_F(Frame, StartsWithTheFrameTheEditorAndTheHiddenAboutWindow)
{
    EXPECT_EQ(MyMDI.data(), frame_.get());
    EXPECT_EQ(frame_->objectName(), QStringLiteral("MyMDI"));
    EXPECT_EQ(frame_->windowTitle(),
              QStringLiteral("ZarvosUnix/Dos/RTF Editor/ FTP/Telnet Clients"));
    EXPECT_EQ(frame_->size(), QSize(667, 483));
    EXPECT_TRUE(frame_->isVisible());

    ASSERT_FALSE(myForm1.isNull());
    EXPECT_EQ(Editors(), QList<TmyForm1*>{myForm1.data()});
    EXPECT_EQ(myForm1->Caption(), QStringLiteral("Untitled"));
    EXPECT_TRUE(myForm1->isVisible());

    ASSERT_FALSE(FrmAbout.isNull());
    EXPECT_FALSE(FrmAbout->isVisible());
    EXPECT_EQ(frame_->FindWindowByName("FrmAbout"), FrmAbout.data());
    EXPECT_EQ(frame_->FindWindowByName("MyMDI"), frame_.get());
    EXPECT_EQ(frame_->FindWindowByName("myForm1"), myForm1.data());
    EXPECT_EQ(frame_->FindWindowByName("frmabout"), nullptr) << "names compare case-sensitively";
    EXPECT_EQ(frame::Frame(), static_cast<frame::TFrameCommands*>(frame_.get()));

    // The FTP login and transfer windows: free-standing, owned by the frame, hidden, created
    // after the editor and before the about window.
    ASSERT_FALSE(Form1.isNull());
    ASSERT_FALSE(copyform.isNull());
    EXPECT_EQ(frame_->FindWindowByName("Form1"), Form1.data());
    EXPECT_EQ(frame_->FindWindowByName("copyform"), copyform.data());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_FALSE(copyform->isVisible());
    EXPECT_EQ(Form1->parentWidget(), frame_.get());
    EXPECT_TRUE(Form1->isWindow());
    EXPECT_TRUE(copyform->isWindow());
    const QObjectList owned = frame_->children();
    EXPECT_LT(owned.indexOf(Form1.data()), owned.indexOf(copyform.data()));
    EXPECT_LT(owned.indexOf(copyform.data()), owned.indexOf(FrmAbout.data()));
    EXPECT_TRUE(frame_->StartFTP1->isEnabled());
}

TEST_F(Frame, EditorMenusReplaceFileAndInternet)
{
    EXPECT_EQ(MenuBarTexts(),
              (QStringList{"&File", "View", "Format", "Internet", "Window", "About"}));
    // Entries for windows built by other libraries are enabled once registered; the FTP windows,
    // the telnet terminal and the plain telnet window are registered at start-up.
    EXPECT_TRUE(frame_->StartFTP1->isEnabled());
    EXPECT_TRUE(frame_->Telnet1->isEnabled());
    EXPECT_TRUE(frame_->TelnetNoTermEmulation1->isEnabled());
    EXPECT_TRUE(myForm1->Telnet1->isEnabled());
    EXPECT_TRUE(myForm1->StartFTP1->isEnabled());
    EXPECT_TRUE(frame_->New1->isEnabled());

    // A child without menus of its own leaves the frame's.
    auto* plain = new QWidget;
    plain->setObjectName(QStringLiteral("TnDemoForm"));
    plain->resize(300, 200);
    frame_->AddChildWindow(plain);
    EXPECT_EQ(MenuBarTexts(), (QStringList{"File", "Internet", "Window", "About"}));
    QStringList fileEntries;
    for (QAction* a : frame_->File1->actions())
        if (!a->isSeparator()) fileEntries.append(a->text());
    EXPECT_EQ(fileEntries, (QStringList{"New Editor", "Exit"}));

    frame_->MdiArea()->setActiveSubWindow(SubOf(myForm1));
    EXPECT_EQ(MenuBarTexts(),
              (QStringList{"&File", "View", "Format", "Internet", "Window", "About"}));

    // With every child gone the frame's own menus come back.
    SubOf(plain)->close();
    myForm1->Close1->trigger();
    Flush();
    EXPECT_TRUE(frame_->MdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(MenuBarTexts(), (QStringList{"File", "Internet", "Window", "About"}));
}

TEST_F(Frame, NewEditorTwiceGivesTwoIndependentListedWindows)
{
    frame_->New1->trigger();
    myForm1->NewWindow1->trigger();  // the editor's "New Window" runs the same operation
    const QList<TmyForm1*> editors = Editors();
    ASSERT_EQ(editors.size(), 3);
    for (TmyForm1* ed : editors) {
        EXPECT_EQ(ed->Caption(), QStringLiteral("Untitled"));
        EXPECT_TRUE(ed->MEMO1->toPlainText().isEmpty());
        EXPECT_TRUE(ed->WordWrap1->isChecked());
    }
    Type(editors[1], "second");
    EXPECT_TRUE(editors[2]->MEMO1->toPlainText().isEmpty());
    EXPECT_EQ(editors[1]->MEMO1->toPlainText(), QStringLiteral("second"));
    EXPECT_EQ(myForm1.data(), editors[0]) << "only the start-up editor is program-wide";

    EXPECT_EQ(frame_->WindowList(), (QStringList{"Untitled", "Untitled", "Untitled"}));
    emit frame_->Window1->aboutToShow();
    QStringList entries;
    for (QAction* a : frame_->Window1->actions())
        if (!a->isSeparator()) entries.append(a->text());
    EXPECT_EQ(entries, (QStringList{"Tile", "Cascade", "Arrange Icons", "&1 Untitled",
                                    "&2 Untitled", "&3 Untitled"}));

    // Choosing an entry activates that window.
    frame_->Window1->actions().at(4)->trigger();  // "&1 Untitled"
    EXPECT_EQ(frame_->MdiArea()->currentSubWindow(), SubOf(editors[0]));
    editors[0]->SetCaption("/tmp/renamed.txt");
    EXPECT_EQ(frame_->WindowList().first(), QStringLiteral("/tmp/renamed.txt"));
}

TEST_F(Frame, TileCascadeAndArrangeIcons)
{
    frame_->New1Click();
    frame_->New1Click();
    const QList<TmyForm1*> editors = Editors();
    ASSERT_EQ(editors.size(), 3);
    frame_->Tile1->trigger();
    const QRect area = frame_->MdiArea()->viewport()->rect();
    QList<QRect> rects;
    for (TmyForm1* ed : editors)
        rects.append(SubOf(ed)->geometry());
    std::sort(rects.begin(), rects.end(),
              [](const QRect& a, const QRect& b) { return a.top() < b.top(); });
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rects[i].left(), area.left());
        EXPECT_EQ(rects[i].width(), area.width()) << "full width";
        if (i > 0) {
            EXPECT_EQ(rects[i].top(), rects[i - 1].bottom() + 1) << "one above the other";
        }
    }
    EXPECT_EQ(rects.first().top(), area.top());
    EXPECT_EQ(rects.last().bottom(), area.bottom());

    frame_->Cascade1->trigger();
    QList<QPoint> tops;
    for (TmyForm1* ed : editors)
        tops.append(SubOf(ed)->pos());
    EXPECT_NE(tops[0], tops[1]);
    EXPECT_NE(tops[1], tops[2]);

    SubOf(editors[0])->showMinimized();
    SubOf(editors[2])->showMinimized();
    SubOf(editors[0])->move(200, 10);
    frame_->ArrangeIcons1->trigger();
    const QRect a = SubOf(editors[0])->geometry();
    const QRect c = SubOf(editors[2])->geometry();
    EXPECT_EQ(a.bottom(), area.bottom()) << "icons line up at the bottom";
    EXPECT_EQ(c.bottom(), area.bottom());
    EXPECT_EQ(a.left(), area.left());
    EXPECT_EQ(c.left(), a.right() + 1);
}

// Every new child window (editors, telnet terminals, plain telnet windows) opens fully inside
// the frame's area, cascading from the one before, and shrinks when the frame is smaller.
TEST_F(Frame, NewChildWindowsOpenInsideTheFrameCascading)
{
    frame_->SetTelnetFactory([] {
        auto* w = new QWidget;
        w->setObjectName(QStringLiteral("TelnetForm"));
        w->resize(599, 403);
        return w;
    });
    frame_->SetTnDemoFactory([] {
        auto* w = new QWidget;
        w->setObjectName(QStringLiteral("TnDemoForm"));
        w->resize(538, 285);
        return w;
    });
    QMdiArea* mdi = frame_->MdiArea();
    const auto newest = [&] { return mdi->subWindowList(QMdiArea::CreationOrder).last(); };
    const auto inside = [&](QMdiSubWindow* sub) {
        return QRect(QPoint(0, 0), mdi->viewport()->size()).contains(sub->geometry());
    };
    QMdiSubWindow* previous = SubOf(myForm1);
    EXPECT_TRUE(inside(previous));
    const std::function<void()> opens[] = {
        [&] { frame_->Telnet1Click(); }, [&] { frame_->TelnetNoTermEmulation1Click(); },
        [&] { frame_->New1Click(); },    [&] { frame_->Telnet1Click(); },
        [&] { frame_->New1Click(); },    [&] { frame_->TelnetNoTermEmulation1Click(); }};
    int cascaded = 0;
    for (const auto& open : opens) {
        open();
        Flush();
        QMdiSubWindow* sub = newest();
        EXPECT_TRUE(inside(sub)) << sub->widget()->objectName().toStdString();
        const QPoint step = sub->pos() - previous->pos();
        if (step.x() > 0) {
            EXPECT_EQ(step.x(), step.y()) << "a cascade from the window opened before";
            ++cascaded;
        } else {
            EXPECT_EQ(sub->pos(), QPoint(0, 0)) << "starts again at the top left";
        }
        previous = sub;
    }
    EXPECT_GE(cascaded, 2);
    EXPECT_FALSE(mdi->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(mdi->verticalScrollBar()->isVisible());

    // A frame smaller than the window: the window shrinks to the area.
    frame_->resize(420, 300);
    Flush();
    frame_->Telnet1Click();
    Flush();
    EXPECT_TRUE(inside(newest()));
    EXPECT_LT(newest()->width(), 599);
    EXPECT_LT(newest()->height(), 403);
}

TEST_F(Frame, AboutShowsTheOneAboutWindow)
{
    TFrmAbout* about = FrmAbout;
    frame_->About1->trigger();
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About this program..."));
    EXPECT_EQ(about->size(), QSize(544, 375));
    EXPECT_EQ(about->Panel1->height(), 41);
    const QString text = about->Memo1->toPlainText();
    EXPECT_FALSE(text.isEmpty());
    // The text wraps at the window's width: no horizontal scroll bar.
    QApplication::processEvents();
    EXPECT_FALSE(about->Memo1->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(about->Memo1->verticalScrollBar()->isVisible());
    frame_->About1->trigger();
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("FrmAbout")) ++count;
    EXPECT_EQ(count, 1);

    QTest::mouseClick(about->Button1, Qt::LeftButton);  // "Done"
    EXPECT_FALSE(about->isVisible());
    frame_->About1->trigger();
    EXPECT_EQ(FrmAbout.data(), about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->Memo1->toPlainText(), text);
    about->close();
    EXPECT_FALSE(FrmAbout.isNull()) << "closing hides the about window";
}

TEST_F(Frame, RegisteredWindowsEnableTheirEntries)
{
    int created = 0;
    frame_->SetTelnetFactory([&created] {
        ++created;
        auto* w = new QWidget;
        w->setObjectName(QStringLiteral("TelnetForm"));
        return w;
    });
    EXPECT_TRUE(frame_->Telnet1->isEnabled());
    EXPECT_TRUE(frame_->StartFTP1->isEnabled());
    // The editors' entries follow when their menu opens.
    emit myForm1->Internet1->aboutToShow();
    EXPECT_TRUE(myForm1->Telnet1->isEnabled());
    EXPECT_TRUE(myForm1->StartFTP1->isEnabled());
    myForm1->Telnet1->trigger();
    frame_->Telnet1->trigger();
    EXPECT_EQ(created, 2);
    EXPECT_EQ(frame_->MdiArea()->subWindowList().size(), 3);
    EXPECT_NE(frame_->FindWindowByName("TelnetForm"), nullptr);
}

TEST_F(Frame, FtpEntryRule)
{
    // The rule with stand-in windows: the login window of start-up is gone first.
    delete Form1.data();
    bool connected = false;
    QWidget* login = nullptr;
    auto transfer = std::make_unique<QWidget>();
    transfer->setObjectName(QStringLiteral("copyform"));
    int logins = 0;
    TMyMDI::FtpWindows ftp;
    ftp.createLogin = [&] {
        ++logins;
        login = new QWidget;
        login->setObjectName(QStringLiteral("Form1"));
        return login;
    };
    ftp.isConnected = [&] { return connected; };
    ftp.loginWindow = [&] { return login; };
    ftp.transferWindow = [&] { return transfer.get(); };
    frame_->SetFtpWindows(ftp);
    ASSERT_TRUE(frame_->StartFTP1->isEnabled());

    frame_->StartFTP1->trigger();  // no "Form1" yet: a new login window, owned by the frame
    ASSERT_EQ(logins, 1);
    EXPECT_TRUE(login->isVisible());
    EXPECT_EQ(login->parentWidget(), frame_.get());
    login->hide();

    frame_->StartFTP1->trigger();  // found, not connected: the login window again
    EXPECT_EQ(logins, 1);
    EXPECT_TRUE(login->isVisible());
    EXPECT_FALSE(transfer->isVisible());

    connected = true;
    frame_->StartFTP1->trigger();  // connected: the transfer window
    EXPECT_TRUE(transfer->isVisible());
    EXPECT_EQ(logins, 1);
}

// ---- The unsaved-work question on every path ----------------------------------------------------

TEST_F(Frame, CloseEntryAsksOnlyWithUnsavedWork)
{
    ModalAnswerer answerer;
    TmyForm1* ed = myForm1;
    Type(ed, "draft");
    answerer.Expect(testsupport::ClickButton(QMessageBox::No));
    ed->Close1->trigger();
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].title, QStringLiteral("Work not saved"));
    EXPECT_EQ(answerer.Seen()[0].text, QStringLiteral("Exit without saving changes?"));
    Flush();
    ASSERT_FALSE(myForm1.isNull());
    EXPECT_EQ(myForm1->MEMO1->toPlainText(), QStringLiteral("draft"));

    // Activating another window and coming back does not clear the flag.
    frame_->New1Click();
    frame_->MdiArea()->setActiveSubWindow(SubOf(myForm1));
    EXPECT_TRUE(myForm1->Modified());

    answerer.Expect(testsupport::ClickButton(QMessageBox::Yes));
    myForm1->Close1->trigger();
    Flush();
    EXPECT_TRUE(myForm1.isNull());

    // Without changes the window closes at once.
    TmyForm1* other = Editors().value(0);
    ASSERT_NE(other, nullptr);
    QPointer<TmyForm1> guard(other);
    other->Close1->trigger();
    Flush();
    EXPECT_TRUE(guard.isNull());
    EXPECT_EQ(answerer.Unexpected(), 0);
    EXPECT_EQ(answerer.Seen().size(), 2u);
}

TEST_F(Frame, WindowCloseButtonAsksToo)
{
    ModalAnswerer answerer;
    Type(myForm1, "draft");
    answerer.Expect(testsupport::ClickButton(QMessageBox::No));
    EXPECT_FALSE(SubOf(myForm1)->close());
    Flush();
    EXPECT_FALSE(myForm1.isNull());
    answerer.Expect(testsupport::ClickButton(QMessageBox::Yes));
    EXPECT_TRUE(SubOf(myForm1)->close());
    Flush();
    EXPECT_TRUE(myForm1.isNull());
    EXPECT_EQ(answerer.Unexpected(), 0);
}

TEST_F(Frame, SavedWorkClosesWithoutQuestion)
{
    Type(myForm1, "x");
    QTemporaryDir dir;
    ASSERT_TRUE(myForm1->SaveAsPlain(dir.filePath("saved"), true));
    ModalAnswerer answerer;
    myForm1->Close1->trigger();
    Flush();
    EXPECT_TRUE(myForm1.isNull());
    EXPECT_EQ(answerer.Unexpected(), 0);
}

TEST_F(Frame, ExitAndClosingTheFrameAskForEveryUnsavedEditor)
{
    frame_->New1Click();
    const QList<TmyForm1*> editors = Editors();
    ASSERT_EQ(editors.size(), 2);
    Type(editors[0], "first");
    Type(editors[1], "second");
    QSignalSpy closed(frame_.get(), &TMyMDI::FrameClosed);
    ModalAnswerer answerer;

    // The editor's Exit: No to the first question keeps everything.
    answerer.Expect(testsupport::ClickButton(QMessageBox::No));
    editors[0]->Exit1->trigger();
    Flush();
    EXPECT_EQ(closed.count(), 0);
    EXPECT_TRUE(frame_->isVisible());
    EXPECT_EQ(Editors().size(), 2);

    // The frame's close: Yes to the first, No to the second: the first goes, the frame stays.
    answerer.Expect(testsupport::ClickButton(QMessageBox::Yes));
    answerer.Expect(testsupport::ClickButton(QMessageBox::No));
    EXPECT_FALSE(frame_->close());
    Flush();
    EXPECT_EQ(closed.count(), 0);
    ASSERT_EQ(Editors().size(), 1);
    EXPECT_EQ(Editors()[0]->MEMO1->toPlainText(), QStringLiteral("second"));

    // The frame's Exit entry: Yes ends the program.
    answerer.Expect(testsupport::ClickButton(QMessageBox::Yes));
    frame_->Exit1->trigger();
    Flush();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(frame_->MdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(answerer.Unexpected(), 0);
    EXPECT_EQ(answerer.Seen().size(), 4u);
    for (const auto& seen : answerer.Seen())
        EXPECT_EQ(seen.text, QStringLiteral("Exit without saving changes?"));
}

}  // namespace
