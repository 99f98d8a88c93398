#include "ftp/FtpWindowHelpers.h"

#include "frame/FrameCommands.h"

#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

namespace ftpui {

QString InputBox(QWidget* parent, const QString& title, const QString& prompt)
{
    QInputDialog box(parent);
    box.setObjectName(QStringLiteral("InputBox"));
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(QString());
    if (box.exec() != QDialog::Accepted) return QString();
    return box.textValue();
}

void ShowMessage(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

QWidget* FindWindow(const QString& name)
{
    if (frame::TFrameCommands* f = frame::Frame()) return f->FindWindowByName(name);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name) return w;
    return nullptr;
}

void CenterOnScreen(QWidget* window)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(0, 0), window->size());
        r.moveCenter(screen->availableGeometry().center());
        window->move(r.topLeft());
    }
}

void ShowWindow(QWidget* window)
{
    if (!window) return;
    if (window->isMinimized()) window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

std::string LocalBytes(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

QString LocalText(const std::string& path)
{
    return QFile::decodeName(QByteArray(path.data(), qsizetype(path.size())));
}

}  // namespace ftpui
