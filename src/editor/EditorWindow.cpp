// The editor window: construction, toolbar, menus, formatting commands and the close rule.
// File operations, the Unix import and printing are in EditorFileCommands.cpp.
#include "editor/EditorWindow.h"

#include "editor/EditorDocumentLayout.h"
#include "editor/LineCounter.h"
#include "editor/TextConvert.h"
#include "frame/MessageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QPrinter>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextList>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {

// Text of a tab key press: nine spaces (eight "pasted" plus the key itself as a space).
const QString kTabText = QString(9, u' ');
const QString kLineCountText = QStringLiteral("Number of Lines = ");
constexpr int kMemoMargin = 6;
// RichEdit's limit for a character height; larger sizes are not applied.
constexpr int kMaxFontPoints = 1638;

// Toolbar images, drawn here so the program ships no image files.
QIcon LetterIcon(const QString& letter, bool bold, bool italic, bool underline)
{
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    QFont f(QStringLiteral("Serif"));
    f.setPixelSize(16);
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(pm.rect(), Qt::AlignCenter, letter);
    return QIcon(pm);
}

QIcon LinesIcon(Qt::Alignment align, bool bullets)
{
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QPen(Qt::black, 2));
    const int widths[] = {16, 10, 14, 8};
    for (int i = 0; i < 4; ++i) {
        const int y = 4 + i * 4;
        int w = widths[i];
        int x = 2;
        if (bullets) {
            p.drawPoint(3, y);
            x = 7;
            w = 11;
        } else if (align == Qt::AlignHCenter) {
            x = (20 - w) / 2;
        } else if (align == Qt::AlignRight) {
            x = 18 - w;
        }
        p.drawLine(x, y, x + w, y);
    }
    return QIcon(pm);
}

QToolButton* ToggleButton(QWidget* parent, const char* name, const QString& hint, const QIcon& icon)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setCheckable(true);
    b->setToolTip(hint);
    b->setIcon(icon);
    b->setFixedSize(25, 31);
    b->setAutoRaise(true);
    return b;
}

QAction* MenuEntry(QMenu* menu, const char* name, const QString& text)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(QLatin1String(name));
    return a;
}

// A whole decimal number: optional sign and digits only, within the int range.
bool ParseWholeNumber(const QString& text, int* value)
{
    if (text.isEmpty()) return false;
    qsizetype i = 0;
    if (text.at(0) == u'+' || text.at(0) == u'-') i = 1;
    if (i == text.size()) return false;
    for (qsizetype k = i; k < text.size(); ++k)
        if (text.at(k) < u'0' || text.at(k) > u'9') return false;
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok) return false;
    *value = v;
    return true;
}

}  // namespace

void TRichMemo::SetSideMargins(int pixels)
{
    const QMargins want(pixels, 0, pixels, 0);
    if (viewportMargins() != want) setViewportMargins(want);
}

