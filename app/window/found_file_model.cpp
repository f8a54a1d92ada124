#include "app/window/found_file_model.h"
#include "cache/scan/file_types.h"
#include "cache/scan/list_columns.h"
#include "platform/base/civil_time.h"
#include "platform/base/escape.h"

#include <QMetaObject>

namespace app {

FoundFileModel::FoundFileModel(cache::FoundFileList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {
    list_.setObserver(this);
    shownRows_ = static_cast<int>(list_.count());
    shownColumns_ = static_cast<int>(list_.columnCaptions().size());
}

FoundFileModel::~FoundFileModel() {
    list_.setObserver(nullptr);
}

int FoundFileModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}
int FoundFileModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownColumns_;
}

std::string RowToolTip(const cache::FoundFile& row) {
    std::string tip;
    if (!row.source.empty())
        tip += platform::VisibleText(row.source) + "\n";
    if (row.cached) {
        const std::string iso = platform::IsoUtc(*row.cached); // 2026-12-08T19:58:34Z
        tip += "Cached " + iso.substr(0, 10) + " " + iso.substr(11, 5) + " UTC\n";
    }
    return tip + row.contentType();
}

QString PlainTextToolTip(const QString& text) {
    // A tool tip that looks like markup is shown as rich text; a URL from a cache may hold
    // "<img src=...>" or a table. Escaped and laid out as preformatted text, it shows as written.
    return "<p style='white-space:pre'>" + text.toHtmlEscaped() + "</p>";
}

QVariant FoundFileModel::data(const QModelIndex& index, int role) const {
    // Between a change and the catch-up the view may still ask about rows that have gone.
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= list_.count() ||
        index.column() > cache::kFilePathColumn)
        return {};
    const cache::RowId id = list_.rowAt(static_cast<std::size_t>(index.row()) + 1);
    const cache::FoundFile& f = list_.row(id);
    // A path holds the file system's own bytes, which need not be UTF-8: shown readable,
    // with a replacement mark for what does not decode, while the list keeps the bytes. The
    // characters the one rule hides get the mark too, as in the report: a bidirectional
    // override would make the text read otherwise than it is.
    if (role == Qt::DisplayRole)
        return QString::fromStdString(platform::VisibleText(list_.subItem(id, index.column())));
    if (role == Qt::ToolTipRole)
        return PlainTextToolTip(QString::fromStdString(
            platform::VisibleText(list_.subItem(id, index.column())) + "\n" + RowToolTip(f)));
    if (role == Qt::CheckStateRole && index.column() == cache::kUrlColumn)
        return f.ticked ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool FoundFileModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != cache::kUrlColumn || !index.isValid() ||
        static_cast<std::size_t>(index.row()) >= list_.count())
        return false;
    const cache::RowId id = list_.rowAt(static_cast<std::size_t>(index.row()) + 1);
    list_.setTick(id, value.toInt() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags FoundFileModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == cache::kUrlColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant FoundFileModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const auto& captions = list_.columnCaptions();
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        static_cast<std::size_t>(section) < captions.size())
        return QString::fromStdString(captions[static_cast<std::size_t>(section)]);
    return {};
}

void FoundFileModel::rowsReset() {
    resetPending_ = true;
    schedule();
}

void FoundFileModel::rowsChanged() {
    changePending_ = true;
    schedule();
}

void FoundFileModel::ensureVisible(cache::RowId row) {
    visiblePending_ = row;
    schedule();
}

void FoundFileModel::schedule() {
    if (scheduled_)
        return;
    scheduled_ = true;
    QMetaObject::invokeMethod(this, &FoundFileModel::catchUp, Qt::QueuedConnection);
}

void FoundFileModel::catchUp() {
    scheduled_ = false;
    const int columns = static_cast<int>(list_.columnCaptions().size());
    const bool columnsChanged = columns != shownColumns_;
    if (resetPending_ || columnsChanged) {
        beginResetModel();
        shownRows_ = static_cast<int>(list_.count());
        shownColumns_ = columns;
        endResetModel();
        resetPending_ = false;
        changePending_ = false;
        emit columnsPrepared();
    }
    if (changePending_) {
        changePending_ = false;
        if (shownRows_ > 0)
            emit dataChanged(index(0, 0), index(shownRows_ - 1, std::max(shownColumns_ - 1, 0)));
    }
    if (visiblePending_) {
        const auto row = *visiblePending_;
        visiblePending_.reset();
        if (list_.exists(row))
            emit scrollToRow(index(static_cast<int>(list_.positionOf(row)) - 1, 0));
    }
}

} // namespace app
