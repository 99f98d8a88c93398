#include "telnet/PlainTelnetWindow.h"

#include "frame/MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace {

// The byte a key types, or -1: the characters a desktop keyboard produces, control letters as
// control codes, nothing for cursor, editing and function keys.
int KeyByte(const QKeyEvent* e)
{
    const int key = e->key();
    const Qt::KeyboardModifiers mods = e->modifiers();
    const bool ctrl = mods.testFlag(Qt::ControlModifier);
    const bool alt = mods.testFlag(Qt::AltModifier);
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return ctrl ? 10 : 13;
    case Qt::Key_Backspace:
        return ctrl ? 127 : 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return ctrl ? -1 : 9;
    case Qt::Key_Escape:
        return 27;
    default:
        break;
    }
    // Alt with a letter is a menu or button mnemonic, not a character.
    if (alt && !ctrl) return -1;
    if (ctrl && !alt) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z) return key - Qt::Key_A + 1;
        switch (key) {
        case Qt::Key_At:
            return 0;
        case Qt::Key_BracketLeft:
            return 27;
        case Qt::Key_Backslash:
            return 28;
        case Qt::Key_BracketRight:
            return 29;
        case Qt::Key_AsciiCircum:
            return 30;
        case Qt::Key_Underscore:
            return 31;
        default:
            return -1;
        }
    }
    // Keys outside the character range (cursor, Insert, Delete, F1..., modifiers alone, media
    // keys) type nothing, whatever text the platform attaches to them. A character without a
    // key code of its own comes as Key_unknown with its text.
    if (key >= Qt::Key_Escape && key != Qt::Key_unknown) return -1;
    const QString text = e->text();
    if (text.isEmpty()) return -1;
    const char16_t c = text.at(0).unicode();
    if (c == 127) return -1;
    return c <= 0xFF ? c : '?';
}

}  // namespace

TTnDemoForm::TTnDemoForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TnDemoForm"));
    setWindowTitle(QStringLiteral("Telnet"));
    setFont(QFont(QStringLiteral("MS Sans Serif")));
    resize(538, 285);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(50);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);

    HostLabel = new QLabel(QStringLiteral("Host"), Panel1);
    HostLabel->setObjectName(QStringLiteral("HostLabel"));
    HostLabel->setGeometry(8, 4, 120, 16);
    HostEdit = new QLineEdit(QStringLiteral("localhost"), Panel1);
    HostEdit->setObjectName(QStringLiteral("HostEdit"));
    HostEdit->setGeometry(8, 20, 121, 22);
    HostLabel->setBuddy(HostEdit);

    PortLabel = new QLabel(QStringLiteral("Port"), Panel1);
    PortLabel->setObjectName(QStringLiteral("PortLabel"));
    PortLabel->setGeometry(136, 4, 64, 16);
    PortEdit = new QLineEdit(QStringLiteral("telnet"), Panel1);
    PortEdit->setObjectName(QStringLiteral("PortEdit"));
    PortEdit->setGeometry(136, 20, 65, 22);
    PortLabel->setBuddy(PortEdit);

    ConnectButton = new QPushButton(QStringLiteral("&Connect"), Panel1);
    ConnectButton->setObjectName(QStringLiteral("ConnectButton"));
    ConnectButton->setGeometry(208, 18, 81, 25);
    DisconnectButton = new QPushButton(QStringLiteral("&Disconnect"), Panel1);
    DisconnectButton->setObjectName(QStringLiteral("DisconnectButton"));
    DisconnectButton->setGeometry(296, 18, 81, 25);
    DisconnectButton->setEnabled(false);

    InfoLabel = new QLabel(QStringLiteral("Disconnected"), Panel1);
    InfoLabel->setObjectName(QStringLiteral("InfoLabel"));
    InfoLabel->setGeometry(384, 22, 150, 16);

    DisplayMemo = new QPlainTextEdit(this);
    DisplayMemo->setObjectName(QStringLiteral("DisplayMemo"));
    DisplayMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    DisplayMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DisplayMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The text area shows only what the host sends: typing is turned into bytes for the host
    // (eventFilter), and paste or drop cannot put text there either.
    DisplayMemo->setReadOnly(true);
    DisplayMemo->setMaximumBlockCount(MaxLines);
    DisplayMemo->setTabChangesFocus(false);
    DisplayMemo->setEnabled(false);
    DisplayMemo->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addWidget(DisplayMemo, 1);

    TnCnx = new TTnCnx(this);
    TnCnx->setObjectName(QStringLiteral("TnCnx"));
    TnCnx->SetPort("23");
    TnCnx->SetLocation("TNCNX");
    TnCnx->SetTermType("VT100");
    TnCnx->SetLocalEcho(false);
    TnCnx->OnSessionConnected = [this](TTnCnx* s, std::uint16_t e) { TnCnxSessionConnected(s, e); };
    TnCnx->OnSessionClosed = [this](TTnCnx* s, std::uint16_t e) { TnCnxSessionClosed(s, e); };
    TnCnx->OnDataAvailable = [this](TTnCnx* s, char* b, std::int32_t n) {
        TnCnxDataAvailable(s, b, n);
    };

    connect(ConnectButton, &QPushButton::clicked, this, &TTnDemoForm::ConnectButtonClick);
    connect(DisconnectButton, &QPushButton::clicked, this, &TTnDemoForm::DisconnectButtonClick);
}

