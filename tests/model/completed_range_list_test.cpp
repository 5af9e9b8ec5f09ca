#include "model/completed_range_list.h"

#include <gtest/gtest.h>

#include <vector>


namespace fetchora {
namespace {

CompletedRange r(int64_t start, int64_t end, uint32_t streamStart = 0, uint32_t streamEnd = 0)
{
    return {start, end, streamStart, streamEnd};
}

TEST(CompletedRangeList, EmptyListHoldsNoBlockAndIsOnePointer)
{
    static_assert(sizeof(CompletedRangeList) == sizeof(void*));
    CompletedRangeList none;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.begin(), none.end());
    EXPECT_EQ(none.data(), nullptr);
    EXPECT_EQ(none, std::vector<CompletedRange>{});

    // Emptied by clear, by assigning nothing or by shrinking to nothing, a
    // list gives its block back.
    CompletedRangeList list{r(0, 10)};
    list.clear();
    EXPECT_EQ(list.capacity(), 0u);
    list = {r(0, 10)};
    list = {};
    EXPECT_EQ(list.capacity(), 0u);
    list = {r(0, 10), r(20, 30)};
    list.resize(0);
    EXPECT_EQ(list.capacity(), 0u);
}

TEST(CompletedRangeList, InsertsAndErasesAnywhereKeepingTheOthersIntact)
{
    CompletedRangeList list;
    for (int64_t i = 0; i < 40; ++i)
        list.push_back(r(i * 100, i * 100 + 10, static_cast<uint32_t>(i), static_cast<uint32_t>(i + 1)));
    ASSERT_EQ(list.size(), 40u);
    EXPECT_GE(list.capacity(), 40u);
    EXPECT_EQ(list.back(), r(3900, 3910, 39, 40));

    auto at = list.insert(list.begin() + 5, r(450, 460));
    EXPECT_EQ(at, list.begin() + 5);
    EXPECT_EQ(list[4], r(400, 410, 4, 5));
    EXPECT_EQ(list[5], r(450, 460));
    EXPECT_EQ(list[6], r(500, 510, 5, 6));
    list.insert(list.begin(), r(-10, -5));
    list.insert(list.end(), r(9000, 9001));
    ASSERT_EQ(list.size(), 43u);
    EXPECT_EQ(list.front(), r(-10, -5));
    EXPECT_EQ(list.back(), r(9000, 9001));

    at = list.erase(list.begin() + 1, list.begin() + 11);
    EXPECT_EQ(*at, r(900, 910, 9, 10));
    EXPECT_EQ(list.size(), 33u);
    list.erase(list.end() - 1);
    EXPECT_EQ(list.back(), r(3900, 3910, 39, 40));
    EXPECT_EQ(list.erase(list.begin() + 3, list.begin() + 3), list.begin() + 3) << "an empty span erases nothing";
    EXPECT_EQ(list.size(), 32u);
}

TEST(CompletedRangeList, InsertingOneOfItsOwnEntriesWhileGrowingCopiesItFirst)
{
    // The list is full, so the insert moves it to a new block: the entry
    // passed by reference lies in the old one.
    CompletedRangeList list{r(1, 2), r(3, 4)};
    list.reserve(2);
    ASSERT_EQ(list.capacity(), list.size());
    list.insert(list.begin(), list.back());
    EXPECT_EQ(list, (std::vector<CompletedRange>{r(3, 4), r(1, 2), r(3, 4)}));
}

TEST(CompletedRangeList, CopiesAreIndependentAndMovesLeaveTheSourceEmpty)
{
    CompletedRangeList original{r(0, 100), r(200, 300)};
    CompletedRangeList copy = original;
    copy[0].end = 50;
    copy.push_back(r(400, 500));
    EXPECT_EQ(original, (std::vector<CompletedRange>{r(0, 100), r(200, 300)}));
    EXPECT_NE(copy.data(), original.data());

    CompletedRangeList assigned{r(7, 8)};
    assigned = original;
    EXPECT_EQ(assigned, original);
    assigned = assigned;
    EXPECT_EQ(assigned, original) << "assigning a list to itself keeps it";

    const CompletedRange* block = original.data();
    CompletedRangeList moved = std::move(original);
    EXPECT_EQ(moved.data(), block);
    EXPECT_TRUE(original.empty());  // NOLINT(bugprone-use-after-move): a moved list is empty
    moved = std::move(copy);
    EXPECT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved[0], r(0, 50));
}

TEST(CompletedRangeList, ResizeShrinksInPlaceAndGrowsWithEmptyRanges)
{
    CompletedRangeList list{r(0, 1), r(2, 3), r(4, 5)};
    const size_t room = list.capacity();
    list.resize(1);
    EXPECT_EQ(list, (std::vector<CompletedRange>{r(0, 1)}));
    EXPECT_EQ(list.capacity(), room) << "shrinking keeps the block";
    list.resize(3);
    EXPECT_EQ(list, (std::vector<CompletedRange>{r(0, 1), CompletedRange{}, CompletedRange{}}));
    const std::vector<CompletedRange> other{r(5, 6), r(7, 8), r(9, 10), r(11, 12), r(13, 14)};
    list.assign(other);
    EXPECT_EQ(list, other);
    EXPECT_FALSE(list == (std::vector<CompletedRange>{r(5, 6)})) << "a shorter list is not equal";
}

}  // namespace
}  // namespace fetchora
