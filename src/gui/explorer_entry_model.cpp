#include "gui/explorer_entry_model.h"

#include <algorithm>

#include "gui/ui_text.h"

namespace fetchora {

namespace {

constexpr uint32_t kColumnNamesId = 61374;

QString qText(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool isFolderLike(const ExplorerNode& node)
{
    return node.kind != ExplorerNodeKind::File;
}

}  // namespace

ExplorerEntryModel::ExplorerEntryModel(IconFn icons, QObject* parent)
    : QAbstractTableModel(parent), m_icons(std::move(icons))
{
}

void ExplorerEntryModel::retext()
{
    emit headerDataChanged(Qt::Horizontal, 0, kExplorerColumns - 1);
}

void ExplorerEntryModel::reset(std::unique_ptr<EntryRowsBuilder> rows, bool sizesInBytes)
{
    beginResetModel();
    m_items.clear();
    m_builder = std::move(rows);
    m_taken = 0;
    m_inBytes = sizesInBytes;
    endResetModel();
}

bool ExplorerEntryModel::appendBatch(size_t count)
{
    if (m_builder == nullptr)
        return false;
    std::vector<EntryRow> rows;
    if (!m_builder->next(count, rows))
        m_builder.reset();
    if (rows.empty())
        return filling();
    std::vector<Item> batch;
    batch.reserve(rows.size());
    for (const EntryRow& row : rows) {
        Item item;
        item.row = row;
        item.order = m_taken++;
        for (int c = 0; c < kExplorerColumns; ++c)
            item.cells[static_cast<size_t>(c)] = qText(EntryCellText(item.row, static_cast<EntryColumn>(c), m_inBytes));
        const ExplorerNode* node = item.row.node;
        if (node != nullptr && !isFolderLike(*node))
            item.size = node->size;
        if (node != nullptr)
            item.modified = node->modified;
        item.icon = m_icons ? m_icons(item.row) : QIcon();
        batch.push_back(std::move(item));
    }
    if (m_sortColumn < 0) {
        const int first = static_cast<int>(m_items.size());
        beginInsertRows({}, first, first + static_cast<int>(batch.size()) - 1);
        std::move(batch.begin(), batch.end(), std::back_inserter(m_items));
        endInsertRows();
        return filling();
    }
    // The batch goes into its sorted places; equal keys keep page order, as
    // the older rows came from earlier in the page.
    const auto byKey = [this](const Item& a, const Item& b) { return less(a, b); };
    std::stable_sort(batch.begin(), batch.end(), byKey);
    reorder([&] {
        const auto middle = static_cast<std::ptrdiff_t>(m_items.size());
        std::move(batch.begin(), batch.end(), std::back_inserter(m_items));
        std::inplace_merge(m_items.begin(), m_items.begin() + middle, m_items.end(), byKey);
    });
    return filling();
}

bool ExplorerEntryModel::less(const Item& a, const Item& b) const
{
    int cmp = 0;
    if (m_sortColumn == static_cast<int>(EntryColumn::Size))
        cmp = a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
    else if (m_sortColumn == static_cast<int>(EntryColumn::Modified))
        cmp = a.modified < b.modified ? -1 : (a.modified > b.modified ? 1 : 0);
    else if (m_sortColumn >= 0)
        cmp = a.cells[static_cast<size_t>(m_sortColumn)].compare(b.cells[static_cast<size_t>(m_sortColumn)],
                                                                 Qt::CaseInsensitive);
    if (m_sortOrder == Qt::DescendingOrder)
        cmp = -cmp;
    return cmp != 0 ? cmp < 0 : a.order < b.order;
}

void ExplorerEntryModel::reorder(const std::function<void()>& change)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<size_t> orders;
    orders.reserve(static_cast<size_t>(before.size()));
    for (const QModelIndex& index : before)
        orders.push_back(m_items[static_cast<size_t>(index.row())].order);
    change();
    QModelIndexList after;
    after.reserve(before.size());
    if (!before.isEmpty()) {
        std::vector<int> rowOfOrder(m_taken, -1);
        for (size_t r = 0; r < m_items.size(); ++r) {
            if (m_items[r].order < rowOfOrder.size())
                rowOfOrder[m_items[r].order] = static_cast<int>(r);
        }
        for (qsizetype i = 0; i < before.size(); ++i) {
            const size_t order = orders[static_cast<size_t>(i)];
            const int row = order < rowOfOrder.size() ? rowOfOrder[order] : -1;
            after.push_back(row < 0 ? QModelIndex() : index(row, before[i].column()));
        }
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ExplorerEntryModel::sort(int column, Qt::SortOrder order)
{
    m_sortColumn = column >= 0 && column < kExplorerColumns ? column : -1;
    m_sortOrder = order;
    const auto byKey = [this](const Item& a, const Item& b) { return less(a, b); };
    reorder([&] { std::stable_sort(m_items.begin(), m_items.end(), byKey); });
}

int ExplorerEntryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

int ExplorerEntryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kExplorerColumns;
}

QVariant ExplorerEntryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || static_cast<size_t>(index.row()) >= m_items.size())
        return {};
    const Item& item = m_items[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return item.cells[static_cast<size_t>(index.column())];
    case Qt::DecorationRole: return index.column() == 0 ? QVariant(item.icon) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == static_cast<int>(EntryColumn::Size)
            ? QVariant(static_cast<int>(Qt::AlignRight | Qt::AlignVCenter))
            : QVariant();
    default: return {};
    }
}

QVariant ExplorerEntryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kExplorerColumns)
        return uiListItem(kColumnNamesId, static_cast<size_t>(section));
    return QAbstractTableModel::headerData(section, orientation, role);
}

}  // namespace fetchora
