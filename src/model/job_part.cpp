#include "model/job_part.h"

#include <algorithm>

#include "model/splitting.h"

namespace fetchora {

void JobPart::SetRange(const PartRange& range)
{
    start = range.start;
    end = range.end;
    streamStart = range.streamStart;
    streamEnd = range.streamEnd;
    received = 0;
}

void JobPart::markStopped(StopReason reason)
{
    stopReason = reason;
    flags &= ~(kPartRunning | kPartWaitStateMask);
}

namespace {

// How far a part at `position` may write: up to the first completed range
// ahead of it (the data, or the recorded start, of another part) or the end
// of a known size. An empty range at the position itself is the part's own
// recorded start.
int64_t writeLimit(const JobRangeView& view, int64_t position)
{
    int64_t limit = view.limits.sizeKnown ? view.limits.fileSize : INT64_MAX;
    auto next = std::lower_bound(view.ranges.begin(), view.ranges.end(), position,
                                 [](const CompletedRange& range, int64_t value) { return range.start < value; });
    for (; next != view.ranges.end(); ++next) {
        if (next->start == position && next->end == position)
            continue;
        limit = std::min(limit, next->start);
        break;
    }
    return std::max(limit, position);
}

void stopPart(PartWriteHost& host, JobPart& part, StopReason reason)
{
    host.stopPart(part, reason);
    part.markStopped(reason);
}

// The part has nothing ahead of it any more: new work, or it stops.
WriteResult takeOver(JobRangeView& view, PartWriteHost& host, size_t partIndex)
{
    JobPart& part = *view.parts[partIndex];
    const std::optional<PartRange> range = FindTakeover(view, partIndex);
    if (!range) {
        stopPart(host, part, StopReason::Done);
        return WriteResult::Stop;
    }
    part.SetRange(*range);
    AddCompletedRange(view.ranges, view.limits, {range->start, range->start, range->streamStart, range->streamStart});
    host.partMoved(part);
    return WriteResult::Reconnect;
}

}  // namespace

bool HasRangeLeft(const JobRangeView& view, int64_t position)
{
    const bool onData = std::any_of(view.ranges.begin(), view.ranges.end(), [&](const CompletedRange& range) {
        return range.start <= position && position < range.end;
    });
    return !onData && writeLimit(view, position) > position;
}

WriteResult WriteAt(JobRangeView& view, PartWriteHost& host, size_t partIndex, std::span<const uint8_t> data,
                    int64_t position, uint32_t streamStart, uint32_t streamEnd)
{
    if (partIndex >= view.parts.size() || !view.parts[partIndex])
        return WriteResult::Stop;
    JobPart& part = *view.parts[partIndex];
    const auto length = static_cast<int64_t>(data.size());
    if (position != part.position()) {
        if (view.limits.stream && length > 0) {
            for (int64_t behind = 1; behind <= 3; ++behind) {
                if (position == part.position() - behind * length)
                    return WriteResult::Continue;
            }
        }
        return WriteResult::Reconnect;
    }
    if (!part.isRunning())
        return WriteResult::Stop;
    // The run counters measure what came over the network, dropped or not.
    host.countReceived(static_cast<uint64_t>(length));

    WriteResult result = WriteResult::Continue;
    size_t offset = 0;
    while (offset < data.size()) {
        const int64_t at = part.position();
        const int64_t room = writeLimit(view, at) - at;
        const int64_t count = std::min<int64_t>(room, static_cast<int64_t>(data.size() - offset));
        AddRangeResult added;
        if (count > 0) {
            if (!host.writeBlock(at, data.subspan(offset, static_cast<size_t>(count))))
                return WriteResult::Stop;
            part.received += static_cast<uint64_t>(count);
            offset += static_cast<size_t>(count);
            const bool whole = offset == data.size() && count == length;
            const CompletedRange block{at, at + count, streamStart, whole ? streamEnd : streamStart};
            added = AddCompletedRange(view.ranges, view.limits, block, view.runningCursors(), partIndex);
        } else {
            // Data or the end of the file right at the part's position.
            added = AddCompletedRange(view.ranges, view.limits, {at, at, streamStart, streamStart},
                                      view.runningCursors(), partIndex);
            added.writerReachedData = true;
        }
        for (size_t ahead : added.partsAhead)
            stopPart(host, *view.parts[ahead], StopReason::Done);
        if (added.marker) {
            if (!host.writeBlock(added.marker->position, added.marker->bytes))
                return WriteResult::Stop;
        }
        if (added.writerReachedData) {
            // What is left of the block belongs to data that exists or to
            // another part; it is dropped.
            result = takeOver(view, host, partIndex);
            break;
        }
    }

    const int64_t completed = completedBytesOf(view.ranges);
    if (completed != view.completedBytes) {
        view.completedBytes = completed;
        host.completedChanged(completed);
    }
    if (view.limits.sizeKnown && completed >= view.limits.fileSize) {
        host.finishJob(StopReason::Done);
        return WriteResult::Stop;
    }
    return result;
}

}  // namespace fetchora
