#include "model/splitting.h"

#include <gtest/gtest.h>

#include <vector>

namespace fetchora {
namespace {

using Ranges = CompletedRangeList;

constexpr int64_t kMiB = 1048576;
constexpr int64_t kBlock = 204800;

CompletedRange r(int64_t start, int64_t end)
{
    return {start, end, 0, 0};
}

// A job with its ranges and parts, as the runner holds them.
struct Job {
    Ranges ranges;
    PartList parts;
    JobRangeView view{ranges, parts};

    explicit Job(int64_t size, uint32_t splitCount, size_t urls = 1)
    {
        view.limits.fileSize = size;
        view.limits.sizeKnown = true;
        view.blockSize = kBlock;
        view.splitCount = splitCount;
        view.urlCount = urls;
    }

    // A running part at `start` with an open range, as a start makes it.
    size_t addRunningPart(int64_t start, uint32_t url = 0)
    {
        parts.push_back(std::make_unique<JobPart>(nullptr, static_cast<uint32_t>(parts.size())));
        parts.back()->SetRange({start, kOpenEnd, 0, 0});
        parts.back()->urlIndex = url;
        parts.back()->markRunning();
        return parts.size() - 1;
    }

    size_t runningCount() const { return view.runningCursors().size(); }
};

class FirstResponseSplit : public ::testing::TestWithParam<std::pair<uint32_t, size_t>> { };

TEST_P(FirstResponseSplit, OneMebibyteWithBlockSize204800)
{
    const auto [splitCount, expectedParts] = GetParam();
    Job job(kMiB, splitCount);
    job.addRunningPart(0);
    const std::vector<size_t> started = SplitAfterFirstResponse(job.view, 0);
    EXPECT_EQ(job.parts.size(), expectedParts);
    EXPECT_EQ(started.size(), expectedParts - 1);
    EXPECT_EQ(job.runningCount(), expectedParts);

    // Equal pieces; the first part keeps the first one and its open range.
    const int64_t chunk = kMiB / static_cast<int64_t>(expectedParts);
    EXPECT_EQ(job.parts[0]->end, kOpenEnd);
    for (size_t k = 1; k < job.parts.size(); ++k) {
        EXPECT_EQ(job.parts[k]->start, static_cast<int64_t>(k) * chunk);
        EXPECT_EQ(job.parts[k]->urlIndex, 0u);
    }
    if (expectedParts > 1) {
        EXPECT_EQ(job.parts.back()->end, kMiB - 1);
    }
}

INSTANTIATE_TEST_SUITE_P(SplitCounts, FirstResponseSplit,
                         ::testing::Values(std::make_pair(5u, size_t{5}), std::make_pair(10u, size_t{5}),
                                           std::make_pair(3u, size_t{3}), std::make_pair(1u, size_t{1})));

TEST(Splitting, SplitGivesFivePartsForOneMebibyteWithSplitTenWhenTheSizeBecomesKnown)
{
    Job job(kMiB, 10, 3);
    job.addRunningPart(0);
    const std::vector<size_t> started = StartParts(job.view, false);
    EXPECT_EQ(started.size(), 4u);
    // New parts spread over the URLs in turn: 1, 2, then back to 0.
    EXPECT_EQ(job.parts[1]->urlIndex, 1u);
    EXPECT_EQ(job.parts[2]->urlIndex, 2u);
    EXPECT_EQ(job.parts[3]->urlIndex, 0u);
    EXPECT_EQ(job.parts[4]->urlIndex, 1u);
}

TEST(Splitting, SizeBecomingKnownReusesTheMirrorSearchPart)
{
    Job job(kMiB, 3, 2);
    job.addRunningPart(0);
    job.parts.push_back(std::make_unique<JobPart>(nullptr, 1));
    job.parts[1]->flags = kPartMirrorSearch;
    const std::vector<size_t> started = StartParts(job.view, false, 1);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0], 1u);
    EXPECT_EQ(job.parts.size(), 3u);
    EXPECT_TRUE(job.parts[1]->isRunning());
    EXPECT_EQ(job.parts[1]->flags & kPartMirrorSearch, 0u);
    EXPECT_EQ(job.parts[1]->start, kMiB / 3);
}

