#pragma once
// The job list as a Qt table model over JobListModel: one row per row of the
// open category, the fifteen logical columns in their fixed order (the view
// hides and moves them). Cells come from the list model; changes arrive as
// JobListChanges batches and become one dataChanged per run of neighbouring
// rows over the columns their flags touch, or a reset when the rows were
// rebuilt.
//
// Thread: GUI thread (the loop thread). Borrows the list model and, when
// given, the job lock that every cell read takes; both must outlive it.
#include <QAbstractTableModel>
#include <QIcon>

#include <array>

#include "platform/job_lock.h"
#include "shell/job_list_cells.h"
#include "shell/job_list_model.h"

namespace fetchora {

class JobTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // The raw value a column sorts by (a number for sizes, times and
    // counts, else the cell text).
    static constexpr int SortRole = Qt::UserRole + 1;
    // The row's status image index (4..15), for tests and delegates.
    static constexpr int StatusIconRole = Qt::UserRole + 2;

    explicit JobTableModel(JobListModel& list, JobLock* lock = nullptr, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }

    // Applies one batch of the list model (the view forwards every batch).
    void apply(const JobListChanges& changes);

    // The row's job, or none.
    DownloadJob* jobAt(int row) const;

    // The icon of a status image index (4..15) and of a resume overlay (1, 2).
    static QIcon statusIcon(int index);
    static QIcon resumeIcon(int overlay);
    // The column chooser's name of a column.
    static QString columnName(JobColumn column);

    // How many dataChanged signals apply() sent, for tests and the bench.
    uint64_t changeSignals() const { return m_changeSignals; }

private:
    JobListModel& m_list;
    JobLock* m_lock;
    uint64_t m_changeSignals = 0;
};

// The mime type of a drag of jobs (the rows travel as the list's selection,
// which MainView moves).
inline constexpr const char* kJobDragMimeType = "application/x-fetchora-jobs";

}  // namespace fetchora
