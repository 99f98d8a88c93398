// The editor window's file operations: Unix import, DOS-or-RTF open, the three saves, printing.
#include "editor/EditorWindow.h"
#include "editor/EditorDocumentLayout.h"
#include "editor/LineCounter.h"
#include "editor/Rtf.h"
#include "editor/TextConvert.h"
#include "frame/MessageBoxes.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct Filter {
    const char* text;
    const char* patterns;
};

// Open dialog entries, index from 1.
constexpr Filter kOpenFilters[] = {
    {"Rich Text  ( *.RTF )", "*.rtf"},
    {"Dos Text  ( *.TXT )", "*.txt"},
    {"Dos or Rich Text (*.TXT or  *.RTF)", "*.rtf;*.txt"},
    {"All Files  ( *.* ) (for unix types)", "*.*"},
    {"HTML  ( *.HTM or  *.HTML)", "*.htm;*.html"},
};
constexpr int kOpenUnix = 4;
constexpr int kOpenDosOrRtf = 3;

// Save dialog entries.
constexpr Filter kSaveFilters[] = {
    {"Dos ( *.TXT )", "*.txt"},
    {"Rich Text  ( *.RTF )", "*.rtf"},
    {"Unix ( *.UNI )", "*.uni"},
    {"All Files ( *.* )", "*.*"},
};
constexpr int kSaveDos = 1;
constexpr int kSaveRtf = 2;
constexpr int kSaveUnix = 3;

// "Text (patterns)" for the Qt dialog. Patterns are separated by blanks there, and "*.*" means
// every file (as on the desktop the filters come from), not only names with a full stop.
template <std::size_t N>
QStringList NameFilters(const Filter (&filters)[N])
{
    QStringList out;
    for (const Filter& f : filters) {
        QString patterns = QString::fromLatin1(f.patterns);
        patterns.replace(u';', u' ');
        if (patterns == QLatin1String("*.*")) patterns = QStringLiteral("*");
        out.append(QStringLiteral("%1 (%2)").arg(QLatin1String(f.text), patterns));
    }
    return out;
}

int g_pumpIntervalMs = 50;
// Characters of whole lines put into the control at a time while it is filled.
constexpr qsizetype kFillPiece = 256 * 1024;

// Shows the busy cursor while it lives.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

void TmyForm1::SetImportPumpInterval(int ms)
{
    g_pumpIntervalMs = ms < 0 ? 0 : ms;
}

int TmyForm1::ImportPumpInterval()
{
    return g_pumpIntervalMs;
}

void TmyForm1::SetFileCommandsEnabled(bool on)
{
    // While an import fills the window its file, formatting and print commands wait.
    for (QAction* a : {OpenDosText1, Open1, SaveasDos1, SaveRTFtext1, SaveasUnix1, Print1, Font1})
        a->setEnabled(on);
    ToolBar1->setEnabled(on);
}

// ---- Dialogs ----------------------------------------------------------------------------------

QFileDialog* TmyForm1::OpenDialog(int filterIndex)
{
    if (!OpenDialog1) {
        OpenDialog1 = new QFileDialog(this);
        OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
        OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
        // The named file need not exist (a missing one is reported by the operation).
        OpenDialog1->setFileMode(QFileDialog::AnyFile);
        OpenDialog1->setOption(QFileDialog::HideNameFilterDetails);
        OpenDialog1->setNameFilters(NameFilters(kOpenFilters));
    }
    OpenDialog1->selectNameFilter(OpenDialog1->nameFilters().at(filterIndex - 1));
    return OpenDialog1;
}

QFileDialog* TmyForm1::SaveDialog(int filterIndex)
{
    if (!SaveDialog1) {
        SaveDialog1 = new QFileDialog(this);
        SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
        SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog1->setFileMode(QFileDialog::AnyFile);
        SaveDialog1->setOption(QFileDialog::HideNameFilterDetails);
        // The question about replacing a file is asked for the name finally written, after
        // the default extension is added (ConfirmReplace), not for the name typed here.
        SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
        SaveDialog1->setNameFilters(NameFilters(kSaveFilters));
    }
    SaveDialog1->selectNameFilter(SaveDialog1->nameFilters().at(filterIndex - 1));
    return SaveDialog1;
}

QString TmyForm1::RunSaveDialog(int filterIndex)
{
    QFileDialog* dlg = SaveDialog(filterIndex);
    dlg->selectFile(Caption());
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty()) return QString();
    return dlg->selectedFiles().constFirst();
}

bool TmyForm1::ConfirmReplace(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) return true;
    return frame::AskYesNo(
        this, QStringLiteral("Confirm Save As"),
        QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(info.fileName()));
}

// ---- Menu handlers ----------------------------------------------------------------------------

void TmyForm1::Open1Click()
{
    if (importing_) return;
    QFileDialog* dlg = OpenDialog(kOpenUnix);
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty()) return;
    const QString path = dlg->selectedFiles().constFirst();
    SetCaption(path);
    ImportUnixText(this, path, true);
}

