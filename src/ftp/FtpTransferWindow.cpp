#include "ftp/FtpTransferWindow.h"

#include "ftp/FtpListing.h"
#include "ftp/FtpLocalFiles.h"
#include "ftp/FtpWindowHelpers.h"
#include "platform/TempDir.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace {

constexpr int kRawNameRole = Qt::UserRole + 1;
constexpr int kUpOneDirRole = Qt::UserRole + 2;
constexpr int kMiddleWidth = 128;
const QString kUpOneDir = QStringLiteral("<up one dir>");

QPushButton* Button(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QLabel* Label(QWidget* parent, const QString& text)
{
    auto* label = new QLabel(text, parent);
    return label;
}

QByteArray Bytes(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

QString Count(std::int64_t n)
{
    return QLocale(QLocale::English).toString(qlonglong(n));
}

// A rate as people read it: bytes, kilobytes or megabytes (of 1024) a second.
QString Rate(double bytesPerSecond)
{
    if (bytesPerSecond >= 1024.0 * 1024.0)
        return QStringLiteral("%1 MB/s").arg(bytesPerSecond / (1024.0 * 1024.0), 0, 'f', 1);
    if (bytesPerSecond >= 1024.0)
        return QStringLiteral("%1 KB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 B/s").arg(qint64(bytesPerSecond));
}

// m:ss, or h:mm:ss from an hour on.
QString Duration(std::int64_t seconds)
{
    const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(sec, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(sec, 2, 10, QLatin1Char('0'));
}

// A size of the listing as a number: decimal digits only.
std::int64_t SizeOf(const std::string& text)
{
    if (text.empty() || text.size() > 18) return -1;
    std::int64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

Tcopyform::Tcopyform(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("copyform"));
    setWindowTitle(QStringLiteral("Transfer Files"));
    setFont(QFont(QStringLiteral("Times New Roman"), 10));
    resize(kDefaultWidth, kDefaultHeight);
    ftpui::CenterOnScreen(this);
    BuildControls();
    FormCreate();
    // The local panel's width from the start: left to its contents (a long directory path in
    // the place box) the window would open wider than it is made.
    FormResize();
}

void Tcopyform::BuildControls()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* sides = new QHBoxLayout;
    sides->setSpacing(4);
    layout->addLayout(sides, 4);

    // Local side.
    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto* local = new QVBoxLayout(Panel2);
    local->setContentsMargins(0, 0, 0, 0);
    local->addWidget(Label(Panel2, QStringLiteral("Local Computer")));
    DriveComboBox1 = new TDriveComboBox(Panel2);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DirectoryListBox1 = new TDirectoryListBox(Panel2);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    FileListBox1 = new TFileListBox(Panel2);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    SelectAllBut = Button(Panel2, "SelectAllBut", QStringLiteral("Select All Files"));
    local->addWidget(DriveComboBox1);
    local->addWidget(DirectoryListBox1, 1);
    local->addWidget(FileListBox1, 1);
    local->addWidget(SelectAllBut);
    sides->addWidget(Panel2);

    // Middle column.
    Panel5 = new QWidget(this);
    Panel5->setObjectName(QStringLiteral("Panel5"));
    Panel5->setFixedWidth(kMiddleWidth);
    auto* middle = new QVBoxLayout(Panel5);
    middle->setContentsMargins(0, 0, 0, 0);
    UploadBut = Button(Panel5, "UploadBut", QStringLiteral("&Upload ==>"));
    DownloadBut = Button(Panel5, "DownloadBut", QStringLiteral("<== &Download"));
    CancelBut = Button(Panel5, "CancelBut", QStringLiteral("&Close"));
    RadioGroup1 = new QGroupBox(Panel5);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    auto* radios = new QVBoxLayout(RadioGroup1);
    BinaryItem = new QRadioButton(QStringLiteral("Binary"), RadioGroup1);
    BinaryItem->setObjectName(QStringLiteral("BinaryItem"));
    TextItem = new QRadioButton(QStringLiteral("Text"), RadioGroup1);
    TextItem->setObjectName(QStringLiteral("TextItem"));
    radios->addWidget(BinaryItem);
    radios->addWidget(TextItem);
    ChgDirBut = Button(Panel5, "ChgDirBut", QStringLiteral("ChgDir ==>"));
    RmDirBut = Button(Panel5, "RmDirBut", QStringLiteral("RmDir ==>"));
    MkDirBut = Button(Panel5, "MkDirBut", QStringLiteral("MkDir ==>"));
    DelRemFileBut = Button(Panel5, "DelRemFileBut", QStringLiteral("Delete ==>"));
    DelLocFileBut = Button(Panel5, "DelLocFileBut", QStringLiteral("<== Delete"));
    AdvMenuCB = new QCheckBox(QStringLiteral("Advanced Menu"), Panel5);
    AdvMenuCB->setObjectName(QStringLiteral("AdvMenuCB"));
    ViewBut = Button(Panel5, "ViewBut", QStringLiteral("View ==>"));
    Label4 = new QLabel(Panel5);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setAlignment(Qt::AlignCenter);
    for (QWidget* w : {static_cast<QWidget*>(UploadBut), static_cast<QWidget*>(DownloadBut),
                       static_cast<QWidget*>(CancelBut), static_cast<QWidget*>(RadioGroup1),
                       static_cast<QWidget*>(ChgDirBut), static_cast<QWidget*>(RmDirBut),
                       static_cast<QWidget*>(MkDirBut), static_cast<QWidget*>(DelRemFileBut),
                       static_cast<QWidget*>(DelLocFileBut), static_cast<QWidget*>(AdvMenuCB),
                       static_cast<QWidget*>(ViewBut)})
        middle->addWidget(w);
    middle->addStretch(1);
    middle->addWidget(Label4);
    sides->addWidget(Panel5);

    // Remote side.
    Panel6 = new QWidget(this);
    Panel6->setObjectName(QStringLiteral("Panel6"));
    auto* remote = new QVBoxLayout(Panel6);
    remote->setContentsMargins(0, 0, 0, 0);
    remote->addWidget(Label(Panel6, QStringLiteral("Remote Computer")));
    RemoteDirEdit = new QLineEdit(Panel6);
    RemoteDirEdit->setObjectName(QStringLiteral("RemoteDirEdit"));
    auto* dirRow = new QHBoxLayout;
    auto* dirLabel = Label(Panel6, QStringLiteral("Current Directory"));
    dirLabel->setBuddy(RemoteDirEdit);
    dirRow->addWidget(dirLabel);
    dirRow->addWidget(RemoteDirEdit, 1);
    remote->addLayout(dirRow);
    RemoteDirList = new QListWidget(Panel6);
    RemoteDirList->setObjectName(QStringLiteral("RemoteDirList"));
    RemoteDirList->setUniformItemSizes(true);
    RemoteDirList->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1 = new TRemoteGrid(Panel6);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    remote->addWidget(RemoteDirList, 1);
    remote->addWidget(StringGrid1, 2);
    sides->addWidget(Panel6, 1);

    // Transfer log.
    Panel12 = new QWidget(this);
    Panel12->setObjectName(QStringLiteral("Panel12"));
    auto* bottom = new QVBoxLayout(Panel12);
    bottom->setContentsMargins(0, 0, 0, 0);
    auto* progress = new QHBoxLayout;
    ProgressBar1 = new QProgressBar(Panel12);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setFixedWidth(kMiddleWidth);
    ProgressBar1->reset();
    ProgressLabel = new QLabel(Panel12);
    ProgressLabel->setObjectName(QStringLiteral("ProgressLabel"));
    // A long name must not widen the window.
    ProgressLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    CancelTransferBut = Button(Panel12, "CancelTransferBut", QStringLiteral("Cancel"));
    CancelTransferBut->setEnabled(false);
    progress->addWidget(ProgressBar1);
    progress->addWidget(ProgressLabel, 1);
    progress->addWidget(CancelTransferBut);
    bottom->addLayout(progress);
    Memo1 = new QPlainTextEdit(Panel12);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bottom->addWidget(Memo1);
    layout->addWidget(Panel12, 1);

    connect(DriveComboBox1, &TDriveComboBox::PlaceChosen, DirectoryListBox1,
            &TDirectoryListBox::SetDirectory);
    connect(DirectoryListBox1, &TDirectoryListBox::DirectoryChanged, this,
            [this](const QString& dir) {
                FileListBox1->SetDirectory(dir);
                DriveComboBox1->ShowPlaceOf(dir);
            });
    connect(SelectAllBut, &QPushButton::clicked, this, &Tcopyform::SelectAllButClick);
    connect(UploadBut, &QPushButton::clicked, this, &Tcopyform::UploadButClick);
    connect(DownloadBut, &QPushButton::clicked, this, &Tcopyform::DownloadButClick);
    connect(CancelBut, &QPushButton::clicked, this, &Tcopyform::CancelButClick);
    connect(ChgDirBut, &QPushButton::clicked, this, &Tcopyform::ChgDirButClick);
    // The click's handler refills the list it comes from: it runs once the click is over.
    connect(RemoteDirList, &QListWidget::itemClicked, this, &Tcopyform::RemoteDirListClick,
            Qt::QueuedConnection);
    connect(RmDirBut, &QPushButton::clicked, this, &Tcopyform::RmDirButClick);
    connect(MkDirBut, &QPushButton::clicked, this, &Tcopyform::MkDirButClick);
    connect(DelRemFileBut, &QPushButton::clicked, this, &Tcopyform::DelRemFileButClick);
    connect(DelLocFileBut, &QPushButton::clicked, this, &Tcopyform::DelLocFileButClick);
    connect(AdvMenuCB, &QCheckBox::clicked, this, &Tcopyform::AdvMenuCBClick);
    connect(ViewBut, &QPushButton::clicked, this, &Tcopyform::ViewButClick);
    connect(CancelTransferBut, &QPushButton::clicked, this, &Tcopyform::CancelTransferButClick);
}

void Tcopyform::FormCreate()
{
    SetRadioGroup1Index(0);
    AdvMenuCB->setChecked(false);
    AdvMenuCBClick();
    TempDir = platform::PrivateTempDir();
    StringGrid1->SetEmptyRow();
    DirectoryListBox1->SetDirectory(QDir::currentPath());
    FileListBox1->SetDirectory(DirectoryListBox1->Directory());
    DriveComboBox1->ShowPlaceOf(DirectoryListBox1->Directory());
}

void Tcopyform::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void Tcopyform::FormResize()
{
    if (isMinimized()) return;
    // Keeps the middle column in the middle of the window.
    Panel2->setFixedWidth(std::max(0, width() / 2 - kMiddleWidth / 2 - 4));
}

int Tcopyform::RadioGroup1Index() const
{
    if (BinaryItem->isChecked()) return 0;
    if (TextItem->isChecked()) return 1;
    return -1;
}

void Tcopyform::SetRadioGroup1Index(int index)
{
    (index == 0 ? BinaryItem : TextItem)->setChecked(true);
}

std::string Tcopyform::RemoteDirBytes() const
{
    // Text typed over the server's name is sent as typed.
    if (RemoteDirEdit->text() == ftp::RemoteText(remoteDirBytes_)) return remoteDirBytes_;
    return ftp::RemoteBytes(RemoteDirEdit->text());
}

void Tcopyform::SetRemoteDir(const std::string& bytes)
{
    remoteDirBytes_ = bytes;
    RemoteDirEdit->setText(ftp::RemoteText(bytes));
}

std::string Tcopyform::RemoteNameOf(const QListWidgetItem* item)
{
    if (!item) return std::string();
    return item->data(kRawNameRole).toByteArray().toStdString();
}

bool Tcopyform::IsUpOneDir(const QListWidgetItem* item)
{
    return item && item->data(kUpOneDirRole).toBool();
}

// ---- Listing ------------------------------------------------------------------------------------

void Tcopyform::ParseDir()
{
    RemoteDirList->clear();
    if (RemoteDirEdit->text() != QLatin1String("/")) {
        auto* up = new QListWidgetItem(kUpOneDir, RemoteDirList);
        up->setData(kUpOneDirRole, true);
    }
    StringGrid1->Clear();
    const QString path = TempDir + QStringLiteral("ftpdir.txt");
    if (TempDir.isEmpty() || !QFileInfo::exists(path)) return;

    ftp::TListing listing;
    ftp::ReadListingFile(path, listing);
    QFile::remove(path);

    RemoteDirList->setUpdatesEnabled(false);
    for (const std::string& name : listing.Directories) {
        auto* item = new QListWidgetItem(ftp::RemoteText(name), RemoteDirList);
        item->setData(kRawNameRole, Bytes(name));
    }
    RemoteDirList->setUpdatesEnabled(true);
    if (listing.Files.empty())
        StringGrid1->SetEmptyRow();
    else
        StringGrid1->SetFiles(std::move(listing.Files));
}

std::int64_t Tcopyform::ListedSize(const std::string& remoteName) const
{
    for (int row = 0; row < StringGrid1->RowCount(); ++row)
        if (StringGrid1->RawName(row) == remoteName) return SizeOf(StringGrid1->RawSize(row));
    return -1;
}

// ---- Progress -----------------------------------------------------------------------------------

void Tcopyform::BeginProgress(const QString& what, std::int64_t size)
{
    progressRunning_ = true;
    // The figures come first and the transfer's name after them, so a long name is what the
    // label cuts; the tooltip has it whole.
    progressWhat_ = QStringLiteral(" (") + what + u')';
    ProgressLabel->setToolTip(what);
    progressSize_ = size;
    progressBytes_ = 0;
    progressClock_.start();
    progressShownAt_ = -1;
    CancelTransferBut->setEnabled(true);
    PaintProgress();
}

void Tcopyform::SetProgressSize(std::int64_t size)
{
    if (!progressRunning_ || progressSize_ >= 0 || size < 0) return;
    progressSize_ = size;
}

void Tcopyform::ShowProgress(std::int64_t bytes)
{
    progressBytes_ = bytes;
    const qint64 now = progressClock_.isValid() ? progressClock_.elapsed() : 0;
    if (progressShownAt_ >= 0 && now - progressShownAt_ < kProgressMs) return;
    progressShownAt_ = now;
    PaintProgress();
}

void Tcopyform::EndProgress(bool completed)
{
    if (!progressRunning_) return;
    progressRunning_ = false;
    CancelTransferBut->setEnabled(false);
    const qint64 ms = std::max<qint64>(1, progressClock_.elapsed());
    Label4->setText(QString::number(progressBytes_) + QStringLiteral(" bytes sent"));
    if (completed && progressSize_ > 0) ProgressBar1->setValue(100);
    QString text;
    if (completed)
        text = QStringLiteral("%1 bytes in %2 s, %3")
                   .arg(Count(progressBytes_))
                   .arg(double(ms) / 1000.0, 0, 'f', 1)
                   .arg(Rate(double(progressBytes_) * 1000.0 / double(ms)));
    else
        text = QStringLiteral("stopped after %1 bytes").arg(Count(progressBytes_));
    ProgressLabel->setText(text + progressWhat_);
}

void Tcopyform::PaintProgress()
{
    Label4->setText(QString::number(progressBytes_) + QStringLiteral(" bytes sent"));
    const qint64 ms = progressClock_.elapsed();
    // A rate needs a little time to mean something.
    const double rate = ms >= 200 ? double(progressBytes_) * 1000.0 / double(ms) : -1.0;
    QString text = Count(progressBytes_);
    if (progressSize_ > 0) {
        const std::int64_t shown = std::min(progressBytes_, progressSize_);
        ProgressBar1->setValue(int(shown * 100 / progressSize_));
        text += QStringLiteral(" of %1 bytes").arg(Count(progressSize_));
    } else {
        ProgressBar1->reset();
        text += QStringLiteral(" bytes");
    }
    if (rate > 0) {
        text += QStringLiteral(", ") + Rate(rate);
        if (progressSize_ > 0)
            text +=
                QStringLiteral(", %1 left")
                    .arg(Duration(std::int64_t(
                        double(std::max<std::int64_t>(0, progressSize_ - progressBytes_)) / rate +
                        0.5)));
    }
    ProgressLabel->setText(text + progressWhat_);
}

// ---- Buttons ------------------------------------------------------------------------------------

void Tcopyform::CancelTransferButClick()
{
    if (operations_) operations_->CancelTransfer();
}

void Tcopyform::SelectAllButClick()
{
    FileListBox1->selectAll();
}

std::vector<std::string> Tcopyform::TakeLocalFiles()
{
    std::vector<std::string> paths;
    for (int i = 0; i < FileListBox1->count(); ++i) {
        QListWidgetItem* item = FileListBox1->item(i);
        if (!item->isSelected()) continue;
        paths.push_back(ftpui::LocalBytes(FileListBox1->PathOf(item)));
        item->setSelected(false);
    }
    return paths;
}

void Tcopyform::UploadButClick()
{
    if (!operations_) return;
    operations_->UploadFiles(TakeLocalFiles());
}

bool Tcopyform::TakeRemoteNames(const QString& title, bool topOnly, std::vector<std::string>& names)
{
    names.clear();
    if (operations_->DirectoryListings()) {
        for (const int row : StringGrid1->SelectedRows()) {
            names.push_back(StringGrid1->RawName(row));
            if (topOnly) break;
        }
        return true;
    }
    const QString answer = ftpui::InputBox(this, title, QStringLiteral("Enter File Name"));
    if (answer.isEmpty()) return false;
    names.push_back(ftp::RemoteBytes(answer));
    return true;
}

void Tcopyform::DownloadButClick()
{
    std::vector<std::string> names;
    if (!operations_ || !TakeRemoteNames(QStringLiteral("Download a File"), false, names)) return;
    if (!names.empty()) operations_->DownloadFiles(std::move(names));
}

void Tcopyform::DelRemFileButClick()
{
    std::vector<std::string> names;
    if (!operations_ || !TakeRemoteNames(QStringLiteral("Delete a File"), false, names)) return;
    if (!names.empty()) operations_->DeleteRemoteFiles(std::move(names));
}

void Tcopyform::ViewButClick()
{
    std::vector<std::string> names;
    if (!operations_ || !TakeRemoteNames(QStringLiteral("View a File"), true, names)) return;
    if (!names.empty()) operations_->ViewRemoteFile(std::move(names.front()));
}

void Tcopyform::DelLocFileButClick()
{
    if (!operations_) return;
    std::vector<std::string> paths = TakeLocalFiles();
    if (!paths.empty()) operations_->DeleteLocalFiles(std::move(paths));
}

void Tcopyform::CancelButClick()
{
    if (operations_) operations_->CloseSession();
    close();
}

void Tcopyform::ChgDirButClick()
{
    if (!operations_) return;
    // The list selects one entry at most.
    const QList<QListWidgetItem*> selected = RemoteDirList->selectedItems();
    QListWidgetItem* item = selected.isEmpty() ? nullptr : selected.constFirst();
    if (IsUpOneDir(item)) {
        operations_->ChangeToParentDirectory();
        operations_->Log(QStringLiteral("cdup"));
    } else if (item) {
        const std::string name = RemoteNameOf(item);
        operations_->Log(QStringLiteral("chdir ") + ftp::RemoteText(name));
        operations_->ChangeDirectory(name);
    } else {
        operations_->Log(QStringLiteral("chdir ") + RemoteDirEdit->text());
        operations_->ChangeDirectory(RemoteDirBytes());
    }
}

void Tcopyform::RemoteDirListClick()
{
    ChgDirButClick();
}

void Tcopyform::AskForDirectory(const QString& title, const QString& verb,
                                void (TFtpTransferOperations::*operation)(const std::string&))
{
    if (!operations_) return;
    const QString answer =
        ftpui::InputBox(this, title, QStringLiteral("Enter Directory Name")).left(255);
    if (answer.isEmpty()) return;
    operations_->Log(verb + u' ' + answer);
    (operations_->*operation)(ftp::RemoteBytes(answer));
}

void Tcopyform::MkDirButClick()
{
    AskForDirectory(QStringLiteral("Create Directory"), QStringLiteral("mkdir"),
                    &TFtpTransferOperations::MakeDirectory);
}

void Tcopyform::RmDirButClick()
{
    AskForDirectory(QStringLiteral("Remove Directory"), QStringLiteral("rmdir"),
                    &TFtpTransferOperations::RemoveDirectory);
}

void Tcopyform::AdvMenuCBClick()
{
    const bool on = AdvMenuCB->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(RmDirBut), static_cast<QWidget*>(MkDirBut),
                       static_cast<QWidget*>(ViewBut), static_cast<QWidget*>(DelRemFileBut),
                       static_cast<QWidget*>(DelLocFileBut)})
        w->setVisible(on);
}
