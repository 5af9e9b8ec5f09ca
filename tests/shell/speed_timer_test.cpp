#include "shell/speed_timer.h"

#include "net/speed_limiter.h"
#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>

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

}  // namespace
}  // namespace fetchora
