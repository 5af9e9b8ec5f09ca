#pragma once
// Handing byte ranges of a completed job's file back to the job, so that its
// next run fetches exactly those ranges again (a damaged archive's entries).
//
// Thread: loop thread, under the job lock.
#include <cstdint>
#include <span>

namespace fetchora {

class DownloadJob;

// An inclusive byte range [first, last] of a file.
struct FileSpan {
    int64_t first = 0;
    int64_t last = 0;
    bool operator==(const FileSpan&) const = default;
};

enum class RefetchResult {
    Ready,  // the job is Ready with the spans as gaps in its completed ranges
    // Only a completed byte job whose size is known qualifies (a running
    // job is not completed).
    NotCompleted,
    OutOfRange,  // a span is empty, inverted or outside the file
    FileMissing,  // the completed file is not where the job keeps it
    MoveFailed,  // the file could not be put back under its ".kx!" name
};

// Takes every span out of the job's completed ranges, so that the splitter
// sees exactly them as gaps and makes parts for them, and sets the job
// Ready (a Manual job becomes Immediately) for the queue to start. A job that
// downloads into "<name>.kx!" gets its file back under that name first, since
// a run resumes from the working file. Nothing changes unless the result is
// Ready. An empty list is Ready with only the state changed.
RefetchResult RefetchRanges(DownloadJob& job, std::span<const FileSpan> spans);

}  // namespace fetchora
