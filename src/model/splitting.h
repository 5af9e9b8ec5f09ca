#pragma once
// How a job's file is divided among its parts: which gaps are owned by a
// running part, which range a finished or new part takes over, and which
// ranges the parts of a start or of a first response get.
//
// These functions decide and update records only (ranges, parts, their
// flags); starting the threads of the parts they return is the runner's job.
// A returned part is already marked running: the runner starts its thread,
// or stops it when that fails.
//
// Thread: loop thread, under the job lock.
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <vector>

#include "model/completed_range_ops.h"
#include "model/job_part.h"

namespace fetchora {

inline constexpr int64_t kDefaultBlockSize = 204800;  // "BlockSize"
// Stream jobs divide by stream position instead of "BlockSize".
inline constexpr int64_t kStreamPieceBytes = 480000;
inline constexpr int64_t kStreamPieceSpan = 480000;
inline constexpr int64_t kStreamTakeoverSpan = 960000;

// Where a packet stream may start: header size + n × packet length. A zero
// packet length means any byte will do.
struct StreamLayout {
    int64_t headerSize = 0;
    int64_t packetLength = 0;
    // The first packet boundary at or after position.
    int64_t alignUp(int64_t position) const;
};

// A running job as the range and split logic sees it. Borrows the job's
// ranges and the runner's parts for the duration of one handler.
struct JobRangeView {
    JobRangeView(CompletedRangeList& jobRanges, PartList& runnerParts) : ranges(jobRanges), parts(runnerParts) { }

    CompletedRangeList& ranges;
    PartList& parts;
    RangeLimits limits;
    int64_t blockSize = kDefaultBlockSize;
    uint32_t splitCount = 1;
    size_t urlCount = 1;
    StreamLayout layout;
    bool recheck = false;  // optionFlags 0x0400: one part from offset 0
    int64_t completedBytes = 0;  // as last reported; WriteAt keeps it current
    DownloadJob* job = nullptr;  // handed to new parts
    std::time_t now = 0;  // time of the log lines written here

    // Every running part, except one when asked.
    std::vector<PartCursor> runningCursors(std::optional<size_t> except = std::nullopt) const;
};

// The view of a job (its ranges, size, stream flag, split count, URLs) and
// the runner's parts. blockSize is the "BlockSize" setting.
JobRangeView makeRangeView(DownloadJob& job, PartList& parts, int64_t blockSize);

// True when some running part's position p satisfies start <= p <= end.
bool IsRangeOwned(std::span<const PartCursor> running, int64_t start, int64_t end);

// A range for a new or idle part: the first gap no running part is inside,
// whole; otherwise the second half of the largest gap when that gap is longer
// than 2 × blockSize (for streams: spans more than kStreamTakeoverSpan).
std::optional<PartRange> FindTakeover(std::span<const CompletedRange> ranges, const RangeLimits& limits,
                                      std::span<const PartCursor> running, int64_t blockSize,
                                      const StreamLayout& layout = {});
// The same for the view's job; `asker` is left out of the running parts.
std::optional<PartRange> FindTakeover(const JobRangeView& view, std::optional<size_t> asker = std::nullopt);

// A response confirmed the known size for the part at partIndex: parts that
// failed on another URL are restarted on this part's URL, and new parts are
// made until splitCount parts exist. Returns the parts to start.
std::vector<size_t> SplitAfterFirstResponse(JobRangeView& view, size_t partIndex);

// isStart: the job starts or resumes and no transfer part runs; parts are
// made one per URL. Otherwise the first part runs and the job's size has just
// become known: the remaining pieces get new parts. Either way the first new
// part reuses `reusePart` (the finished mirror-search or ping part) when
// given, so that part's log and place stay the job's first. Returns the parts to start;
// none when nothing is left to fetch.
std::vector<size_t> StartParts(JobRangeView& view, bool isStart, std::optional<size_t> reusePart = std::nullopt);

}  // namespace fetchora
