#include "model/completed_range_ops.h"

#include <algorithm>

namespace fetchora {

namespace {

void collectPartsAt(int64_t position, std::span<const PartCursor> running, std::optional<size_t> writer,
                    std::vector<size_t>& out)
{
    for (const PartCursor& cursor : running) {
        if (cursor.position == position && cursor.part != writer)
            out.push_back(cursor.part);
    }
}

StreamJoinMarker makeJoinMarker(int64_t position, bool coversNext, int64_t nextStart)
{
    StreamJoinMarker marker;
    marker.position = position;
    marker.bytes = {0xAA, 0x55, 0xCC, static_cast<uint8_t>(coversNext ? 1 : 0), 0, 0, 0, 0};
    const auto low = static_cast<uint32_t>(static_cast<uint64_t>(nextStart));
    marker.bytes[4] = static_cast<uint8_t>(low >> 24);
    marker.bytes[5] = static_cast<uint8_t>(low >> 16);
    marker.bytes[6] = static_cast<uint8_t>(low >> 8);
    marker.bytes[7] = static_cast<uint8_t>(low);
    return marker;
}

// A stream range may join the following one when their stream positions meet
// although bytes lie between them (the byte offsets of the later part were
// only an estimate). A following range that starts at stream position 0
// carries no stream position at all and never joins this way.
void joinByStreamPosition(CompletedRangeList& ranges, size_t index, AddRangeResult& result)
{
    if (index + 1 >= ranges.size())
        return;
    CompletedRange& merged = ranges[index];
    const CompletedRange next = ranges[index + 1];
    if (next.start <= merged.end || next.streamStart == 0 || merged.streamEnd < next.streamStart)
        return;
    // The marker goes into the hole only; a hole too small for it is left as
    // it is rather than overwrite the following range's data.
    if (next.start - merged.end >= static_cast<int64_t>(kStreamJoinMarkerSize))
        result.marker = makeJoinMarker(merged.end, merged.streamEnd >= next.streamEnd, next.start);
    merged.end = next.end;
    merged.streamEnd = next.streamEnd;
    ranges.erase(ranges.begin() + static_cast<std::ptrdiff_t>(index) + 1);
    result.separate = false;
    result.writerReachedData = true;
}

}  // namespace

AddRangeResult AddCompletedRange(CompletedRangeList& ranges, const RangeLimits& limits, const CompletedRange& added,
                                 std::span<const PartCursor> running, std::optional<size_t> writer)
{
    AddRangeResult result;
    CompletedRange item = added;
    if (item.end < item.start)
        item.end = item.start;
    if (limits.sizeKnown) {
        if (item.start >= limits.fileSize) {
            result.refused = true;
            return result;
        }
        item.end = std::min(item.end, limits.fileSize);
    }

    // Ends are sorted as well as starts, so the first entry ending at or after
    // the new start is the only one that can touch it from before.
    auto first = std::lower_bound(ranges.begin(), ranges.end(), item.start,
                                  [](const CompletedRange& range, int64_t value) { return range.end < value; });
    size_t index = static_cast<size_t>(first - ranges.begin());

    if (first == ranges.end() || first->start > item.end) {
        ranges.insert(first, item);
    } else {
        CompletedRange& merged = ranges[index];
        if (merged.start <= item.start) {
            // The entry the new range continues (normally the writer's own).
            if (merged.end < item.end) {
                collectPartsAt(merged.end, running, writer, result.partsAhead);
                merged.end = item.end;
                merged.streamEnd = item.streamEnd;
            }
        } else {
            // The new range begins before this entry and reaches it.
            const CompletedRange following = merged;
            merged = item;
            result.separate = false;
            if (following.end > item.end) {
                merged.end = following.end;
                merged.streamEnd = following.streamEnd;
                result.writerReachedData = true;
            } else {
                collectPartsAt(following.end, running, writer, result.partsAhead);
            }
        }
        // Entries the (possibly grown) range now reaches.
        while (index + 1 < ranges.size() && ranges[index + 1].start <= ranges[index].end) {
            const CompletedRange next = ranges[index + 1];
            ranges.erase(ranges.begin() + static_cast<std::ptrdiff_t>(index) + 1);
            result.separate = false;
            if (next.end > ranges[index].end) {
                ranges[index].end = next.end;
                ranges[index].streamEnd = next.streamEnd;
                result.writerReachedData = true;
                break;
            }
            collectPartsAt(next.end, running, writer, result.partsAhead);
        }
    }

    if (limits.stream)
        joinByStreamPosition(ranges, index, result);

    if (limits.sizeKnown && ranges[index].end >= limits.fileSize) {
        result.separate = false;
        result.writerReachedData = true;
    }
    return result;
}

std::vector<CompletedRange> GetFreeRanges(std::span<const CompletedRange> ranges, const RangeLimits& limits)
{
    std::vector<CompletedRange> gaps;
    if (!limits.sizeKnown || limits.fileSize <= 0)
        return gaps;
    int64_t cursor = 0;
    uint32_t streamCursor = 0;
    for (const CompletedRange& range : ranges) {
        if (cursor >= limits.fileSize)
            return gaps;
        const int64_t gapEnd = std::min(range.start, limits.fileSize);
        if (gapEnd > cursor) {
            gaps.push_back({cursor, gapEnd, streamCursor, range.streamStart});
            if (gaps.size() == kMaxFreeRanges)
                return gaps;
        }
        if (range.end > cursor) {
            cursor = range.end;
            streamCursor = range.streamEnd;
        }
    }
    if (cursor < limits.fileSize)
        gaps.push_back({cursor, limits.fileSize, streamCursor, limits.streamLength});
    return gaps;
}

int64_t completedBytesOf(std::span<const CompletedRange> ranges)
{
    int64_t total = 0;
    for (const CompletedRange& range : ranges)
        total += range.end - range.start;
    return total;
}

void RemoveCompletedRange(CompletedRangeList& ranges, int64_t start, int64_t end)
{
    if (end <= start)
        return;
    std::vector<CompletedRange> kept;
    kept.reserve(ranges.size() + 1);
    for (const CompletedRange& range : ranges) {
        if (range.end <= start || range.start >= end || range.start == range.end) {
            kept.push_back(range);
            continue;
        }
        // Stream positions of a cut end are not known; the nearer end keeps its own.
        if (range.start < start)
            kept.push_back({range.start, start, range.streamStart, range.streamStart});
        if (range.end > end)
            kept.push_back({end, range.end, range.streamEnd, range.streamEnd});
    }
    ranges.assign(kept);
}

int64_t contiguousEndOf(std::span<const CompletedRange> ranges)
{
    if (ranges.empty() || ranges.front().start != 0)
        return 0;
    return ranges.front().end;
}

}  // namespace fetchora
