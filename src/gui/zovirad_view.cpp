#include "gui/zovirad_view.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include <array>

#include "config/app_settings.h"
#include "config/option_id.h"
#include "gui/category_tree.h"
#include "gui/check_list_dialog.h"
#include "gui/detail_panes.h"
#include "gui/html_drop.h"
#include "gui/job_table_model.h"
#include "gui/progress_delegate.h"
#include "gui/ui_text.h"
#include "platform/desktop_actions.h"
#include "shell/application.h"
#include "shell/main_view.h"
#include "shell/splitter_sizes.h"

namespace fetchora {

namespace {

// The column chooser's title and label in the string table.
constexpr uint32_t kColumnsTitleId = 40108;
constexpr uint32_t kColumnsLabelId = 40109;

constexpr std::string_view kFrameSection = "Main Frame";

Pane paneLayout(const QSplitter* across, const QSplitter* along)
{
    const QList<int> a = across->sizes();
    const QList<int> b = along->sizes();
    auto at = [](const QList<int>& sizes, int i) { return i < sizes.size() ? sizes[i] : 0; };
    Pane right
        = Pane::divided(PaneSplit::Along, Pane::leaf("list", at(b, 0)), Pane::leaf("detail", at(b, 1)), at(a, 1));
    return Pane::divided(PaneSplit::Across, Pane::leaf("tree", at(a, 0), true), std::move(right), 0);
}

}  // namespace

// ---- JobTableView -----------------------------------------------------------------

JobTableView::JobTableView(MainView& view, QWidget* parent) : QTableView(parent), m_view(view)
{
    setAcceptDrops(true);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
}

void JobTableView::dragEnterEvent(QDragEnterEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (mime->hasFormat(QString::fromLatin1(kJobDragMimeType))) {
        QTableView::dragEnterEvent(event);
        return;
    }
    if (mime->hasHtml() || mime->hasText() || mime->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void JobTableView::dragMoveEvent(QDragMoveEvent* event)
{
    const QMimeData* mime = event->mimeData();
    // Jobs dropped back on the list go nowhere.
    if (mime->hasFormat(QString::fromLatin1(kJobDragMimeType))) {
        event->ignore();
        return;
    }
    if (mime->hasHtml() || mime->hasText() || mime->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void JobTableView::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (mime->hasFormat(QString::fromLatin1(kJobDragMimeType))) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (mime->hasHtml()) {
        // The page address travels as the first URL when the source gives one.
        std::string source;
        if (mime->hasUrls() && !mime->urls().isEmpty())
            source = mime->urls().front().toString().toStdString();
        m_view.htmlDropped(HtmlFormatFromHtml(mime->html().toStdString(), source));
    } else if (mime->hasText()) {
        m_view.textDropped(mime->text().trimmed().toStdString());
    } else if (mime->hasUrls() && !mime->urls().isEmpty()) {
        m_view.textDropped(mime->urls().front().toString().toStdString());
    }
}

// ---- ZoviradView ------------------------------------------------------------------

ZoviradView::ZoviradView(MainView& view, Application& app, QWidget* parent) : QWidget(parent), m_view(view), m_app(app)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_across = new QSplitter(Qt::Horizontal, this);
    m_tree = new CategoryTree(view, app.jobLock(), m_across);
    m_along = new QSplitter(Qt::Vertical, m_across);
    m_table = new JobTableView(view, m_along);
    m_model = new JobTableModel(view.list(), &app.jobLock(), this);
    m_table->setModel(m_model);
    connect(m_model, &QAbstractItemModel::headerDataChanged, this, &ZoviradView::fitColumnTitles);
    m_table->setItemDelegate(new ProgressDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setWordWrap(false);
    m_table->setSortingEnabled(false);
    m_table->verticalHeader()->hide();
    // One row height for the font: every row the same, so scrolling a long
    // list never measures rows.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + fontMetrics().height() / 3);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    m_detail = new DetailPanes(view.list(), app.settings(), app.jobLock(), m_along);
    m_detail->setLinkActions(
        [this](std::vector<LinkChoice> links) {
            m_view.addPaneLinks(links);
            deliverNow();
        },
        [this](const std::string& url) { m_view.desktop().open(url); });
    m_along->addWidget(m_table);
    m_along->addWidget(m_detail);
    m_across->setStretchFactor(1, 1);
    m_across->setSizes({fontMetrics().horizontalAdvance(QLatin1Char('M')) * 16, width()});
    layout->addWidget(m_across);

    m_statusTimer = new QTimer(this);
    m_statusTimer->setSingleShot(true);
    m_statusTimer->setInterval(1000);
    connect(m_statusTimer, &QTimer::timeout, this, &ZoviradView::emitStatus);

    connect(m_tree, &CategoryTree::listChanged, this, &ZoviradView::deliverNow);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ZoviradView::onSelectionChanged);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentChanged, this, &ZoviradView::onSelectionChanged);
    connect(m_table, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (DownloadJob* job = m_model->jobAt(index.row())) {
            m_view.doubleClick(*job);
            deliverNow();
        }
    });
    connect(header, &QHeaderView::sectionClicked, this, &ZoviradView::onHeaderClicked);
    connect(header, &QWidget::customContextMenuRequested, this, &ZoviradView::showColumnMenu);

    view.list().setObserver(this);
    m_sets = {loadColumnSet(app.registry(), 1), loadColumnSet(app.registry(), 2)};
    m_tree->rebuild();
    applyColumnSet();
    applySettings();
    m_detail->reload();
}

ZoviradView::~ZoviradView()
{
    m_view.list().setObserver(nullptr);
}

void ZoviradView::applySettings()
{
    m_table->setShowGrid(m_app.settings().GetOption(OptionId::GridLines) != 0);
    m_detail->reload();
}

void ZoviradView::deliverNow()
{
    m_view.list().deliver(m_app.clock().tick());
}

bool ZoviradView::detailVisible() const
{
    return !m_detail->isHidden();
}

void ZoviradView::setDetailVisible(bool visible)
{
    m_detail->setVisible(visible);
    if (visible) {
        {
            JobLockGuard guard(m_app.jobLock());
            m_view.list().setDetailJob(m_view.list().focusedJob());
        }
        deliverNow();
    }
}

ColumnSet ZoviradView::currentColumnSet() const
{
    const QHeaderView* header = m_table->horizontalHeader();
    ColumnSet set;
    for (size_t c = 0; c < kJobColumnCount; ++c) {
        const int logical = static_cast<int>(c);
        set.widths[c] = header->isSectionHidden(logical)
            ? 0
            : static_cast<uint32_t>(
                std::clamp<int>(header->sectionSize(logical), 1, static_cast<int>(kMaxColumnWidth)));
        set.positions[c] = static_cast<uint16_t>(header->visualIndex(logical));
    }
    return set;
}

void ZoviradView::storeColumnSet()
{
    if (m_shownSet == 1 || m_shownSet == 2)
        m_sets[static_cast<size_t>(m_shownSet - 1)] = currentColumnSet();
}

void ZoviradView::applyColumnSet()
{
    storeColumnSet();
    const int setNumber = m_view.list().columnSet() == 1 ? 1 : 2;
    const ColumnSet& set = m_sets[static_cast<size_t>(setNumber - 1)];
    QHeaderView* header = m_table->horizontalHeader();
    for (int position = 0; position < static_cast<int>(kJobColumnCount); ++position)
        for (size_t c = 0; c < kJobColumnCount; ++c)
            if (set.positions[c] == position)
                header->moveSection(header->visualIndex(static_cast<int>(c)), position);
    for (size_t c = 0; c < kJobColumnCount; ++c) {
        const int logical = static_cast<int>(c);
        header->setSectionHidden(logical, set.widths[c] == 0);
        if (set.widths[c] != 0)
            header->resizeSection(logical, std::max(static_cast<int>(set.widths[c]), leastColumnWidth(logical)));
    }
    m_shownSet = setNumber;
    // The queue's order is the list's order: no sort indicator there.
    header->setSortIndicatorShown(false);
}

// The stored widths were made for a narrower font or another language: a
// column is never narrower than its title. A selected row highlights every
// section, which the style draws in bold, so the title is measured so.
int ZoviradView::leastColumnWidth(int logical) const
{
    const QHeaderView* header = m_table->horizontalHeader();
    const QString title = m_model->headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString();
    if (title.isEmpty())
        return 0;
    QFont bold = header->font();
    bold.setBold(true);
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    return QFontMetrics(bold).horizontalAdvance(title) + 3 * margin;
}

// Titles in another language may be longer: the shown columns grow to hold
// them, and never shrink.
void ZoviradView::fitColumnTitles()
{
    QHeaderView* header = m_table->horizontalHeader();
    for (int logical = 0; logical < header->count(); ++logical)
        if (!header->isSectionHidden(logical) && header->sectionSize(logical) < leastColumnWidth(logical))
            header->resizeSection(logical, leastColumnWidth(logical));
}

void ZoviradView::showColumnMenu(const QPoint& pos)
{
    QMenu menu(this);
    QHeaderView* header = m_table->horizontalHeader();
    for (size_t c = 0; c < kJobColumnCount; ++c) {
        const auto column = static_cast<JobColumn>(c);
        QAction* action = menu.addAction(JobTableModel::columnName(column));
        action->setCheckable(true);
        action->setChecked(!header->isSectionHidden(static_cast<int>(c)));
        action->setData(static_cast<int>(c));
    }
    QAction* chosen = menu.exec(header->mapToGlobal(pos));
    if (chosen)
        setColumnShown(static_cast<JobColumn>(chosen->data().toInt()), chosen->isChecked());
}

void ZoviradView::chooseColumns()
{
    QHeaderView* header = m_table->horizontalHeader();
    std::vector<CheckChoice> choices;
    for (size_t c = 0; c < kJobColumnCount; ++c)
        choices.push_back(
            {JobTableModel::columnName(static_cast<JobColumn>(c)), !header->isSectionHidden(static_cast<int>(c))});
    const auto chosen
        = askCheckList(this, uiString(kColumnsTitleId), uiString(kColumnsLabelId), choices, 1, "Columns_Dlg");
    if (!chosen)
        return;
    // Shown first, so that the list never runs out of columns on the way.
    for (size_t c = 0; c < kJobColumnCount; ++c)
        if ((*chosen)[c])
            setColumnShown(static_cast<JobColumn>(c), true);
    for (size_t c = 0; c < kJobColumnCount; ++c)
        if (!(*chosen)[c])
            setColumnShown(static_cast<JobColumn>(c), false);
}

bool ZoviradView::setColumnShown(JobColumn column, bool shown)
{
    QHeaderView* header = m_table->horizontalHeader();
    const int logical = static_cast<int>(columnIndex(column));
    int visible = 0;
    for (size_t c = 0; c < kJobColumnCount; ++c)
        visible += header->isSectionHidden(static_cast<int>(c)) ? 0 : 1;
    if (!shown && !header->isSectionHidden(logical) && visible <= 1)
        return false;
    header->setSectionHidden(logical, !shown);
    if (shown && header->sectionSize(logical) <= 0)
        header->resizeSection(logical, header->defaultSectionSize());
    storeColumnSet();
    if (m_shownSet == 1 || m_shownSet == 2)
        saveColumnSet(m_app.registry(), m_shownSet, m_sets[static_cast<size_t>(m_shownSet - 1)]);
    return true;
}

void ZoviradView::onHeaderClicked(int logical)
{
    QHeaderView* header = m_table->horizontalHeader();
    bool sorted = false;
    {
        JobLockGuard guard(m_app.jobLock());
        sorted = m_view.list().sortBy(static_cast<JobColumn>(logical));
    }
    if (sorted) {
        header->setSortIndicatorShown(true);
        header->setSortIndicator(logical, m_view.list().sortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    } else {
        header->setSortIndicatorShown(false);
    }
    deliverNow();
}

void ZoviradView::onSelectionChanged()
{
    if (m_syncing)
        return;
    std::vector<DownloadJob*> jobs;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        if (DownloadJob* job = m_model->jobAt(index.row()))
            jobs.push_back(job);
    DownloadJob* focused = m_model->jobAt(m_table->selectionModel()->currentIndex().row());
    {
        JobLockGuard guard(m_app.jobLock());
        JobListModel& list = m_view.list();
        list.setSelection(std::move(jobs));
        list.setFocusedJob(focused);
        if (detailVisible() && focused && focused != list.detailJob())
            list.setDetailJob(focused);
    }
    // Rapid moves through the list refresh the status pane once.
    m_statusTimer->start();
    m_syncing = true;
    deliverNow();
    m_syncing = false;
}

void ZoviradView::syncSelectionFromModel()
{
    if (m_syncing)
        return;
    m_syncing = true;
    QItemSelection selection;
    const JobListModel& list = m_view.list();
    const int last = m_model->columnCount() - 1;
    std::optional<size_t> runStart;
    size_t previous = 0;
    auto close = [&] {
        if (runStart)
            selection.select(m_model->index(static_cast<int>(*runStart), 0),
                             m_model->index(static_cast<int>(previous), last));
    };
    for (DownloadJob* job : list.selectedJobs()) {
        const std::optional<size_t> row = list.rowOf(*job);
        if (!row)
            continue;
        if (!runStart || *row != previous + 1) {
            close();
            runStart = row;
        }
        previous = *row;
    }
    close();
    QItemSelectionModel* model = m_table->selectionModel();
    model->select(selection, QItemSelectionModel::ClearAndSelect);
    if (DownloadJob* focused = list.focusedJob())
        if (const std::optional<size_t> row = list.rowOf(*focused))
            model->setCurrentIndex(m_model->index(static_cast<int>(*row), 0), QItemSelectionModel::NoUpdate);
    m_syncing = false;
}

void ZoviradView::emitStatus()
{
    const std::string text = m_view.list().statusPaneText();
    // While "Download" is open the pane keeps what it shows.
    if (!text.empty())
        emit statusTextChanged(QString::fromStdString(text));
}

void ZoviradView::jobListChanged(const JobListChanges& changes)
{
    m_model->apply(changes);
    if (changes.rebuilt)
        m_tree->rebuild();
    if (changes.columnSetChanged)
        applyColumnSet();
    if (changes.rebuilt || changes.selectionChanged)
        syncSelectionFromModel();
    m_detail->apply(changes);
    // A selection change shows in the status pane a second later, so that
    // moving quickly through the list stays cheap; other changes show now.
    if (changes.statusPane && changes.selectionChanged)
        m_statusTimer->start();
    else if (changes.statusPane)
        emitStatus();
    if (changes.trayTooltip)
        emit trayTooltipChanged(QString::fromStdString(m_view.list().trayTooltip()));
}

void ZoviradView::saveState()
{
    Registry& registry = m_app.registry();
    writeSplitterSizes(registry, kFrameSection, paneLayout(m_across, m_along));
    storeColumnSet();
    saveColumnSet(registry, 1, m_sets[0]);
    saveColumnSet(registry, 2, m_sets[1]);
    ViewLayoutFlags flags;
    flags.raw = m_flagsRaw;
    flags.setDetailVisible(detailVisible());
    saveViewLayoutFlags(registry, flags);
}

void ZoviradView::restoreState()
{
    Registry& registry = m_app.registry();
    Pane root = paneLayout(m_across, m_along);
    if (readSplitterSizes(registry, kFrameSection, root) && root.children.size() == 2) {
        const Pane& right = root.children[1];
        m_across->setSizes({root.children[0].size, right.size});
        if (right.children.size() == 2)
            m_along->setSizes({right.children[0].size, right.children[1].size});
    }
    const ViewLayoutFlags flags = loadViewLayoutFlags(registry);
    m_flagsRaw = flags.raw;
    m_detail->setVisible(flags.detailVisible());
    m_sets = {loadColumnSet(registry, 1), loadColumnSet(registry, 2)};
    m_shownSet = 0;
    applyColumnSet();
}

}  // namespace fetchora
