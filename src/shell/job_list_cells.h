#pragma once
// The job list's columns and what each cell of a row shows, as plain text and
// image indices, so that every front end (the Qt window, tests, benchmarks)
// formats a job the same way.
//
// Thread: loop thread, under the job lock (the cells read the job and its
// runner). Pure functions apart from the locale of the time columns.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace fetchora {

class DownloadJob;

// The fifteen logical columns, in their fixed order. The numbers are the
// indices the stored column sets use.
enum class JobColumn {
    Status,
    Resume,
    Name,
    Size,
    Completed,
    Percent,
    Elapsed,
    Left,
    Speed,
    Num,
    Retry,
    Url,
    Comment,
    CreateTime,
    CompleteTime,
};
inline constexpr size_t kJobColumnCount = 15;

inline constexpr size_t columnIndex(JobColumn column)
{
    return static_cast<size_t>(column);
}

// The figures of a run that the list shows but the record does not hold.
// A job that is not running has the defaults: no speed, no estimate, no
// connection running.
struct JobRunFigures {
    uint32_t elapsedSeconds = 0;  // of the current run
    int64_t secondsLeft = -1;  // -1: no estimate
    int64_t shortSpeed = -1;  // bytes per second; -1: no figure
    uint32_t runningParts = 0;
};

// Where the list takes a job's run figures from. The default reads the
// engine's runner; tests and benchmarks give their own.
using RunFiguresSource = std::function<JobRunFigures(const DownloadJob&)>;
JobRunFigures engineRunFigures(const DownloadJob& job);

// The text of one cell. Status and Resume show images only and give "".
// Elapsed is the time spent over all finished runs plus the current one, so
// that it does not fall back to zero when a paused job resumes.
std::string jobCellText(const DownloadJob& job, JobColumn column, const JobRunFigures& figures, bool sizesInBytes);

// The row image: 4 queued, 5 downloading, 6 completed, 7 failed, 8 paused,
// 9 scheduled; 6 further on for a job in re-check mode.
int jobStatusIcon(const DownloadJob& job);
// The resume overlay: 0 none (resume ability not known yet), 1 the server can
// resume, 2 it cannot.
int jobResumeOverlay(const DownloadJob& job);

// Which columns a row update mask refreshes. 0x0010 alone refreshes nothing;
// any other bit also refreshes Create Time; 0xFFFF refreshes every column.
using ColumnMask = std::array<bool, kJobColumnCount>;
ColumnMask columnsForFlags(uint32_t flags);

}  // namespace fetchora