TmyForm1::TmyForm1(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("myForm1"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(559, 299);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    BuildToolbar();
    layout->addWidget(ToolBar1);

    MEMO1 = new TRichMemo(this);
    MEMO1->setObjectName(QStringLiteral("MEMO1"));
    MEMO1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MEMO1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MEMO1->setTabChangesFocus(false);
    MEMO1->setLineWrapMode(QTextEdit::WidgetWidth);
    MEMO1->setAcceptRichText(true);
    // A layout whose cost per change does not grow with the document's length.
    MEMO1->document()->setDocumentLayout(new editor::TEditorDocumentLayout(MEMO1->document()));
    // The formatting rectangle runs from 6 pixels to the client width minus 6: no document
    // margin, and viewport margins painted in the text's background colour.
    MEMO1->document()->setDocumentMargin(0);
    MEMO1->setBackgroundRole(QPalette::Base);
    MEMO1->setAutoFillBackground(true);
    MEMO1->installEventFilter(this);
    MEMO1->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(MEMO1, 1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel = new QLabel(StatusBar1);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusPanel->setFixedWidth(300);
    StatusBar1->addWidget(StatusPanel);
    layout->addWidget(StatusBar1);

    BuildMenus();
    SetMemoMargins();

    LineCounter = new editor::TLineCounter(MEMO1->document(), false, this);
    connect(LineCounter, &editor::TLineCounter::Changed, this, [this] {
        // A recount after a change of the layout: the count shown follows, unless the status
        // shows something else by now.
        if (!importing_ && !loading_ && StatusText().startsWith(kLineCountText))
            SetStatusText(kLineCountText + QString::number(LineCounter->Count()));
    });
    connect(MEMO1, &QTextEdit::textChanged, this, &TmyForm1::Memo1Change);
    connect(MEMO1, &QTextEdit::selectionChanged, this, &TmyForm1::MEMO1SelectionChange);
    connect(MEMO1, &QTextEdit::cursorPositionChanged, this, &TmyForm1::MEMO1SelectionChange);
    connect(MEMO1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { TextPopup->popup(MEMO1->mapToGlobal(pos)); });

    FormCreate();
    // What the window does when first shown, done once here: in a frame a child window is
    // shown again after being minimised, and the document must survive that.
    SetCaption(QStringLiteral("Untitled"));
    MEMO1->clear();
    modified_ = false;
    MEMO1SelectionChange();
}

TmyForm1::~TmyForm1()
{
    importCancelled_ = true;
}

void TmyForm1::FormCreate()
{
    QStringList names = QFontDatabase::families();
    names.append(QStringLiteral("Default"));
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    updating_ = true;
    Fontname->addItems(names);
    updating_ = false;
}

void TmyForm1::BuildToolbar()
{
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->addSeparator();

    BoldButton = ToggleButton(ToolBar1, "BoldButton", QStringLiteral("Bold"),
                              LetterIcon(QStringLiteral("B"), true, false, false));
    ItalicButton = ToggleButton(ToolBar1, "ItalicButton", QStringLiteral("Italic"),
                                LetterIcon(QStringLiteral("I"), false, true, false));
    UnderlineButton = ToggleButton(ToolBar1, "UnderlineButton", QStringLiteral("Underline"),
                                   LetterIcon(QStringLiteral("U"), false, false, true));
    Bulletsbutton = ToggleButton(ToolBar1, "Bulletsbutton", QStringLiteral("Bullets"),
                                 LinesIcon(Qt::AlignLeft, true));
    for (QToolButton* b : {BoldButton, ItalicButton, UnderlineButton, Bulletsbutton})
        ToolBar1->addWidget(b);

    auto* panel = new QWidget(ToolBar1);
    panel->setObjectName(QStringLiteral("Panel1"));
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(2, 0, 2, 0);
    Fontname = new QComboBox(panel);
    Fontname->setObjectName(QStringLiteral("Fontname"));
    Fontname->setEditable(true);
    Fontname->setInsertPolicy(QComboBox::NoInsert);
    Fontname->setToolTip(QStringLiteral("Font Names"));
    Fontname->setMinimumWidth(150);
    fontsize = new QComboBox(panel);
    fontsize->setObjectName(QStringLiteral("fontsize"));
    fontsize->setEditable(true);
    fontsize->setInsertPolicy(QComboBox::NoInsert);
    fontsize->setToolTip(QStringLiteral("Font Size"));
    fontsize->setMinimumWidth(55);
    for (const char* s :
         {"6",  "7",  "8",  "9",  "10", "11", "12", "13", "14", "15", "16", "17", "18",
          "19", "20", "24", "26", "28", "30", "35", "40", "45", "50", "55", "60"})
        fontsize->addItem(QLatin1String(s));
    row->addWidget(Fontname);
    row->addWidget(fontsize);
    ToolBar1->addWidget(panel);
    ToolBar1->addSeparator();

    const QString alignHint = QStringLiteral("Turn on Word Wrap to use");
    Leftalign = ToggleButton(ToolBar1, "Leftalign", alignHint, LinesIcon(Qt::AlignLeft, false));
    centeralign =
        ToggleButton(ToolBar1, "centeralign", alignHint, LinesIcon(Qt::AlignHCenter, false));
    rightalign = ToggleButton(ToolBar1, "rightalign", alignHint, LinesIcon(Qt::AlignRight, false));
    alignGroup_ = new QButtonGroup(this);
    alignGroup_->setExclusive(true);
    for (QToolButton* b : {Leftalign, centeralign, rightalign}) {
        alignGroup_->addButton(b);
        ToolBar1->addWidget(b);
    }

    connect(BoldButton, &QToolButton::clicked, this, &TmyForm1::BoldButtonClick);
    connect(ItalicButton, &QToolButton::clicked, this, &TmyForm1::ItalicButtonClick);
    connect(UnderlineButton, &QToolButton::clicked, this, &TmyForm1::UnderlineButtonClick);
    connect(Bulletsbutton, &QToolButton::clicked, this, &TmyForm1::BulletsbuttonClick);
    connect(Leftalign, &QToolButton::clicked, this, &TmyForm1::LeftalignClick);
    connect(centeralign, &QToolButton::clicked, this, &TmyForm1::AlignButtonClick);
    connect(rightalign, &QToolButton::clicked, this, &TmyForm1::rightalignClick);
    connect(Fontname, &QComboBox::editTextChanged, this, &TmyForm1::FontnameChange);
    connect(fontsize, &QComboBox::editTextChanged, this, &TmyForm1::FontsizeChange);
}

void TmyForm1::BuildMenus()
{
    File1 = new QMenu(QStringLiteral("&File"), this);
    File1->setObjectName(QStringLiteral("File1"));
    NewWindow1 = MenuEntry(File1, "NewWindow1", QStringLiteral("New Window"));
    Close1 = MenuEntry(File1, "Close1", QStringLiteral("Close"));
    OpenDosText1 = MenuEntry(File1, "OpenDosText1", QStringLiteral("Open Dos or RTF Text"));
    Open1 = MenuEntry(File1, "Open1", QStringLiteral("&Open Unix Text"));
    SaveasDos1 = MenuEntry(File1, "SaveasDos1", QStringLiteral("Save as &Dos"));
    SaveRTFtext1 = MenuEntry(File1, "SaveRTFtext1", QStringLiteral("Save RTF text"));
    SaveasUnix1 = MenuEntry(File1, "SaveasUnix1", QStringLiteral("Save as &Unix"));
    Print1 = MenuEntry(File1, "Print1", QStringLiteral("Print"));
    File1->addSeparator()->setObjectName(QStringLiteral("N1"));
    Exit1 = MenuEntry(File1, "Exit1", QStringLiteral("E&xit"));

    View1 = new QMenu(QStringLiteral("View"), this);
    View1->setObjectName(QStringLiteral("View1"));
    WordWrap1 = MenuEntry(View1, "WordWrap1", QStringLiteral("Word Wrap"));
    WordWrap1->setCheckable(true);
    WordWrap1->setChecked(true);

    Format1 = new QMenu(QStringLiteral("Format"), this);
    Format1->setObjectName(QStringLiteral("Format1"));
    Font1 = MenuEntry(Format1, "Font1", QStringLiteral("Font"));

    Internet1 = new QMenu(QStringLiteral("Internet"), this);
    Internet1->setObjectName(QStringLiteral("Internet1"));
    StartFTP1 = MenuEntry(Internet1, "StartFTP1", QStringLiteral("FTP"));
    Telnet1 = MenuEntry(Internet1, "Telnet1", QStringLiteral("Telnet"));
    TelnetNoTermEmulation1 = MenuEntry(Internet1, "TelnetNoTermEmulation1",
                                       QStringLiteral("Telnet (No Term. Emulation)"));
    UpdateInternetEntries();
    connect(Internet1, &QMenu::aboutToShow, this, &TmyForm1::UpdateInternetEntries);

    TextPopup = new QMenu(this);
    TextPopup->setObjectName(QStringLiteral("TextPopup"));
    Cut1 = MenuEntry(TextPopup, "Cut1", QStringLiteral("Cut"));
    Copy1 = MenuEntry(TextPopup, "Copy1", QStringLiteral("Copy"));
    Paste1 = MenuEntry(TextPopup, "Paste1", QStringLiteral("Paste"));
    Delete1 = MenuEntry(TextPopup, "Delete1", QStringLiteral("Delete"));

    connect(NewWindow1, &QAction::triggered, this, &TmyForm1::NewWindow1Click);
    connect(Close1, &QAction::triggered, this, &TmyForm1::Close1Click);
    connect(OpenDosText1, &QAction::triggered, this, &TmyForm1::OpenDosText1Click);
    connect(Open1, &QAction::triggered, this, &TmyForm1::Open1Click);
    connect(SaveasDos1, &QAction::triggered, this, &TmyForm1::SaveasDos1Click);
    connect(SaveRTFtext1, &QAction::triggered, this, &TmyForm1::SaveRTFtext1Click);
    connect(SaveasUnix1, &QAction::triggered, this, &TmyForm1::SaveasUnix1Click);
    connect(Print1, &QAction::triggered, this, &TmyForm1::Print1Click);
    connect(Exit1, &QAction::triggered, this, &TmyForm1::Exit1Click);
    connect(WordWrap1, &QAction::triggered, this, &TmyForm1::WordWrap1Click);
    connect(Font1, &QAction::triggered, this, &TmyForm1::Font1Click);
    connect(StartFTP1, &QAction::triggered, this, &TmyForm1::StartFTP1Click);
    connect(Telnet1, &QAction::triggered, this, &TmyForm1::Telnet1Click);
    connect(TelnetNoTermEmulation1, &QAction::triggered, this,
            &TmyForm1::TelnetNoTermEmulation1Click);
    connect(Cut1, &QAction::triggered, this, &TmyForm1::Cut1Click);
    connect(Copy1, &QAction::triggered, this, &TmyForm1::Copy1Click);
    connect(Paste1, &QAction::triggered, this, &TmyForm1::Paste1Click);
    connect(Delete1, &QAction::triggered, this, &TmyForm1::Delete1Click);
}

QList<QMenu*> TmyForm1::MergedMenus() const
{
    return {File1, View1, Format1, Internet1};
}

void TmyForm1::UpdateInternetEntries()
{
    frame::TFrameCommands* f = frame::Frame();
    StartFTP1->setEnabled(f && f->CommandAvailable(frame::TFrameCommand::Ftp));
    Telnet1->setEnabled(f && f->CommandAvailable(frame::TFrameCommand::Telnet));
    TelnetNoTermEmulation1->setEnabled(
        f && f->CommandAvailable(frame::TFrameCommand::TelnetNoTermEmulation));
}

QString TmyForm1::StatusText() const
{
    return StatusPanel->text();
}

void TmyForm1::SetStatusText(const QString& text)
{
    StatusPanel->setText(text);
}

QPrinter* TmyForm1::Printer()
{
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return printer_.get();
}

QWidget* TmyForm1::OuterWindow()
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) return sub;
    return this;
}