void TmyForm1::OpenDosText1Click()
{
    if (importing_) return;
    QFileDialog* dlg = OpenDialog(kOpenDosOrRtf);
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty()) return;
    LoadDosOrRtf(dlg->selectedFiles().constFirst());
}

void TmyForm1::SaveasDos1Click()
{
    if (importing_) return;
    const QString name = RunSaveDialog(kSaveDos);
    if (!name.isEmpty()) SaveAsPlain(name, true);
}

void TmyForm1::SaveasUnix1Click()
{
    if (importing_) return;
    const QString name = RunSaveDialog(kSaveUnix);
    if (!name.isEmpty()) SaveAsPlain(name, false);
}

void TmyForm1::SaveRTFtext1Click()
{
    if (importing_) return;
    const QString name = RunSaveDialog(kSaveRtf);
    if (!name.isEmpty()) SaveAsRtf(name);
}

void TmyForm1::Print1Click()
{
    if (importing_) return;
    QPrinter* printer = Printer();
    QPrintDialog dialog(printer, this);
    dialog.setObjectName(QStringLiteral("PrintDialog1"));
    if (dialog.exec() != QDialog::Accepted) return;
    PrintDocument(printer);
}

// ---- Loads ------------------------------------------------------------------------------------

bool TmyForm1::LoadDosOrRtf(const QString& path)
{
    QByteArray data;
    bool opened = false;
    const int err = editor::ReadWholeFile(path, &data, editor::kMaxEditBytes, &opened);
    if (err != 0) {
        if (err == editor::kFileTooLarge)
            frame::ErrorBox(this, editor::FileErrorMessage(err));
        else if (opened)  // opened, but not read through
            frame::ErrorBox(this, QStringLiteral("Failed to Load Stream"));
        else
            frame::ErrorBox(this, QStringLiteral("Cannot open file %1").arg(path));
        return false;
    }
    // The whole file is in memory now, so nothing below can fail: rich text, or else plain text
    // (which any bytes are), replaces the document.
    {
        BusyCursor busy;
        QTextDocument* doc = MEMO1->document();
        // One line count at the end instead of one per change the reader makes.
        loading_ = true;
        doc->setUndoRedoEnabled(false);
        MEMO1->clear();
        if (!editor::IsRtf(data) || !editor::ReadRtf(data, *doc)) {
            MEMO1->clear();
            MEMO1->setPlainText(editor::PlainTextFromBytes(data));
        }
        doc->setUndoRedoEnabled(true);
        SetMemoMargins();
        loading_ = false;
        MEMO1->moveCursor(QTextCursor::Start);
    }
    SetCaption(path);
    Memo1Change();
    modified_ = false;
    MEMO1SelectionChange();
    return true;
}

bool ImportUnixText(TmyForm1* form, const QString& path, bool recordPath)
{
    if (!form || form->importing_) return false;
    QPointer<TmyForm1> guard(form);
    editor::InputFile file;
    editor::UnixTextFilter filter;
    BusyCursor busy;
    form->importing_ = true;
    form->importCancelled_ = false;
    form->SetFileCommandsEnabled(false);
    form->MEMO1->hide();

    // Puts the window back into its usual state; the document is untouched unless filled.
    auto finish = [&guard]() {
        if (!guard) return;
        guard->importing_ = false;
        guard->SetFileCommandsEnabled(true);
        guard->MEMO1->show();
    };
    auto fail = [&](int err) {
        finish();
        if (guard) frame::ErrorBox(guard, editor::FileErrorMessage(err));
        return false;
    };

    if (const int err = file.Open(path)) return fail(err);
    if (recordPath) form->SetCurrentFileName(path);
    filter.Reserve(file.Size());

    // Read in blocks; the program's events are processed every ImportPumpInterval() ms, with
    // the status showing the lines read so far.
    std::vector<char> block(std::size_t(1) << 20);
    QElapsedTimer sincePump;
    sincePump.start();
    for (;;) {
        const std::int64_t n = file.Read(block.data(), std::int64_t(block.size()));
        if (n < 0) return fail(file.Error());
        if (n == 0) break;
        filter.Feed(block.data(), n);
        if (sincePump.elapsed() >= g_pumpIntervalMs) {
            form->SetStatusText(QStringLiteral("%1 Lines read").arg(filter.Lines() - 1));
            QCoreApplication::processEvents();
            if (!guard || guard->importCancelled_) {
                finish();
                return false;
            }
            sincePump.restart();
        }
    }
    file.Close();
    const std::int64_t lines = filter.Lines();

    form->SetStatusText(QStringLiteral("Inserting text into edit window...."));
    QCoreApplication::processEvents();
    if (!guard || guard->importCancelled_) {
        finish();
        return false;
    }
    sincePump.restart();
    // The control is filled from the list of lines while it is hidden, in pieces of whole lines
    // with the program's events processed between them, so the program keeps responding while
    // a large file goes in (one step would hold the event loop for seconds).
    {
        const QString text = filter.TakeText();
        QTextDocument* doc = form->MEMO1->document();
        doc->setUndoRedoEnabled(false);
        form->MEMO1->clear();
        QTextCursor cursor(doc);
        qsizetype pos = 0;
        while (pos < text.size()) {
            qsizetype end = std::min(pos + kFillPiece, text.size());
            if (end < text.size()) {
                const qsizetype lf = text.indexOf(u'\n', end - 1);
                end = lf < 0 ? text.size() : lf + 1;
            }
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(text.mid(pos, end - pos));
            // The piece's lines are counted now, not at the first keystroke after the import;
            // they are plain lines (no line separators).
            form->LineCounter->CountPlainChange();
            pos = end;
            if (pos < text.size() && sincePump.elapsed() >= g_pumpIntervalMs) {
                QCoreApplication::processEvents();
                if (!guard || guard->importCancelled_) {
                    if (guard) doc->setUndoRedoEnabled(true);
                    finish();
                    return false;
                }
                sincePump.restart();
            }
        }
        doc->setUndoRedoEnabled(true);
        form->MEMO1->moveCursor(QTextCursor::Start);
    }
    finish();
    form->SetStatusText(QStringLiteral("%1 Lines read").arg(lines));
    form->modified_ = false;
    form->MEMO1SelectionChange();
    return true;
}

