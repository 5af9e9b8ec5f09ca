#include "shell/job_list_model.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/app_settings.h"
#include "model/category_tree.h"
#include "model/download_job.h"
#include "model/part_log.h"
#include "shell/selection_summary.h"

namespace fetchora {
namespace {

// The part log never shows more lines than it keeps; a pane that waits for
// its batch needs no more either.
constexpr size_t kMaxPendingLogLines = PartLog::kMaxEntries;

int compareNoCase(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        const int la = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
        const int lb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
        if (la != lb)
            return la < lb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <typename T> int compareValues(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int64_t sortSize(const DownloadJob& job)
{
    return job.IsSizeKnown() && job.fileSize >= 0 ? job.fileSize : job.completedBytes;
}

// The columns compareJobs orders by display name.
bool sortsByDisplayName(JobColumn column)
{
    switch (column) {
    case JobColumn::Status:
    case JobColumn::Resume:
    case JobColumn::Size:
    case JobColumn::Url:
    case JobColumn::Comment:
    case JobColumn::CreateTime:
    case JobColumn::CompleteTime: return false;
    default: return true;
    }
}

int compareJobs(const DownloadJob& a, const DownloadJob& b, JobColumn column)
{
    switch (column) {
    case JobColumn::Status: return compareValues(a.state & 0xFF, b.state & 0xFF);
    case JobColumn::Resume: return compareValues(jobResumeOverlay(a), jobResumeOverlay(b));
    case JobColumn::Size: return compareValues(sortSize(a), sortSize(b));
    case JobColumn::Url: return compareNoCase(a.url, b.url);
    case JobColumn::Comment: return compareNoCase(a.comment(), b.comment());
    case JobColumn::CreateTime: return compareValues(a.createTime, b.createTime);
    case JobColumn::CompleteTime: return compareValues(a.completeTime, b.completeTime);
    default: return compareNoCase(a.GetDisplayName(), b.GetDisplayName());
    }
}

}  // namespace

JobListModel::JobListModel(const CComPtrTree& tree, const AppSettings& settings, StringLookup strings,
                           RunFiguresSource figures)
    : m_tree(tree),
      m_settings(settings),
      m_strings(std::move(strings)),
      m_figures(figures ? std::move(figures) : RunFiguresSource(engineRunFigures))
{
}

// ---- the open category -------------------------------------------------------

void JobListModel::openCategory(DownloadJob* category)
{
    m_category = (category != nullptr && category->IsCategory()) ? category : nullptr;
    const int set = downloadCategoryOpen() ? 1 : 2;
    if (set != m_columnSet) {
        m_columnSet = set;
        m_pending.columnSetChanged = true;
    }
    m_sortColumn.reset();
    m_sortAscending = true;
    m_selected.clear();
    m_focused = nullptr;
    m_dirty = false;
    fillRows();
    if (m_detailJob != nullptr) {
        m_detailJob = nullptr;
        m_pending.detailJobChanged = true;
    }
    m_pending.selectionChanged = true;
    m_pending.statusPane = true;
    m_urgent = true;
}

bool JobListModel::downloadCategoryOpen() const
{
    return m_category != nullptr && m_category->GetCategoryKind() == CategoryKind::Downloading;
}

void JobListModel::fillRows()
{
    m_rows.clear();
    if (m_category != nullptr) {
        for (DownloadJob* node = m_category->firstChild(); node != nullptr; node = node->nextSibling()) {
            if (!node->IsCategory())
                m_rows.push_back(node);
        }
    }
    applySort();
    m_rowOf.clear();
    m_rowOf.reserve(m_rows.size());
    reindex();
    // Row numbers of pending changes are worked out at delivery; the whole
    // list is re-read anyway.
    m_pendingRows.clear();
    m_pending.rows.clear();
    m_pending.rebuilt = true;
    m_urgent = true;
}

void JobListModel::reindex(size_t from)
{
    for (size_t row = from; row < m_rows.size(); ++row)
        m_rowOf[m_rows[row]] = row;
}

void JobListModel::applySort()
{
    if (!m_sortColumn)
        return;
    const JobColumn column = *m_sortColumn;
    const bool ascending = m_sortAscending;
    if (sortsByDisplayName(column)) {
        // A job's name is worked out from its URL when asked: each row's
        // name is made once here rather than at every comparison.
        std::vector<std::pair<std::string, DownloadJob*>> keyed;
        keyed.reserve(m_rows.size());
        for (DownloadJob* job : m_rows)
            keyed.emplace_back(job->GetDisplayName(), job);
        std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
            const int order = compareNoCase(a.first, b.first);
            return ascending ? order < 0 : order > 0;
        });
        for (size_t row = 0; row < keyed.size(); ++row)
            m_rows[row] = keyed[row].second;
        return;
    }
    std::stable_sort(m_rows.begin(), m_rows.end(), [column, ascending](const DownloadJob* a, const DownloadJob* b) {
        const int order = compareJobs(*a, *b, column);
        return ascending ? order < 0 : order > 0;
    });
}

// ---- rows --------------------------------------------------------------------

std::optional<size_t> JobListModel::rowOf(const DownloadJob& job) const
{
    auto found = m_rowOf.find(&job);
    if (found == m_rowOf.end())
        return std::nullopt;
    return found->second;
}

std::string JobListModel::cellText(size_t row, JobColumn column) const
{
    const DownloadJob* shown = job(row);
    if (shown == nullptr)
        return {};
    const bool sizesInBytes = m_settings.GetOption(OptionId::SizesInBytes) > 0;
    return jobCellText(*shown, column, m_figures(*shown), sizesInBytes);
}

int JobListModel::statusIcon(size_t row) const
{
    const DownloadJob* shown = job(row);
    return shown != nullptr ? jobStatusIcon(*shown) : -1;
}

int JobListModel::resumeOverlay(size_t row) const
{
    const DownloadJob* shown = job(row);
    return shown != nullptr ? jobResumeOverlay(*shown) : 0;
}

// ---- structural changes -----------------------------------------------------

void JobListModel::insertAtTop(DownloadJob& job)
{
    if (m_category == nullptr || job.parent() != m_category || m_rowOf.count(&job) != 0)
        return;
    m_rows.insert(m_rows.begin(), &job);
    if (m_sortColumn)
        applySort();
    reindex();
    m_pending.rebuilt = true;
    m_pending.statusPane = true;
    m_pending.trayTooltip = true;
    m_urgent = true;
}

void JobListModel::remove(const DownloadJob& job)
{
    auto found = m_rowOf.find(&job);
    if (found != m_rowOf.end()) {
        const size_t row = found->second;
        m_rowOf.erase(found);
        m_pendingRows.erase(m_rows[row]);
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(row));
        reindex(row);
        m_pending.rebuilt = true;
    }
    if (m_selected.erase(&job) != 0 || m_focused == &job) {
        m_pending.selectionChanged = true;
        if (m_focused == &job)
            m_focused = nullptr;
    }
    if (m_detailJob == &job) {
        m_detailJob = nullptr;
        m_pending.detailJobChanged = true;
        m_pending.logLines.clear();
        m_pending.addedParts.clear();
    }
    m_pending.statusPane = true;
    m_pending.trayTooltip = true;
    m_urgent = true;
}