TEST(Splitting, StartMakesOnePartPerUrlAndLeavesTheRestToLaterSplits)
{
    Job job(kMiB, 5, 2);
    const std::vector<size_t> started = StartParts(job.view, true);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(job.parts[0]->start, 0);
    EXPECT_EQ(job.parts[1]->start, kMiB / 5);
    EXPECT_EQ(job.parts[1]->urlIndex, 1u);
    EXPECT_NE(job.parts[0]->flags & kPartFirst, 0u);

    // The first response of the part at 0 splits the rest: 5 parts in all.
    SplitAfterFirstResponse(job.view, 0);
    EXPECT_EQ(job.parts.size(), 5u);
}

TEST(Splitting, StartOfASmallFileOrWithOneConnectionMakesOneWholePart)
{
    Job small(kBlock, 5, 3);
    ASSERT_EQ(StartParts(small.view, true).size(), 1u);
    EXPECT_EQ(small.parts[0]->range(), (PartRange{0, kBlock - 1, 0, 0}));

    Job single(kMiB, 1, 3);
    ASSERT_EQ(StartParts(single.view, true).size(), 1u);
    EXPECT_EQ(single.parts[0]->range(), (PartRange{0, kMiB - 1, 0, 0}));
}

TEST(Splitting, ResumeWithSeveralGapsGivesEachGapAPartThenTakesOver)
{
    Job job(10 * kMiB, 4, 4);
    job.ranges = {r(0, kMiB), r(2 * kMiB, 3 * kMiB)};
    const std::vector<size_t> started = StartParts(job.view, true);
    ASSERT_EQ(started.size(), 4u);
    EXPECT_EQ(job.parts[0]->start, kMiB);
    EXPECT_EQ(job.parts[1]->start, 3 * kMiB);
    // Then the largest gap, [3 MiB, 10 MiB), is halved, and halved again.
    EXPECT_EQ(job.parts[2]->start, 3 * kMiB + 7 * kMiB / 2);
    EXPECT_EQ(job.parts[3]->start, 3 * kMiB + 7 * kMiB / 4);
    EXPECT_FALSE(job.parts[2]->log.entries().empty());
}

TEST(Splitting, StartWithUnknownSizeOrRecheckMakesOneOpenPart)
{
    Job job(-1, 5);
    job.view.limits.sizeKnown = false;
    job.ranges = {r(0, 5000)};
    ASSERT_EQ(StartParts(job.view, true).size(), 1u);
    EXPECT_EQ(job.parts[0]->range(), (PartRange{5000, kOpenEnd, 0, 0}));

    Job recheck(kMiB, 5);
    recheck.view.recheck = true;
    recheck.ranges = {r(0, kMiB)};
    ASSERT_EQ(StartParts(recheck.view, true).size(), 1u);
    EXPECT_EQ(recheck.parts[0]->start, 0);

    // Data that does not run unbroken from 0 is never skipped over.
    Job holes(-1, 5);
    holes.view.limits.sizeKnown = false;
    holes.ranges = {r(0, 100), r(200, 300)};
    StartParts(holes.view, true);
    EXPECT_EQ(holes.parts[0]->start, 100);
}

TEST(Splitting, CompleteJobGetsNoParts)
{
    Job job(kMiB, 5);
    job.ranges = {r(0, kMiB)};
    EXPECT_TRUE(StartParts(job.view, true).empty());
    EXPECT_TRUE(job.parts.empty());
}