// ---- Saves ------------------------------------------------------------------------------------

bool TmyForm1::ReportSaveResult(const QString& path, int err, bool created, bool rtf)
{
    if (err == 0) {
        modified_ = false;
        return true;
    }
    if (rtf)
        frame::ErrorBox(this, created ? QStringLiteral("Failed to Save Stream")
                                      : QStringLiteral("Cannot create file %1").arg(path));
    else
        frame::ErrorBox(this, editor::FileErrorMessage(err));
    return false;
}

bool TmyForm1::SaveAsPlain(const QString& name, bool dos)
{
    const QString path = editor::AddDefaultExtension(
        name, QLatin1String(dos ? editor::kDosExtension : editor::kUnixExtension));
    if (!ConfirmReplace(path)) return false;
    SetCaption(path);
    QTextDocument* doc = MEMO1->document();
    const bool wrapped = MEMO1->lineWrapMode() != QTextEdit::NoWrap;
    // The line model needs the whole document laid out at the control's width.
    if (wrapped) editor::TEditorDocumentLayout::LayOutWholeDocument(doc);
    const QByteArray bytes = editor::JoinLines(editor::DocumentLines(*doc, wrapped),
                                               dos ? editor::LineEnd::Dos : editor::LineEnd::Unix);
    bool created = false;
    const int err = editor::WriteWholeFile(path, bytes, &created);
    return ReportSaveResult(path, err, created, false);
}

bool TmyForm1::SaveAsRtf(const QString& name)
{
    const QString path = editor::AddDefaultExtension(name, QLatin1String(editor::kRtfExtension));
    if (!ConfirmReplace(path)) return false;
    SetCaption(path);
    const QByteArray bytes = editor::WriteRtf(*MEMO1->document());
    bool created = false;
    const int err = editor::WriteWholeFile(path, bytes, &created);
    return ReportSaveResult(path, err, created, true);
}

// ---- Printing ---------------------------------------------------------------------------------

bool TmyForm1::PrintDocument(QPrinter* printer)
{
    printer->setDocName(currentFileName_);
    // The text fills the whole printable area: page coordinates start at its corner.
    printer->setFullPage(false);
    std::unique_ptr<QTextDocument> doc(MEMO1->document()->clone());
    doc->documentLayout()->setPaintDevice(printer);
    doc->setDocumentMargin(0);
    const QRectF area = printer->pageRect(QPrinter::DevicePixel);
    if (area.width() < 1 || area.height() < 1) {
        frame::ErrorBox(this, QStringLiteral("Printing failed: the page has no printable area"));
        return false;
    }
    doc->setPageSize(area.size());
    const int pages = doc->pageCount();

    BusyCursor busy;
    QPainter painter;
    if (!painter.begin(printer)) {
        frame::ErrorBox(this,
                        QStringLiteral("Printing failed: the printer could not be started (%1)")
                            .arg(printer->printerName().isEmpty() ? printer->outputFileName()
                                                                  : printer->printerName()));
        return false;
    }
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !printer->newPage()) break;
        painter.save();
        const QRectF clip(0, page * area.height(), area.width(), area.height());
        painter.translate(0, -clip.top());
        doc->drawContents(&painter, clip);
        painter.restore();
    }
    const bool ok = painter.end() && printer->printerState() != QPrinter::Error;
    if (!ok) frame::ErrorBox(this, QStringLiteral("Printing failed: the print job was aborted"));
    return ok;
}
