#include "gui/links_view.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>

#include <algorithm>
#include <unordered_set>

#include "gui/command_actions.h"
#include "gui/ui_text.h"

namespace fetchora {

namespace {

// "Type,Title,URL"; the menu's own texts, and its choices as comma lists in
// the order of kLinkEncodings and kLinkSortChoices.
constexpr uint32_t kHeadersId = 40003;
constexpr uint32_t kEncodingMenuId = 40010;
constexpr uint32_t kSortMenuId = 40011;

QString shownCommandText(ViewCommand command)
{
    return commandMenuText(static_cast<uint32_t>(command));
}

}  // namespace

// The pane's rows as a flat table; reset whenever the pane changed.
class LinksTableModel final : public QAbstractTableModel {
public:
    LinksTableModel(const LinksPane& pane, QObject* parent) : QAbstractTableModel(parent), m_pane(pane) { }

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_pane.rows().size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || static_cast<size_t>(index.row()) >= m_pane.rows().size())
            return {};
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return {};
        const LinkRow& row = m_pane.rows()[static_cast<size_t>(index.row())];
        switch (index.column()) {
        case 0: return QString::fromStdString(row.type);
        case 1: return QString::fromStdString(row.title);
        case 2: return QString::fromStdString(row.url);
        default: return {};
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section >= 0 && section < 3 ? uiListItem(kHeadersId, static_cast<size_t>(section)) : QVariant();
    }
    void retextHeaders() { emit headerDataChanged(Qt::Horizontal, 0, 2); }
    void begin() { beginResetModel(); }
    void end() { endResetModel(); }

private:
    const LinksPane& m_pane;
};

LinksView::LinksView(QWidget* parent) : QTreeView(parent)
{
    m_model = new LinksTableModel(m_pane, this);
    setModel(m_model);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->setSectionsClickable(true);
    header()->resizeSection(0, fontMetrics().horizontalAdvance(QStringLiteral("MMMMMM")));
    header()->resizeSection(1, fontMetrics().horizontalAdvance(QLatin1Char('M')) * 20);
    buildMenu();
    // A click on a column header sorts by it, as the menu's choice would.
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section >= 0 && static_cast<size_t>(section) < kLinkSortChoices.size())
            chooseSortKey(kLinkSortChoices[static_cast<size_t>(section)]);
    });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &LinksView::refreshActions);
    refreshActions();
}

LinksView::~LinksView() = default;

void LinksView::buildMenu()
{
    m_menu = new QMenu(this);
    m_add = m_menu->addAction(QString());
    m_open = m_menu->addAction(QString());
    connect(m_add, &QAction::triggered, this, &LinksView::addSelected);
    connect(m_open, &QAction::triggered, this, &LinksView::openSelected);
    m_menu->addSeparator();

    QMenu* encodings = m_menu->addMenu(QString());
    encodings->setObjectName(QStringLiteral("encodings"));
    m_encodings = new QActionGroup(this);
    m_encodings->setExclusive(true);
    for (size_t i = 0; i < kLinkEncodings.size(); ++i) {
        QAction* action = encodings->addAction(QString());
        action->setCheckable(true);
        action->setChecked(i == m_pane.encoding());
        action->setData(static_cast<int>(i));
        m_encodings->addAction(action);
        connect(action, &QAction::triggered, this, [this, i] { chooseEncoding(i); });
    }

    QMenu* sortKeys = m_menu->addMenu(QString());
    sortKeys->setObjectName(QStringLiteral("sortKeys"));
    m_sortKeys = new QActionGroup(this);
    // Page order until a key is chosen: no entry checked, and none can be
    // unchecked again.
    m_sortKeys->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const LinkSortKey key : kLinkSortChoices) {
        QAction* action = sortKeys->addAction(QString());
        action->setCheckable(true);
        action->setData(static_cast<int>(key));
        m_sortKeys->addAction(action);
        connect(action, &QAction::triggered, this, [this, key] { chooseSortKey(key); });
    }
    connect(m_menu, &QMenu::aboutToShow, this, &LinksView::refreshActions);
    retextMenu();
    onLanguageChanged(this, [this] {
        retextMenu();
        m_model->retextHeaders();
    });
}

