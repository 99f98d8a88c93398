// TmyForm1: the editor window, one document in a rich-text control (MEMO1) with a formatting
// toolbar, a status panel, the file operations for Unix text, DOS text and rich text, word wrap,
// the clipboard and printing. A child window of the frame; its menus (File, View, Format, Internet)
// merge into the frame's menu bar while it is active (frame::TMenuMergeClient).
//
// Rules beyond the plain menu actions:
// - The modified flag is set by every key typed into MEMO1 and every change of its content, and
//   cleared by a successful open or save (only once the file is fully written). Window
//   activation leaves it alone. Closing the window by any path (Close, the window's close
//   button, Exit, closing the frame) asks "Exit without saving changes?" while it is set.
// - A formatting command applies to the selection's characters, or with an empty selection to
//   the document's default character attributes; the toolbar follows the selection, guarded by
//   the updating flag so that the toolbar's own change events are not applied back.
// - Tab inserts nine spaces; the clipboard is left alone.
// - A load that fails leaves the document in the window as it was.
// - The status count "Number of Lines = N" is kept up to date from the document's changes
//   (editor::TLineCounter), so a keystroke costs the same in a document of any length; with word
//   wrap, a change of the window's width is counted again from the event loop and the status
//   follows when that is done. Screen lines count while MEMO1 is on the screen; while it is
//   hidden (during an import) the paragraphs and line breaks do.
// - MEMO1's horizontal scroll bar shows only when a line is wider than the control (never with
//   word wrap on); the vertical one is always there.
#pragma once

#include "frame/FrameCommands.h"

#include <QPointer>
#include <QString>
#include <QTextEdit>
#include <QWidget>

#include <memory>

class QAction;
class QComboBox;
class QFileDialog;
class QLabel;
class QMenu;
class QPrinter;
class QStatusBar;
class QToolBar;
class QToolButton;
class QButtonGroup;
class QTextCharFormat;

namespace editor {
class TLineCounter;
}

// The rich-text control: a QTextEdit whose formatting rectangle keeps a margin at the left and
// the right (the viewport's margins; the document itself has none).
class TRichMemo : public QTextEdit {
    Q_OBJECT

public:
    using QTextEdit::QTextEdit;
    // Sets the margins when they differ (setting them lays the control out again).
    void SetSideMargins(int pixels);
    int LeftMargin() const { return viewportMargins().left(); }
    int RightMargin() const { return viewportMargins().right(); }
};

class TmyForm1 : public QWidget, public frame::TMenuMergeClient {
    Q_OBJECT

public:
    explicit TmyForm1(QWidget* parent = nullptr);
    ~TmyForm1() override;

    QList<QMenu*> MergedMenus() const override;

    // ---- State ----
    bool Modified() const { return modified_; }
    void SetModified(bool on) { modified_ = on; }
    bool Updating() const { return updating_; }
    // Set by the Unix import when asked to; the print job's title.
    const QString& CurrentFileName() const { return currentFileName_; }
    void SetCurrentFileName(const QString& name) { currentFileName_ = name; }
    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& caption) { setWindowTitle(caption); }
    // The status bar's one panel.
    QString StatusText() const;
    void SetStatusText(const QString& text);
    // True while a Unix import fills this window.
    bool Importing() const { return importing_; }
    // The printer the print dialog configures; kept per window so its settings last.
    QPrinter* Printer();

    // ---- File operations after their dialogs (each shows its own error box and returns
    // false on failure; the document is then unchanged) ----
    bool LoadDosOrRtf(const QString& path);
    // Appends the default extension when the name has none, asks before replacing another
    // file than the one named in the dialog, sets the caption and writes.
    bool SaveAsPlain(const QString& name, bool dos);
    bool SaveAsRtf(const QString& name);
    // Prints the formatted document on the whole printable area of each page; the job's title
    // is the current file name. False (and an error box) when printing fails.
    bool PrintDocument(QPrinter* printer);

    // How often the Unix import lets the program process its events while it reads (ms);
    // 0 processes them after every block read. Program-wide.
    static void SetImportPumpInterval(int ms);
    static int ImportPumpInterval();

    // ---- Controls (component names) ----
    QToolBar* ToolBar1 = nullptr;
    QToolButton* BoldButton = nullptr;
    QToolButton* ItalicButton = nullptr;
    QToolButton* UnderlineButton = nullptr;
    QToolButton* Bulletsbutton = nullptr;
    QComboBox* Fontname = nullptr;
    QComboBox* fontsize = nullptr;
    QToolButton* Leftalign = nullptr;
    QToolButton* centeralign = nullptr;
    QToolButton* rightalign = nullptr;
    TRichMemo* MEMO1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel = nullptr;
    // Keeps the status count of MEMO1's lines.
    editor::TLineCounter* LineCounter = nullptr;

    QMenu* File1 = nullptr;
    QMenu* View1 = nullptr;
    QMenu* Format1 = nullptr;
    QMenu* Internet1 = nullptr;
    QMenu* TextPopup = nullptr;
    QAction* NewWindow1 = nullptr;
    QAction* Close1 = nullptr;
    QAction* OpenDosText1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* SaveasDos1 = nullptr;
    QAction* SaveRTFtext1 = nullptr;
    QAction* SaveasUnix1 = nullptr;
    QAction* Print1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* WordWrap1 = nullptr;
    QAction* Font1 = nullptr;
    QAction* StartFTP1 = nullptr;
    QAction* Telnet1 = nullptr;
    QAction* TelnetNoTermEmulation1 = nullptr;
    QAction* Cut1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* Paste1 = nullptr;
    QAction* Delete1 = nullptr;

