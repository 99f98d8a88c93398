// The controls of the transfer window's two sides.
//
// Local side (in place of a drive box, a directory tree and a file list):
// - TDriveComboBox: the places to start from ("/", the home directory, mounted media);
// - TDirectoryListBox: the current local directory as the path from "/" down to it, one entry
//   per level, followed by its subdirectories; activating an entry (double click or Enter)
//   changes to it. Its directory is the local directory of every transfer;
// - TFileListBox: the files of that directory (hidden ones too), several selectable.
//
// Remote side: TRemoteGrid, the three-column grid of remote files (name, size, date as the
// listing gives them) over a model that holds the listing's bytes, so that a listing of many
// thousands of files fills it at once and every name goes back to the server unchanged. Its
// columns can be resized and moved by the user. Each listing fits the size and date columns to
// what they show (a size of up to 13 digits whole, never elided), and the name column takes the
// rest of the width; when the grid grows or shrinks, the name column takes the difference.
#pragma once

#include "ftp/FtpListing.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QListWidget>
#include <QTableView>

#include <string>
#include <vector>

class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);
    // Shows the place that holds path (the longest root that is a prefix of it).
    void ShowPlaceOf(const QString& path);

signals:
    // The user chose a place.
    void PlaceChosen(const QString& root);
};

class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    const QString& Directory() const { return directory_; }
    // Changes to path when it is a directory that can be read (else nothing changes; false).
    bool SetDirectory(const QString& path);
    // Reads the current directory's subdirectories again.
    void Update();
    // The path an entry stands for.
    static QString PathOf(const QListWidgetItem* item);

signals:
    void DirectoryChanged(const QString& directory);

private:
    QString directory_;
};

class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    const QString& Directory() const { return directory_; }
    void SetDirectory(const QString& path);
    // Reads the directory again (the selection is dropped).
    void Update();
    // Directory + "/" + the entry's name.
    QString PathOf(const QListWidgetItem* item) const;

private:
    QString directory_;
};

// The rows of the remote file grid.
class TRemoteFileModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void SetRows(std::vector<ftp::TDirEntry> rows);
    const ftp::TDirEntry& Row(int row) const { return rows_[std::size_t(row)]; }

private:
    std::vector<ftp::TDirEntry> rows_;
};

class TRemoteGrid : public QTableView {
    Q_OBJECT
public:
    explicit TRemoteGrid(QWidget* parent = nullptr);

    // Rows below the header.
    int RowCount() const { return model_->rowCount(); }
    // Only the header row.
    void Clear();
    // One empty row below the header (a directory without files).
    void SetEmptyRow();
    void SetFiles(std::vector<ftp::TDirEntry> files);
    // Column 0 name, 1 size, 2 date, as shown.
    QString Cell(int column, int row) const;
    // The name's bytes as the listing gave them.
    const std::string& RawName(int row) const { return model_->Row(row).Name; }
    const std::string& RawSize(int row) const { return model_->Row(row).Size; }
    // The selected rows, top to bottom.
    std::vector<int> SelectedRows() const;

    // Fits the size and date columns to the rows and gives the name column the rest.
    void FitColumns();
    // The narrowest the name column is made by FitColumns and by resizing.
    static constexpr int kMinNameWidth = 48;
    // The widest size that is shown whole: 13 digits.
    static constexpr int kSizeDigits = 13;

protected:
    bool viewportEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Width a column needs for a text: the text plus the cell's margins.
    int ColumnWidthFor(const QString& text, bool header) const;

    TRemoteFileModel* model_ = nullptr;
    int viewportWidth_ = -1;   // the viewport's width when the columns were last fitted
    bool fitPending_ = false;  // fitted while hidden: the name column waits for a width
};