void LinksView::retextMenu()
{
    m_add->setText(shownCommandText(ViewCommand::AddLinks));
    m_open->setText(shownCommandText(ViewCommand::OpenLink));
    for (QAction* action : m_menu->actions()) {
        QMenu* sub = action->menu();
        if (sub == nullptr)
            continue;
        const bool encodings = sub->objectName() == QLatin1String("encodings");
        sub->setTitle(uiString(encodings ? kEncodingMenuId : kSortMenuId));
        const QList<QAction*> entries = sub->actions();
        for (qsizetype i = 0; i < entries.size(); ++i)
            entries[i]->setText(
                uiListItem(encodings ? kLinkEncodingNamesId : kLinkSortNamesId, static_cast<size_t>(i)));
    }
}

QAction* LinksView::encodingAction(size_t index) const
{
    const QList<QAction*> actions = m_encodings->actions();
    return index < static_cast<size_t>(actions.size()) ? actions[static_cast<qsizetype>(index)] : nullptr;
}

QAction* LinksView::sortAction(LinkSortKey key) const
{
    for (QAction* action : m_sortKeys->actions())
        if (action->data().toInt() == static_cast<int>(key))
            return action;
    return nullptr;
}

void LinksView::setLinkActions(AddFn add, OpenFn open)
{
    m_addFn = std::move(add);
    m_openFn = std::move(open);
}

void LinksView::showSource(const LinkPageSource& source)
{
    // Most batches are for the page already shown: no reset, so the
    // selection stays.
    if (m_pane.isCurrent(source))
        return;
    m_model->begin();
    m_pane.show(source);
    m_model->end();
    scrollToTop();
    refreshActions();
}

template <typename Change> void LinksView::changeRows(Change change)
{
    std::unordered_set<std::string> selected;
    for (const LinkChoice& link : selectedLinks())
        selected.insert(link.url);
    m_model->begin();
    change();
    m_model->end();
    QItemSelection keep;
    const int lastColumn = m_model->columnCount({}) - 1;
    for (size_t i = 0; i < m_pane.rows().size(); ++i) {
        if (selected.count(m_pane.rows()[i].url) != 0) {
            const int row = static_cast<int>(i);
            keep.select(m_model->index(row, 0), m_model->index(row, lastColumn));
        }
    }
    selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
    refreshActions();
}

void LinksView::chooseEncoding(size_t index)
{
    changeRows([this, index] { m_pane.setEncoding(index); });
    if (QAction* action = encodingAction(m_pane.encoding()))
        action->setChecked(true);
}

void LinksView::chooseSortKey(LinkSortKey key)
{
    changeRows([this, key] { m_pane.setSortKey(key); });
    if (QAction* action = sortAction(key))
        action->setChecked(true);
}

std::vector<LinkChoice> LinksView::selectedLinks() const
{
    std::vector<size_t> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(static_cast<size_t>(index.row()));
    std::sort(rows.begin(), rows.end());
    return m_pane.choices(rows);
}

void LinksView::addSelected()
{
    std::vector<LinkChoice> links = selectedLinks();
    if (!links.empty() && m_addFn)
        m_addFn(std::move(links));
}

void LinksView::openSelected()
{
    if (!selectionModel()->hasSelection() || !m_openFn)
        return;
    QModelIndex chosen = currentIndex();
    if (!chosen.isValid() || !selectionModel()->isRowSelected(chosen.row(), {}))
        chosen = selectionModel()->selectedRows().value(0);
    const size_t row = static_cast<size_t>(chosen.row());
    if (chosen.isValid() && row < m_pane.rows().size())
        m_openFn(m_pane.rows()[row].url);
}

void LinksView::refreshActions()
{
    const bool any = selectionModel() != nullptr && selectionModel()->hasSelection();
    m_add->setEnabled(any);
    m_open->setEnabled(any);
}

void LinksView::contextMenuEvent(QContextMenuEvent* event)
{
    refreshActions();
    m_menu->exec(event->globalPos());
}

}  // namespace fetchora
