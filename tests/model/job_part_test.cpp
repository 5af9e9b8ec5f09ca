#include "model/job_part.h"

#include <gtest/gtest.h>

#include <numeric>
#include <utility>
#include <vector>

#include "model/splitting.h"

namespace fetchora {
namespace {

using Ranges = CompletedRangeList;

CompletedRange r(int64_t start, int64_t end)
{
    return {start, end, 0, 0};
}

class RecordingHost : public PartWriteHost {
public:
    bool writeBlock(int64_t position, std::span<const uint8_t> data) override
    {
        writes.emplace_back(position, static_cast<int64_t>(data.size()));
        return !failWrites;
    }
    void countReceived(uint64_t length) override { received += length; }
    void stopPart(JobPart& part, StopReason reason) override { stopped.emplace_back(&part, reason); }
    void partMoved(JobPart& part) override { moved.push_back(&part); }
    void completedChanged(int64_t bytes) override { completed = bytes; }
    void finishJob(StopReason reason) override { finished = reason; }

    std::vector<std::pair<int64_t, int64_t>> writes;
    std::vector<std::pair<JobPart*, StopReason>> stopped;
    std::vector<JobPart*> moved;
    uint64_t received = 0;
    int64_t completed = -1;
    std::optional<StopReason> finished;
    bool failWrites = false;
};

struct Job {
    Ranges ranges;
    PartList parts;
    JobRangeView view{ranges, parts};
    RecordingHost host;
    std::vector<uint8_t> data = std::vector<uint8_t>(100000, 0x5A);

    explicit Job(int64_t size)
    {
        view.limits.fileSize = size;
        view.limits.sizeKnown = true;
        view.blockSize = 1000;
        view.splitCount = 4;
    }

    size_t addPart(int64_t start)
    {
        parts.push_back(std::make_unique<JobPart>(nullptr, static_cast<uint32_t>(parts.size())));
        parts.back()->SetRange({start, kOpenEnd, 0, 0});
        parts.back()->markRunning();
        AddCompletedRange(ranges, view.limits, r(start, start));
        return parts.size() - 1;
    }

