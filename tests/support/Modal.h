// Answering the modal dialogs that real windows open (message boxes, file, font and print
// dialogs) while a test drives them: a handler queued with Expect() gets the next modal widget
// that comes up and closes it. A modal widget that comes up with no handler queued is
// recorded and rejected, so a test never hangs on an unexpected question.
#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <ostream>

class QWidget;

namespace testsupport {

// What a handler saw.
struct ModalSeen {
    QString className;
    QString title;
    QString text;        // message box text; input box prompt
    QString nameFilter;  // file dialog: the selected name filter
    QStringList nameFilters;
    QString proposedName;  // file dialog: the file name it proposed
};

class ModalAnswerer : public QObject {
public:
    using Handler = std::function<void(QWidget* modal, ModalSeen& seen)>;

    ModalAnswerer();
    ~ModalAnswerer() override;

    void Expect(Handler handler);
    // Handlers not yet used.
    int Pending() const { return int(handlers_.size()); }
    // Every modal widget answered (in order), including the unexpected ones.
    const std::deque<ModalSeen>& Seen() const { return seen_; }
    // Modal widgets that came up with no handler queued.
    int Unexpected() const { return unexpected_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Poll();

    QTimer timer_;
    std::deque<Handler> handlers_;
    std::deque<ModalSeen> seen_;
    QPointer<QWidget> handled_;
    QPointer<QWidget> sighted_;
    QElapsedTimer sightedAt_;
    QElapsedTimer handledAt_;
    int unexpected_ = 0;
};

// Handlers.
ModalAnswerer::Handler ClickButton(QMessageBox::StandardButton button);
// Chooses path in a QFileDialog and accepts it.
ModalAnswerer::Handler ChooseFile(const QString& path);
// Rejects (cancels) any dialog.
ModalAnswerer::Handler Cancel();
// Accepts any dialog as it stands (a print or font dialog).
ModalAnswerer::Handler Accept();
// Types text into an input box (QInputDialog) and accepts it.
ModalAnswerer::Handler TypeText(const QString& text);

}  // namespace testsupport

// Readable QString values in GoogleTest failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
