// The program's message boxes, shared by every window so they look and read alike:
// - ErrorBox: the application's default error box (the message text and an OK button), shown
//   for every failure a window reports to the user;
// - AskYesNo: a question with Yes and No; only Yes goes on.
// Both are modal QMessageBoxes (tests answer them by finding the active modal widget).
#pragma once

#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <QWidget>

namespace frame {

inline void ErrorBox(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

inline bool AskYesNo(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace frame
