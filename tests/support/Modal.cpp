#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
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
    if (!modal || !modal->isVisible()) return;
    if (modal == handled_) {
        // Still closing after its answer; one that stays up is closed after a bound.
        if (handledAt_.elapsed() > 5000) {
            ++unexpected_;
            if (auto* dlg = qobject_cast<QDialog*>(modal))
                dlg->reject();
            else
                modal->close();
        }
        return;
    }
    // Let a dialog settle (a file dialog loads its directory asynchronously) before answering.
    if (modal != sighted_) {
        sighted_ = modal;
        sightedAt_.start();
        return;
    }
    if (sightedAt_.elapsed() < 30) return;
    sighted_ = nullptr;
    handled_ = modal;
    handledAt_.start();
    // A dialog that is shown again later (the editor keeps its file dialogs) counts anew.
    modal->installEventFilter(this);
    ModalSeen seen;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) seen.text = box->text();
    if (auto* input = qobject_cast<QInputDialog*>(modal)) seen.text = input->labelText();
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

bool ModalAnswerer::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide && watched == handled_) {
        watched->removeEventFilter(this);
        handled_ = nullptr;
    }
    return QObject::eventFilter(watched, event);
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
        const QFileInfo info(path);
        dlg->setDirectory(info.absolutePath());
        if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(info.fileName());
        else
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

ModalAnswerer::Handler TypeText(const QString& text)
{
    return [text](QWidget* modal, ModalSeen&) {
        auto* input = qobject_cast<QInputDialog*>(modal);
        if (!input) {
            if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
            return;
        }
        if (auto* edit = input->findChild<QLineEdit*>())
            edit->setText(text);
        else
            input->setTextValue(text);
        input->accept();
    };
}

}  // namespace testsupport
