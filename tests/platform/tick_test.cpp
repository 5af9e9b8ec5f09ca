#include "platform/tick.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace fetchora {
namespace {

TEST(Tick, DifferencesAndDeadlinesHoldAcrossTheWrap)
{
    EXPECT_EQ(ticksSince(0xFFFFFF00u, 0x100u), 0x200u);
    EXPECT_EQ(ticksSince(5u, 5u), 0u);
    EXPECT_EQ(ticksSince(1000u, 1500u), 500u);

    // A deadline just past the wrap is still ahead of a tick just before it.
    EXPECT_FALSE(tickReached(0x10u, 0xFFFFFFF0u));
    EXPECT_TRUE(tickReached(0xFFFFFFF0u, 0x10u));
    EXPECT_TRUE(tickReached(0x10u, 0x10u));
    EXPECT_FALSE(tickReached(0x11u, 0x10u));
    EXPECT_TRUE(tickReached(1000u, 0x7FFFFFFFu));
}

TEST(Tick, ManualClockWrapsLikeTheRealCounter)
{
    ManualClock clock(0xFFFFFFFFu - 9);
    const uint32_t start = clock.tick();
    clock.advance(20);
    EXPECT_EQ(clock.tick(), 10u);
    EXPECT_EQ(ticksSince(start, clock.tick()), 20u);
    clock.set(42);
    EXPECT_EQ(clock.tick(), 42u);
}

TEST(Tick, ManualClockCountsEveryAdvanceFromManyThreads)
{
    ManualClock clock;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i)
                clock.advance(1);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(clock.tick(), 40000u);
}

TEST(Tick, SystemClockFollowsRealTime)
{
    SystemClock clock;
    const uint32_t before = clock.tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint32_t elapsed = ticksSince(before, tickNow());
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace fetchora
