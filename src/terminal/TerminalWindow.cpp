#include "terminal/TerminalWindow.h"

#include "frame/MessageBoxes.h"
#include "net/WSocket.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <exception>

TTelnetForm::TTelnetForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TelnetForm"));
    setWindowTitle(QString());
    setFont(QFont(QStringLiteral("MS Sans Serif")));
    resize(599, 403);

    Label1 = new QLabel(QStringLiteral("HostName"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 4, 120, 16);
    HostNameEdit = new QLineEdit(QStringLiteral("127.0.0.1"), this);
    HostNameEdit->setObjectName(QStringLiteral("HostNameEdit"));
    HostNameEdit->setGeometry(8, 22, 121, 22);
    Label1->setBuddy(HostNameEdit);

    Label2 = new QLabel(QStringLiteral("Port"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(136, 4, 64, 16);
    PortEdit = new QLineEdit(QStringLiteral("telnet"), this);
    PortEdit->setObjectName(QStringLiteral("PortEdit"));
    PortEdit->setGeometry(136, 22, 65, 22);
    Label2->setBuddy(PortEdit);

    ConnectButton = new QPushButton(QStringLiteral("&Connect"), this);
    ConnectButton->setObjectName(QStringLiteral("ConnectButton"));
    ConnectButton->setGeometry(208, 20, 75, 25);
    DisconnectButton = new QPushButton(QStringLiteral("&Disconnect"), this);
    DisconnectButton->setObjectName(QStringLiteral("DisconnectButton"));
    DisconnectButton->setGeometry(288, 20, 75, 25);
    DisconnectButton->setEnabled(false);
    OptionsButton = new QPushButton(QStringLiteral("&Options"), this);
    OptionsButton->setObjectName(QStringLiteral("OptionsButton"));
    OptionsButton->setGeometry(368, 20, 75, 25);

    LocalEchoCheckBox = new QCheckBox(QStringLiteral("Local Echo"), this);
    LocalEchoCheckBox->setObjectName(QStringLiteral("LocalEchoCheckBox"));
    LocalEchoCheckBox->setGeometry(452, 24, 100, 17);
    LocalEchoCheckBox->setChecked(false);

    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setGeometry(208, 2, 385, 16);

    TnEmulVT1 = new TTnEmulVT(this);
    TnEmulVT1->setObjectName(QStringLiteral("TnEmulVT1"));
    TnEmulVT1->move(0, TerminalTop);
    TnEmulVT1->SetBorderStyle(TBorderStyle::bsSingle);
    QFont font(QStringLiteral("System"));
    font.setPixelSize(20);
    font.setFixedPitch(true);
    TnEmulVT1->SetFont(font);
    TnEmulVT1->SetRows(25);
    TnEmulVT1->SetCols(80);
    TnEmulVT1->SetLineHeight(16);
    TnEmulVT1->SetLocalEcho(false);
    TnEmulVT1->SetAutoLF(false);
    TnEmulVT1->SetAutoCR(false);
    TnEmulVT1->SetMonoChrome(false);
    TnEmulVT1->SetLog(false);
    TnEmulVT1->SetUpperLock(false);
    TnEmulVT1->SetXlat(true);
    TnEmulVT1->SetFKeys(1);
    TnEmulVT1->SetIniFilename(QStringLiteral("TNEMULVT.INI"));
    TnEmulVT1->SetSectionName(QStringLiteral("Windows"));
    TnEmulVT1->SetKeyName(QStringLiteral("TnEmulVT"));
    TnEmulVT1->SetHostName(QStringLiteral("localhost"));
    TnEmulVT1->SetPort(QStringLiteral("telnet"));
    TnEmulVT1->SetLocation(SiteName);
    TnEmulVT1->OnSessionConnected = [this](QObject* s) { TnEmulVT1SessionConnected(s); };
    TnEmulVT1->OnSessionClosed = [this](QObject* s) { TnEmulVT1SessionClosed(s); };

    File1 = new QMenu(QStringLiteral("&File"), this);
    File1->setObjectName(QStringLiteral("File1"));
    NewEditor1 = File1->addAction(QStringLiteral("New Editor"));
    NewEditor1->setObjectName(QStringLiteral("NewEditor1"));
    Exit1 = File1->addAction(QStringLiteral("E&xit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));

    connect(ConnectButton, &QPushButton::clicked, this, &TTelnetForm::ConnectButtonClick);
    connect(DisconnectButton, &QPushButton::clicked, this, &TTelnetForm::DisconnectButtonClick);
    connect(OptionsButton, &QPushButton::clicked, this, &TTelnetForm::OptionsButtonClick);
    connect(LocalEchoCheckBox, &QCheckBox::clicked, this, &TTelnetForm::LocalEchoCheckBoxClick);
    connect(NewEditor1, &QAction::triggered, this, &TTelnetForm::NewEditor1Click);
    connect(Exit1, &QAction::triggered, this, &TTelnetForm::Exit1Click);

    FormCreate();
    FormResize();
}

TTelnetForm::~TTelnetForm()
{
    // The terminal (and with it its session) goes before the window's handlers do.
    TnEmulVT1->OnSessionConnected = nullptr;
    TnEmulVT1->OnSessionClosed = nullptr;
    delete TnEmulVT1;
    TnEmulVT1 = nullptr;
}

QList<QMenu*> TTelnetForm::MergedMenus() const
{
    return {File1};
}

// ---- Life of the window -----------------------------------------------------------------------

void TTelnetForm::FormCreate()
{
    StatusLabel->setText(QStringLiteral("Not connected"));
    TnEmulVT1->ReadHostSettings();
}

void TTelnetForm::FormShow()
{
    StatusLabel->setText(QString::fromStdString(TWSocket::SocketLibraryInfo().szDescription));
}

void TTelnetForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Once: a child window that is minimised and restored is not shown anew.
    if (shownOnce_) return;
    shownOnce_ = true;
    FormShow();
}

void TTelnetForm::FormResize()
{
    TnEmulVT1->setGeometry(0, TerminalTop, std::max(1, width() - RightMargin),
                           std::max(1, height() - TerminalTop - BottomMargin));
}

void TTelnetForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TTelnetForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TTelnetForm::FormClose()
{
    // Inside the frame the child window that holds this one is destroyed when closed; a window
    // shown on its own destroys itself. Its terminal and session go with it.
    if (isWindow()) setAttribute(Qt::WA_DeleteOnClose);
}

// ---- Buttons ----------------------------------------------------------------------------------

void TTelnetForm::ConnectButtonClick()
{
    StatusLabel->setText(QStringLiteral("Connecting"));
    StatusLabel->repaint();
    ConnectButton->setEnabled(false);
    try {
        TnEmulVT1->Disconnect();
        TnEmulVT1->SetPort(PortEdit->text());
        TnEmulVT1->SetHostName(HostNameEdit->text());
        TnEmulVT1->ReadHostSettings();
        TnEmulVT1->Connect();
    } catch (const std::exception& e) {
        ConnectButton->setEnabled(true);
        frame::ErrorBox(this, QString::fromStdString(e.what()));
    }
}

void TTelnetForm::DisconnectButtonClick()
{
    TnEmulVT1->Disconnect();
}

void TTelnetForm::TnEmulVT1SessionConnected(QObject*)
{
    DisconnectButton->setEnabled(true);
    StatusLabel->setText(QStringLiteral("Connected"));
}

void TTelnetForm::TnEmulVT1SessionClosed(QObject*)
{
    DisconnectButton->setEnabled(false);
    ConnectButton->setEnabled(true);
    StatusLabel->setText(QStringLiteral("Not connected"));
}

void TTelnetForm::OptionsButtonClick()
{
    TnEmulVT1->SetHostName(HostNameEdit->text());
    TnEmulVT1->ShowOptionsDialog();
}

void TTelnetForm::LocalEchoCheckBoxClick()
{
    TnEmulVT1->SetLocalEcho(LocalEchoCheckBox->isChecked());
    TnEmulVT1->setFocus(Qt::OtherFocusReason);
}

void TTelnetForm::NewEditor1Click()
{
    if (frame::TFrameCommands* f = frame::Frame()) f->New1Click();
}

void TTelnetForm::Exit1Click()
{
    // Ends the program: the frame closes with every window in it.
    if (frame::TFrameCommands* f = frame::Frame())
        f->Exit1Click();
    else
        window()->close();
}
