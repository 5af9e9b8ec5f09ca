#include "shell/speed_timer.h"

#include "engine/job_progress.h"
#include "net/speed_limiter.h"
#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace fetchora {
namespace {

class CountedConnections final : public TcpConnectionMonitor {
public:
    std::optional<uint32_t> openConnections() const override
    {
        ++asked;
        return count.load();
    }
    std::atomic<uint32_t> count{0};
    mutable std::atomic<int> asked{0};
};

TEST(SpeedTimer, RecomputesTheAutomaticLimitOnceASecondFromTheConnectionCount)
{
    ManualClock clock(5000);
    CountedConnections connections;
    SpeedLimiter limiter(clock, &connections);
    MessageLoop loop(clock);
    SpeedTimer timer(loop, limiter);

    connections.count = 2;
    ASSERT_TRUE(limiter.setMode(SpeedMode::Automatic));
    EXPECT_EQ(limiter.autoLimit(), 187500u - 2 * 15000u);

    // Four more connections of other programs: seen at the next full second,
    // not before.
    connections.count = 6;
    clock.advance(999);
    loop.processPending();
    EXPECT_EQ(limiter.autoLimit(), 187500u - 2 * 15000u);
    clock.advance(1);
    loop.processPending();
    EXPECT_EQ(limiter.autoLimit(), 187500u - 6 * 15000u);

    // Our own transfer threads are not "other" connections.
    limiter.threadStarted();
    limiter.threadStarted();
    clock.advance(1000);
    loop.processPending();
    EXPECT_EQ(limiter.autoLimit(), 187500u - 4 * 15000u);

    // A machine full of connections still leaves the floor.
    connections.count = 40;
    clock.advance(1000);
    loop.processPending();
    EXPECT_EQ(limiter.autoLimit(), kMinAutoLimit);
}

TEST(SpeedTimer, LeavesTheConnectionCountAloneOutsideAutomaticMode)
{
    ManualClock clock;
    CountedConnections connections;
    SpeedLimiter limiter(clock, &connections);
    MessageLoop loop(clock);
    SpeedTimer timer(loop, limiter);
    ASSERT_TRUE(limiter.setMode(SpeedMode::Manual));
    for (int second = 0; second < 3; ++second) {
        clock.advance(1000);
        loop.processPending();
    }
    EXPECT_EQ(connections.asked.load(), 0);
}

TEST(SpeedReadoutStep, ShowsTheTotalOnlyWhenItChangesAndTheLimitOnlyInAutomaticMode)
{
    struct Case {
        uint64_t sum;
        std::optional<uint32_t> autoLimit;
        std::optional<std::string> total;
        uint64_t perSecond;
        std::optional<std::string> limit;
    };
    const std::vector<Case> cases = {
        {0, std::nullopt, "0.00KB/s", 0, std::nullopt},  // the first step always shows
        {0, std::nullopt, std::nullopt, 0, std::nullopt}, {4096, std::nullopt, "2.00KB/s", 2048, std::nullopt},
        {4096, 127500, std::nullopt, 2048, "124.5KB/s"},  {10241, 100, "5.00KB/s", 5120, "0.1KB/s"},
        {3, std::nullopt, "0.00KB/s", 1, std::nullopt},   {0, std::nullopt, "0.00KB/s", 0, std::nullopt},
    };
    SpeedReadoutStep step;
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const SpeedReadout readout = step.step(cases[i].sum, cases[i].autoLimit);
        EXPECT_EQ(readout.twoSecondBytes, cases[i].sum);
        EXPECT_EQ(readout.totalSpeedText, cases[i].total);
        EXPECT_EQ(readout.bytesPerSecond, cases[i].perSecond);
        EXPECT_EQ(readout.autoLimitText, cases[i].limit);
    }
}