    WriteResult write(size_t part, int64_t position, int64_t length)
    {
        return WriteAt(view, host, part, std::span<const uint8_t>(data.data(), static_cast<size_t>(length)), position);
    }
};

TEST(WriteAt, WritesOnlyUpToDataOfAnotherPartThenTakesOver)
{
    Job job(10000);
    const size_t a = job.addPart(0);
    const size_t b = job.addPart(1000);
    ASSERT_EQ(job.write(b, 1000, 100), WriteResult::Continue);
    ASSERT_EQ(job.write(a, 0, 900), WriteResult::Continue);

    // A's thread reads on past B's start; the bytes from 1000 on are B's.
    job.host.writes.clear();
    EXPECT_EQ(job.write(a, 900, 300), WriteResult::Reconnect);
    EXPECT_EQ(job.host.writes, (std::vector<std::pair<int64_t, int64_t>>{{900, 100}}));
    EXPECT_TRUE(job.parts[b]->isRunning());
    // A moves to the second half of the gap B is fetching.
    EXPECT_EQ(job.parts[a]->start, 1100 + (10000 - 1100) / 2);
    EXPECT_EQ(job.parts[a]->received, 0u);
    EXPECT_EQ(job.host.moved.size(), 1u);
    EXPECT_EQ(job.ranges, (Ranges{r(0, 1100), r(5550, 5550)}));
    EXPECT_EQ(job.host.completed, 1100);
}

TEST(WriteAt, OvertakesAPartThatHasNotWrittenYetAndKeepsTheBlock)
{
    Job job(10000);
    const size_t a = job.addPart(0);
    const size_t b = job.addPart(1000);
    EXPECT_EQ(job.write(a, 0, 1500), WriteResult::Continue);
    EXPECT_EQ(job.host.writes, (std::vector<std::pair<int64_t, int64_t>>{{0, 1000}, {1000, 500}}));
    ASSERT_EQ(job.host.stopped.size(), 1u);
    EXPECT_EQ(job.host.stopped[0].first, job.parts[b].get());
    EXPECT_EQ(job.host.stopped[0].second, StopReason::Done);
    EXPECT_FALSE(job.parts[b]->isRunning());
    EXPECT_EQ(job.parts[a]->position(), 1500);
    EXPECT_EQ(job.ranges, (Ranges{r(0, 1500)}));
    // B's late data is refused.
    EXPECT_EQ(job.write(b, 1000, 10), WriteResult::Stop);
}

TEST(WriteAt, RefusesBlocksAtTheWrongPositionAndFromStoppedParts)
{
    Job job(10000);
    const size_t a = job.addPart(0);
    EXPECT_EQ(job.write(a, 10, 100), WriteResult::Reconnect);
    EXPECT_TRUE(job.host.writes.empty());

    job.view.limits.stream = true;
    ASSERT_EQ(job.write(a, 0, 100), WriteResult::Continue);
    ASSERT_EQ(job.write(a, 100, 100), WriteResult::Continue);
    ASSERT_EQ(job.write(a, 200, 100), WriteResult::Continue);
    job.host.writes.clear();
    // One, two or three packets behind: a duplicate, ignored.
    EXPECT_EQ(job.write(a, 200, 100), WriteResult::Continue);
    EXPECT_EQ(job.write(a, 0, 100), WriteResult::Continue);
    EXPECT_EQ(job.write(a, 150, 100), WriteResult::Reconnect);
    EXPECT_TRUE(job.host.writes.empty());

    job.parts[a]->markStopped(StopReason::User);
    EXPECT_EQ(job.write(a, 300, 100), WriteResult::Stop);
    EXPECT_TRUE(job.host.writes.empty());
}

TEST(WriteAt, LastBlockFinishesTheJob)
{
    Job job(1000);
    const size_t a = job.addPart(0);
    const size_t b = job.addPart(500);
    ASSERT_EQ(job.write(b, 500, 500), WriteResult::Stop);  // reached the end; nothing left to take over
    EXPECT_FALSE(job.parts[b]->isRunning());
    EXPECT_FALSE(job.host.finished.has_value());
    EXPECT_EQ(job.write(a, 0, 600), WriteResult::Stop);
    EXPECT_EQ(job.host.finished, StopReason::Done);
    EXPECT_EQ(job.ranges, (Ranges{r(0, 1000)}));
    // The 100 bytes A read beyond B's data count as received, not as written.
    EXPECT_EQ(job.host.received, 1100u);
}

TEST(WriteAt, FailedWriteRecordsNothing)
{
    Job job(10000);
    const size_t a = job.addPart(0);
    job.host.failWrites = true;
    EXPECT_EQ(job.write(a, 0, 100), WriteResult::Stop);
    EXPECT_EQ(job.parts[a]->received, 0u);
    EXPECT_EQ(completedBytesOf(job.ranges), 0);
}

TEST(WriteAt, StreamJoinWritesTheMarkerIntoTheHole)
{
    Job job(1000000);
    job.view.limits.stream = true;
    const size_t a = job.addPart(0);
    job.parts.push_back(std::make_unique<JobPart>(nullptr, 1));
    job.parts[1]->SetRange({500000, kOpenEnd, 3000, 0});
    job.parts[1]->markRunning();
    AddCompletedRange(job.ranges, job.view.limits, {500000, 500000, 3000, 3000});
    ASSERT_EQ(WriteAt(job.view, job.host, 1, std::span<const uint8_t>(job.data.data(), 1000), 500000, 3000, 3100),
              WriteResult::Continue);

    const WriteResult result
        = WriteAt(job.view, job.host, a, std::span<const uint8_t>(job.data.data(), 1000), 0, 0, 3050);
    // The writer joined data that exists; the one gap left is part 1's and
    // spans no stream positions worth halving, so the writer stops.
    EXPECT_EQ(result, WriteResult::Stop);
    EXPECT_EQ(job.host.writes.back(), (std::pair<int64_t, int64_t>{1000, 8}));
    EXPECT_EQ(job.ranges.front(), (CompletedRange{0, 501000, 0, 3100}));
    EXPECT_TRUE(job.parts[1]->isRunning());
}

TEST(HasRangeLeft, NothingIsLeftAtTheEndOrWhereDataBegins)
{
    Job job(10000);
    job.ranges = {r(0, 2000), r(5000, 5000), r(6000, 8000)};
    EXPECT_TRUE(HasRangeLeft(job.view, 2000));
    // A part's own recorded start is no data.
    EXPECT_TRUE(HasRangeLeft(job.view, 5000));
    EXPECT_TRUE(HasRangeLeft(job.view, 5999));
    EXPECT_FALSE(HasRangeLeft(job.view, 6000));
    EXPECT_FALSE(HasRangeLeft(job.view, 7000));
    EXPECT_FALSE(HasRangeLeft(job.view, 1000));
    EXPECT_TRUE(HasRangeLeft(job.view, 8000));
    EXPECT_FALSE(HasRangeLeft(job.view, 10000));

    // Without a size only data ahead can say so.
    job.view.limits.sizeKnown = false;
    job.view.limits.fileSize = -1;
    EXPECT_TRUE(HasRangeLeft(job.view, 10000));
    EXPECT_FALSE(HasRangeLeft(job.view, 6000));
}

TEST(JobRangeView, TakesTheJobsRangesSizeSplitCountAndUrls)
{
    DownloadJob job;
    job.fileSize = 5000;
    job.optionFlags = kOptSizeKnown | kOptRecheck;
    job.splitCount = 4;
    job.completedRanges = {r(0, 100)};
    job.completedBytes = 100;
    job.run().urlEntries.resize(3);
    job.streamMarker = 1;
    PartList parts;
    const JobRangeView view = makeRangeView(job, parts, 10240);
    EXPECT_EQ(&view.ranges, &job.completedRanges);
    EXPECT_TRUE(view.limits.sizeKnown);
    EXPECT_EQ(view.limits.fileSize, 5000);
    EXPECT_TRUE(view.limits.stream);
    EXPECT_EQ(view.splitCount, 4u);
    EXPECT_EQ(view.urlCount, 3u);
    EXPECT_EQ(view.blockSize, 10240);
    EXPECT_TRUE(view.recheck);
    EXPECT_EQ(view.completedBytes, 100);
    EXPECT_EQ(view.job, &job);

    job.optionFlags = 0;
    job.run().urlEntries.clear();
    const JobRangeView unsized = makeRangeView(job, parts, 10240);
    EXPECT_FALSE(unsized.limits.sizeKnown);
    EXPECT_EQ(unsized.urlCount, 1u);
}

TEST(JobPart, SetRangeRestartsTheCountAndStopClearsWaitBits)
{
    JobPart part;
    part.received = 55;
    part.SetRange({100, 199, 1, 2});
    EXPECT_EQ(part.received, 0u);
    EXPECT_EQ(part.position(), 100);
    EXPECT_EQ(part.range(), (PartRange{100, 199, 1, 2}));

    part.flags = kPartRunning | kPartFirst | kPartWaitRetry | kPartWaitDialUp;
    EXPECT_EQ(part.waitState(), kPartWaitRetry | kPartWaitDialUp);
    part.markStopped(StopReason::MaxErrors);
    EXPECT_EQ(part.flags, kPartFirst);
    EXPECT_EQ(part.stopReason, StopReason::MaxErrors);
}

}  // namespace
}  // namespace fetchora
