#pragma once
// The entry list of an explorer window as a Qt model. The rows of a node and
// their cells are made a batch at a time so that a page with tens of
// thousands of links never holds the window: the window calls appendBatch
// from a zero timer until it answers false. A chosen sort
// key holds while the list fills (each batch is merged in its place), and
// the cells are kept as text, so the rows never read the node store again.
//
// Thread: the GUI thread. Borrows the rows' nodes and links until the next
// reset; the window resets the model whenever the store changes them.
#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "explorer/explorer_entries.h"
#include "explorer/explorer_list_state.h"

namespace fetchora {

class ExplorerEntryModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using IconFn = std::function<QIcon(const EntryRow&)>;
    explicit ExplorerEntryModel(IconFn icons, QObject* parent = nullptr);

    // Empties the list; the builder's rows come with appendBatch. Null
    // leaves the list empty.
    void reset(std::unique_ptr<EntryRowsBuilder> rows, bool sizesInBytes);
    // Takes up to count more entries of the builder into the list; false
    // once none is left.
    bool appendBatch(size_t count);
    // Drops the rows not shown yet.
    void cancel() { m_builder.reset(); }
    bool filling() const { return m_builder != nullptr; }

    const EntryRow& rowAt(int row) const { return m_items[static_cast<size_t>(row)].row; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // The column names are the string table's list 61374, in the current language.
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The language changed: the headers show its names.
    void retext();
    // A column below 0 restores page order.
    void sort(int column, Qt::SortOrder order) override;

private:
    struct Item {
        EntryRow row;
        std::array<QString, kExplorerColumns> cells;
        qint64 size = -1;  // folders and unknown sizes sort first
        qint64 modified = -1;
        size_t order = 0;  // place in the page, the tie-breaker
        QIcon icon;
    };
    bool less(const Item& a, const Item& b) const;
    // Reorders rows with a layout change, keeping the selection on its rows.
    void reorder(const std::function<void()>& change);

    IconFn m_icons;
    std::vector<Item> m_items;
    std::unique_ptr<EntryRowsBuilder> m_builder;
    size_t m_taken = 0;  // entries taken so far, in page order
    bool m_inBytes = false;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

}  // namespace fetchora
