#include "gui/job_table_model.h"

#include <QMimeData>

#include <mutex>
#include <optional>

#include "gui/ui_text.h"
#include "gui/view_resources.h"
#include "model/download_job.h"

namespace fetchora {

namespace {

// Comma lists of the fifteen columns in logical order: the header texts
// (Status and Resume have none) and the column chooser's names.
constexpr uint32_t kHeaderTextsId = 61208;
constexpr uint32_t kColumnNamesId = 61238;

// The 16-image strip from index 4: the six states, then the same six with
// a page behind them (single connection).
constexpr std::array<const char*, 6> kStatusNames
    = {"queued", "downloading", "completed", "failed", "paused", "scheduled"};

JobColumn columnAt(int column)
{
    return static_cast<JobColumn>(column);
}

// Runs of neighbouring rows in an ascending row list.
template <typename F> void forEachRun(const std::vector<RowChange>& rows, F&& emitRun)
{
    size_t i = 0;
    while (i < rows.size()) {
        size_t j = i;
        ColumnMask mask = columnsForFlags(rows[i].flags);
        while (j + 1 < rows.size() && rows[j + 1].row == rows[j].row + 1) {
            ++j;
            const ColumnMask more = columnsForFlags(rows[j].flags);
            for (size_t c = 0; c < kJobColumnCount; ++c)
                mask[c] = mask[c] || more[c];
        }
        emitRun(rows[i].row, rows[j].row, mask);
        i = j + 1;
    }
}

}  // namespace

JobTableModel::JobTableModel(JobListModel& list, JobLock* lock, QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_lock(lock)
{
    ensureViewResources();
    onLanguageChanged(this, [this] { emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1); });
}

int JobTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_list.rowCount());
}

int JobTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(kJobColumnCount);
}

DownloadJob* JobTableModel::jobAt(int row) const
{
    return row < 0 ? nullptr : m_list.job(static_cast<size_t>(row));
}

QVariant JobTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const auto row = static_cast<size_t>(index.row());
    const JobColumn column = columnAt(index.column());
    std::optional<JobLockGuard> guard;
    if (m_lock)
        guard.emplace(*m_lock);
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(m_list.cellText(row, column));
    case Qt::DecorationRole:
        if (column == JobColumn::Status)
            return statusIcon(m_list.statusIcon(row));
        if (column == JobColumn::Resume) {
            const int overlay = m_list.resumeOverlay(row);
            return overlay == 0 ? QVariant() : QVariant(resumeIcon(overlay));
        }
        return {};
    case StatusIconRole: return m_list.statusIcon(row);
    case Qt::ToolTipRole:
        if (column == JobColumn::Name || column == JobColumn::Url || column == JobColumn::Comment)
            return QString::fromStdString(m_list.cellText(row, column));
        return {};
    case Qt::TextAlignmentRole:
        switch (column) {
        case JobColumn::Size:
        case JobColumn::Completed:
        case JobColumn::Percent:
        case JobColumn::Elapsed:
        case JobColumn::Left:
        case JobColumn::Speed:
        case JobColumn::Retry: return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        default: return {};
        }
    case SortRole: {
        const DownloadJob* job = m_list.job(row);
        if (!job)
            return {};
        switch (column) {
        case JobColumn::Status: return m_list.statusIcon(row);
        case JobColumn::Resume: return m_list.resumeOverlay(row);
        case JobColumn::Size: return static_cast<qlonglong>(job->fileSize);
        case JobColumn::Completed: return static_cast<qlonglong>(job->completedBytes);
        case JobColumn::Retry: return job->retryCount;
        case JobColumn::CreateTime: return job->createTime;
        case JobColumn::CompleteTime: return job->completeTime;
        default: return QString::fromStdString(m_list.cellText(row, column));
        }
    }
    default: return {};
    }
}

QVariant JobTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    const JobColumn column = columnAt(section);
    if (role == Qt::DisplayRole)
        return uiListItem(kHeaderTextsId, columnIndex(column));
    if (role == Qt::ToolTipRole)
        return columnName(column);
    return {};
}

Qt::ItemFlags JobTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

QStringList JobTableModel::mimeTypes() const
{
    return {QString::fromLatin1(kJobDragMimeType)};
}

QMimeData* JobTableModel::mimeData(const QModelIndexList& indexes) const
{
    // The jobs themselves stay with the list's selection; the data only says
    // that jobs are being dragged and how many rows.
    if (indexes.isEmpty())
        return nullptr;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kJobDragMimeType), QByteArray::number(static_cast<qlonglong>(indexes.size())));
    return mime;
}

void JobTableModel::apply(const JobListChanges& changes)
{
    if (changes.rebuilt) {
        beginResetModel();
        endResetModel();
        return;
    }
    forEachRun(changes.rows, [this](size_t first, size_t last, const ColumnMask& mask) {
        if (last >= m_list.rowCount())
            return;
        int left = -1;
        int right = -1;
        for (size_t c = 0; c < kJobColumnCount; ++c) {
            if (!mask[c])
                continue;
            if (left < 0)
                left = static_cast<int>(c);
            right = static_cast<int>(c);
        }
        if (left < 0)
            return;
        ++m_changeSignals;
        emit dataChanged(index(static_cast<int>(first), left), index(static_cast<int>(last), right));
    });
}

QIcon JobTableModel::statusIcon(int index)
{
    ensureViewResources();
    static std::array<QIcon, 12> icons;
    if (index < 4 || index > 15)
        return {};
    const int slot = index - 4;
    if (icons[slot].isNull()) {
        const QString name = QString::fromLatin1(kStatusNames[slot % 6]) + (slot >= 6 ? "-single" : "");
        icons[slot] = QIcon(QStringLiteral(":/views/%1.svg").arg(name));
    }
    return icons[slot];
}

QIcon JobTableModel::resumeIcon(int overlay)
{
    ensureViewResources();
    if (overlay == 1)
        return QIcon(QStringLiteral(":/views/resume-yes.svg"));
    if (overlay == 2)
        return QIcon(QStringLiteral(":/views/resume-no.svg"));
    return {};
}

QString JobTableModel::columnName(JobColumn column)
{
    return uiListItem(kColumnNamesId, columnIndex(column));
}

}  // namespace fetchora
