#pragma once
// The job list's view model: the rows of the open category, their cell texts
// and images, the selection, sorting, the job of the detail area, and the
// engine's change notices turned into batches a window can apply cheaply.
// A front end (the Qt window, tests) keeps no job state of its own: it asks
// the model for rows and cells and applies the JobListChanges it is handed.
//
// Batching: structural changes, selection changes, the detail area's parts
// and info pane, and notices with any flag beyond the progress ones are
// delivered at the next deliver(). Progress-only notices (flags within
// 0x0010 | 0x0020 | 0x0100 | 0x0200 | 0x1000) and log lines are merged per
// job and handed over at most once per kProgressBatchMs; a batch that is
// delivered early for another reason carries them too.
//
// Thread: loop thread, under the job lock (cells read the jobs and their
// runners). Borrows the tree, the settings and the observer, which must
// outlive it; holds pointers to jobs of the tree. A caller that destroys a
// job first calls remove() (or rebuild() after taking it out of the open
// category), so that no row, selection or pending change points at it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/job_database.h"
#include "shell/job_list_cells.h"

namespace fetchora {

class AppSettings;
class CComPtrTree;
class DownloadJob;
class JobPart;

inline constexpr uint32_t kProgressBatchMs = 250;
// The notice flags that only move figures; a notice made of these alone may wait.
inline constexpr uint32_t kProgressOnlyFlags = 0x0010 | 0x0020 | 0x0100 | 0x0200 | 0x1000;

struct RowChange {
    DownloadJob* job = nullptr;
    size_t row = 0;  // the row at delivery time
    uint32_t flags = 0;  // the merged flags; columnsForFlags() says what to redraw
};

struct LogLineChange {
    const JobPart* part = nullptr;
    std::string line;
};

// One batch for the window. Rows are in ascending row order; a job that left
// the list before delivery is left out.
struct JobListChanges {
    bool rebuilt = false;  // the rows changed as a whole: re-read rowCount() and every row
    bool columnSetChanged = false;  // the other column set applies now: re-read columnSet()
    bool selectionChanged = false;  // re-read selectedJobs() and focusedJob()
    std::vector<RowChange> rows;  // empty when rebuilt (every row is re-read then)
    bool detailJobChanged = false;  // another job (or none) in the detail area: reload all its panes
    bool partsRebuilt = false;  // rebuild the parts tree from the detail job's parts and expand it
    std::vector<const JobPart*> addedParts;  // parts to add to the parts tree (empty when rebuilt)
    std::vector<LogLineChange> logLines;  // for the log pane of the detail job, oldest first
    bool infoPane = false;  // the detail job's size or remote time changed
    bool graphPane = false;  // the detail job's progress or part layout changed
    bool logPane = false;  // the detail job changed: a visible log pane refreshes
    bool statusPane = false;  // re-read statusPaneText()
    bool trayTooltip = false;  // re-read trayTooltip()
};

class JobListObserver {
public:
    virtual ~JobListObserver() = default;
    virtual void jobListChanged(const JobListChanges& changes) = 0;
};

class JobListModel {
public:
    // strings: the active language (empty texts fall back to English).
    // figures: where running jobs' speeds and times come from; the default
    // reads the engine's runners.
    JobListModel(const CComPtrTree& tree, const AppSettings& settings, StringLookup strings,
                 RunFiguresSource figures = engineRunFigures);
    JobListModel(const JobListModel&) = delete;
    JobListModel& operator=(const JobListModel&) = delete;

    void setObserver(JobListObserver* observer) { m_observer = observer; }

    // ---- the open category ---------------------------------------------------
    // Rows become the category's jobs in its order (none for a null or a
    // non-category record); the selection, the sort and the detail job are
    // cleared; column set 1 for "Download", else 2.
    void openCategory(DownloadJob* category);
    DownloadJob* openCategory() const { return m_category; }
    bool downloadCategoryOpen() const;
    int columnSet() const { return m_columnSet; }

    // ---- rows ----------------------------------------------------------------
    size_t rowCount() const { return m_rows.size(); }
    DownloadJob* job(size_t row) const { return row < m_rows.size() ? m_rows[row] : nullptr; }
    std::optional<size_t> rowOf(const DownloadJob& job) const;
    std::string cellText(size_t row, JobColumn column) const;  // "" for a row out of range
    int statusIcon(size_t row) const;  // -1 for a row out of range
    int resumeOverlay(size_t row) const;  // 0 none

