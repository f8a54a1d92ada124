// The rows of found files: what the list on the main window shows.
//
// Rows are kept in the order they were appended and reached through a stable RowId; the
// display order (ascending by the sort column, case-insensitive and locale-aware, equal
// keys in append order) is worked out lazily, once after a batch of changes, so that a
// scan can append 100,000 rows one by one without re-sorting or repainting each time.
#pragma once

#include "cache/browser/browser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cache {

// One found file: a row of the list. The list control shows four columns of it
// (list_columns.h); the rest it carries for the tooltip, --list --json, the report and saving.
struct FoundFile {
    std::string url;      // the row's own text, column "URL"
    std::string fileName; // sub-item 1, "Filename(s)"
    // Sub-item 2, "Size": the bytes of the file (a browser row's once decoded), shown as its
    // decimal digits. Nothing where the step that sets it failed: the column is empty.
    std::optional<std::uint64_t> size;
    std::string path; // sub-item 3, "File Path"
    bool ticked = false;
    // A browser cache keeps a body inside its entry file, perhaps compressed: then the
    // row's content is read from here, and "File Path" only names the entry file.
    // Null for a WinINet row, whose content is the file at "File Path".
    std::shared_ptr<const browser::BodyLocation> body;
    // The program and profile the row's cache belongs to ("Chrome Default"); not a column.
    std::string source;
    // When the response was stored and when the entry was last used, seconds since 1970
    // UTC; nothing where the cache does not keep that time. The window shows `cached` only
    // in a row's tooltip.
    std::optional<std::int64_t> cached, lastUsed;
    // A row read from inside a disk image: the image as named, its partition ("p2"; empty
    // for an image that is one file system) and the path inside it, which "File Path" shows
    // together (platform::ImageFilePath). Empty for a row of the host's own files.
    std::string image, partition, insidePath;
    // Read back from a deleted cache file inside a disk image (asked for with --deleted).
    bool deleted = false;

    // The MIME type of the file name's extension (file_types.h).
    std::string contentType() const;
};

// The text a column shows for a row (0: the row's own text, 1 to 3: its sub-items).
std::string ColumnText(const FoundFile& row, int column);
// The same as a view: of the row's own text, or for the size, of its digits put in `digits`.
std::string_view ColumnView(const FoundFile& row, int column, std::string& digits);

using RowId = std::size_t;

// Told about changes so that a view can follow them. Calls may come thousands of times
// per second; a view should only note them and catch up when it next paints.
class FoundFileListObserver {
  public:
    virtual ~FoundFileListObserver() = default;
    virtual void rowsReset() = 0;              // cleared, or rows added / reordered
    virtual void rowsChanged() = 0;            // ticks or texts of existing rows changed
    virtual void ensureVisible(RowId row) = 0; // scroll to this row when catching up
};

class FoundFileList {
  public:
    using SortKeyFunction = std::function<std::string(std::string_view)>;

    FoundFileList();

    // Column set-up (the view reads these).
    void addColumn(std::string caption);
    void setColumnWidth(int column, int twips); // column counted from 1
    const std::vector<std::string>& columnCaptions() const { return captions_; }
    const std::vector<int>& columnWidths() const { return widths_; }
    void setSorted(bool sorted);
    void setSortKey(int key); // 0: row text, 1..3: sub-items
    // The collation: turns a text into a key compared bytewise.
    void setSortKeyFunction(SortKeyFunction f);

    void clear();
    RowId append(std::string text);
    RowId append(FoundFile row); // a whole row at once
    // Room for `rows` rows in all, before appending many: rows are large, and moving them at
    // every doubling costs more than reading some of them. Grows at least twofold, so that
    // reserving for one cache after another stays linear.
    void reserve(std::size_t rows) {
        if (rows > rows_.capacity())
            rows_.reserve(std::max(rows, 2 * rows_.capacity()));
    }
    void setTick(RowId row, bool ticked);
    void setSubItem(RowId row, int index, std::string text); // the text sub-items, 1 and 3
    void setSize(RowId row, std::uint64_t size);             // sub-item 2
    void setBody(RowId row, std::shared_ptr<const browser::BodyLocation> body);
    void setSource(RowId row, std::string source);
    // A row read from inside a disk image: where it is in it.
    void setImagePlace(RowId row, std::string image, std::string partition, std::string insidePath);
    void setTimes(RowId row, std::optional<std::int64_t> cached,
                  std::optional<std::int64_t> lastUsed); // changes neither text nor order
    void ensureVisible(RowId row);

    std::size_t count() const { return rows_.size(); }
    // The row at display position 1..count; throws app::SubscriptOutOfRange otherwise.
    RowId rowAt(std::size_t position) const;
    std::size_t positionOf(RowId row) const; // 1-based
    const FoundFile& row(RowId id) const;
    std::string subItem(RowId row, int index) const; // 0..3, as ColumnText
    bool exists(RowId id) const { return id < rows_.size(); }

    // The row the user last clicked; throws when none is selected.
    RowId selected() const;
    std::optional<RowId> selectedIfAny() const { return selected_; }
    void select(std::optional<RowId> row);

    void setObserver(FoundFileListObserver* observer) { observer_ = observer; }

  private:
    void invalidateOrder();
    void ensureOrder() const;
    void changed(int column); // after a column of a row changed

    std::vector<FoundFile> rows_;
    std::vector<std::string> captions_;
    std::vector<int> widths_;
    bool sorted_ = false;
    int sortKey_ = 0;
    SortKeyFunction keyFunction_;
    std::optional<RowId> selected_;
    FoundFileListObserver* observer_ = nullptr;

    mutable bool orderValid_ = true;
    mutable std::vector<RowId> order_;      // display position - 1 -> RowId
    mutable std::vector<std::size_t> rank_; // RowId -> display position - 1
};

} // namespace cache
