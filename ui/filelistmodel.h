// The Files tab's list: one row per source file (thumbnail, name, status,
// duration), sorted by name, and the painting of a row.
#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <vector>

#include "engine/app/sourcefiles.h"
#include "engine/batchrunner.h"

class FileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { StatusRole = Qt::UserRole + 1, CommentRole, ThumbnailRole, ProgressRole, AudioOnlyRole };

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Adds the files (and the media files of folders); answers how many rows
    // are new.
    int Add(const std::vector<FileSpec>& paths);
    void Remove(std::vector<std::size_t> rows);
    void Clear();
    const SourceFiles& Files() const { return files_; }

    // A run: one record per row (earlier results cleared); the runner
    // converts those still waiting.
    std::vector<FileRecord> PrepareRun();
    void SetProgress(std::size_t row, int permille);
    void SetOutcome(std::size_t row, const FileRecord& record);

private:
    void Reset(const std::function<void()>& change);

    SourceFiles files_;
    std::vector<int> progress_; // per row: 0 to 1000 while converting, else -1
};

// A row as the cell layout has it: a 60 × 45 picture at the left, the name
// and the status on the first line, the comment on the second; a thin
// progress bar under the text while the file converts.
class FileRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