void JobListModel::rebuild()
{
    fillRows();
    forgetMissingFromRows();
    if (m_detailJob != nullptr && !m_tree.Contains(m_detailJob)) {
        m_detailJob = nullptr;
        m_pending.detailJobChanged = true;
        m_pending.logLines.clear();
        m_pending.addedParts.clear();
    }
    m_dirty = false;
    m_pending.statusPane = true;
    m_pending.trayTooltip = true;
}

void JobListModel::forgetMissingFromRows()
{
    const size_t before = m_selected.size();
    std::erase_if(m_selected, [this](const DownloadJob* job) { return m_rowOf.count(job) == 0; });
    if (m_focused != nullptr && m_rowOf.count(m_focused) == 0)
        m_focused = nullptr;
    if (m_selected.size() != before)
        m_pending.selectionChanged = true;
}

bool JobListModel::refreshIfDirty()
{
    if (!m_dirty)
        return false;
    rebuild();
    return true;
}

// ---- selection ----------------------------------------------------------------

void JobListModel::setSelection(std::vector<DownloadJob*> jobs)
{
    m_selected.clear();
    for (DownloadJob* job : jobs) {
        if (job != nullptr && m_rowOf.count(job) != 0)
            m_selected.insert(job);
    }
    m_pending.selectionChanged = true;
    m_pending.statusPane = true;
    m_urgent = true;
}

