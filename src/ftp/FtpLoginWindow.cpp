#include "ftp/FtpLoginWindow.h"

#include "editor/EditorWindow.h"
#include "frame/FrameCommands.h"
#include "frame/MessageBoxes.h"
#include "ftp/FtpListing.h"
#include "ftp/FtpTransferWindow.h"
#include "ftp/FtpWindowHelpers.h"
#include "net/Wait.h"
#include "platform/FileErrors.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
#include <stdexcept>
#include <utility>

#include <unistd.h>

using ftpui::LocalBytes;
using ftpui::LocalText;
using ftpui::ShowWindow;

namespace {

// The password field shows every character as "?".
class TQuestionMarkStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter) return '?';
        if (hint == SH_LineEdit_PasswordMaskDelay) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLineEdit* Edit(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& text)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QLabel* Caption(QWidget* parent, const QString& text, QWidget* buddy)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

QString BaseName(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

}  // namespace

// ---- Creation and destruction -------------------------------------------------------------------

TForm1::TForm1(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("FTP Login"));
    setFont(QFont(QStringLiteral("Arial"), 9));
    resize(520, 430);
    ftpui::CenterOnScreen(this);
    BuildControls();

    FtpClient1 = std::make_unique<TFtpClient>();
    FtpClient1->setObjectName(QStringLiteral("FtpClient1"));
    FtpClient1->SetTimeout(30);
    FtpClient1->SetMultiThreaded(false);
    FtpClient1->SetPort("ftp");
    FtpClient1->SetDisplayFlag(false);
    FtpClient1->SetBinary(true);
    FtpClient1->SetShareMode(ftpShareDenyWrite);
    FtpClient1->SetWaitCtrl(tWait);
    BindEngine();

    FormCreate();
}

TForm1::~TForm1()
{
    // The engine may still report (a closing session) while it is taken apart: nothing of this
    // window is reached any more.
    FtpClient1->OnDisplay = nullptr;
    FtpClient1->OnProgress = nullptr;
    FtpClient1->OnSessionConnected = nullptr;
    FtpClient1->OnSessionClosed = nullptr;
    FtpClient1->OnRequestDone = nullptr;
    FtpClient1->OnTlsCertificate = nullptr;
    if (transfer_ && transfer_->Operations() == this) transfer_->SetOperations(nullptr);
    FormDestroy();
    DiscardDownload(download_);
    SetBusy(false);
}

