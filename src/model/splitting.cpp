#include "model/splitting.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace fetchora {

namespace {

int64_t lengthOf(const CompletedRange& gap)
{
    return gap.end - gap.start;
}

int64_t spanOf(const CompletedRange& gap)
{
    return std::max<int64_t>(0, static_cast<int64_t>(gap.streamEnd) - static_cast<int64_t>(gap.streamStart));
}

bool gapIsOwned(std::span<const PartCursor> running, const CompletedRange& gap)
{
    // A part "inside" a gap sits at a byte of it; the gap's end is the first
    // byte of the range after it, which is not the gap's.
    return IsRangeOwned(running, gap.start, gap.end - 1);
}

PartRange wholeGap(const CompletedRange& gap)
{
    return {gap.start, gap.end - 1, gap.streamStart, gap.streamEnd};
}

// Makes (or reuses) a part for a range, records its start so that the part
// before it stops there, and marks it running.
size_t placePart(JobRangeView& view, const PartRange& range, uint32_t urlIndex, std::optional<size_t>& reuse)
{
    size_t index;
    if (reuse && *reuse < view.parts.size()) {
        index = *reuse;
        reuse.reset();
        view.parts[index]->flags &= ~(kPartMirrorSearch | kPartMirrorPing | kPartWaitStateMask);
    } else {
        index = view.parts.size();
        view.parts.push_back(std::make_unique<JobPart>(view.job, static_cast<uint32_t>(index)));
    }
    JobPart& part = *view.parts[index];
    part.SetRange(range);
    part.urlIndex = urlIndex;
    part.markRunning();
    AddCompletedRange(view.ranges, view.limits, {range.start, range.start, range.streamStart, range.streamStart});
    return index;
}

std::string formatStreamTime(uint32_t milliseconds)
{
    const uint32_t ms = milliseconds % 1000;
    uint32_t seconds = milliseconds / 1000;
    const uint32_t days = seconds / 86400;
    const uint32_t hours = seconds / 3600 % 24;
    const uint32_t minutes = seconds / 60 % 60;
    seconds %= 60;
    char text[48];
    if (days > 0)
        std::snprintf(text, sizeof text, "%u:%02u:%02u:%02u.%03u", days, hours, minutes, seconds, ms);
    else if (hours > 0)
        std::snprintf(text, sizeof text, "%u:%02u:%02u.%03u", hours, minutes, seconds, ms);
    else if (minutes > 0)
        std::snprintf(text, sizeof text, "%u:%02u.%03u", minutes, seconds, ms);
    else
        std::snprintf(text, sizeof text, "%u.%03u", seconds, ms);
    return text;
}

void logTakeover(JobRangeView& view, JobPart& part)
{
    std::string text;
    if (view.limits.stream)
        text = "Time:" + formatStreamTime(part.streamStart) + "   " + formatStreamTime(part.streamEnd) + " ";
    else
        text = std::to_string(part.start) + "   " + std::to_string(part.end) + " ";
    part.log.add(LogKind::Status, std::move(text), view.now);
}

// Starts of the pieces 1..pieces-1 of one gap, with their stream positions.
// Returns fewer when stream alignment leaves no room.
std::vector<PartRange> pieceRanges(const JobRangeView& view, const CompletedRange& gap, int64_t pieces,
                                   int64_t firstPiece)
{
    const int64_t chunk = lengthOf(gap) / pieces;
    const int64_t streamChunk = spanOf(gap) / pieces;
    std::vector<PartRange> out;
    for (int64_t k = firstPiece; k < pieces; ++k) {
        int64_t start = gap.start + k * chunk;
        if (view.limits.stream && k > 0)
            start = view.layout.alignUp(start);
        const int64_t floor = !out.empty() ? out.back().start + 1 : (k == 0 ? gap.start : gap.start + 1);
        if (start < floor || start >= gap.end)
            break;
        const auto streamStart
            = view.limits.stream ? static_cast<uint32_t>(gap.streamStart + k * streamChunk) : uint32_t{0};
        out.push_back({start, gap.end - 1, streamStart, view.limits.stream ? gap.streamEnd : 0});
    }
    // Each piece ends where the next begins; the last one at the gap's end,
    // so that the bytes left over by the division are assigned too.
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        out[i].end = out[i + 1].start - 1;
        out[i].streamEnd = out[i + 1].streamStart;
    }
    return out;
}

// How many pieces a single gap falls into, at most maxPieces; 0 or 1 means
// no division.
int64_t piecesOf(const JobRangeView& view, const CompletedRange& gap, int64_t maxPieces)
{
    const int64_t length = lengthOf(gap);
    if (view.limits.stream) {
        if (length <= kStreamPieceBytes)
            return 0;
        return std::min(spanOf(gap) / kStreamPieceSpan, maxPieces);
    }
    const int64_t blockSize = std::max<int64_t>(1, view.blockSize);
    if (length <= blockSize)
        return 0;
    return std::min(length / blockSize, maxPieces);
}

