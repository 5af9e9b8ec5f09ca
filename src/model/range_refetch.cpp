#include "model/range_refetch.h"

#include <filesystem>
#include <system_error>

#include "model/completed_range_ops.h"
#include "model/download_job.h"
#include "model/file_moves.h"

namespace fetchora {

RefetchResult RefetchRanges(DownloadJob& job, std::span<const FileSpan> spans)
{
    // A runner kept after the job completed has closed its file; its next
    // start opens the working file again.
    if (!job.IsComplete() || !job.IsSizeKnown() || job.streamMarker != 0 || job.fileSize <= 0)
        return RefetchResult::NotCompleted;
    for (const FileSpan& span : spans) {
        if (span.first < 0 || span.last < span.first || span.last >= job.fileSize)
            return RefetchResult::OutOfRange;
    }
    const std::string finalPath = job.GetLocalPath();
    std::error_code error;
    if (!std::filesystem::is_regular_file(finalPath, error))
        return RefetchResult::FileMissing;
    if ((job.formatFlags & kFmtTempFile) != 0) {
        if (!MoveFileNoReplace(finalPath, job.GetTempPath(), error))
            return RefetchResult::MoveFailed;
    }
    for (const FileSpan& span : spans)
        RemoveCompletedRange(job.completedRanges, span.first, span.last + 1);
    job.RecomputeCompletedBytes();
    job.hasData = true;
    // A recheck would fetch the whole file from offset 0 instead of the gaps.
    job.optionFlags &= ~kOptRecheck;
    job.completeTime = -1;
    if (job.startMode == StartMode::Manual)
        job.startMode = StartMode::Immediately;
    job.SetState(JobState::Ready, false);
    job.Notify(kChangeAll);
    return RefetchResult::Ready;
}

}  // namespace fetchora
