// The source file list of the Files tab.
#include "ui/filelistmodel.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

namespace {

constexpr int kMargin = 4;

QImage ThumbnailImage(const SourceFile& f) {
    if (f.thumbnail.Empty()) return {};
    QImage image(reinterpret_cast<const uchar*>(f.thumbnail.pixels.data()), f.thumbnail.width, f.thumbnail.height,
                 f.thumbnail.width * 4, QImage::Format_ARGB32);
    return image.copy(); // the model's pixels may move
}

} // namespace

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(files_.Files().size());
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const SourceFile& f = files_.Files()[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(f.path.filename().string());
    case Qt::ToolTipRole: return QString::fromStdString(f.path.string());
    case StatusRole: return QString::fromStdString(f.status);
    case CommentRole: return QString::fromStdString(f.comment);
    case ThumbnailRole: return ThumbnailImage(f);
    case ProgressRole: return progress_[static_cast<std::size_t>(index.row())];
    case AudioOnlyRole: return f.audioOnly;
    default: return {};
    }
}

void FileListModel::Reset(const std::function<void()>& change) {
    beginResetModel();
    change();
    progress_.assign(files_.Files().size(), -1);
    endResetModel();
}

int FileListModel::Add(const std::vector<FileSpec>& paths) {
    int added = 0;
    Reset([&] { added = static_cast<int>(files_.AddDropped(paths)); });
    return added;
}

void FileListModel::Remove(std::vector<std::size_t> rows) {
    Reset([&] { files_.Remove(std::move(rows)); });
}

void FileListModel::Clear() {
    Reset([&] { files_.Clear(); });
}

std::vector<FileRecord> FileListModel::PrepareRun() {
    files_.PrepareForRun();
    emit dataChanged(index(0), index(std::max(0, rowCount() - 1)));
    return files_.Records(); // one per row: the runner takes the waiting ones
}

void FileListModel::SetProgress(std::size_t row, int permille) {
    if (row >= progress_.size()) return;
    progress_[row] = permille;
    emit dataChanged(index(static_cast<int>(row)), index(static_cast<int>(row)), {ProgressRole});
}

void FileListModel::SetOutcome(std::size_t row, const FileRecord& record) {
    if (row >= progress_.size()) return;
    progress_[row] = -1;
    files_.SetResult(row, record);
    emit dataChanged(index(static_cast<int>(row)), index(static_cast<int>(row)));
}

QSize FileRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width(), kThumbnailHeight + 2 * kMargin};
}

void FileRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    o.text.clear();
    QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &o, p); // selection and focus
    const QRect box(o.rect.left() + kMargin, o.rect.top() + kMargin, kThumbnailWidth, kThumbnailHeight);
    p->save();
    p->fillRect(box, o.palette.alternateBase());
    const QImage thumbnail = index.data(FileListModel::ThumbnailRole).value<QImage>();
    if (!thumbnail.isNull()) {
        const QSize fitted = thumbnail.size().scaled(box.size(), Qt::KeepAspectRatio);
        p->drawImage(QRect(box.center() - QPoint(fitted.width() / 2, fitted.height() / 2), fitted), thumbnail);
    } else if (index.data(FileListModel::AudioOnlyRole).toBool()) {
        p->drawText(box, Qt::AlignCenter, QString::fromUtf8("\u266B")); // sound only
    }
    const bool selected = o.state & QStyle::State_Selected;
    p->setPen(o.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const int left = box.right() + 2 * kMargin, width = o.rect.right() - left - kMargin;
    const QRect first(left, o.rect.top() + kMargin, width, o.fontMetrics.height());
    const QRect second(left, first.bottom() + 2, width, o.fontMetrics.height());
    const QString status = index.data(FileListModel::StatusRole).toString();
    const QString name = o.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, width * 2 / 3);
    p->drawText(first, Qt::AlignLeft | Qt::AlignVCenter, name);
    p->drawText(first, Qt::AlignRight | Qt::AlignVCenter, o.fontMetrics.elidedText(status, Qt::ElideRight, width / 3));
    p->drawText(second, Qt::AlignLeft | Qt::AlignVCenter, index.data(FileListModel::CommentRole).toString());
    const int progress = index.data(FileListModel::ProgressRole).toInt();
    if (progress >= 0) {
        const QRect bar(left, second.bottom() + 4, width, 6);
        p->setPen(o.palette.color(QPalette::Mid));
        p->drawRect(bar);
        p->fillRect(QRect(bar.left() + 1, bar.top() + 1, (bar.width() - 1) * progress / 1000, bar.height() - 1),
                    o.palette.highlight());
    }
    p->restore();
}
