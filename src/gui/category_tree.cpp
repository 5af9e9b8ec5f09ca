#include "gui/category_tree.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>

#include <functional>
#include <unordered_set>

#include "gui/job_table_model.h"
#include "gui/view_resources.h"
#include "model/download_job.h"
#include "model/job_database.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"

namespace fetchora {

namespace {

constexpr int kCategoryRole = Qt::UserRole + 1;

}  // namespace

CategoryTree::CategoryTree(MainView& view, JobLock& lock, QWidget* parent)
    : QTreeWidget(parent), m_view(view), m_lock(lock)
{
    ensureViewResources();
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { onCurrentChanged(current); });
}

QIcon CategoryTree::categoryIcon(const DownloadJob& category)
{
    ensureViewResources();
    switch (category.GetCategoryKind()) {
    case CategoryKind::Root: return QIcon(QStringLiteral(":/views/root.svg"));
    case CategoryKind::Downloading: return QIcon(QStringLiteral(":/views/download-folder.svg"));
    case CategoryKind::Downloaded: return QIcon(QStringLiteral(":/views/downloaded-folder.svg"));
    case CategoryKind::Deleted:
        return QIcon(category.imageIndex == kImageBinFull ? QStringLiteral(":/views/bin-full.svg")
                                                          : QStringLiteral(":/views/bin-empty.svg"));
    default: return QIcon(QStringLiteral(":/views/category.svg"));
    }
}

DownloadJob* CategoryTree::categoryOf(const QTreeWidgetItem* item) const
{
    if (!item)
        return nullptr;
    return reinterpret_cast<DownloadJob*>(item->data(0, kCategoryRole).value<quintptr>());
}

QTreeWidgetItem* CategoryTree::itemOf(const DownloadJob* category) const
{
    if (!category)
        return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<CategoryTree*>(this)); *it; ++it)
        if (categoryOf(*it) == category)
            return *it;
    return nullptr;
}

void CategoryTree::rebuild()
{
    m_redrawGuard = true;
    std::unordered_set<const DownloadJob*> collapsed;
    for (QTreeWidgetItemIterator it(this); *it; ++it)
        if (!(*it)->isExpanded() && (*it)->childCount() > 0)
            collapsed.insert(categoryOf(*it));
    clear();
    {
        JobLockGuard guard(m_lock);
        const CComPtrTree& tree = m_view.doc().tree();
        std::function<void(DownloadJob*, QTreeWidgetItem*)> add = [&](DownloadJob* node, QTreeWidgetItem* parent) {
            for (; node; node = node->nextSibling()) {
                if (!node->IsCategory())
                    continue;
                auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
                item->setText(0, QString::fromStdString(node->GetDisplayName()));
                item->setIcon(0, categoryIcon(*node));
                item->setData(0, kCategoryRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled);
                add(node->firstChild(), item);
                item->setExpanded(collapsed.count(node) == 0);
            }
        };
        for (DownloadJob* node : tree.nodes())
            if (node->parent() == nullptr) {
                // The top level in flat order: the first top node and its siblings.
                add(node, nullptr);
                break;
            }
    }
    if (QTreeWidgetItem* open = itemOf(m_view.list().openCategory()))
        setCurrentItem(open);
    m_redrawGuard = false;
}

void CategoryTree::showCategory(const DownloadJob* category)
{
    m_redrawGuard = true;
    if (QTreeWidgetItem* item = itemOf(category))
        setCurrentItem(item);
    m_redrawGuard = false;
}

void CategoryTree::onCurrentChanged(QTreeWidgetItem* current)
{
    if (m_redrawGuard || !current)
        return;
    DownloadJob* category = categoryOf(current);
    {
        JobLockGuard guard(m_lock);
        if (category == m_view.list().openCategory())
            return;
        m_view.list().openCategory(category);
    }
    emit listChanged();
}

void CategoryTree::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasFormat(QString::fromLatin1(kJobDragMimeType)))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CategoryTree::dragMoveEvent(QDragMoveEvent* event)
{
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item && event->mimeData()->hasFormat(QString::fromLatin1(kJobDragMimeType))) {
        event->acceptProposedAction();
        return;
    }
    event->ignore();
}

void CategoryTree::dropEvent(QDropEvent* event)
{
    DownloadJob* category = categoryOf(itemAt(event->position().toPoint()));
    if (!category || !event->mimeData()->hasFormat(QString::fromLatin1(kJobDragMimeType))) {
        event->ignore();
        return;
    }
    // The list acts only on what MainView moves; the view drops nothing itself.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    m_view.moveSelectedJobs(*category);
    emit listChanged();
}

}  // namespace fetchora