    // ---- structural changes --------------------------------------------------
    // A job just added to the open category goes on top (a sorted list sorts
    // it in). Ignored for a job of another category or already listed.
    void insertAtTop(DownloadJob& job);
    // Forgets the job everywhere: row, selection, focus, detail area, pending changes.
    void remove(const DownloadJob& job);
    // Refills the rows from the open category, keeping the sort and the
    // selection and focus of jobs still present; a detail job no longer in
    // the tree is cleared.
    void rebuild();
    // The list is stale (jobs moved behind its back); refreshIfDirty() rebuilds it.
    void markDirty() { m_dirty = true; }
    bool dirty() const { return m_dirty; }
    // For the view's one-second timer: rebuilds when dirty; true when it did.
    bool refreshIfDirty();

    // ---- selection -------------------------------------------------------------
    // Jobs not in the list are ignored.
    void setSelection(std::vector<DownloadJob*> jobs);
    void selectAll();
    void invertSelection();
    bool isSelected(const DownloadJob& job) const { return m_selected.count(&job) != 0; }
    std::vector<DownloadJob*> selectedJobs() const;  // in row order
    DownloadJob* focusedJob() const { return m_focused; }
    // A job not in the list clears the focus.
    void setFocusedJob(DownloadJob* job);

    // ---- sorting ---------------------------------------------------------------
    // The header click: false (nothing changes) while "Download" is open,
    // whose order is the queue. The first click on a column sorts ascending,
    // each further click on it flips the direction. Ties keep the category's
    // order.
    bool sortBy(JobColumn column);
    std::optional<JobColumn> sortColumn() const { return m_sortColumn; }
    bool sortAscending() const { return m_sortAscending; }

    // ---- detail area -------------------------------------------------------------
    void setDetailJob(DownloadJob* job);
    DownloadJob* detailJob() const { return m_detailJob; }

    // ---- engine notifications -------------------------------------------------
    // A job changed (WM_JOB_CHANGED with its row update flags).
    void jobChanged(const DownloadJob& job, uint32_t flags);
    // A log line of one of the detail job's parts; others are ignored.
    void partLogged(const DownloadJob& job, const JobPart& part, const std::string& line);
    // The detail job's parts changed: a part added, or (none) rebuild the tree.
    void partsChanged(const DownloadJob& job, const JobPart* part);

    // ---- delivery ----------------------------------------------------------------
    // Hands the observer one batch when something is pending and due; true
    // when it did. Without an observer the batch is dropped (and false).
    bool deliver(uint32_t nowTick);
    // The batch that deliver() would hand over, taken out of the pending changes.
    std::optional<JobListChanges> takeChanges(uint32_t nowTick);
    // Milliseconds until a batch is due (0: now); none when nothing is pending.
    std::optional<uint32_t> msUntilDue(uint32_t nowTick) const;

    // ---- read-outs ---------------------------------------------------------------
    // Pane 0: the selection's count and bytes received, or the whole open
    // category's when nothing is selected; "" while "Download" (or nothing)
    // is open, where the pane keeps its text.
    std::string statusPaneText() const;
    // Jobs in the "Download" category and jobs in state Downloading.
    std::string trayTooltip() const;

private:
    void fillRows();
    void reindex(size_t from = 0);
    void applySort();
    void forgetMissingFromRows();
    bool progressDue(uint32_t nowTick) const;

    const CComPtrTree& m_tree;
    const AppSettings& m_settings;
    StringLookup m_strings;
    RunFiguresSource m_figures;
    JobListObserver* m_observer = nullptr;

    DownloadJob* m_category = nullptr;
    int m_columnSet = 2;
    std::vector<DownloadJob*> m_rows;
    std::unordered_map<const DownloadJob*, size_t> m_rowOf;
    std::unordered_set<const DownloadJob*> m_selected;
    DownloadJob* m_focused = nullptr;
    DownloadJob* m_detailJob = nullptr;
    std::optional<JobColumn> m_sortColumn;
    bool m_sortAscending = true;
    bool m_dirty = false;

    // Pending changes. m_urgent: something that may not wait is among them.
    JobListChanges m_pending;
    std::unordered_map<DownloadJob*, uint32_t> m_pendingRows;
    bool m_urgent = false;
    bool m_progressPending = false;
    std::optional<uint32_t> m_lastProgressTick;  // when progress was last handed over
};

}  // namespace fetchora