using UrlChooser = uint32_t (*)(const JobRangeView&, uint32_t sameUrl, int64_t made);

uint32_t sameUrl(const JobRangeView&, uint32_t url, int64_t)
{
    return url;
}

uint32_t urlInTurn(const JobRangeView& view, uint32_t, int64_t made)
{
    const size_t urls = std::max<size_t>(1, view.urlCount);
    return static_cast<uint32_t>(static_cast<size_t>(made + 1) % urls);
}

// The division shared by the split after a first response and the split
// after the size became known: one gap is cut into equal pieces, several gaps
// are handed out whole and then by takeover.
void divideGaps(JobRangeView& view, int64_t needed, UrlChooser chooseUrl, uint32_t url, std::optional<size_t>& reuse,
                std::vector<size_t>& started)
{
    if (needed <= 0)
        return;
    const std::vector<CompletedRange> gaps = GetFreeRanges(view.ranges, view.limits);
    int64_t made = 0;
    if (gaps.size() == 1) {
        const CompletedRange& gap = gaps.front();
        // Piece 0 stays with the part already writing at the gap's start;
        // when no part is there (it stopped meanwhile) it needs one too.
        const bool firstTaken = gapIsOwned(view.runningCursors(), gap);
        const int64_t firstNew = firstTaken ? 1 : 0;
        int64_t pieces = piecesOf(view, gap, needed + firstNew);
        if (!firstTaken)
            pieces = std::max<int64_t>(pieces, 1);
        else if (pieces < 2)
            return;
        for (const PartRange& range : pieceRanges(view, gap, pieces, firstNew)) {
            started.push_back(placePart(view, range, chooseUrl(view, url, made), reuse));
            ++made;
        }
        return;
    }
    for (const CompletedRange& gap : gaps) {
        if (made >= needed)
            return;
        if (gapIsOwned(view.runningCursors(), gap))
            continue;
        started.push_back(placePart(view, wholeGap(gap), chooseUrl(view, url, made), reuse));
        ++made;
    }
    while (made < needed) {
        const std::optional<PartRange> range = FindTakeover(view);
        if (!range)
            return;
        const size_t index = placePart(view, *range, chooseUrl(view, url, made), reuse);
        logTakeover(view, *view.parts[index]);
        started.push_back(index);
        ++made;
    }
}

// A start or resume of a job whose size is known: one part per URL. The
// first part placed reuses `reuse` when given.
std::vector<size_t> startKnownSize(JobRangeView& view, std::optional<size_t> reuse)
{
    std::vector<size_t> started;
    const std::vector<CompletedRange> gaps = GetFreeRanges(view.ranges, view.limits);
    if (gaps.empty())
        return started;
    const int64_t urls = static_cast<int64_t>(std::max<size_t>(1, view.urlCount));
    const int64_t bound = std::min<int64_t>(std::max<uint32_t>(1, view.splitCount), urls);

    if (gaps.size() == 1 && view.splitCount > 1) {
        const int64_t pieces = piecesOf(view, gaps.front(), view.splitCount);
        if (pieces >= 2) {
            for (const PartRange& range : pieceRanges(view, gaps.front(), pieces, 0)) {
                if (static_cast<int64_t>(started.size()) >= urls)
                    break;
                started.push_back(placePart(view, range, static_cast<uint32_t>(started.size()), reuse));
            }
        }
    } else if (gaps.size() > 1) {
        for (const CompletedRange& gap : gaps) {
            if (static_cast<int64_t>(started.size()) >= bound)
                break;
            if (gapIsOwned(view.runningCursors(), gap))
                continue;
            started.push_back(placePart(view, wholeGap(gap), static_cast<uint32_t>(started.size()), reuse));
        }
        while (static_cast<int64_t>(started.size()) < bound) {
            const std::optional<PartRange> range = FindTakeover(view);
            if (!range)
                break;
            const size_t index = placePart(view, *range, static_cast<uint32_t>(started.size()), reuse);
            logTakeover(view, *view.parts[index]);
            started.push_back(index);
        }
    }
    if (started.empty())
        started.push_back(placePart(view, wholeGap(gaps.front()), 0, reuse));
    view.parts[started.front()]->flags |= kPartFirst;
    return started;
}

}  // namespace

int64_t StreamLayout::alignUp(int64_t position) const
{
    if (packetLength <= 0 || position <= headerSize)
        return position;
    const int64_t into = position - headerSize;
    return headerSize + (into + packetLength - 1) / packetLength * packetLength;
}

std::vector<PartCursor> JobRangeView::runningCursors(std::optional<size_t> except) const
{
    std::vector<PartCursor> cursors;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] && parts[i]->isRunning() && i != except)
            cursors.push_back({i, parts[i]->position()});
    }
    return cursors;
}