// One job on two connections, each capped at 300 KiB/s by the server and
// reading 6 KiB every 20 ms. Whatever moment of the limiter's window the
// frame's tick falls on, and though the first window began before the first
// byte, the total the frame shows is the job's own speed: the bytes of a
// window still filling are not spread over a whole second.
TEST(SpeedTimer, TheTotalAgreesWithTheJobsSpeedWhereverTheTickFallsInTheWindow)
{
    constexpr uint32_t kRead = 6 * 1024;
    constexpr int64_t kBothConnections = 2 * 300 * 1024;
    for (const uint32_t firstByteMs : {1500u, 1630u, 2000u, 2370u}) {
        SCOPED_TRACE("first byte after " + std::to_string(firstByteMs) + " ms");
        ManualClock clock(5000);
        SpeedLimiter limiter(clock, nullptr);
        RunFigures job;
        SpeedReadoutStep step;
        const uint32_t firstByte = clock.tick() + firstByteMs;
        int compared = 0;
        for (uint32_t now = clock.tick(); now <= 5000 + 20000; now += 10) {
            clock.set(now);
            // The two connections take turns, 10 ms apart.
            if (now >= firstByte) {
                limiter.Allowance();
                limiter.Consume(kRead);
                job.recordData(kRead, now);
            }
            if ((now - 5000) % kSpeedTimerMs != 0)
                continue;
            const SpeedReadout readout = step.step(limiter.twoSecondBytes(), std::nullopt);
            job.timerStep(now, -1, 0);
            if (job.shortSpeed < 0)
                continue;
            ++compared;
            const auto total = static_cast<int64_t>(readout.bytesPerSecond);
            EXPECT_NEAR(total, job.shortSpeed, kBothConnections / 50) << "at " << now;
            EXPECT_NEAR(total, kBothConnections, kBothConnections / 50) << "at " << now;
        }
        EXPECT_GE(compared, 16);
    }
}

class SpeedMessages final : public MessageWindow {
public:
    explicit SpeedMessages(MessageLoop& loop) : MessageWindow(loop) { create(); }
    ~SpeedMessages() override { destroy(); }
    std::vector<uintptr_t> received;

private:
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t) override
    {
        if (msg == kTotalSpeedMessage)
            received.push_back(wParam);
        return 0;
    }
};

TEST(SpeedTimer, ReportsTheTwoSecondSumAndDropsToZeroAfterThreeIdleSeconds)
{
    ManualClock clock(5000);
    SpeedLimiter limiter(clock, nullptr);
    MessageLoop loop(clock);
    SpeedTimer timer(loop, limiter);
    SpeedMessages view(loop);
    timer.setSpeedMessageTarget(view.id());
    std::vector<SpeedReadout> seen;
    timer.setReadoutObserver([&](const SpeedReadout& readout) { seen.push_back(readout); });
    ASSERT_TRUE(limiter.setMode(SpeedMode::Manual));

    // 4096 bytes within one second: 8192 in two.
    limiter.Consume(3000);
    clock.advance(1000);
    limiter.Consume(1096);
    loop.processPending();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen.back().twoSecondBytes, 8192u);
    EXPECT_EQ(seen.back().totalSpeedText, "4.00KB/s");
    EXPECT_EQ(seen.back().autoLimitText, std::nullopt);

    // Nothing arrives any more: after more than three seconds the figure
    // is zero and the status bar says so.
    for (int second = 0; second < 4; ++second) {
        clock.advance(1000);
        loop.processPending();
    }
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen.back().twoSecondBytes, 0u);
    EXPECT_EQ(timer.lastReadout().bytesPerSecond, 0u);
    bool showedZero = false;
    for (const SpeedReadout& readout : seen)
        showedZero = showedZero || readout.totalSpeedText == std::optional<std::string>("0.00KB/s");
    EXPECT_TRUE(showedZero);
    loop.processPending();
    ASSERT_EQ(view.received.size(), 5u);
    EXPECT_EQ(view.received.front(), 4096u);
    EXPECT_EQ(view.received.back(), 0u);
}

TEST(SpeedTimer, ShowsTheAutomaticLimitInAutomaticMode)
{
    ManualClock clock(5000);
    CountedConnections connections;
    connections.count = 4;
    SpeedLimiter limiter(clock, &connections);
    MessageLoop loop(clock);
    SpeedTimer timer(loop, limiter);
    ASSERT_TRUE(limiter.setMode(SpeedMode::Automatic));
    timer.step();
    EXPECT_EQ(timer.lastReadout().autoLimitText, "124.5KB/s");  // 187500 - 4 * 15000 = 127500
}

}  // namespace
}  // namespace fetchora
