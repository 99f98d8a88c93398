#include "app/AboutWindow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TFrmAbout::TFrmAbout(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("FrmAbout"));
    setWindowTitle(QStringLiteral("About this program..."));
    resize(544, 375);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(0, 0), size());
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(41);
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(8, 2, 8, 2);
    auto* labels = new QVBoxLayout;
    labels->setSpacing(0);
    Label1 = new QLabel(QStringLiteral("zarvos %1: Unix/DOS/RTF editor, FTP and telnet clients")
                            .arg(QStringLiteral(ZARVOS_VERSION)),
                        Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 =
        new QLabel(QStringLiteral("One frame window for text files and remote hosts."), Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    labels->addWidget(Label1);
    labels->addWidget(Label2);
    row->addLayout(labels, 1);
    Button1 = new QPushButton(QStringLiteral("Done"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    row->addWidget(Button1);
    layout->addWidget(Panel1);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    // The text wraps at the window's width, so the horizontal scroll bar only shows for a word
    // wider than the window.
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Memo1->setPlainText(AboutText());
    layout->addWidget(Memo1, 1);

    connect(Button1, &QPushButton::clicked, this, &TFrmAbout::Button1Click);
}

void TFrmAbout::Button1Click()
{
    // Closing hides the window; it lives until the program ends.
    close();
}

QString TFrmAbout::AboutText()
{
    return QStringLiteral(
        "zarvos version " ZARVOS_VERSION
        "\n"
        "\n"
        "A text editor and converter for rich text (RTF), DOS text and Unix text, an FTP client\n"
        "and a telnet client in one frame window.\n"
        "\n"
        "THE EDITOR\n"
        "  File > Open Unix Text reads a file whose lines end in LF. Only the printable ASCII\n"
        "  characters (space to tilde) are kept; carriage returns, tabs, other control\n"
        "  characters and all bytes above 126 are dropped. The status bar counts the lines read.\n"
        "  File > Open Dos or RTF Text reads rich text, or else plain text (UTF-8).\n"
        "  Save as Dos writes the lines separated by CR LF (extension .txt when none is given),\n"
        "  Save as Unix separated by LF (extension .unx), Save RTF text writes rich text (.rtf).\n"
        "  A name that ends in a full stop gets no extension.\n"
        "  With View > Word Wrap on, a paragraph wider than the window is saved as the lines\n"
        "  you see on the screen; turn Word Wrap off to save each paragraph as one line.\n"
        "  The toolbar sets bold, italic, underline, bullets, font, size and alignment for the\n"
        "  selected text, or for the whole document's default text when nothing is selected.\n"
        "  Tab inserts nine spaces. Closing a window with unsaved changes asks first.\n"
        "\n"
        "THE FTP CLIENT\n"
        "  Internet > FTP opens the login window with stored site profiles; after the login the\n"
        "  transfer window lists local and remote files for uploads, downloads, deletes and\n"
        "  viewing a remote file in a new editor window. Connections use active mode.\n"
        "\n"
        "THE TELNET CLIENT\n"
        "  Internet > Telnet opens a terminal window with VT-style emulation and per-host\n"
        "  settings; Internet > Telnet (No Term. Emulation) opens a plain window that shows the\n"
        "  session's text as it arrives.\n"
        "\n"
        "Window > Tile puts the windows one above the other; Cascade overlaps them; Arrange\n"
        "Icons lines up minimised windows at the bottom.\n");
}
