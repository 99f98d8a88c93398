#include "ftp/FileControls.h"

#include "ftp/FtpLocalFiles.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStyle>

#include <algorithm>

namespace {

constexpr int kPathRole = Qt::UserRole + 1;

QString CleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

}  // namespace

// ---- Places -------------------------------------------------------------------------------------

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent)
{
    QStringList roots{QStringLiteral("/")};
    const QString home = CleanAbsolute(QDir::homePath());
    if (home != QLatin1String("/")) roots.append(home);
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || !volume.isReady() || roots.contains(root)) continue;
        if (root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/mnt/")) ||
            root.startsWith(QLatin1String("/run/media/")))
            roots.append(root);
    }
    addItems(roots);
    connect(this, &QComboBox::activated, this,
            [this](int index) { emit PlaceChosen(itemText(index)); });
}

void TDriveComboBox::ShowPlaceOf(const QString& path)
{
    int best = 0;
    qsizetype bestLength = 0;
    for (int i = 0; i < count(); ++i) {
        const QString root = itemText(i);
        const bool holds = path == root || path.startsWith(ftp::AppendSlash(root));
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    setCurrentIndex(best);
}

// ---- Directory list -----------------------------------------------------------------------------

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { SetDirectory(PathOf(item)); });
}

QString TDirectoryListBox::PathOf(const QListWidgetItem* item)
{
    return item ? item->data(kPathRole).toString() : QString();
}

bool TDirectoryListBox::SetDirectory(const QString& path)
{
    if (path.isEmpty()) return false;
    const QString dir = CleanAbsolute(path);
    const QFileInfo info(dir);
    if (!info.isDir() || !info.isReadable()) return false;
    const bool changed = dir != directory_;
    directory_ = dir;
    Update();
    if (changed) emit DirectoryChanged(directory_);
    return true;
}

void TDirectoryListBox::Update()
{
    clear();
    // The path from the root down to the current directory, one level per entry.
    QStringList parts = directory_.split(u'/', Qt::SkipEmptyParts);
    QString path = QStringLiteral("/");
    auto add = [this](const QString& text, const QString& itemPath, int level) {
        auto* item = new QListWidgetItem(QString(level * 2, u' ') + text, this);
        item->setData(kPathRole, itemPath);
        return item;
    };
    QListWidgetItem* current = add(QStringLiteral("/"), path, 0);
    int level = 0;
    for (const QString& part : parts) {
        path = ftp::AppendSlash(path) + part;
        current = add(part, path, ++level);
    }
    QFont bold = current->font();
    bold.setBold(true);
    current->setFont(bold);
    const QStringList subdirs =
        QDir(directory_)
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& sub : subdirs)
        add(sub, ftp::AppendSlash(directory_) + sub, level + 1);
    setCurrentItem(current);
}

// ---- File list ----------------------------------------------------------------------------------

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
}

void TFileListBox::SetDirectory(const QString& path)
{
    directory_ = CleanAbsolute(path);
    Update();
}

void TFileListBox::Update()
{
    clear();
    if (directory_.isEmpty()) return;
    addItems(QDir(directory_).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name));
}

QString TFileListBox::PathOf(const QListWidgetItem* item) const
{
    return ftp::AppendSlash(directory_) + item->text();
}

// ---- Remote file grid ---------------------------------------------------------------------------

int TRemoteFileModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int TRemoteFileModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant TRemoteFileModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size())) return QVariant();
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return QVariant();
    const ftp::TDirEntry& e = rows_[std::size_t(index.row())];
    switch (index.column()) {
    case 0:
        return ftp::RemoteText(e.Name);
    case 1:
        return ftp::RemoteText(e.Size);
    case 2:
        return ftp::RemoteText(e.Date);
    default:
        return QVariant();
    }
}