void TForm1::BuildControls()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* top = new QHBoxLayout(Panel1);
    top->setContentsMargins(0, 0, 0, 0);
    SiteCB = new QComboBox(Panel1);
    SiteCB->setObjectName(QStringLiteral("SiteCB"));
    SiteCB->setEditable(true);
    SiteCB->setInsertPolicy(QComboBox::NoInsert);
    SiteCB->setMinimumWidth(180);
    NewSiteBut = Button(Panel1, "NewSiteBut", QStringLiteral("&New FTP Site"));
    top->addWidget(Caption(Panel1, QStringLiteral("Select an FTP Site Profile"), SiteCB));
    top->addWidget(SiteCB, 1);
    top->addWidget(NewSiteBut);
    layout->addWidget(Panel1);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto* grid = new QGridLayout(Panel2);
    grid->setContentsMargins(0, 0, 0, 0);
    HostNameEdit = Edit(Panel2, "HostNameEdit");
    PortEdit = Edit(Panel2, "PortEdit");
    PortEdit->setMaximumWidth(70);
    InitialLocalDirEdit = Edit(Panel2, "InitialLocalDirEdit");
    InitialDirEdit = Edit(Panel2, "InitialDirEdit");
    UserNameEdit = Edit(Panel2, "UserNameEdit");
    PasswordEdit = Edit(Panel2, "PasswordEdit");
    PasswordEdit->setEchoMode(QLineEdit::Password);
    auto* style = new TQuestionMarkStyle;
    style->setParent(PasswordEdit);
    PasswordEdit->setStyle(style);
    SaveProfileCB = Check(Panel2, "SaveProfileCB", QStringLiteral("Save Changes"));
    AutoDirCB = Check(Panel2, "AutoDirCB", QStringLiteral("Directory Listings"));
    ForceLowerCB = Check(Panel2, "ForceLowerCB", QStringLiteral("Force Lowercase Filenames"));
    PassiveCB = Check(Panel2, "PassiveCB", QStringLiteral("Passive Mode"));
    TlsCB = Check(Panel2, "TlsCB", QStringLiteral("Use TLS (explicit FTPS)"));
    ChkProxy = Check(Panel2, "ChkProxy", QStringLiteral("Use Proxy"));
    TxtProxyName = Edit(Panel2, "TxtProxyName");
    TxtProxyPort = Edit(Panel2, "TxtProxyPort");
    TxtProxyPort->setMaximumWidth(70);
    ConnectBut = Button(Panel2, "ConnectBut", QStringLiteral("&Connect"));
    ExitBut = Button(Panel2, "ExitBut", QStringLiteral("&Exit"));
    tWait = new TWait(Panel2);
    tWait->setObjectName(QStringLiteral("tWait"));
    tWait->setFixedSize(192, 32);
    tWait->SetVisible(false);

    grid->addWidget(Caption(Panel2, QStringLiteral("Hostname"), HostNameEdit), 0, 0);
    grid->addWidget(HostNameEdit, 0, 1);
    grid->addWidget(Caption(Panel2, QStringLiteral("FTP Port"), PortEdit), 0, 2);
    grid->addWidget(PortEdit, 0, 3);
    // Beside the host and port they belong with: how the connections to that server are made
    // ("Use TLS" under "Passive Mode", over the port's column and its own, so that the host
    // name keeps its width).
    grid->addWidget(PassiveCB, 0, 4);
    grid->addWidget(TlsCB, 1, 3, 1, 2);
    grid->addWidget(Caption(Panel2, QStringLiteral("Initial Local Directory"), InitialLocalDirEdit),
                    1, 0);
    grid->addWidget(InitialLocalDirEdit, 1, 1, 1, 2);
    grid->addWidget(Caption(Panel2, QStringLiteral("Initial Remote Directory"), InitialDirEdit), 2,
                    0);
    grid->addWidget(InitialDirEdit, 2, 1, 1, 4);
    grid->addWidget(Caption(Panel2, QStringLiteral("User Name"), UserNameEdit), 3, 0);
    grid->addWidget(UserNameEdit, 3, 1);
    grid->addWidget(Caption(Panel2, QStringLiteral("Password"), PasswordEdit), 3, 2);
    grid->addWidget(PasswordEdit, 3, 3, 1, 2);
    auto* checks = new QHBoxLayout;
    checks->addWidget(SaveProfileCB);
    checks->addWidget(AutoDirCB);
    checks->addWidget(ForceLowerCB);
    checks->addStretch(1);
    grid->addLayout(checks, 4, 0, 1, 5);
    auto* proxy = new QHBoxLayout;
    proxy->addWidget(ChkProxy);
    proxy->addWidget(Caption(Panel2, QStringLiteral("Proxy Name"), TxtProxyName));
    proxy->addWidget(TxtProxyName, 1);
    proxy->addWidget(Caption(Panel2, QStringLiteral("Proxy Port"), TxtProxyPort));
    proxy->addWidget(TxtProxyPort);
    grid->addLayout(proxy, 5, 0, 1, 5);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ConnectBut);
    buttons->addWidget(ExitBut);
    buttons->addStretch(1);
    buttons->addWidget(tWait);
    grid->addLayout(buttons, 6, 0, 1, 5);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    layout->addWidget(Panel2);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(QStringLiteral("Memo1"));
    layout->addWidget(Memo1, 1);

    connect(SiteCB, &QComboBox::activated, this, [this](int) { SiteCBChange(); });
    connect(NewSiteBut, &QPushButton::clicked, this, &TForm1::NewSiteButClick);
    connect(ConnectBut, &QPushButton::clicked, this, &TForm1::ConnectButClick);
    connect(ExitBut, &QPushButton::clicked, this, &TForm1::ExitButClick);
    // The engine takes the mode when its next data connection starts, so a change made after a
    // failed transfer counts for the next one, without a new connect.
    connect(PassiveCB, &QCheckBox::toggled, this, [this](bool on) {
        if (FtpClient1) FtpClient1->SetPassive(on);
    });
}

void TForm1::BindEngine()
{
    FtpClient1->OnDisplay = [this](QObject* s, std::string& m) { FtpClient1Display(s, m); };
    FtpClient1->OnProgress = [this](QObject* s, std::int64_t c, bool& a) {
        FtpClient1Progress(s, c, a);
    };
    FtpClient1->OnSessionConnected = [this](QObject* s, std::uint16_t e) {
        FtpClient1SessionConnected(s, e);
    };
    FtpClient1->OnSessionClosed = [this](QObject* s, std::uint16_t e) {
        FtpClient1SessionClosed(s, e);
    };
    FtpClient1->OnRequestDone = [this](QObject* s, TFtpRequest r, std::uint16_t e) {
        FtpClient1RequestDone(s, r, e);
    };
    FtpClient1->OnTlsCertificate = [this](QObject* s, const TTlsCertificateInfo& info) {
        FtpClient1TlsCertificate(s, info);
    };
}

void TForm1::FormCreate()
{
    PortEdit->setText(QStringLiteral("21"));
    SaveProfileCB->setChecked(true);
    ForceLowerCB->setChecked(true);
    AutoDirCB->setChecked(true);
    ViewPending = false;

    SettingsFileName = ftp::SettingsFileNameFor(QCoreApplication::applicationFilePath());
    store_ = std::make_unique<ftp::TProfileStore>(SettingsFileName);
    SiteCB->addItems(store_->ReadNames());
    const int last = store_->ReadLastUsed();
    SiteCB->setCurrentIndex(last >= 0 && last < SiteCB->count() ? last : -1);
    ReadProfile(SiteCB->currentText());
    FileQueue.clear();
}

