#include "engine/write_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace fetchora {
namespace {

std::vector<uint8_t> bytes(std::initializer_list<uint8_t> list)
{
    return list;
}

TEST(WriteCache, RecordsArePositionLengthAndDataBackToBack)
{
    WriteCache cache(1000);
    const std::vector<uint8_t> first = bytes({1, 2, 3});
    const std::vector<uint8_t> second = bytes({9});
    ASSERT_TRUE(cache.append(0x0102030405060708LL, first));
    ASSERT_TRUE(cache.append(5000000000LL, second));
    ASSERT_EQ(cache.used(), 12u + 3u + 12u + 1u);

    const std::span<const uint8_t> raw = cache.bytes();
    int64_t position = 0;
    uint32_t length = 0;
    std::memcpy(&position, raw.data(), 8);
    std::memcpy(&length, raw.data() + 8, 4);
    EXPECT_EQ(position, 0x0102030405060708LL);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(raw[12], 1);
    EXPECT_EQ(raw[14], 3);
    std::memcpy(&position, raw.data() + 15, 8);
    EXPECT_EQ(position, 5000000000LL);
    EXPECT_EQ(raw[27], 9);
}

TEST(WriteCache, KeepsTwentyBytesOfSlackBeyondABlock)
{
    WriteCache cache(100);
    EXPECT_TRUE(cache.hasRoomFor(80));
    EXPECT_FALSE(cache.hasRoomFor(81));
    const std::vector<uint8_t> block(60, 7);
    ASSERT_TRUE(cache.append(0, block));  // 72 bytes used
    EXPECT_TRUE(cache.hasRoomFor(8));
    EXPECT_FALSE(cache.append(100, std::vector<uint8_t>(9, 1)));
    EXPECT_EQ(cache.used(), 72u);
}

TEST(WriteCache, DrainsInOrderAndKeepsWhatCouldNotBeWritten)
{
    WriteCache cache(1000);
    cache.append(10, bytes({1}));
    cache.append(0, bytes({2, 2}));
    cache.append(20, bytes({3, 3, 3}));

    std::vector<int64_t> seen;
    const bool all = cache.drain([&](int64_t position, std::span<const uint8_t>) {
        seen.push_back(position);
        return position != 0;
    });
    EXPECT_FALSE(all);
    EXPECT_EQ(seen, (std::vector<int64_t>{10, 0}));
    EXPECT_EQ(cache.pendingRanges(), (std::vector<CompletedRange>{{0, 2, 0, 0}, {20, 23, 0, 0}}));

    seen.clear();
    EXPECT_TRUE(cache.drain([&](int64_t position, std::span<const uint8_t> data) {
        seen.push_back(position + static_cast<int64_t>(data.size()));
        return true;
    }));
    EXPECT_EQ(seen, (std::vector<int64_t>{2, 23}));
    EXPECT_TRUE(cache.empty());
}

}  // namespace
}  // namespace fetchora
