#include "net/speed_limiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace fetchora {
namespace {

class FakeMonitor : public TcpConnectionMonitor {
public:
    std::optional<uint32_t> count;
    std::optional<uint32_t> openConnections() const override { return count; }
};

SpeedSettings manual10000()
{
    SpeedSettings settings;
    settings.manualLimit = 10000;
    return settings;
}

struct LimiterFixture : ::testing::Test {
    ManualClock clock{5000};
    FakeMonitor monitor;
};

using SpeedLimiterTest = LimiterFixture;

// One read step of a worker as the classic loop does it under the job lock:
// ask, read at most the allowance (here: what the socket has), record.
uint32_t readStep(SpeedLimiter& limiter, uint32_t available)
{
    const uint32_t allowance = limiter.Allowance();
    const uint32_t got = std::min(allowance, available);
    if (got > 0)
        limiter.Consume(got);
    return got;
}

TEST_F(SpeedLimiterTest, ManualModeThreeReadersShareOneWindowLimit)
{
    SpeedLimiter limiter(clock, &monitor, manual10000());
    ASSERT_TRUE(limiter.setMode(SpeedMode::Manual));

    // Each of three readers has 6000 bytes waiting at every step.
    struct Step {
        uint32_t advanceMs;
        uint32_t expectedRead;
    };
    const std::vector<Step> steps = {
        {1000, 6000},  // first call of a window: the full limit
        {10, 4000},  // what is left of 10000
        {10, 0},  // third reader must wait
        {300, 0},  // still the same window
        {700, 6000},  // next window
        {100, 4000},  {100, 0},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        clock.advance(steps[i].advanceMs);
        EXPECT_EQ(readStep(limiter, 6000), steps[i].expectedRead) << "step " << i;
    }
}

TEST_F(SpeedLimiterTest, ExcessOfOneWindowIsTakenFromTheNext)
{
    SpeedLimiter limiter(clock, &monitor, manual10000());
    limiter.setMode(SpeedMode::Manual);
    clock.advance(1000);

    EXPECT_EQ(limiter.Allowance(), 10000u);
    limiter.Consume(10000);
    // A read that delivered more than it was allowed (a whole record that
    // could not be split): 3000 too many in this window.
    limiter.Consume(3000);
    EXPECT_EQ(limiter.Allowance(), 0u);
    EXPECT_EQ(limiter.figures().used, 13000);

    clock.advance(1000);
    // The window's first caller still gets the full limit...
    EXPECT_EQ(limiter.Allowance(), 10000u);
    EXPECT_EQ(limiter.figures().used, 3000);
    limiter.Consume(2000);
    // ...but the readers together get 3000 less than the limit.
    EXPECT_EQ(readStep(limiter, 20000), 5000u);
    EXPECT_EQ(readStep(limiter, 20000), 0u);
}

TEST_F(SpeedLimiterTest, ReadCompletedAfterTheWindowEndsCountsInTheNextWindow)
{
    SpeedLimiter limiter(clock, &monitor, manual10000());
    limiter.setMode(SpeedMode::Manual);
    clock.advance(1000);
    ASSERT_EQ(readStep(limiter, 4000), 4000u);
    clock.advance(990);
    ASSERT_EQ(limiter.Allowance(), 6000u);
    clock.advance(20);  // the read took long enough to cross into the next window
    limiter.Consume(6000);
    // 4000 + 6000 fit the old window, so the read counts in the new one.
    EXPECT_EQ(limiter.figures().used, 6000);
    EXPECT_EQ(limiter.Allowance(), 4000u);

    // A late read that overfills the old window (6000 + 9000): only the
    // excess is charged to the new one.
    clock.advance(1000);
    limiter.Consume(9000);
    EXPECT_EQ(limiter.figures().used, 5000);
    EXPECT_EQ(limiter.Allowance(), 5000u);
}

TEST_F(SpeedLimiterTest, PauseLongerThanTwoSecondsStartsAFreshWindow)
{
    SpeedLimiter limiter(clock, &monitor, manual10000());
    limiter.setMode(SpeedMode::Manual);
    clock.advance(1000);
    limiter.Allowance();
    limiter.Consume(25000);  // far over the limit
    clock.advance(2500);
    EXPECT_EQ(limiter.Allowance(), 10000u);
    const auto figures = limiter.figures();
    EXPECT_EQ(figures.used, 0);
    EXPECT_EQ(figures.windowStart, clock.tick());
    // Traffic from before the pause is not reported as current.
    EXPECT_EQ(figures.lastSecondBytes, 0u);
    EXPECT_EQ(limiter.twoSecondBytes(), 0u);
}

TEST_F(SpeedLimiterTest, UnlimitedModeHandsOutLargeBlocksWhateverWasRead)
{
    SpeedLimiter limiter(clock, &monitor, manual10000());
    EXPECT_EQ(limiter.mode(), SpeedMode::Unlimited);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(limiter.Allowance(), kUnlimitedReadBytes);
        limiter.Consume(kUnlimitedReadBytes);
    }
    // The windows still run, for the traffic figures: all of it came within
    // one second, so two seconds at that rate are twice as much.
    clock.advance(1000);
    limiter.Consume(100);
    EXPECT_EQ(limiter.twoSecondBytes(), 2 * (10u * kUnlimitedReadBytes + 100));
}

