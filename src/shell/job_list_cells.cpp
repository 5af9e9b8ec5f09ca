#include "shell/job_list_cells.h"

#include <ctime>

#include "engine/job_progress.h"
#include "engine/job_runner.h"
#include "model/download_job.h"

namespace fetchora {

JobRunFigures engineRunFigures(const DownloadJob& job)
{
    JobRunFigures figures;
    if (!job.runner())
        return figures;
    const RunFigures& run = job.runner()->figures();
    // A stopped run's seconds are already in the job's total time; its
    // runner may stay a while (the file still open) and must not add them again.
    if (run.startTick)
        figures.elapsedSeconds = run.elapsedSeconds;
    figures.secondsLeft = run.secondsLeft;
    figures.shortSpeed = run.shortSpeed;
    figures.runningParts = static_cast<uint32_t>(job.runner()->runningParts());
    return figures;
}

namespace {

// The size the Size column shows: the total when known; a completed job of
// unknown size shows what it received.
int64_t shownSize(const DownloadJob& job)
{
    if (job.IsSizeKnown() && job.fileSize >= 0)
        return job.fileSize;
    if (job.IsComplete())
        return job.completedBytes;
    return -1;
}

uint32_t nonNegative(int32_t value)
{
    return value > 0 ? static_cast<uint32_t>(value) : 0;
}

}  // namespace

std::string jobCellText(const DownloadJob& job, JobColumn column, const JobRunFigures& figures, bool sizesInBytes)
{
    const bool sizeKnown = job.IsSizeKnown() && job.fileSize >= 0;
    switch (column) {
    case JobColumn::Status:
    case JobColumn::Resume: return {};
    case JobColumn::Name: return job.GetDisplayName();
    case JobColumn::Size: {
        const int64_t size = shownSize(job);
        return size < 0 ? std::string() : formatSizeCell(size, sizesInBytes);
    }
    case JobColumn::Completed: return formatCompletedCell(job.completedBytes, sizesInBytes);
    case JobColumn::Percent: return formatPercentCell(job.completedBytes, sizeKnown ? job.fileSize : -1);
    case JobColumn::Elapsed: return formatElapsedCell(nonNegative(job.totalTime) + figures.elapsedSeconds);
    case JobColumn::Left: return formatLeftCell(figures.secondsLeft, sizeKnown, figures.shortSpeed);
    case JobColumn::Speed: return formatSpeedCell(figures.shortSpeed, sizesInBytes);
    case JobColumn::Num: return formatConnectionsCell(figures.runningParts, nonNegative(job.splitCount));
    case JobColumn::Retry: return formatRetryCell(nonNegative(job.retryCount));
    case JobColumn::Url: return job.url;
    case JobColumn::Comment: return job.comment();
    case JobColumn::CreateTime: return formatTimeCell(static_cast<std::time_t>(job.createTime));
    case JobColumn::CompleteTime: return formatTimeCell(static_cast<std::time_t>(job.completeTime));
    }
    return {};
}

int jobStatusIcon(const DownloadJob& job)
{
    return statusImage(job.state, static_cast<uint32_t>(job.startMode), (job.optionFlags & kOptRecheck) != 0);
}

int jobResumeOverlay(const DownloadJob& job)
{
    return resumeImage(job.optionFlags);
}

ColumnMask columnsForFlags(uint32_t flags)
{
    ColumnMask columns{};
    if (flags == 0 || flags == kChangeProgress)
        return columns;
    if ((flags & 0xFFFF) == 0xFFFF) {
        columns.fill(true);
        return columns;
    }
    auto set = [&columns](JobColumn column) { columns[columnIndex(column)] = true; };
    if (flags & 0x0001)
        set(JobColumn::Url);
    if (flags & 0x0002)
        set(JobColumn::Name);
    if (flags & 0x0004)
        set(JobColumn::Size);
    if (flags & 0x0008)
        set(JobColumn::Resume);
    if (flags & 0x0020)
        set(JobColumn::Num);
    if (flags & 0x0100) {
        set(JobColumn::Completed);
        set(JobColumn::Percent);
        set(JobColumn::Elapsed);
    }
    if (flags & 0x0200) {
        set(JobColumn::Speed);
        set(JobColumn::Left);
    }
    if (flags & 0x0400)
        set(JobColumn::Comment);
    if (flags & 0x0800)
        set(JobColumn::Status);
    if (flags & 0x1000)
        set(JobColumn::Retry);
    if (flags & 0x2000)
        set(JobColumn::CompleteTime);
    set(JobColumn::CreateTime);
    return columns;
}

}  // namespace fetchora
