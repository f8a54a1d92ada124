#include "cache/scan/found_file_list.h"
#include "platform/base/ascii.h"

#include "app/guard/guard.h"
#include "cache/scan/file_types.h"
#include "cache/scan/list_columns.h"

#include <algorithm>
#include <numeric>

namespace cache {
namespace {

// The columns that hold text as it is: all but the size.
const std::string& TextOf(const FoundFile& f, int column) {
    switch (column) {
    case kUrlColumn:
        return f.url;
    case kFileNameColumn:
        return f.fileName;
    default:
        return f.path;
    }
}

} // namespace

std::string FoundFile::contentType() const {
    return ContentTypeFor(fileName);
}

std::string ColumnText(const FoundFile& row, int column) {
    if (column == kSizeColumn)
        return row.size ? std::to_string(*row.size) : std::string();
    return TextOf(row, column);
}

std::string_view ColumnView(const FoundFile& row, int column, std::string& digits) {
    if (column != kSizeColumn)
        return TextOf(row, column);
    digits = row.size ? std::to_string(*row.size) : std::string();
    return digits;
}

FoundFileList::FoundFileList() {
    keyFunction_ = [](std::string_view s) { return platform::AsciiLower(s); };
}

void FoundFileList::addColumn(std::string caption) {
    captions_.push_back(std::move(caption));
    widths_.push_back(1440); // a control's default column width, one inch
    if (observer_)
        observer_->rowsReset();
}

void FoundFileList::setColumnWidth(int column, int twips) {
    if (column < 1 || column > static_cast<int>(widths_.size()))
        throw app::SubscriptOutOfRange();
    widths_[static_cast<std::size_t>(column - 1)] = twips;
    if (observer_)
        observer_->rowsReset();
}

void FoundFileList::setSorted(bool sorted) {
    sorted_ = sorted;
    invalidateOrder();
}

void FoundFileList::setSortKey(int key) {
    if (key < kUrlColumn || key > kFilePathColumn)
        throw app::InvalidArgument();
    sortKey_ = key;
    invalidateOrder();
}

void FoundFileList::setSortKeyFunction(SortKeyFunction f) {
    keyFunction_ = std::move(f);
    invalidateOrder();
}

void FoundFileList::clear() {
    rows_.clear();
    selected_.reset();
    invalidateOrder();
}

RowId FoundFileList::append(std::string text) {
    FoundFile f;
    f.url = std::move(text);
    return append(std::move(f));
}

RowId FoundFileList::append(FoundFile row) {
    rows_.push_back(std::move(row));
    invalidateOrder();
    return rows_.size() - 1;
}

void FoundFileList::setTick(RowId row, bool ticked) {
    if (!exists(row))
        throw app::SubscriptOutOfRange();
    if (rows_[row].ticked == ticked)
        return;
    rows_[row].ticked = ticked;
    if (observer_)
        observer_->rowsChanged();
}

void FoundFileList::setSubItem(RowId row, int index, std::string text) {
    if (!exists(row) || (index != kFileNameColumn && index != kFilePathColumn))
        throw app::SubscriptOutOfRange();
    (index == kFileNameColumn ? rows_[row].fileName : rows_[row].path) = std::move(text);
    changed(index);
}

void FoundFileList::setSize(RowId row, std::uint64_t size) {
    if (!exists(row))
        throw app::SubscriptOutOfRange();
    rows_[row].size = size;
    changed(kSizeColumn);
}

void FoundFileList::changed(int column) {
    if (sorted_ && column == sortKey_)
        invalidateOrder();
    else if (observer_)
        observer_->rowsChanged();
}

void FoundFileList::setBody(RowId row, std::shared_ptr<const browser::BodyLocation> body) {
    if (!exists(row))
        throw app::SubscriptOutOfRange();
    rows_[row].body = std::move(body);
}

void FoundFileList::setImagePlace(RowId row, std::string image, std::string partition,
                                  std::string insidePath) {
    if (!exists(row))
        throw app::SubscriptOutOfRange();
    rows_[row].image = std::move(image);
    rows_[row].partition = std::move(partition);
    rows_[row].insidePath = std::move(insidePath);
}

void FoundFileList::setSource(RowId row, std::string source) {
    if (!exists(row))
        throw app::SubscriptOutOfRange();
    rows_[row].source = std::move(source);
}

void FoundFileList::setTimes(RowId row, std::optional<std::int64_t> cached,
                             std::optional<std::int64_t> lastUsed) {
    if (!exists(row))
        throw app::SubscriptOutOfRange();
    rows_[row].cached = cached;
    rows_[row].lastUsed = lastUsed;
}

std::string FoundFileList::subItem(RowId row, int index) const {
    if (!exists(row) || index < kUrlColumn || index > kFilePathColumn)
        throw app::SubscriptOutOfRange();
    return ColumnText(rows_[row], index);
}

const FoundFile& FoundFileList::row(RowId id) const {
    if (!exists(id))
        throw app::SubscriptOutOfRange();
    return rows_[id];
}

void FoundFileList::ensureVisible(RowId row) {
    if (!exists(row))
        throw app::SubscriptOutOfRange();
    // Positions are only known once the order is settled; the view asks for the position
    // of the last requested row when it catches up.
    if (observer_)
        observer_->ensureVisible(row);
}

RowId FoundFileList::rowAt(std::size_t position) const {
    if (position < 1 || position > rows_.size())
        throw app::SubscriptOutOfRange();
    ensureOrder();
    return order_[position - 1];
}

std::size_t FoundFileList::positionOf(RowId row) const {
    if (!exists(row))
        throw app::SubscriptOutOfRange();
    ensureOrder();
    return rank_[row] + 1;
}

RowId FoundFileList::selected() const {
    if (!selected_ || !exists(*selected_))
        throw std::runtime_error("Object variable or With block variable not set");
    return *selected_;
}

void FoundFileList::select(std::optional<RowId> row) {
    if (row && !exists(*row))
        throw app::SubscriptOutOfRange();
    selected_ = row;
}

void FoundFileList::invalidateOrder() {
    orderValid_ = false;
    if (observer_)
        observer_->rowsReset();
}

void FoundFileList::ensureOrder() const {
    if (orderValid_ && order_.size() == rows_.size())
        return;
    order_.resize(rows_.size());
    std::iota(order_.begin(), order_.end(), RowId{0});
    if (sorted_ && rows_.size() > 1) {
        std::vector<std::string> keys;
        keys.reserve(rows_.size());
        for (const FoundFile& f : rows_) {
            if (sortKey_ == kSizeColumn)
                keys.push_back(keyFunction_(ColumnText(f, sortKey_)));
            else
                keys.push_back(keyFunction_(TextOf(f, sortKey_)));
        }
        std::stable_sort(order_.begin(), order_.end(),
                         [&](RowId a, RowId b) { return keys[a] < keys[b]; });
    }
    rank_.resize(rows_.size());
    for (std::size_t i = 0; i < order_.size(); ++i)
        rank_[order_[i]] = i;
    orderValid_ = true;
}

} // namespace cache
