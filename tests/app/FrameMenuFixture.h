// A frame made by the program's start-up, and its menus chosen with the mouse through the real
// menu bar, for the tests of the Internet entries that open windows inside the frame.
#pragma once

#include "app/FrameWindow.h"
#include "app/Startup.h"

#include "support/EventLoopWait.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <memory>

#include <gtest/gtest.h>

class FrameMenuFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        frame_.reset(CreateStartupWindows());
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
    }
    void TearDown() override
    {
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
    // Opens menuTitle on the menu bar and clicks entry, both with the mouse.
    void Choose(const QString& menuTitle, const QString& entry)
    {
        using testsupport::ProcessEventsUntil;
        QMenuBar* bar = frame_->menuBar();
        QAction* menuAction = nullptr;
        for (QAction* a : bar->actions())
            if (a->text() == menuTitle) menuAction = a;
        ASSERT_NE(menuAction, nullptr) << menuTitle.toStdString();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menuAction).center());
        QMenu* menu = menuAction->menu();
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(ProcessEventsUntil([&] { return menu->isVisible(); }, 5000));
        QAction* item = nullptr;
        for (QAction* a : menu->actions())
            if (a->text() == entry) item = a;
        ASSERT_NE(item, nullptr) << entry.toStdString();
        ASSERT_TRUE(item->isEnabled());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        ASSERT_TRUE(ProcessEventsUntil([&] { return !menu->isVisible(); }, 5000));
        // The offscreen platform has no window manager to give the frame its activation back
        // from the closed popup.
        frame_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
    }
    // The frame's child windows of one class, in the order they were created.
    template <typename T>
    QList<T*> Children() const
    {
        QList<T*> out;
        for (QMdiSubWindow* sub : frame_->MdiArea()->subWindowList(QMdiArea::CreationOrder))
            if (auto* w = qobject_cast<T*>(sub->widget())) out.append(w);
        return out;
    }

    std::unique_ptr<TMyMDI> frame_;
};
