#pragma once
// The main window's client area: the category tree on the left, the job list
// over the detail area on the right. It draws what MainView and its
// JobListModel answer and hands every user action back to them; no decision
// lives here. It is the list model's observer and hands each batch to the
// table model, the tree and the detail area.
//
// Thread: GUI thread (the loop thread). Made after MainView::start (the
// list model exists from then on). Borrows the view and the application,
// which must outlive it; sets itself as the list model's observer and takes
// that back when destroyed.
#include <QString>
#include <QTableView>
#include <QWidget>

#include <array>

#include "shell/column_sets.h"
#include "shell/job_list_model.h"

class QSplitter;
class QTimer;

namespace fetchora {

class Application;
class CategoryTree;
class DetailPanes;
class JobTableModel;
class MainView;

// The job list's view: drops of text or HTML go to MainView, drags of rows
// carry the list's selection to the category tree.
class JobTableView final : public QTableView {
    Q_OBJECT
public:
    JobTableView(MainView& view, QWidget* parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    MainView& m_view;
};

class ZoviradView final : public QWidget, private JobListObserver {
    Q_OBJECT
public:
    ZoviradView(MainView& view, Application& app, QWidget* parent = nullptr);
    ~ZoviradView() override;

    // The splitter sizes ("Main Frame" "Splitter"), the two column sets
    // ("MLStatus") and the layout flags ("Main Menu" "Flags") to and from
    // the settings store. restoreState also fills the tree and the list.
    void saveState();
    void restoreState();

    // The detail area on or off (the "Detail" command); showing it loads
    // the focused job.
    void setDetailVisible(bool visible);
    bool detailVisible() const;
    // Re-reads the settings the view draws with (grid lines, colours).
    void applySettings();
    // The column chooser's choice: shows or hides a column of the shown set
    // and stores the set. Hiding the last visible column is refused (false):
    // a list without one could not be got back.
    bool setColumnShown(JobColumn column, bool shown);
    // "&Columns...": the chooser for the shown set, as a dialog.
    void chooseColumns();
    // Hands the list model's pending batch over now (after a user action).
    void deliverNow();

    JobTableView* jobList() const { return m_table; }
    JobTableModel* tableModel() const { return m_model; }
    CategoryTree* categoryTree() const { return m_tree; }
    DetailPanes* detailPanes() const { return m_detail; }

signals:
    // Pane 0 of the status bar, one second after the selection changed (and
    // when a batch says so).
    void statusTextChanged(const QString& text);
    void trayTooltipChanged(const QString& text);

private:
    void jobListChanged(const JobListChanges& changes) override;
    void applyColumnSet();
    int leastColumnWidth(int logical) const;
    void fitColumnTitles();
    ColumnSet currentColumnSet() const;
    void storeColumnSet();
    void syncSelectionFromModel();
    void onSelectionChanged();
    void onHeaderClicked(int logical);
    void showColumnMenu(const QPoint& pos);
    void emitStatus();

    MainView& m_view;
    Application& m_app;
    QSplitter* m_across = nullptr;  // tree | right side
    QSplitter* m_along = nullptr;  // list over detail area
    CategoryTree* m_tree = nullptr;
    JobTableView* m_table = nullptr;
    JobTableModel* m_model = nullptr;
    DetailPanes* m_detail = nullptr;
    QTimer* m_statusTimer = nullptr;
    uint32_t m_flagsRaw = 2;
    // The two column sets; the shown one is read back from the header.
    std::array<ColumnSet, 2> m_sets;
    int m_shownSet = 0;  // the column set the header shows (0: none yet)
    // Set while the view changes the Qt selection itself.
    bool m_syncing = false;
};

}  // namespace fetchora