// ---- Window events ----------------------------------------------------------------------

void TmyForm1::SetMemoMargins()
{
    MEMO1->SetSideMargins(kMemoMargin);
    if (MEMO1->document()->documentMargin() != 0) MEMO1->document()->setDocumentMargin(0);
}

void TmyForm1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    SetMemoMargins();
}

void TmyForm1::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    SetMemoMargins();
}

void TmyForm1::closeEvent(QCloseEvent* event)
{
    if (modified_ && !frame::AskYesNo(this, QStringLiteral("Work not saved"),
                                      QStringLiteral("Exit without saving changes?"))) {
        event->ignore();
        return;
    }
    // An import still reading into this window stops; the window goes.
    importCancelled_ = true;
    event->accept();
}

bool TmyForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == MEMO1 && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        UpdateLineCountMode(event->type() == QEvent::Show);
    if (watched == MEMO1 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // MEMO1KeyPress: every character key sets the modified flag.
        if (!key->text().isEmpty()) modified_ = true;
        if (key->key() == Qt::Key_Tab &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            if (!MEMO1->isReadOnly()) MEMO1->textCursor().insertText(kTabText);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Content and selection ----------------------------------------------------------------

void TmyForm1::UpdateLineCountMode(bool shown)
{
    // Screen lines exist only where the control lays its text out: while it is on the screen.
    // Hidden (an import fills it, a window not shown yet) it counts paragraphs and line breaks,
    // and creates no layout for millions of lines that nobody sees.
    LineCounter->SetWrapped(WordWrap1->isChecked() && shown);
}

void TmyForm1::Memo1Change()
{
    modified_ = true;
    // During an import the status shows the import's progress; the count follows at its end.
    if (importing_ || loading_) return;
    SetStatusText(kLineCountText + QString::number(LineCounter->Count()));
}

bool TmyForm1::HasSelection() const
{
    return MEMO1->textCursor().hasSelection();
}

QFont TmyForm1::SelectionFont() const
{
    const QTextCursor cursor = MEMO1->textCursor();
    QTextCharFormat fmt;
    if (cursor.hasSelection()) {
        // The first selected character.
        QTextCursor probe(MEMO1->document());
        probe.setPosition(cursor.selectionStart() + 1);
        fmt = probe.charFormat();
    } else {
        fmt = MEMO1->currentCharFormat();
    }
    return fmt.font().resolve(MEMO1->document()->defaultFont());
}

void TmyForm1::MEMO1SelectionChange()
{
    if (updating_) return;
    updating_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{updating_};

    const QFont font = SelectionFont();
    const qreal points = font.pointSizeF();
    fontsize->setEditText(points > 0 ? QString::number(qRound(points)) : QString());
    const QString family = font.family();
    Fontname->setCurrentIndex(Fontname->findText(family, Qt::MatchFixedString));
    Fontname->setEditText(family);
    BoldButton->setChecked(font.bold());
    ItalicButton->setChecked(font.italic());
    UnderlineButton->setChecked(font.underline());

    const QTextCursor cursor = MEMO1->textCursor();
    Bulletsbutton->setChecked(cursor.currentList() != nullptr);
    const Qt::Alignment align = cursor.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
    if (align & Qt::AlignHCenter) {
        centeralign->setChecked(true);
    } else if (align & Qt::AlignRight) {
        rightalign->setChecked(true);
    } else if (align & Qt::AlignJustify) {
        // No button stands for justified paragraphs: release all three.
        alignGroup_->setExclusive(false);
        for (QToolButton* b : {Leftalign, centeralign, rightalign})
            b->setChecked(false);
        alignGroup_->setExclusive(true);
    } else {
        Leftalign->setChecked(true);
    }
}

// ---- Formatting commands --------------------------------------------------------------------

void TmyForm1::ApplyCharacterFormat(const QTextCharFormat& change)
{
    if (HasSelection()) {
        MEMO1->mergeCurrentCharFormat(change);
        return;
    }
    QTextDocument* doc = MEMO1->document();
    doc->setDefaultFont(change.font().resolve(doc->defaultFont()));
}

void TmyForm1::FontnameChange(const QString& text)
{
    if (updating_) return;
    const int index = Fontname->currentIndex();
    // Only a name chosen from the list applies; a name being typed does not.
    if (index < 0 || Fontname->itemText(index) != text) return;
    QTextCharFormat change;
    change.setFontFamilies({Fontname->itemText(index)});
    ApplyCharacterFormat(change);
}

void TmyForm1::FontsizeChange(const QString& text)
{
    if (updating_) return;
    int size = 0;
    if (!ParseWholeNumber(text, &size)) {
        frame::ErrorBox(this, QStringLiteral("'%1' is not a valid integer value").arg(text));
        return;
    }
    // Sizes outside what a character can have leave the attributes as they are.
    if (size < 1 || size > kMaxFontPoints) return;
    QTextCharFormat change;
    change.setFontPointSize(size);
    ApplyCharacterFormat(change);
}

void TmyForm1::BoldButtonClick()
{
    if (updating_) return;
    QTextCharFormat change;
    change.setFontWeight(BoldButton->isChecked() ? QFont::Bold : QFont::Normal);
    ApplyCharacterFormat(change);
}

void TmyForm1::ItalicButtonClick()
{
    if (updating_) return;
    QTextCharFormat change;
    change.setFontItalic(ItalicButton->isChecked());
    ApplyCharacterFormat(change);
}

void TmyForm1::UnderlineButtonClick()
{
    if (updating_) return;
    QTextCharFormat change;
    change.setFontUnderline(UnderlineButton->isChecked());
    ApplyCharacterFormat(change);
}

void TmyForm1::BulletsbuttonClick()
{
    if (updating_) return;
    QTextDocument* doc = MEMO1->document();
    const QTextCursor cursor = MEMO1->textCursor();
    const QTextBlock first = doc->findBlock(cursor.selectionStart());
    const QTextBlock last = doc->findBlock(cursor.selectionEnd());
    QTextCursor edit(doc);
    edit.beginEditBlock();
    QTextList* list = nullptr;
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        if (Bulletsbutton->isChecked()) {
            if (!b.textList()) {
                if (list) {
                    list->add(b);
                } else {
                    QTextCursor c(b);
                    list = c.createList(QTextListFormat::ListDisc);
                }
            }
        } else if (QTextList* l = b.textList()) {
            l->remove(b);
            QTextCursor c(b);
            QTextBlockFormat bf = c.blockFormat();
            bf.setIndent(0);
            c.setBlockFormat(bf);
        }
        if (b == last) break;
    }
    edit.endEditBlock();
}

void TmyForm1::LeftalignClick()
{
    if (updating_) return;
    MEMO1->setAlignment(Qt::AlignLeft);
}

void TmyForm1::AlignButtonClick()
{
    if (updating_) return;
    MEMO1->setAlignment(Qt::AlignHCenter);
}

void TmyForm1::rightalignClick()
{
    if (updating_) return;
    MEMO1->setAlignment(Qt::AlignRight);
}

void TmyForm1::Font1Click()
{
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, SelectionFont(), this);
    if (ok) {
        QTextCharFormat change;
        change.setFont(chosen, QTextCharFormat::FontPropertiesAll);
        ApplyCharacterFormat(change);
        MEMO1SelectionChange();
    }
    MEMO1->setFocus();
}