public slots:
    // Menu handlers.
    void NewWindow1Click();
    void Close1Click();
    void OpenDosText1Click();
    void Open1Click();
    void SaveasDos1Click();
    void SaveRTFtext1Click();
    void SaveasUnix1Click();
    void Print1Click();
    void Exit1Click();
    void WordWrap1Click();
    void Font1Click();
    void StartFTP1Click();
    void Telnet1Click();
    void TelnetNoTermEmulation1Click();
    void Cut1Click();
    void Copy1Click();
    void Paste1Click();
    void Delete1Click();

    // Control handlers.
    void Memo1Change();
    void MEMO1SelectionChange();
    void FontnameChange(const QString& text);
    void FontsizeChange(const QString& text);
    void BoldButtonClick();
    void ItalicButtonClick();
    void UnderlineButtonClick();
    void BulletsbuttonClick();
    void LeftalignClick();
    void AlignButtonClick();
    void rightalignClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend bool ImportUnixText(TmyForm1* form, const QString& path, bool recordPath);

    void FormCreate();
    void BuildToolbar();
    void BuildMenus();
    void SetMemoMargins();
    // Whether the line count takes MEMO1's screen lines (word wrap on and MEMO1 shown).
    void UpdateLineCountMode(bool shown);
    void UpdateInternetEntries();
    void SetFileCommandsEnabled(bool on);
    // The window that holds this editor in the frame (its QMdiSubWindow), or the editor itself.
    QWidget* OuterWindow();
    QFileDialog* OpenDialog(int filterIndex);
    QFileDialog* SaveDialog(int filterIndex);
    // Runs the save dialog with the caption as the proposed name; empty on cancel.
    QString RunSaveDialog(int filterIndex);
    // Asks before replacing an existing file; true when the save may go on.
    bool ConfirmReplace(const QString& path);
    bool ReportSaveResult(const QString& path, int err, bool created, bool rtf);

    // Formatting targets: the selection's characters, or the default attributes.
    bool HasSelection() const;
    // Applies the properties set in change to the target.
    void ApplyCharacterFormat(const QTextCharFormat& change);
    // The character attributes shown for the selection (resolved against the default font).
    QFont SelectionFont() const;

    bool modified_ = false;
    bool updating_ = false;
    bool importing_ = false;
    bool importCancelled_ = false;
    bool loading_ = false;
    QString currentFileName_;
    QButtonGroup* alignGroup_ = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    std::unique_ptr<QPrinter> printer_;
};

// Fills form's MEMO1 from the Unix text file at path (bytes 32..126 kept, LF ends a line, every
// other byte dropped), showing "N Lines read" in the status panel and processing the program's
// events while it reads. recordPath makes path the window's current file name. On failure an
// error box names the fault and the document stays as it was. Returns true on success; false
// also when the window was closed during the import (form is then gone). Other windows use it
// too: the FTP viewer creates a new editor (frame::Frame()->AddChildWindow), sets its caption
// and imports the downloaded file without recording its path.
bool ImportUnixText(TmyForm1* form, const QString& path, bool recordPath);

// The editor created at start-up; null once it is closed.
inline QPointer<TmyForm1> myForm1;