TTnDemoForm::~TTnDemoForm()
{
    // The session goes first, so that none of its events reaches a half-destroyed window.
    TnCnx->OnSessionConnected = nullptr;
    TnCnx->OnSessionClosed = nullptr;
    TnCnx->OnDataAvailable = nullptr;
    delete TnCnx;
    TnCnx = nullptr;
}

// ---- Connecting -----------------------------------------------------------------------------

void TTnDemoForm::ConnectButtonClick()
{
    try {
        TnCnx->SetHost(HostEdit->text().toStdString());
        TnCnx->SetPort(PortEdit->text().toStdString());
        TnCnx->SetTermType("VT100");
        TnCnx->SetLocalEcho(false);
        TnCnx->Connect();
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    }
}

void TTnDemoForm::DisconnectButtonClick()
{
    try {
        TnCnx->Close();
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    }
}

void TTnDemoForm::TnCnxSessionConnected(TTnCnx*, std::uint16_t)
{
    DisplayMemo->clear();
    InfoLabel->setText(QStringLiteral("Connected"));
    DisplayMemo->setEnabled(true);
    ConnectButton->setEnabled(false);
    DisconnectButton->setEnabled(true);
    DisplayMemo->setFocus();
}

void TTnDemoForm::TnCnxSessionClosed(TTnCnx*, std::uint16_t)
{
    InfoLabel->setText(QStringLiteral("Disconnected"));
    DisplayMemo->setEnabled(false);
    ConnectButton->setEnabled(true);
    DisconnectButton->setEnabled(false);
    ConnectButton->setFocus();
}

// ---- Received text --------------------------------------------------------------------------

void TTnDemoForm::TnCnxDataAvailable(TTnCnx*, char* Buffer, std::int32_t)
{
    // The block ends with a NUL; the text is what comes before the first one.
    AppendReceivedText(std::string_view(Buffer));
}

void TTnDemoForm::AppendReceivedText(std::string_view Text)
{
    const std::size_t nul = Text.find('\0');
    if (nul != std::string_view::npos) Text = Text.substr(0, nul);

    QTextCursor cursor(DisplayMemo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    // Appends the bytes [from, to) of Text to the last line; a line that reaches MaxLineLength
    // characters goes on in a new line.
    const auto appendPart = [&](std::size_t from, std::size_t to) {
        if (from >= to) return;
        QString part = QString::fromLatin1(Text.data() + from, static_cast<qsizetype>(to - from));
        part.replace(QChar(u'\n'), QChar(LineFeedSymbol));
        qsizetype done = 0;
        while (done < part.size()) {
            const qsizetype room = MaxLineLength - (cursor.block().length() - 1);
            if (room <= 0) {
                cursor.insertBlock();
                continue;
            }
            const qsizetype n = std::min(room, part.size() - done);
            cursor.insertText(part.mid(done, n));
            done += n;
        }
    };
    std::size_t start = 0;
    while (start < Text.size()) {
        std::size_t stop = Text.find('\r', start);
        if (stop == std::string_view::npos) stop = Text.size();
        appendPart(start, stop);
        if (stop == Text.size()) break;
        cursor.insertBlock();  // the CR starts a new line
        start = stop + 1;
        // An LF right after the CR belongs to the same line end.
        if (start < Text.size() && Text[start] == '\n') ++start;
    }
    cursor.endEditBlock();

    // The text area follows the end of the text, as a terminal does.
    DisplayMemo->moveCursor(QTextCursor::End);
    DisplayMemo->verticalScrollBar()->setValue(DisplayMemo->verticalScrollBar()->maximum());
}

// ---- Keys -----------------------------------------------------------------------------------

int TTnDemoForm::DisplayMemoKeyDown(const QKeyEvent* Key)
{
    return KeyByte(Key);
}

void TTnDemoForm::DisplayMemoKeyPress(char Key)
{
    try {
        TnCnx->Send(&Key, 1);
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    }
}

bool TTnDemoForm::eventFilter(QObject* watched, QEvent* event)
{
    // A disabled text area (no connection) takes no keys; only the enabled one sends.
    if (watched != DisplayMemo || !DisplayMemo->isEnabled())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // Control letters belong to the host, not to shortcuts (Ctrl+C is an interrupt here).
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers().testFlag(Qt::ControlModifier) &&
            !key->modifiers().testFlag(Qt::AltModifier) && KeyByte(key) >= 0) {
            event->accept();
            return true;
        }
        return false;
    }
    case QEvent::KeyPress: {
        const int byte = DisplayMemoKeyDown(static_cast<QKeyEvent*>(event));
        if (byte >= 0) DisplayMemoKeyPress(static_cast<char>(byte));
        return true;
    }
    case QEvent::KeyRelease:
        return true;
    default:
        return false;
    }
}

// ---- Closing and errors ---------------------------------------------------------------------

void TTnDemoForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TTnDemoForm::FormClose()
{
    // Inside the frame, the child window that holds this one is destroyed when closed; a window
    // shown on its own destroys itself.
    if (isWindow()) setAttribute(Qt::WA_DeleteOnClose);
}

void TTnDemoForm::ShowError(const QString& text)
{
    frame::ErrorBox(this, text);
}