TEST_F(SpeedLimiterTest, WindowArithmeticSurvivesTheTickWrap)
{
    clock.set(0xFFFFFF00u);
    SpeedLimiter limiter(clock, &monitor, manual10000());
    limiter.setMode(SpeedMode::Manual);
    ASSERT_EQ(readStep(limiter, 10000), 10000u);
    clock.advance(0x80);  // still before the wrap, same window
    EXPECT_EQ(limiter.Allowance(), 0u);
    clock.advance(0x100);  // past the wrap, still the same window
    EXPECT_EQ(limiter.Allowance(), 0u);
    clock.advance(800);  // now a new window, tick counted from 0 again
    EXPECT_EQ(limiter.Allowance(), 10000u);
}

TEST_F(SpeedLimiterTest, AutomaticLimitLeavesAShareForEveryOtherConnection)
{
    SpeedLimiter limiter(clock, &monitor);  // defaults: 187500 bandwidth, 15000 per connection
    for (int i = 0; i < 3; ++i)
        limiter.threadStarted();

    struct Case {
        std::optional<uint32_t> machineConnections;
        uint32_t expected;
    };
    const std::vector<Case> cases = {
        {3, 187500},  // only our own three workers
        {7, 187500 - 4 * 15000},  // four others
        {0, 187500},  // fewer than our own: no others
        {15, 187500 - 12 * 15000},  // twelve others: 7500
        {16, 100},  // thirteen others: the floor
        {1000, 100},
        {std::nullopt, 187500},  // the count is not available
    };
    for (const auto& c : cases) {
        monitor.count = c.machineConnections;
        limiter.UpdateAutoLimit();
        EXPECT_EQ(limiter.autoLimit(), c.expected)
            << "connections " << (c.machineConnections ? int64_t(*c.machineConnections) : -1);
    }
}

TEST_F(SpeedLimiterTest, ChoosingAutomaticComputesTheLimitAndUsesIt)
{
    SpeedLimiter limiter(clock, &monitor);
    monitor.count = 4;
    EXPECT_TRUE(limiter.setMode(SpeedMode::Automatic));
    EXPECT_EQ(limiter.autoLimit(), 187500u - 4 * 15000);
    clock.advance(1000);
    EXPECT_EQ(limiter.Allowance(), 127500u);
    limiter.Consume(127500);
    EXPECT_EQ(limiter.Allowance(), 0u);
}

TEST_F(SpeedLimiterTest, ChoosingAModeResetsTheCountButChoosingTheSameDoesNothing)
{
    SpeedLimiter limiter(clock, &monitor, manual10000());
    EXPECT_FALSE(limiter.setMode(SpeedMode::Unlimited));
    ASSERT_TRUE(limiter.setMode(SpeedMode::Manual));
    clock.advance(1000);
    limiter.Allowance();
    limiter.Consume(8000);
    EXPECT_FALSE(limiter.setMode(SpeedMode::Manual));
    EXPECT_EQ(limiter.Allowance(), 2000u);
    ASSERT_TRUE(limiter.setMode(SpeedMode::Automatic));
    ASSERT_TRUE(limiter.setMode(SpeedMode::Manual));
    EXPECT_EQ(limiter.Allowance(), 10000u);
}

