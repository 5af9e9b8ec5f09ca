#include "model/completed_range_ops.h"

#include <gtest/gtest.h>

#include <vector>

namespace fetchora {
namespace {

using Ranges = CompletedRangeList;

RangeLimits sized(int64_t size)
{
    RangeLimits limits;
    limits.fileSize = size;
    limits.sizeKnown = true;
    return limits;
}

CompletedRange r(int64_t start, int64_t end)
{
    return {start, end, 0, 0};
}

TEST(AddCompletedRange, AppendsMergesTouchingAndKeepsOrder)
{
    Ranges ranges;
    const RangeLimits limits = sized(1000);
    EXPECT_TRUE(AddCompletedRange(ranges, limits, r(500, 600)).separate);
    EXPECT_TRUE(AddCompletedRange(ranges, limits, r(100, 200)).separate);
    EXPECT_EQ(ranges, (Ranges{r(100, 200), r(500, 600)}));

    // Continuing the first range, still apart from the second.
    EXPECT_TRUE(AddCompletedRange(ranges, limits, r(200, 300)).separate);
    EXPECT_EQ(ranges, (Ranges{r(100, 300), r(500, 600)}));

    // Running into the second range joins them and tells the writer.
    const AddRangeResult joined = AddCompletedRange(ranges, limits, r(300, 500), {}, 7);
    EXPECT_FALSE(joined.separate);
    EXPECT_TRUE(joined.writerReachedData);
    EXPECT_EQ(ranges, (Ranges{r(100, 600)}));
    EXPECT_EQ(completedBytesOf(ranges), 500);
}

TEST(AddCompletedRange, RangeBeforeEveryEntryThatReachesPastTheFirstKeepsEverything)
{
    // A block that starts before the first entry and runs beyond its end must
    // keep its own end, and swallow later entries it reaches.
    Ranges ranges{r(100, 200), r(250, 300), r(400, 500)};
    const AddRangeResult result = AddCompletedRange(ranges, sized(1000), r(0, 260));
    EXPECT_FALSE(result.separate);
    EXPECT_TRUE(result.writerReachedData);
    EXPECT_EQ(ranges, (Ranges{r(0, 300), r(400, 500)}));

    Ranges touching{r(100, 200)};
    EXPECT_FALSE(AddCompletedRange(touching, sized(1000), r(50, 100)).separate);
    EXPECT_EQ(touching, (Ranges{r(50, 200)}));
}

TEST(AddCompletedRange, CoveredFollowingEntryNamesThePartWritingThere)
{
    // Part 3 has written [300, 320) and sits at 320; a block from part 1 that
    // covers it leaves part 3 writing inside completed data.
    Ranges ranges{r(0, 250), r(300, 320), r(700, 800)};
    const PartCursor running[] = {{1, 250}, {3, 320}, {4, 800}};
    const AddRangeResult result = AddCompletedRange(ranges, sized(1000), r(250, 400), running, 1);
    EXPECT_FALSE(result.separate);
    EXPECT_FALSE(result.writerReachedData);
    EXPECT_EQ(result.partsAhead, (std::vector<size_t>{3}));
    EXPECT_EQ(ranges, (Ranges{r(0, 400), r(700, 800)}));
}

TEST(AddCompletedRange, RecordedStartOfANewPartIsAnEmptyEntryThatSplitsTheGap)
{
    Ranges ranges{r(0, 100)};
    const RangeLimits limits = sized(1000);
    EXPECT_TRUE(AddCompletedRange(ranges, limits, r(600, 600)).separate);
    EXPECT_EQ(ranges, (Ranges{r(0, 100), r(600, 600)}));
    EXPECT_EQ(GetFreeRanges(ranges, limits), (Ranges{r(100, 600), r(600, 1000)}));

    // The writer before it reaching the empty entry removes it and stops the
    // new part, which has not written anything yet.
    const PartCursor running[] = {{0, 600}, {2, 600}};
    const AddRangeResult result = AddCompletedRange(ranges, limits, r(100, 600), running, 0);
    EXPECT_EQ(result.partsAhead, (std::vector<size_t>{2}));
    EXPECT_FALSE(result.writerReachedData);
    EXPECT_EQ(ranges, (Ranges{r(0, 600)}));
}

TEST(AddCompletedRange, RefusesStartsBeyondTheSizeAndCutsEnds)
{
    Ranges ranges;
    const RangeLimits limits = sized(1000);
    EXPECT_TRUE(AddCompletedRange(ranges, limits, r(1000, 1200)).refused);
    EXPECT_TRUE(ranges.empty());

    const AddRangeResult cut = AddCompletedRange(ranges, limits, r(900, 1200), {}, 0);
    EXPECT_FALSE(cut.separate);  // reaches the end of the file
    EXPECT_TRUE(cut.writerReachedData);
    EXPECT_EQ(ranges, (Ranges{r(900, 1000)}));

    // With the size not known nothing is cut.
    Ranges open;
    EXPECT_TRUE(AddCompletedRange(open, RangeLimits{}, r(0, 5000)).separate);
    EXPECT_EQ(open, (Ranges{r(0, 5000)}));
}

TEST(AddCompletedRange, BlockInsideExistingDataChangesNothing)
{
    Ranges ranges{r(0, 500)};
    EXPECT_TRUE(AddCompletedRange(ranges, sized(1000), r(100, 200)).separate);
    EXPECT_EQ(ranges, (Ranges{r(0, 500)}));
}

TEST(AddCompletedRange, StreamRangesJoinByStreamPositionWithAMarker)
{
    RangeLimits limits = sized(100000);
    limits.stream = true;
    // A later part started at byte 5000 for stream time 2000; the earlier part
    // reaches stream time 2100 at byte 4000.
    Ranges ranges{{0, 3000, 0, 1500}, {5000, 6000, 2000, 2600}};
    const AddRangeResult result = AddCompletedRange(ranges, limits, {3000, 4000, 1500, 2100}, {}, 0);
    EXPECT_FALSE(result.separate);
    EXPECT_TRUE(result.writerReachedData);
    ASSERT_TRUE(result.marker.has_value());
    EXPECT_EQ(result.marker->position, 4000);
    const std::array<uint8_t, 8> expected{0xAA, 0x55, 0xCC, 0x00, 0x00, 0x00, 0x13, 0x88};  // 5000
    EXPECT_EQ(result.marker->bytes, expected);
    EXPECT_EQ(ranges, (Ranges{{0, 6000, 0, 2600}}));

    // Past the next entry's stream end the flag byte is 1; a hole smaller than
    // the marker is not written into.
    Ranges close{{0, 1000, 0, 100}, {1004, 2000, 150, 300}};
    const AddRangeResult tight = AddCompletedRange(close, limits, {1000, 1002, 100, 400}, {}, 0);
    EXPECT_FALSE(tight.marker.has_value());
    EXPECT_EQ(close, (Ranges{{0, 2000, 0, 300}}));

    Ranges wide{{0, 1000, 0, 100}, {0x12345678, 0x12345700, 150, 300}};
    limits.fileSize = 0x20000000;
    const AddRangeResult covering = AddCompletedRange(wide, limits, {1000, 1100, 100, 300}, {}, 0);
    ASSERT_TRUE(covering.marker.has_value());
    EXPECT_EQ(covering.marker->bytes[3], 1);
    EXPECT_EQ(covering.marker->bytes[4], 0x12);
    EXPECT_EQ(covering.marker->bytes[7], 0x78);
}

TEST(AddCompletedRange, ByteJobsAndUnpositionedStreamRangesNeverJoinAcrossAHole)
{
    Ranges bytes{r(0, 100), r(200, 300)};
    EXPECT_TRUE(AddCompletedRange(bytes, sized(1000), r(100, 150)).separate);
    EXPECT_EQ(bytes.size(), 2u);

    RangeLimits stream = sized(1000);
    stream.stream = true;
    Ranges unpositioned{r(0, 100), r(200, 300)};
    EXPECT_TRUE(AddCompletedRange(unpositioned, stream, r(100, 150)).separate);
    EXPECT_EQ(unpositioned, (Ranges{r(0, 150), r(200, 300)}));
}

TEST(GetFreeRanges, ListsLeadingMiddleAndTrailingGaps)
{
    const RangeLimits limits = sized(1000);
    EXPECT_EQ(GetFreeRanges(Ranges{}, limits), (Ranges{r(0, 1000)}));
    EXPECT_EQ(GetFreeRanges(Ranges{r(100, 200), r(300, 400)}, limits), (Ranges{r(0, 100), r(200, 300), r(400, 1000)}));
    EXPECT_TRUE(GetFreeRanges(Ranges{r(0, 1000)}, limits).empty());
    EXPECT_TRUE(GetFreeRanges(Ranges{}, RangeLimits{}).empty());  // size not known
    EXPECT_TRUE(GetFreeRanges(Ranges{}, sized(0)).empty());

    RangeLimits stream = sized(1000);
    stream.stream = true;
    stream.streamLength = 9000;
    EXPECT_EQ(GetFreeRanges(Ranges{{100, 200, 50, 80}}, stream), (Ranges{{0, 100, 0, 50}, {200, 1000, 80, 9000}}));
}

TEST(GetFreeRanges, GivesAtMostFiftyGapsAndNeverAGapOverData)
{
    Ranges ranges;
    for (int64_t i = 0; i < 60; ++i)
        ranges.push_back(r(i * 100 + 10, i * 100 + 90));
    const RangeLimits limits = sized(10000);
    const std::vector<CompletedRange> gaps = GetFreeRanges(ranges, limits);
    ASSERT_EQ(gaps.size(), kMaxFreeRanges);
    for (const CompletedRange& gap : gaps) {
        for (const CompletedRange& data : ranges)
            EXPECT_TRUE(gap.end <= data.start || gap.start >= data.end) << gap.start << "-" << gap.end;
    }
    EXPECT_EQ(gaps.back(), r(4890, 4910));
}

TEST(RemoveCompletedRange, CutsEntriesAndKeepsTheRest)
{
    Ranges ranges{r(0, 100), r(200, 300), r(400, 500)};
    RemoveCompletedRange(ranges, 50, 250);
    EXPECT_EQ(ranges, (Ranges{r(0, 50), r(250, 300), r(400, 500)}));
    RemoveCompletedRange(ranges, 420, 440);
    EXPECT_EQ(ranges, (Ranges{r(0, 50), r(250, 300), r(400, 420), r(440, 500)}));
    RemoveCompletedRange(ranges, 0, 1000);
    EXPECT_TRUE(ranges.empty());
}

TEST(ContiguousEnd, IsTheEndOfDataFromOffsetZero)
{
    EXPECT_EQ(contiguousEndOf(Ranges{}), 0);
    EXPECT_EQ(contiguousEndOf(Ranges{r(0, 70), r(100, 200)}), 70);
    EXPECT_EQ(contiguousEndOf(Ranges{r(10, 70)}), 0);
}

}  // namespace
}  // namespace fetchora