void JobListModel::selectAll()
{
    m_selected.clear();
    m_selected.insert(m_rows.begin(), m_rows.end());
    m_pending.selectionChanged = true;
    m_pending.statusPane = true;
    m_urgent = true;
}

void JobListModel::invertSelection()
{
    std::unordered_set<const DownloadJob*> inverted;
    for (const DownloadJob* job : m_rows) {
        if (m_selected.count(job) == 0)
            inverted.insert(job);
    }
    m_selected = std::move(inverted);
    m_pending.selectionChanged = true;
    m_pending.statusPane = true;
    m_urgent = true;
}

std::vector<DownloadJob*> JobListModel::selectedJobs() const
{
    std::vector<size_t> rows;
    rows.reserve(m_selected.size());
    for (const DownloadJob* job : m_selected) {
        auto found = m_rowOf.find(job);
        if (found != m_rowOf.end())
            rows.push_back(found->second);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<DownloadJob*> jobs;
    jobs.reserve(rows.size());
    for (size_t row : rows)
        jobs.push_back(m_rows[row]);
    return jobs;
}

void JobListModel::setFocusedJob(DownloadJob* job)
{
    DownloadJob* focused = (job != nullptr && m_rowOf.count(job) != 0) ? job : nullptr;
    if (focused == m_focused)
        return;
    m_focused = focused;
    m_pending.selectionChanged = true;
    m_urgent = true;
}

// ---- sorting ------------------------------------------------------------------

bool JobListModel::sortBy(JobColumn column)
{
    if (m_category == nullptr || downloadCategoryOpen())
        return false;
    if (m_sortColumn == column) {
        m_sortAscending = !m_sortAscending;
    } else {
        m_sortColumn = column;
        m_sortAscending = true;
    }
    // Sorting the category's own order keeps ties where they stood before
    // the first click, whatever the clicks in between were.
    fillRows();
    forgetMissingFromRows();
    return true;
}

// ---- detail area -----------------------------------------------------------------

void JobListModel::setDetailJob(DownloadJob* job)
{
    if (job == m_detailJob)
        return;
    m_detailJob = job;
    m_pending.detailJobChanged = true;
    m_pending.logLines.clear();
    m_pending.addedParts.clear();
    m_pending.partsRebuilt = false;
    m_urgent = true;
}

// ---- engine notifications -------------------------------------------------------

void JobListModel::jobChanged(const DownloadJob& job, uint32_t flags)
{
    const bool progressOnly = (flags & ~kProgressOnlyFlags) == 0;
    bool queued = false;
    if (flags != kChangeProgress && flags != 0) {
        if (auto row = rowOf(job)) {
            m_pendingRows[m_rows[*row]] |= flags;
            queued = true;
        }
    }
    if (&job == m_detailJob) {
        if (flags & kChangeInfo)
            m_pending.infoPane = true;
        if (flags & (kChangeProgress | kChangeParts))
            m_pending.graphPane = true;
        m_pending.logPane = true;
        queued = true;
    }
    // Whether a job runs decides the tooltip's second count.
    if (flags & kChangeState) {
        m_pending.trayTooltip = true;
        queued = true;
    }
    if (!queued)
        return;
    if (progressOnly)
        m_progressPending = true;
    else
        m_urgent = true;
}

void JobListModel::partLogged(const DownloadJob& job, const JobPart& part, const std::string& line)
{
    if (&job != m_detailJob)
        return;
    if (m_pending.logLines.size() >= kMaxPendingLogLines)
        m_pending.logLines.erase(m_pending.logLines.begin());
    m_pending.logLines.push_back(LogLineChange{&part, line});
    m_progressPending = true;
}

void JobListModel::partsChanged(const DownloadJob& job, const JobPart* part)
{
    if (&job != m_detailJob)
        return;
    if (part == nullptr) {
        m_pending.partsRebuilt = true;
        m_pending.addedParts.clear();
    } else if (!m_pending.partsRebuilt) {
        m_pending.addedParts.push_back(part);
    }
    m_urgent = true;
}

// ---- delivery -----------------------------------------------------------------------

bool JobListModel::progressDue(uint32_t nowTick) const
{
    return !m_lastProgressTick || static_cast<uint32_t>(nowTick - *m_lastProgressTick) >= kProgressBatchMs;
}

std::optional<uint32_t> JobListModel::msUntilDue(uint32_t nowTick) const
{
    if (m_urgent)
        return 0u;
    if (!m_progressPending)
        return std::nullopt;
    if (progressDue(nowTick))
        return 0u;
    return kProgressBatchMs - static_cast<uint32_t>(nowTick - *m_lastProgressTick);
}

std::optional<JobListChanges> JobListModel::takeChanges(uint32_t nowTick)
{
    if (!m_urgent && !(m_progressPending && progressDue(nowTick)))
        return std::nullopt;
    JobListChanges changes = std::move(m_pending);
    m_pending = JobListChanges{};
    if (!changes.rebuilt) {
        for (const auto& [job, flags] : m_pendingRows) {
            auto row = m_rowOf.find(job);
            if (row != m_rowOf.end())
                changes.rows.push_back(RowChange{job, row->second, flags});
        }
        std::sort(changes.rows.begin(), changes.rows.end(),
                  [](const RowChange& a, const RowChange& b) { return a.row < b.row; });
    }
    m_pendingRows.clear();
    if (m_progressPending)
        m_lastProgressTick = nowTick;
    m_progressPending = false;
    m_urgent = false;
    return changes;
}

bool JobListModel::deliver(uint32_t nowTick)
{
    std::optional<JobListChanges> changes = takeChanges(nowTick);
    if (!changes || m_observer == nullptr)
        return false;
    m_observer->jobListChanged(*changes);
    return true;
}

// ---- read-outs ------------------------------------------------------------------------

std::string JobListModel::statusPaneText() const
{
    if (m_category == nullptr || downloadCategoryOpen())
        return {};
    int64_t count = 0;
    int64_t bytes = 0;
    if (!m_selected.empty()) {
        for (const DownloadJob* job : m_selected) {
            ++count;
            bytes += std::max<int64_t>(job->completedBytes, 0);
        }
    } else {
        for (const DownloadJob* node = m_category->firstChild(); node != nullptr; node = node->nextSibling()) {
            if (node->IsCategory())
                continue;
            ++count;
            bytes += std::max<int64_t>(node->completedBytes, 0);
        }
    }
    return selectionSummaryText(count, bytes);
}

std::string JobListModel::trayTooltip() const
{
    const DownloadJob* queue = m_tree.FindCategory(CategoryKind::Downloading);
    const int queued = queue != nullptr ? m_tree.CountJobs(queue) : 0;
    return trayTooltipText(queued, m_tree.CountRunning(), m_strings);
}

}  // namespace fetchora
