// A Qt model over the found-file list. It notes the list's changes and catches up once,
// from the event loop, so that a scan appending 100,000 rows costs one reset, not 100,000.
#pragma once

#include "cache/scan/found_file_list.h"

#include <QAbstractTableModel>
#include <optional>
#include <string>

namespace app {

// What hovering a row tells besides its cells: the program and profile the row's cache
// belongs to, when the response was stored (to the minute, UTC) and the file's type, one a
// line; a line the row has nothing for is left out ("Chrome Default\nCached 2026-12-08
// 19:58 UTC\nimage/png"). The tooltip of a cell is its own full text, then these lines.
std::string RowToolTip(const cache::FoundFile& row);
// The tool tip's text as Qt should show it: never read as markup, line breaks kept.
QString PlainTextToolTip(const QString& text);

class FoundFileModel final : public QAbstractTableModel, public cache::FoundFileListObserver {
    Q_OBJECT
  public:
    explicit FoundFileModel(cache::FoundFileList& list, QObject* parent = nullptr);
    ~FoundFileModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Brings the view up to date now (the event loop does this by itself).
    void catchUp();

  signals:
    void columnsPrepared();
    void scrollToRow(const QModelIndex& index);

  private:
    void rowsReset() override;
    void rowsChanged() override;
    void ensureVisible(cache::RowId row) override;
    void schedule();

    cache::FoundFileList& list_;
    int shownRows_ = 0;
    int shownColumns_ = 0;
    bool resetPending_ = false;
    bool changePending_ = false;
    bool scheduled_ = false;
    std::optional<cache::RowId> visiblePending_;
};

} // namespace app