TEST(SpeedModeCommandTest, MenuCommandsMapToModes)
{
    EXPECT_EQ(speedModeFromCommand(32907), SpeedMode::Unlimited);
    EXPECT_EQ(speedModeFromCommand(32908), SpeedMode::Manual);
    EXPECT_EQ(speedModeFromCommand(32909), SpeedMode::Automatic);
    EXPECT_EQ(speedModeFromCommand(32906), std::nullopt);
    EXPECT_EQ(speedModeFromCommand(32910), std::nullopt);
}

TEST_F(SpeedLimiterTest, TotalSpeedShowsTwoWindowsAndGoesStale)
{
    SpeedLimiter limiter(clock, &monitor, manual10000());
    limiter.setMode(SpeedMode::Manual);
    std::vector<uint32_t> seen;
    limiter.setTrafficObserver([&](uint32_t length) { seen.push_back(length); });

    clock.advance(1000);
    limiter.Allowance();
    limiter.Consume(3000);
    limiter.Consume(1000);
    clock.advance(1000);
    limiter.Consume(2000);  // opens the next window
    const auto figures = limiter.figures();
    EXPECT_EQ(figures.lastSecondBytes, 4000u);
    EXPECT_EQ(figures.thisSecondBytes, 2000u);
    // 6000 bytes within one second.
    EXPECT_EQ(limiter.twoSecondBytes(), 12000u);
    EXPECT_EQ(formatTotalSpeed(limiter.twoSecondBytes()), "5.86KB/s");
    EXPECT_EQ(seen, (std::vector<uint32_t>{3000, 1000, 2000}));

    clock.advance(3001);
    EXPECT_EQ(limiter.twoSecondBytes(), 0u);
    EXPECT_EQ(formatAutoLimit(127500), "124.5KB/s");
}

TEST_F(SpeedLimiterTest, TotalSpeedIsScaledToTheTimeItsBytesCover)
{
    // 1000 bytes every 100 ms: 10000 bytes a second, 20000 in two.
    SpeedLimiter limiter(clock, &monitor);
    const auto readFor = [&](uint32_t ms) {
        for (uint32_t elapsed = 0; elapsed < ms; elapsed += 100) {
            limiter.Allowance();
            limiter.Consume(1000);
            clock.advance(100);
        }
    };
    // The first window began 400 ms before the first byte: less than a
    // second of traffic counts as a second.
    clock.advance(1400);
    readFor(600);
    EXPECT_EQ(limiter.twoSecondBytes(), 12000u);
    // Half a window into the next one: 11000 bytes in 1100 ms, not in two
    // whole windows.
    readFor(500);
    EXPECT_EQ(limiter.twoSecondBytes(), 20000u);
    readFor(2000);
    EXPECT_EQ(limiter.twoSecondBytes(), 20000u);
    // A stall: the same 15000 bytes over 2500 ms instead of 1500, then
    // nothing at all once the window is more than three seconds old.
    clock.advance(1000);
    EXPECT_EQ(limiter.twoSecondBytes(), 15000u * 2000 / 2500);
    clock.advance(1500);
    EXPECT_EQ(limiter.twoSecondBytes(), 15000u * 2000 / 4000);
    clock.advance(100);
    EXPECT_EQ(limiter.twoSecondBytes(), 0u);
}