void TForm1::FormDestroy()
{
    FileQueue.clear();
    // The list goes back into the file in alphabetical order, numbered from 0.
    const QString noted = SiteCB->currentText();
    QStringList names;
    for (int i = 0; i < SiteCB->count(); ++i)
        names.append(SiteCB->itemText(i));
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    int lastUsed = 0;
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].compare(noted, Qt::CaseInsensitive) == 0) {
            lastUsed = i;
            break;
        }
    }
    store_->WriteNames(names, lastUsed);
}

// ---- Profiles -----------------------------------------------------------------------------------

void TForm1::ReadProfile(const QString& name)
{
    const ftp::TFtpProfile p = store_->ReadProfile(name, QDir::homePath());
    HostNameEdit->setText(p.HostName);
    InitialLocalDirEdit->setText(p.InitialLocalDir);
    InitialDirEdit->setText(p.InitialDir);
    UserNameEdit->setText(p.UserName);
    PasswordEdit->setText(p.Password);
    PortEdit->setText(p.Port);
    ForceLowerCB->setChecked(p.ForceLower);
    AutoDirCB->setChecked(p.AutoDir);
    PassiveCB->setChecked(p.Passive);
    TlsCB->setChecked(p.Tls);
    TlsFingerprint = p.TlsFingerprint;
    ChkProxy->setChecked(p.ChkProxy);
    TxtProxyName->setText(p.TxtProxyName);
    TxtProxyPort->setText(p.TxtProxyPort);
}

void TForm1::SiteCBChange()
{
    ReadProfile(SiteCB->currentText());
}