TEST(FindTakeover, GapOfExactlyTwoBlocksIsNotSplitOneByteMoreIs)
{
    const PartCursor owner[] = {{0, 1000}};
    RangeLimits limits;
    limits.sizeKnown = true;

    limits.fileSize = 1000 + 2 * kBlock;
    EXPECT_FALSE(FindTakeover(Ranges{r(0, 1000)}, limits, owner, kBlock).has_value());

    limits.fileSize = 1000 + 2 * kBlock + 1;
    const std::optional<PartRange> range = FindTakeover(Ranges{r(0, 1000)}, limits, owner, kBlock);
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->start, 1000 + (2 * kBlock + 1) / 2);
    EXPECT_EQ(range->end, limits.fileSize - 1);
}

TEST(FindTakeover, TakesTheFirstUnownedGapWholeElseHalvesTheLargest)
{
    RangeLimits limits;
    limits.sizeKnown = true;
    limits.fileSize = 10 * kMiB;
    const Ranges ranges{r(0, kMiB), r(2 * kMiB, 3 * kMiB), r(4 * kMiB, 5 * kMiB)};

    // Gaps: [1,2) owned, [3,4) free, [5,10) owned.
    const PartCursor some[] = {{0, kMiB}, {1, 5 * kMiB}};
    EXPECT_EQ(FindTakeover(ranges, limits, some, kBlock), (PartRange{3 * kMiB, 4 * kMiB - 1, 0, 0}));

    const PartCursor all[] = {{0, kMiB}, {1, 3 * kMiB}, {2, 5 * kMiB}};
    EXPECT_EQ(FindTakeover(ranges, limits, all, kBlock), (PartRange{15 * kMiB / 2, 10 * kMiB - 1, 0, 0}));

    // A part sitting at a gap's end (its own start) is not inside that gap.
    const PartCursor atEnd[] = {{0, kMiB}, {1, 4 * kMiB}, {2, 5 * kMiB}};
    EXPECT_EQ(FindTakeover(ranges, limits, atEnd, kBlock)->start, 3 * kMiB);
}

TEST(FindTakeover, StreamsHalveBySpanAndAlignToPackets)
{
    RangeLimits limits;
    limits.sizeKnown = true;
    limits.stream = true;
    limits.fileSize = 4000000;
    limits.streamLength = 2000000;
    const StreamLayout layout{5000, 1000};
    const PartCursor owner[] = {{0, 5000}};
    const std::optional<PartRange> range = FindTakeover(Ranges{{0, 5000, 0, 0}}, limits, owner, kBlock, layout);
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->start, 2003000);  // 5000 + 3995000 / 2 = 2002500, up to the packet boundary
    EXPECT_EQ(range->streamStart, 1000000u);

    limits.streamLength = 960000;
    EXPECT_FALSE(FindTakeover(Ranges{{0, 5000, 0, 0}}, limits, owner, kBlock, layout).has_value());
}

TEST(SplitAfterFirstResponse, RestartsPartsThatFailedOnAnotherUrl)
{
    Job job(4 * kMiB, 3, 2);
    job.addRunningPart(0, 0);
    const size_t failed = job.addRunningPart(2 * kMiB, 1);
    job.ranges = {r(0, 0), r(2 * kMiB, 2 * kMiB + 100)};
    job.parts[failed]->received = 100;
    job.parts[failed]->markStopped(StopReason::Error);

    const std::vector<size_t> started = SplitAfterFirstResponse(job.view, 0);
    ASSERT_FALSE(started.empty());
    EXPECT_EQ(started[0], failed);
    EXPECT_TRUE(job.parts[failed]->isRunning());
    EXPECT_EQ(job.parts[failed]->urlIndex, 0u);
    // It takes the gap nobody fetched any more, whole.
    EXPECT_EQ(job.parts[failed]->start, 2 * kMiB + 100);
}

TEST(IsRangeOwned, CountsPositionsAtBothEnds)
{
    const PartCursor running[] = {{0, 100}};
    EXPECT_TRUE(IsRangeOwned(running, 100, 200));
    EXPECT_TRUE(IsRangeOwned(running, 0, 100));
    EXPECT_FALSE(IsRangeOwned(running, 101, 200));
    EXPECT_FALSE(IsRangeOwned({}, 0, 1000));
}

}  // namespace
}  // namespace fetchora