TEST_F(SpeedLimiterTest, GrantReservesItsBytesUntilCommittedOrDropped)
{
    SpeedLimiter limiter(clock, &monitor, manual10000());
    limiter.setMode(SpeedMode::Manual);
    clock.advance(1000);

    SpeedGrant first = limiter.acquire();
    EXPECT_EQ(first.bytes(), 10000u);
    // Nothing left while the first worker is still reading.
    EXPECT_EQ(limiter.acquire().bytes(), 0u);
    first.commit(2500);
    SpeedGrant second = limiter.acquire();
    EXPECT_EQ(second.bytes(), 7500u);
    {
        SpeedGrant dropped = std::move(second);
        EXPECT_EQ(second.bytes(), 0u);
    }  // dropped unread: the bytes are free again
    EXPECT_EQ(limiter.acquire().bytes(), 7500u);
}

// Moves the clock on in steps of 50 ms while the workers run, then stops
// them and waits until they have ended.
void advanceThenStop(ManualClock& clock, int steps, std::atomic<bool>& stop, std::vector<std::thread>& workers)
{
    for (int step = 0; step < steps; ++step) {
        clock.advance(50);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    for (auto& worker : workers)
        worker.join();
}

// Several workers hammer the limiter while the clock moves on; for every
// window, the bytes granted to all of them together stay within the limit.
void runConcurrentReaders(bool readWholeGrant)
{
    constexpr uint32_t kLimit = 10000;
    constexpr int kThreads = 4;
    ManualClock clock(1000);
    SpeedSettings settings;
    settings.manualLimit = kLimit;
    SpeedLimiter limiter(clock, nullptr, settings);
    limiter.setMode(SpeedMode::Manual);

    std::mutex statsMutex;
    std::map<uint32_t, uint64_t> readPerWindow;
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t) + 1);
            std::map<uint32_t, uint64_t> local;
            while (!stop.load()) {
                SpeedGrant grant = limiter.acquire();
                if (grant.bytes() == 0) {
                    std::this_thread::yield();
                    continue;
                }
                const uint32_t want = readWholeGrant ? grant.bytes() : 1 + random() % 3000;
                const uint32_t got = std::min(grant.bytes(), want);
                local[grant.window()] += got;
                if (random() % 5 == 0)
                    std::this_thread::yield();  // a slow read
                grant.commit(got);
            }
            std::lock_guard lock(statsMutex);
            for (const auto& [window, bytes] : local)
                readPerWindow[window] += bytes;
        });
    }
    advanceThenStop(clock, 400, stop, workers);

    ASSERT_GE(readPerWindow.size(), 10u);
    uint64_t total = 0;
    for (const auto& [window, bytes] : readPerWindow) {
        EXPECT_LE(bytes, kLimit) << "window starting at " << window;
        total += bytes;
    }
    EXPECT_GT(total, 0u);
}

TEST(SpeedLimiterConcurrencyTest, WorkersReadingWholeGrantsNeverExceedTheWindowLimit)
{
    runConcurrentReaders(true);
}

TEST(SpeedLimiterConcurrencyTest, WorkersReadingPartOfTheirGrantsNeverExceedTheWindowLimit)
{
    runConcurrentReaders(false);
}

TEST(SpeedLimiterConcurrencyTest, ReadStepsUnderTheJobLockNeverExceedTheWindowLimit)
{
    constexpr uint32_t kLimit = 10000;
    ManualClock clock(1000);
    SpeedSettings settings;
    settings.manualLimit = kLimit;
    SpeedLimiter limiter(clock, nullptr, settings);
    limiter.setMode(SpeedMode::Manual);
    std::recursive_mutex jobLock;
    std::map<uint32_t, uint64_t> readPerWindow;  // guarded by jobLock
    std::atomic<bool> stop{false};

    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&] {
            while (!stop.load()) {
                std::lock_guard lock(jobLock);
                const uint32_t allowance = limiter.Allowance();
                if (allowance == 0)
                    continue;
                const uint32_t got = std::min<uint32_t>(allowance, 1500);
                readPerWindow[limiter.figures().windowStart] += got;
                limiter.Consume(got);
            }
        });
    }
    advanceThenStop(clock, 200, stop, workers);

    ASSERT_GE(readPerWindow.size(), 5u);
    for (const auto& [window, bytes] : readPerWindow)
        EXPECT_LE(bytes, kLimit) << "window " << window;
}

}  // namespace
}  // namespace fetchora