int TForm1::FindProfile(const QString& name) const
{
    for (int i = 0; i < SiteCB->count(); ++i)
        if (SiteCB->itemText(i).compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

ftp::TFtpProfile TForm1::CurrentProfile() const
{
    ftp::TFtpProfile p;
    p.HostName = HostNameEdit->text();
    p.InitialLocalDir = InitialLocalDirEdit->text();
    p.InitialDir = InitialDirEdit->text();
    p.UserName = UserNameEdit->text();
    p.Password = PasswordEdit->text();
    p.Port = PortEdit->text();
    p.ForceLower = ForceLowerCB->isChecked();
    p.AutoDir = AutoDirCB->isChecked();
    p.Passive = PassiveCB->isChecked();
    p.Tls = TlsCB->isChecked();
    p.TlsFingerprint = TlsFingerprint;
    p.ChkProxy = ChkProxy->isChecked();
    p.TxtProxyName = TxtProxyName->text();
    p.TxtProxyPort = TxtProxyPort->text();
    return p;
}

void TForm1::UpdateProfile()
{
    if (SiteCB->currentText().isEmpty()) {
        QString answer = ftpui::InputBox(this, QStringLiteral("New FTP Site"),
                                         QStringLiteral("Enter Site Profile Name"));
        if (answer.isEmpty()) answer = QStringLiteral("UNTITLED");
        answer = answer.toUpper();
        if (const QString problem = ftp::ProfileNameProblem(answer); !problem.isEmpty()) {
            ftpui::ShowMessage(this, answer + QStringLiteral(" can not be saved: ") + problem);
            return;
        }
        int index = FindProfile(answer);
        if (index < 0) {
            SiteCB->addItem(answer);
            index = SiteCB->count() - 1;
        }
        SiteCB->setCurrentIndex(index);
    }
    const QString name = SiteCB->currentText();
    if (const QString problem = ftp::ProfileNameProblem(name); !problem.isEmpty()) {
        ftpui::ShowMessage(this, name + QStringLiteral(" can not be saved: ") + problem);
        return;
    }
    int index = FindProfile(name.toUpper());
    if (index < 0) {
        // Listed, so that the list written back at the end keeps it.
        SiteCB->addItem(name);
        index = SiteCB->count() - 1;
        SiteCB->setCurrentIndex(index);
    }
    if (!store_->WriteProfile(index, name, CurrentProfile()))
        ftpui::ShowMessage(this, QStringLiteral("Profile not saved: ") + store_->Error());
}

void TForm1::NewSiteButClick()
{
    const QString answer = ftpui::InputBox(this, QStringLiteral("New FTP Site"),
                                           QStringLiteral("Enter Site Profile Name"));
    if (answer.isEmpty()) return;
    const QString upper = answer.toUpper();
    const int existing = FindProfile(upper);
    if (existing >= 0) {
        ftpui::ShowMessage(this, answer + QStringLiteral(" already exists"));
        SiteCB->setCurrentIndex(existing);
        ReadProfile(SiteCB->currentText());
        return;
    }
    if (const QString problem = ftp::ProfileNameProblem(upper); !problem.isEmpty()) {
        ftpui::ShowMessage(this, upper + QStringLiteral(" can not be used: ") + problem);
        return;
    }
    SiteCB->addItem(upper);
    SiteCB->setCurrentIndex(SiteCB->count() - 1);
    HostNameEdit->clear();
    InitialDirEdit->clear();
    UserNameEdit->clear();
    PasswordEdit->clear();
    InitialLocalDirEdit->setText(QDir::homePath());
    PortEdit->setText(QStringLiteral("21"));
    ForceLowerCB->setChecked(true);
    AutoDirCB->setChecked(true);
    TlsFingerprint.clear();  // a new site trusts no certificate yet
    if (SaveProfileCB->isChecked()) UpdateProfile();
}

// ---- Connect and exit ---------------------------------------------------------------------------

void TForm1::SetBusy(bool busy)
{
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TForm1::ConnectButClick()
{
    auto* transfer = qobject_cast<Tcopyform*>(ftpui::FindWindow(QStringLiteral("copyform")));
    if (!transfer) {
        transfer = new Tcopyform(parentWidget());
        copyform = transfer;
        ShowWindow(transfer);
    }
    AttachTransferWindow(transfer);
    transfer->RemoteDirList->clear();
    transfer->StringGrid1->Clear();

    const QString localDir = InitialLocalDirEdit->text();
    if (!localDir.isEmpty() && QFileInfo(localDir).isDir()) {
        if (::chdir(QFile::encodeName(localDir).constData()) != 0)
            throw std::runtime_error(platform::FileErrorText(errno).toStdString());
        transfer->DirectoryListBox1->SetDirectory(QDir::currentPath());
    } else {
        ftpui::ShowMessage(this, QStringLiteral("Error - can not select ") + localDir);
    }

    if (SaveProfileCB->isChecked()) UpdateProfile();
    if (FtpClient1->Connected()) FtpClient1->Quit();

    Memo1->clear();
    transfer->Memo1->clear();
    Log(QStringLiteral("Connecting to ") + HostNameEdit->text() + QStringLiteral(" ..."));
    SetBusy(true);
    struct CursorBack {
        TForm1* form;
        ~CursorBack() { form->SetBusy(false); }
    } cursorBack{this};
    QCoreApplication::processEvents();

    ConnectEngine();
    // A certificate the engine refused: the user decides, and a trusted one is tried again
    // (once more at most: the same certificate is then accepted by its fingerprint).
    for (int attempt = 0; refusedCertificate_ && attempt < 2; ++attempt) {
        const TTlsCertificateInfo info = *std::exchange(refusedCertificate_, nullptr);
        SetBusy(false);  // the question is answered with the normal cursor
        if (!AskTrustCertificate(info)) break;
        SetBusy(true);
        Log(QStringLiteral("Connecting to ") + HostNameEdit->text() + QStringLiteral(" ..."));
        ConnectEngine();
    }
    refusedCertificate_.reset();
}

void TForm1::ConnectEngine()
{
    MaskedPassword = QString(PasswordEdit->text().size(), u'?');
    FtpClient1->SetTlsMode(TlsCB->isChecked() ? ftpTlsExplicit : ftpTlsNone);
    FtpClient1->SetTlsFingerprint(TlsFingerprint.toStdString());
    refusedCertificate_.reset();
    FtpClient1->SetBinary(true);
    FtpClient1->SetPassive(PassiveCB->isChecked());
    FtpClient1->SetHostDirName(ftp::RemoteBytes(InitialDirEdit->text()));
    QString port;
    if (ChkProxy->isChecked()) {
        FtpClient1->SetHostName(ftp::RemoteBytes(TxtProxyName->text()));
        FtpClient1->SetUserName(
            ftp::RemoteBytes(UserNameEdit->text() + u'@' + HostNameEdit->text()));
        port = TxtProxyPort->text().trimmed();
    } else {
        FtpClient1->SetHostName(ftp::RemoteBytes(HostNameEdit->text()));
        FtpClient1->SetUserName(ftp::RemoteBytes(UserNameEdit->text()));
        port = PortEdit->text().trimmed();
    }
    FtpClient1->SetPassWord(ftp::RemoteBytes(PasswordEdit->text()));
    if (port.isEmpty() || port == QLatin1String("0")) port = QStringLiteral("ftp");
    FtpClient1->SetPort(port.toStdString());
    if (!RunRequest(&TFtpClient::Connect))
        Log(
            QStringLiteral("! Connect was not started: the host name, the user name and the "
                           "password must not be empty"));
}

void TForm1::ExitButClick()
{
    FtpClient1->Quit();
    close();
}

// ---- Engine events ------------------------------------------------------------------------------

void TForm1::Log(const QString& line)
{
    Memo1->appendPlainText(line);
    if (copyform) copyform->Memo1->appendPlainText(line);
}

void TForm1::FtpClient1Display(QObject*, std::string& Msg)
{
    if (Msg.find("PASS ") != std::string::npos)
        Log(QStringLiteral("> PASS ") + MaskedPassword);
    else
        Log(ftp::RemoteText(Msg));
    // "150 Opening BINARY mode data connection for name (1234 bytes)." names the size.
    if (transferRunning_ && copyform && Msg.rfind("< 150", 0) == 0) {
        const std::size_t open = Msg.rfind('(');
        const std::size_t close = Msg.find(" bytes)", open == std::string::npos ? 0 : open);
        if (open != std::string::npos && close != std::string::npos && close > open + 1 &&
            close - open <= 19) {
            std::int64_t size = 0;
            bool digits = true;
            for (std::size_t i = open + 1; i < close; ++i) {
                digits = digits && Msg[i] >= '0' && Msg[i] <= '9';
                if (digits) size = size * 10 + (Msg[i] - '0');
            }
            if (digits) copyform->SetProgressSize(size);
        }
    }
}

void TForm1::FtpClient1SessionConnected(QObject*, std::uint16_t)
{
    Log(QStringLiteral("Connected"));
}

void TForm1::FtpClient1SessionClosed(QObject*, std::uint16_t)
{
    Log(QStringLiteral("Disconnected"));
}

void TForm1::FtpClient1TlsCertificate(QObject*, const TTlsCertificateInfo& Info)
{
    // Asked about when the connect has ended: no dialog inside the engine's event.
    refusedCertificate_ = std::make_unique<TTlsCertificateInfo>(Info);
}

bool TForm1::AskTrustCertificate(const TTlsCertificateInfo& info)
{
    const QString fingerprint = QString::fromStdString(info.Sha256Fingerprint);
    QString why = ftp::RemoteText(FtpClient1->ErrorMessage());
    if (why.startsWith(QLatin1String("500 "))) why = why.mid(4);
    const QString profile = SiteCB->currentText();
    const QString text =
        why + QStringLiteral("\n\nSHA-256 fingerprint: ") + fingerprint +
        QStringLiteral("\nSubject: ") + QString::fromStdString(info.Subject) +
        QStringLiteral("\nIssuer: ") + QString::fromStdString(info.Issuer) +
        QStringLiteral("\nValid from ") + QString::fromStdString(info.NotBefore) +
        QStringLiteral(" to ") + QString::fromStdString(info.NotAfter) +
        QStringLiteral("\nReason: ") +
        (info.Verified ? QStringLiteral("it is not the certificate trusted for this profile")
                       : QString::fromStdString(info.Reason)) +
        QStringLiteral("\n\nTrust this certificate for the profile \"") + profile +
        QStringLiteral("\"? Later connects of the profile then accept exactly this certificate "
                       "and refuse any other.");
    if (!frame::AskYesNo(this, QStringLiteral("Untrusted TLS certificate"), text)) {
        Log(QStringLiteral("! The certificate ") + fingerprint +
            QStringLiteral(" was not trusted: nothing stored"));
        return false;
    }
    TlsFingerprint = fingerprint;
    if (profile.isEmpty() || !store_->WriteTlsFingerprint(profile, fingerprint)) {
        Log(QStringLiteral("! The certificate ") + fingerprint +
            QStringLiteral(" is trusted for this session only: it could not be stored (") +
            (profile.isEmpty() ? QStringLiteral("no profile") : store_->Error()) +
            QStringLiteral(")"));
        return true;
    }
    Log(QStringLiteral("! The certificate ") + fingerprint +
        QStringLiteral(" is trusted for the profile ") + profile);
    return true;
}

void TForm1::FtpClient1Progress(QObject*, std::int64_t Count, bool&)
{
    // The transfer window writes Count + " bytes sent" into Label4 with the rest of the progress.
    if (copyform) copyform->ShowProgress(Count);
}

void TForm1::BeginTransfer(const QString& what, std::int64_t size)
{
    transferRunning_ = true;
    cancelled_ = false;
    if (copyform) copyform->BeginProgress(what, size);
}

void TForm1::EndTransfer(bool completed)
{
    if (!transferRunning_) return;
    transferRunning_ = false;
    if (copyform) copyform->EndProgress(completed);
}

void TForm1::CancelTransfer()
{
    if (!transferRunning_ || cancelled_) return;
    cancelled_ = true;
    const std::int32_t rest = std::max<std::int32_t>(0, QueueCount);
    QueueCount = 0;
    ViewPending = false;
    QString line = QStringLiteral("! Cancelled: the transfer is aborted and the session closed");
    if (rest > 0)
        line += QStringLiteral("; %1 more file%2 of the queue not transferred")
                    .arg(rest)
                    .arg(rest == 1 ? QString() : QStringLiteral("s"));
    Log(line);
    FtpClient1->AbortAsync();
}

QString TForm1::LookupRequest(int code)
{
    return QString::fromLatin1(FtpRequestName(code));
}

void TForm1::FtpClient1RequestDone(QObject*, TFtpRequest RqType, std::uint16_t Error)
{
    ++requestsDone_;
    Log(QStringLiteral("Done (request=%1  error code=%2)").arg(LookupRequest(RqType)).arg(Error));
    if (Error != 0 && !FtpClient1->Passive() &&
        (Error == 425 || FtpClient1->TimedOutAwaitingData()))
        Log(
            QStringLiteral("! The server could not open the data connection to this computer "
                           "(active mode): tick \"Passive Mode\" and try again"));
    if (RqType == ftpGetAsync) FinishDownload(Error);
    if (RqType == ftpGetAsync || RqType == ftpPutAsync || RqType == ftpDirAsync)
        EndTransfer(Error == 0);
    if (std::exchange(cancelled_, false)) {
        // The user stopped it: no error box, nothing follows (the session is closed), and a
        // listing cut short is not read.
        if (RqType == ftpDirAsync && !TempDir.isEmpty())
            QFile::remove(TempDir + QStringLiteral("ftpdir.txt"));
        SetBusy(false);
        return;
    }
    // A refused certificate is shown with the trust question when the connect has ended.
    if (Error != 0 && !(RqType == ftpConnectAsync && refusedCertificate_))
        ftpui::ShowMessage(this,
                           QStringLiteral("Error ") + ftp::RemoteText(FtpClient1->ErrorMessage()));

    Tcopyform* transfer = copyform;
    switch (RqType) {
    case ftpConnectAsync:
        if (Error != 0) break;
        if (transfer)
            transfer->setWindowTitle(QStringLiteral("Transfer Files to/from:  ") +
                                     HostNameEdit->text());
        if (!InitialDirEdit->text().isEmpty())
            FtpClient1->Cwd();
        else
            FtpClient1->Pwd();
        break;
    case ftpCwdAsync:
    case ftpMkdAsync:
    case ftpRmdAsync:
    case ftpCDupAsync:
        FtpClient1->Pwd();
        break;
    case ftpPwdAsync:
        SetBusy(false);
        if (transfer) transfer->SetRemoteDir(FtpClient1->DirResult());
        RefreshListing();
        break;
    case ftpDirAsync:
        if (transfer) {
            transfer->ParseDir();
            ShowWindow(transfer);
        }
        break;
    case ftpPutAsync:
        if (QueueCount > 0)
            UploadNext();
        else
            RefreshListing();
        break;
    case ftpGetAsync:
        if (ViewPending) {
            ViewPending = false;
            ViewTheFile();
            break;
        }
        if (QueueCount > 0) {
            DownloadNext();
        } else if (transfer) {
            transfer->FileListBox1->Update();
            ShowWindow(transfer);
        }
        break;
    case ftpDeleAsync:
        if (QueueCount > 0)
            RemoteDelete();
        else
            RefreshListing();
        break;
    default:
        break;
    }
}

void TForm1::RefreshListing()
{
    if (!AutoDirCB->isChecked()) {
        ShowWindow(copyform);
        return;
    }
    if (TempDir.isEmpty()) {
        Log(QStringLiteral("! No private temporary directory: the listing is not read"));
        ShowWindow(copyform);
        return;
    }
    FtpClient1->SetHostFileName(std::string());
    FtpClient1->SetLocalFileName(LocalBytes(TempDir + QStringLiteral("ftpdir.txt")));
    if (FtpClient1->Binary()) {
        FtpClient1->SetBinary(false);
        FtpClient1->TypeSet();
    }
    BeginTransfer(QStringLiteral("listing"), -1);
    if (!RunRequest(&TFtpClient::Dir)) EndTransfer(false);
}

// ---- Queues -------------------------------------------------------------------------------------

std::string TForm1::LocalDirectory() const
{
    return copyform ? LocalBytes(copyform->DirectoryListBox1->Directory()) : std::string();
}

std::string TForm1::RemoteDirectory() const
{
    return copyform ? copyform->RemoteDirBytes() : std::string();
}

void TForm1::RunQueue(QueueStep step)
{
    queueNext_ = step;
    // A step asked for from inside a running step (its request's completion) waits until that
    // step has returned, so the waits of a long queue do not pile up on the stack.
    if (queueRunning_) return;
    queueRunning_ = true;
    struct Reset {
        TForm1* form;
        ~Reset()
        {
            form->queueRunning_ = false;
            form->queueNext_ = nullptr;
        }
    } reset{this};
    while (QueueStep next = std::exchange(queueNext_, nullptr))
        (this->*next)();
}

bool TForm1::RunRequest(bool (TFtpClient::*operation)())
{
    const std::uint64_t before = requestsDone_;
    if (((*FtpClient1).*operation)()) return true;
    if (requestsDone_ != before) return true;
    // After a time-out the request's completion arrives later from the event loop.
    return FtpClient1->ErrorMessage() == "426 Timeout";
}

void TForm1::StartTransferQueue()
{
    FtpClient1->SetBinary(copyform && copyform->RadioGroup1Index() == 0);
    FtpClient1->TypeSet();
    QueueCount = std::int32_t(FileQueue.size());
}

void TForm1::UploadAll()
{
    StartTransferQueue();
    UploadNext();
}

void TForm1::UploadNext()
{
    RunQueue(&TForm1::UploadStep);
}

void TForm1::UploadStep()
{
    if (--QueueCount < 0 || QueueCount >= std::int32_t(FileQueue.size())) return;
    const std::string entry = FileQueue[std::size_t(QueueCount)];
    const QString localPath = LocalText(entry);
    std::string hostName = LocalBytes(BaseName(localPath));
    if (ForceLowerCB->isChecked()) hostName = ftp::LowerFileName(hostName);
    if (const std::string problem = ftp::CommandTextProblem(hostName); !problem.empty()) {
        Log(QStringLiteral("! Upload of %1 refused: %2")
                .arg(localPath, QString::fromStdString(problem)));
        UploadNext();
        return;
    }
    FtpClient1->SetHostDirName(RemoteDirectory());
    FtpClient1->SetHostFileName(hostName);
    FtpClient1->SetLocalFileName(entry);
    Log(QStringLiteral("put ") + localPath + u' ' + ftp::RemoteText(hostName));
    const QFileInfo local(localPath);
    BeginTransfer(QStringLiteral("put ") + ftp::RemoteText(hostName),
                  local.isFile() ? local.size() : -1);
    if (!RunRequest(&TFtpClient::Put)) {
        EndTransfer(false);
        Log(QStringLiteral("! put %1 was not started").arg(localPath));
        UploadNext();
    }
}

void TForm1::DownloadAll()
{
    StartTransferQueue();
    DownloadNext();
}

void TForm1::DownloadNext()
{
    RunQueue(&TForm1::DownloadStep);
}

void TForm1::DownloadStep()
{
    if (--QueueCount < 0 || QueueCount >= std::int32_t(FileQueue.size())) return;
    const std::string entry = FileQueue[std::size_t(QueueCount)];
    std::string problem = ftp::LocalNameProblem(entry);
    ftp::TLocalTarget target;
    if (problem.empty()) {
        const std::string localName = ForceLowerCB->isChecked() ? ftp::LowerFileName(entry) : entry;
        problem = ftp::PrepareDownload(LocalDirectory(), localName, target);
    }
    if (!problem.empty()) {
        Log(QStringLiteral("! Download of %1 refused: %2")
                .arg(ftp::RemoteText(entry), QString::fromStdString(problem)));
        DownloadNext();
        return;
    }
    FtpClient1->SetHostDirName(RemoteDirectory());
    FtpClient1->SetLocalFileName(target.Part);
    FtpClient1->SetHostFileName(entry);
    Log(QStringLiteral("get ") + ftp::RemoteText(entry) + u' ' + LocalText(target.Final));
    download_ = target;
    BeginTransfer(QStringLiteral("get ") + ftp::RemoteText(entry),
                  copyform ? copyform->ListedSize(entry) : -1);
    if (!RunRequest(&TFtpClient::Get)) {
        EndTransfer(false);
        DiscardDownload(std::exchange(download_, {}));
        Log(QStringLiteral("! get %1 was not started").arg(ftp::RemoteText(entry)));
        DownloadNext();
    }
}

void TForm1::FinishDownload(std::uint16_t error)
{
    if (download_.Part.empty()) return;
    const ftp::TLocalTarget target = std::exchange(download_, {});
    if (error == 0) {
        if (const std::string problem = ftp::CommitDownload(target); !problem.empty())
            Log(QStringLiteral("! ") + LocalText(problem));
    } else {
        DiscardDownload(target);
    }
    FtpClient1->SetLocalFileName(target.Final);
}

void TForm1::RemoteDelete()
{
    RunQueue(&TForm1::RemoteDeleteStep);
}

void TForm1::RemoteDeleteStep()
{
    if (--QueueCount < 0 || QueueCount >= std::int32_t(FileQueue.size())) return;
    const std::string entry = FileQueue[std::size_t(QueueCount)];
    if (const std::string problem = ftp::CommandTextProblem(entry); !problem.empty()) {
        Log(QStringLiteral("! Delete of %1 refused: %2")
                .arg(ftp::RemoteText(entry), QString::fromStdString(problem)));
        RemoteDelete();
        return;
    }
    FtpClient1->SetHostDirName(RemoteDirectory());
    FtpClient1->SetHostFileName(entry);
    Log(QStringLiteral("Del ") + ftp::RemoteText(entry) + u' ' +
        LocalText(FtpClient1->LocalFileName()));
    if (!RunRequest(&TFtpClient::Dele)) {
        Log(QStringLiteral("! Del %1 was not started").arg(ftp::RemoteText(entry)));
        RemoteDelete();
    }
}

void TForm1::LocalDelete()
{
    while (QueueCount >= 1) {
        --QueueCount;
        if (QueueCount >= std::int32_t(FileQueue.size())) continue;
        const QString path = LocalText(FileQueue[std::size_t(QueueCount)]);
        QFile::remove(path);  // a file that cannot be deleted is skipped
        Log(QStringLiteral("Del ") + path);
    }
    if (copyform) {
        copyform->FileListBox1->Update();
        ShowWindow(copyform);
    }
}

// ---- The transfer window's operations ---------------------------------------------------------

void TForm1::AttachTransferWindow(Tcopyform* transfer)
{
    if (transfer_ && transfer_ != transfer && transfer_->Operations() == this)
        transfer_->SetOperations(nullptr);
    transfer_ = transfer;
    if (transfer) {
        transfer->SetOperations(this);
        // Cancel works while the wait control swallows every other click.
        tWait->AllowInput(transfer->CancelTransferBut);
    }
}

bool TForm1::DirectoryListings() const
{
    return AutoDirCB->isChecked();
}

void TForm1::UploadFiles(std::vector<std::string> localPaths)
{
    FileQueue = std::move(localPaths);
    UploadAll();
}

void TForm1::DownloadFiles(std::vector<std::string> remoteNames)
{
    FileQueue = std::move(remoteNames);
    DownloadAll();
}

void TForm1::DeleteRemoteFiles(std::vector<std::string> remoteNames)
{
    FileQueue = std::move(remoteNames);
    QueueCount = std::int32_t(FileQueue.size());
    RemoteDelete();
}

void TForm1::DeleteLocalFiles(std::vector<std::string> localPaths)
{
    FileQueue = std::move(localPaths);
    QueueCount = std::int32_t(FileQueue.size());
    LocalDelete();
}

void TForm1::ViewRemoteFile(std::string remoteName)
{
    FileQueue.assign(1, std::move(remoteName));
    ViewPending = true;
    View();
}

void TForm1::ChangeDirectory(const std::string& remoteName)
{
    FtpClient1->SetHostDirName(remoteName);
    FtpClient1->Cwd();
}

void TForm1::ChangeToParentDirectory()
{
    FtpClient1->CDup();
}

void TForm1::MakeDirectory(const std::string& remoteName)
{
    FtpClient1->SetHostFileName(remoteName);
    FtpClient1->Mkd();
}

void TForm1::RemoveDirectory(const std::string& remoteName)
{
    FtpClient1->SetHostFileName(remoteName);
    FtpClient1->Rmd();
}

void TForm1::CloseSession()
{
    FtpClient1->Quit();
    close();
}

// ---- Viewer -------------------------------------------------------------------------------------

void TForm1::View()
{
    if (FileQueue.empty()) {
        ViewPending = false;
        return;
    }
    ViewFileName = FileQueue[0];
    std::string problem = ftp::LocalNameProblem(ViewFileName);
    if (problem.empty() && TempDir.isEmpty()) problem = "there is no private temporary directory";
    ftp::TLocalTarget target;
    if (problem.empty()) problem = ftp::PrepareDownload(LocalBytes(TempDir), ViewFileName, target);
    if (!problem.empty()) {
        ViewPending = false;
        Log(QStringLiteral("! View of %1 refused: %2")
                .arg(ftp::RemoteText(ViewFileName), QString::fromStdString(problem)));
        return;
    }

    FtpClient1->SetBinary(false);
    FtpClient1->TypeSet();
    QueueCount = std::int32_t(FileQueue.size());
    FtpClient1->SetHostDirName(RemoteDirectory());
    FtpClient1->SetLocalFileName(target.Part);
    FtpClient1->SetHostFileName(ViewFileName);
    Log(QStringLiteral("get ") + ftp::RemoteText(ViewFileName) + u' ' + LocalText(target.Final));
    download_ = target;
    BeginTransfer(QStringLiteral("get ") + ftp::RemoteText(ViewFileName),
                  copyform ? copyform->ListedSize(ViewFileName) : -1);
    if (!RunRequest(&TFtpClient::Get)) {
        EndTransfer(false);
        DiscardDownload(std::exchange(download_, {}));
        ViewPending = false;
        Log(QStringLiteral("! get %1 was not started").arg(ftp::RemoteText(ViewFileName)));
    }
}

void TForm1::ViewTheFile()
{
    const QString path = TempDir + LocalText(ViewFileName);
    if (TempDir.isEmpty() || !QFileInfo::exists(path)) return;
    // The viewed file keeps no copy on disk, whatever the import does.
    struct RemoveCopy {
        QString path;
        ~RemoveCopy() { QFile::remove(path); }
    } removeCopy{path};
    auto* editor = new TmyForm1;
    editor->SetCaption(ftp::RemoteText(ViewFileName));
    if (frame::TFrameCommands* f = frame::Frame()) {
        f->AddChildWindow(editor);
    } else {
        editor->setAttribute(Qt::WA_DeleteOnClose);
        editor->show();
    }
    ImportUnixText(editor, path, false);
}
