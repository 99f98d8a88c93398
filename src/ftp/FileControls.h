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
// thousands of files fills it at once and every name goes back to the server unchanged.
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
    // The selected rows, top to bottom.
    std::vector<int> SelectedRows() const;

private:
    TRemoteFileModel* model_ = nullptr;
};