JobRangeView makeRangeView(DownloadJob& job, PartList& parts, int64_t blockSize)
{
    JobRangeView view(job.completedRanges, parts);
    view.limits.fileSize = job.fileSize;
    view.limits.sizeKnown = (job.optionFlags & kOptSizeKnown) != 0 && job.fileSize >= 0;
    view.limits.stream = job.streamMarker != 0;
    view.blockSize = blockSize;
    view.splitCount = static_cast<uint32_t>(std::max(1, job.splitCount));
    view.urlCount = std::max<size_t>(1, job.run().urlEntries.size());
    view.recheck = (job.optionFlags & kOptRecheck) != 0;
    view.completedBytes = job.completedBytes;
    view.job = &job;
    return view;
}

bool IsRangeOwned(std::span<const PartCursor> running, int64_t start, int64_t end)
{
    return std::any_of(running.begin(), running.end(),
                       [&](const PartCursor& cursor) { return start <= cursor.position && cursor.position <= end; });
}

std::optional<PartRange> FindTakeover(std::span<const CompletedRange> ranges, const RangeLimits& limits,
                                      std::span<const PartCursor> running, int64_t blockSize,
                                      const StreamLayout& layout)
{
    const std::vector<CompletedRange> gaps = GetFreeRanges(ranges, limits);
    if (gaps.empty())
        return std::nullopt;
    // A gap nobody fetches is taken whole. It begins where earlier data ends,
    // which for a packet stream is a packet boundary already; moving its
    // start would leave bytes that nobody could ever fetch.
    for (const CompletedRange& gap : gaps) {
        if (!gapIsOwned(running, gap))
            return wholeGap(gap);
    }
    const CompletedRange* largest = &gaps.front();
    for (const CompletedRange& gap : gaps) {
        const bool larger = limits.stream ? spanOf(gap) > spanOf(*largest) : lengthOf(gap) > lengthOf(*largest);
        if (larger)
            largest = &gap;
    }
    const int64_t length = lengthOf(*largest);
    if (!limits.stream) {
        if (length <= 2 * std::max<int64_t>(1, blockSize))
            return std::nullopt;
        return PartRange{largest->start + length / 2, largest->end - 1, 0, 0};
    }
    const int64_t span = spanOf(*largest);
    if (span <= kStreamTakeoverSpan)
        return std::nullopt;
    const int64_t start = layout.alignUp(largest->start + length / 2);
    if (start <= largest->start || start >= largest->end)
        return std::nullopt;
    return PartRange{start, largest->end - 1, static_cast<uint32_t>(largest->streamStart + span / 2),
                     largest->streamEnd};
}

std::optional<PartRange> FindTakeover(const JobRangeView& view, std::optional<size_t> asker)
{
    return FindTakeover(view.ranges, view.limits, view.runningCursors(asker), view.blockSize, view.layout);
}

std::vector<size_t> SplitAfterFirstResponse(JobRangeView& view, size_t partIndex)
{
    std::vector<size_t> started;
    if (partIndex >= view.parts.size())
        return started;
    const uint32_t url = view.parts[partIndex]->urlIndex;
    std::optional<size_t> noReuse;

    if (view.splitCount > 1) {
        for (size_t i = 0; i < view.parts.size(); ++i) {
            JobPart& other = *view.parts[i];
            if (i == partIndex || other.isRunning() || other.urlIndex == url || other.stopReason != StopReason::Error)
                continue;
            const std::optional<PartRange> range = FindTakeover(view);
            if (!range)
                break;
            other.SetRange(*range);
            other.urlIndex = url;
            other.markRunning();
            AddCompletedRange(view.ranges, view.limits,
                              {range->start, range->start, range->streamStart, range->streamStart});
            started.push_back(i);
        }
    }
    const int64_t needed = static_cast<int64_t>(view.splitCount) - static_cast<int64_t>(view.parts.size());
    divideGaps(view, needed, &sameUrl, url, noReuse, started);
    return started;
}

std::vector<size_t> StartParts(JobRangeView& view, bool isStart, std::optional<size_t> reusePart)
{
    if (!view.limits.sizeKnown || view.recheck) {
        if (!isStart)
            return {};
        // No division: one part from the end of the data that runs unbroken
        // from offset 0 (the whole file again for a re-check).
        const int64_t start = view.recheck ? 0 : contiguousEndOf(view.ranges);
        std::optional<size_t> noReuse;
        const size_t index = placePart(view, {start, kOpenEnd, 0, 0}, 0, noReuse);
        view.parts[index]->flags |= kPartFirst;
        return {index};
    }
    if (isStart)
        return startKnownSize(view, reusePart);
    std::vector<size_t> started;
    divideGaps(view, static_cast<int64_t>(view.splitCount) - 1, &urlInTurn, 0, reusePart, started);
    return started;
}

}  // namespace fetchora