void TmyForm1::WordWrap1Click()
{
    // The action has already inverted its check mark.
    MEMO1->setLineWrapMode(WordWrap1->isChecked() ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    UpdateLineCountMode(MEMO1->isVisible());
}

// ---- Clipboard ------------------------------------------------------------------------------

void TmyForm1::Cut1Click()
{
    MEMO1->cut();
}

void TmyForm1::Copy1Click()
{
    MEMO1->copy();
}

void TmyForm1::Paste1Click()
{
    MEMO1->paste();
}

void TmyForm1::Delete1Click()
{
    MEMO1->textCursor().removeSelectedText();
}

// ---- Frame operations -------------------------------------------------------------------------

void TmyForm1::NewWindow1Click()
{
    if (frame::TFrameCommands* f = frame::Frame()) f->New1Click();
}

void TmyForm1::Close1Click()
{
    // The window's close runs the unsaved-work question (closeEvent).
    OuterWindow()->close();
}

void TmyForm1::Exit1Click()
{
    // Ends the program by closing the frame; every editor with unsaved work asks first.
    if (frame::TFrameCommands* f = frame::Frame())
        f->Exit1Click();
    else
        OuterWindow()->close();
}

void TmyForm1::StartFTP1Click()
{
    frame::TFrameCommands* f = frame::Frame();
    if (f && f->CommandAvailable(frame::TFrameCommand::Ftp)) f->StartFTP1Click();
}

void TmyForm1::Telnet1Click()
{
    frame::TFrameCommands* f = frame::Frame();
    if (f && f->CommandAvailable(frame::TFrameCommand::Telnet)) f->Telnet1Click();
}

void TmyForm1::TelnetNoTermEmulation1Click()
{
    frame::TFrameCommands* f = frame::Frame();
    if (f && f->CommandAvailable(frame::TFrameCommand::TelnetNoTermEmulation))
        f->TelnetNoTermEmulation1Click();
}
