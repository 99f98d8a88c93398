#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>

namespace testsupport {

ModalAnswerer::ModalAnswerer()
{
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
}

ModalAnswerer::~ModalAnswerer()
{
    timer_.stop();
}

void ModalAnswerer::Expect(Handler handler)
{
    handlers_.push_back(std::move(handler));
}

void ModalAnswerer::Poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == handled_ || !modal->isVisible()) return;
    handled_ = modal;
    ModalSeen seen;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) seen.text = box->text();
    if (auto* dlg = qobject_cast<QFileDialog*>(modal)) {
        seen.nameFilter = dlg->selectedNameFilter();
        seen.nameFilters = dlg->nameFilters();
        if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            seen.proposedName = edit->text();
    }
    if (handlers_.empty()) {
        ++unexpected_;
        seen_.push_back(seen);
        if (auto* dlg = qobject_cast<QDialog*>(modal))
            dlg->reject();
        else
            modal->close();
        return;
    }
    Handler h = std::move(handlers_.front());
    handlers_.pop_front();
    h(modal, seen);
    seen_.push_back(seen);
}

ModalAnswerer::Handler ClickButton(QMessageBox::StandardButton button)
{
    return [button](QWidget* modal, ModalSeen&) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box && box->button(button)) {
            box->button(button)->click();
        } else if (auto* dlg = qobject_cast<QDialog*>(modal)) {
            dlg->reject();
        }
    };
}

ModalAnswerer::Handler ChooseFile(const QString& path)
{
    return [path](QWidget* modal, ModalSeen&) {
        auto* dlg = qobject_cast<QFileDialog*>(modal);
        if (!dlg) {
            if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
            return;
        }
        dlg->selectFile(path);
        static_cast<QDialog*>(dlg)->accept();
    };
}

ModalAnswerer::Handler Cancel()
{
    return [](QWidget* modal, ModalSeen&) {
        if (auto* d = qobject_cast<QDialog*>(modal))
            d->reject();
        else
            modal->close();
    };
}

ModalAnswerer::Handler Accept()
{
    return [](QWidget* modal, ModalSeen&) {
        if (auto* d = qobject_cast<QDialog*>(modal))
            d->accept();
        else
            modal->close();
    };
}

}  // namespace testsupport
