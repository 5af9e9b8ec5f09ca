#pragma once
// The category tree on the left: one item per category of the document's
// tree, the special ones with their own icons ("Deleted" shows a full or an
// empty bin by its record's image). Choosing an item opens that category in
// the job list; a drag of jobs from the list dropped on an item moves the
// selected jobs there.
//
// Thread: GUI thread (the loop thread). Borrows the view and the job lock.
#include <QTreeWidget>

#include "platform/job_lock.h"

namespace fetchora {

class DownloadJob;
class MainView;

class CategoryTree final : public QTreeWidget {
    Q_OBJECT
public:
    CategoryTree(MainView& view, JobLock& lock, QWidget* parent = nullptr);

    // Rebuilds every item from the document's tree, keeping the open
    // category selected and the expanded state of the items that remain.
    void rebuild();
    // Selects the item of the category (without opening it again).
    void showCategory(const DownloadJob* category);
    DownloadJob* categoryOf(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* itemOf(const DownloadJob* category) const;

    // The icon of a category record.
    static QIcon categoryIcon(const DownloadJob& category);

signals:
    // The user opened a category or dropped jobs on one: the list model has
    // a batch waiting.
    void listChanged();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void onCurrentChanged(QTreeWidgetItem* current);

    MainView& m_view;
    JobLock& m_lock;
    // Set while the tree itself changes items: its selection signals are ours.
    bool m_redrawGuard = false;
};

}  // namespace fetchora
