#pragma once
// Bookkeeping of a job's completed ranges: recording a block that reached the
// disk and finding the gaps still to fetch.
//
// Pure functions over plain data. They run on the loop thread under the job
// lock; nothing here touches a file or a thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "model/completed_range_list.h"

namespace fetchora {

// What the bookkeeping needs to know about the job's file.
struct RangeLimits {
    int64_t fileSize = -1;
    bool sizeKnown = false;  // optionFlags 0x0200
    bool stream = false;  // streamMarker non-zero: ranges carry stream positions
    uint32_t streamLength = 0;  // stream position at the end of the file; 0 when not known
};

// A running part as the bookkeeping sees it: its index in the runner's part
// array and its current position (start + received).
struct PartCursor {
    size_t part = 0;
    int64_t position = 0;
};

// At most this many gaps are handed out at a time; later ones surface as the
// earlier ones fill.
inline constexpr size_t kMaxFreeRanges = 50;

// Written into the unfetched bytes between two stream ranges that were joined
// by stream position, so that a reader of the file can skip to the next data.
inline constexpr size_t kStreamJoinMarkerSize = 8;
struct StreamJoinMarker {
    int64_t position = 0;
    std::array<uint8_t, kStreamJoinMarkerSize> bytes{};
};

struct AddRangeResult {
    // False when the new range joined a following range, or when the result
    // reaches the end of a known size (the writer has nothing left ahead).
    bool separate = true;
    // The range started at or beyond the known size; nothing was recorded.
    bool refused = false;
    // The writer ran into data that already exists, or reached the end of the
    // file: it needs new work.
    bool writerReachedData = false;
    // Running parts other than the writer whose position the new range has
    // passed: they would now write inside completed data and must stop.
    std::vector<size_t> partsAhead;
    // For stream jobs: bytes the caller must write into the file.
    std::optional<StreamJoinMarker> marker;
};

// Records [added.start, added.end) in the sorted list. Entries that overlap or
// touch the new one are merged into it; the list never holds overlapping or
// touching entries afterwards. added.start == added.end records the start of
// a new part's range. `running` lists the running parts (for partsAhead);
// `writer` is the part that wrote the block, if any.
AddRangeResult AddCompletedRange(CompletedRangeList& ranges, const RangeLimits& limits, const CompletedRange& added,
                                 std::span<const PartCursor> running = {}, std::optional<size_t> writer = std::nullopt);

// The gaps of a job whose size is known, in file order, each as [start, end)
// with the stream positions of its two ends; at most kMaxFreeRanges. A job
// whose size is not known has no gaps.
std::vector<CompletedRange> GetFreeRanges(std::span<const CompletedRange> ranges, const RangeLimits& limits);

// Sum of (end - start).
int64_t completedBytesOf(std::span<const CompletedRange> ranges);

// Takes [start, end) out of the list (data that did not reach the disk after
// all, or lies beyond the end of a resumed file).
void RemoveCompletedRange(CompletedRangeList& ranges, int64_t start, int64_t end);

// The end of the data that runs from offset 0 without a hole; 0 when the
// first range does not start at 0.
int64_t contiguousEndOf(std::span<const CompletedRange> ranges);

}  // namespace fetchora