QVariant TRemoteFileModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) return QVariant();
    if (orientation == Qt::Vertical) return QVariant();
    switch (section) {
    case 0:
        return QStringLiteral("File Name");
    case 1:
        return QStringLiteral("File Size");
    case 2:
        return QStringLiteral("Date/Time");
    default:
        return QVariant();
    }
}

void TRemoteFileModel::SetRows(std::vector<ftp::TDirEntry> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

TRemoteGrid::TRemoteGrid(QWidget* parent) : QTableView(parent)
{
    model_ = new TRemoteFileModel(this);
    setModel(model_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    setColumnWidth(0, 150);
    setColumnWidth(1, 64);
    setColumnWidth(2, 80);
}

void TRemoteGrid::Clear()
{
    model_->SetRows({});
}

void TRemoteGrid::SetEmptyRow()
{
    model_->SetRows(std::vector<ftp::TDirEntry>(1));
    FitColumns();
}

void TRemoteGrid::SetFiles(std::vector<ftp::TDirEntry> files)
{
    model_->SetRows(std::move(files));
    FitColumns();
}

int TRemoteGrid::ColumnWidthFor(const QString& text, bool header) const
{
    const QFont f = header ? horizontalHeader()->font() : font();
    // The item's text margins (the focus frame's margin plus one, each side), the grid line, and
    // for the header its own margins.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int extra = header ? 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this) : 0;
    return QFontMetrics(f).horizontalAdvance(text) + 2 * margin + 2 + extra;
}

void TRemoteGrid::FitColumns()
{
    // The longest texts by their number of characters are measured: the digits of a size are of
    // one width in the fonts a grid uses, and the dates of a listing differ little, so a few
    // hundred of the longest dates stand for all of them (a listing may have 100,000 rows).
    int sizeWidth = ColumnWidthFor(QStringLiteral("File Size"), true);
    int dateWidth = ColumnWidthFor(QStringLiteral("Date/Time"), true);
    const int widestSize = ColumnWidthFor(QString(kSizeDigits, u'0'), false);
    std::size_t longestSize = 0, longestDate = 0;
    int sizeRow = -1, datesMeasured = 0;
    for (int row = 0; row < model_->rowCount(); ++row) {
        const ftp::TDirEntry& e = model_->Row(row);
        if (e.Size.size() > longestSize) {
            longestSize = e.Size.size();
            sizeRow = row;
        }
        if (e.Date.size() > longestDate) {
            longestDate = e.Date.size();
            datesMeasured = 0;
        }
        if (e.Date.size() == longestDate && datesMeasured < 256) {
            ++datesMeasured;
            dateWidth = std::max(dateWidth, ColumnWidthFor(Cell(2, row), false));
        }
    }
    if (sizeRow >= 0)
        sizeWidth =
            std::max(sizeWidth, std::min(widestSize, ColumnWidthFor(Cell(1, sizeRow), false)));
    setColumnWidth(1, sizeWidth);
    setColumnWidth(2, dateWidth);
    // A grid not shown yet has no width of its own: the name column is fitted when it shows.
    fitPending_ = !isVisible();
    if (fitPending_) return;
    viewportWidth_ = viewport()->width();
    setColumnWidth(0, std::max(kMinNameWidth, viewportWidth_ - sizeWidth - dateWidth));
}

void TRemoteGrid::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    if (fitPending_) FitColumns();
}

bool TRemoteGrid::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Resize && fitPending_ && isVisible()) {
        FitColumns();
    } else if (event->type() == QEvent::Resize) {
        // The name column takes what the grid gains or loses (a window resized, a scroll bar
        // come or gone).
        const int width = viewport()->width();
        if (viewportWidth_ >= 0 && width != viewportWidth_)
            setColumnWidth(0, std::max(kMinNameWidth, columnWidth(0) + width - viewportWidth_));
        viewportWidth_ = width;
    }
    return QTableView::viewportEvent(event);
}

QString TRemoteGrid::Cell(int column, int row) const
{
    return model_->data(model_->index(row, column)).toString();
}

std::vector<int> TRemoteGrid::SelectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}
