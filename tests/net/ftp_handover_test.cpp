#include "net/ftp_handover.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace fetchora {
namespace {

using namespace std::chrono_literals;

// Counts its closes; going away also counts as one (a socket closes then).
class CountedStream final : public ByteStream {
public:
    explicit CountedStream(std::atomic<int>& closes) : m_closes(closes) { }
    ~CountedStream() override
    {
        if (!m_closed)
            ++m_closes;
    }
    IoResult read(void*, std::size_t, int) override { return {}; }
    IoResult write(const void*, std::size_t, int) override { return {}; }
    void close() override
    {
        if (!m_closed)
            ++m_closes;
        m_closed = true;
    }

private:
    std::atomic<int>& m_closes;
    bool m_closed = false;
};

TEST(FtpHandover, ATakerWaitsForTheGiverAndGetsTheConnectionOnce)
{
    std::atomic<int> closes{0};
    FtpHandover handover;
    ASSERT_TRUE(handover.want());
    EXPECT_TRUE(handover.wanted());
    std::thread giver([&] {
        std::this_thread::sleep_for(100ms);
        handover.deliver(std::make_unique<CountedStream>(closes), 1234);
    });
    std::optional<FtpHandover::Taken> taken = handover.take(5000, [] { return true; });
    giver.join();
    ASSERT_TRUE(taken.has_value());
    ASSERT_NE(taken->stream, nullptr);
    EXPECT_EQ(taken->idleSince, 1234u);
    EXPECT_FALSE(handover.take(0, {}).has_value());
    EXPECT_EQ(closes.load(), 0);
    taken.reset();
    EXPECT_EQ(closes.load(), 1);
}

TEST(FtpHandover, ADeclineOrAStoppedTakerEndsTheWaitAtOnce)
{
    FtpHandover declined;
    ASSERT_TRUE(declined.want());
    std::thread giver([&] {
        std::this_thread::sleep_for(50ms);
        declined.decline();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(declined.take(10000, [] { return true; }).has_value());
    giver.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    // A giver that declined first cannot be wanted afterwards.
    EXPECT_FALSE(declined.want());

    FtpHandover waiting;
    ASSERT_TRUE(waiting.want());
    std::atomic<int> asked{0};
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(waiting.take(10000, [&] { return ++asked < 3; }).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

TEST(FtpHandover, AConnectionNobodyWantsOrTakesIsClosed)
{
    std::atomic<int> closes{0};
    {
        FtpHandover unwanted;
        unwanted.deliver(std::make_unique<CountedStream>(closes), 0);
        EXPECT_EQ(closes.load(), 1);
        EXPECT_FALSE(unwanted.take(0, {}).has_value());
    }
    {
        auto untaken = std::make_shared<FtpHandover>();
        ASSERT_TRUE(untaken->want());
        untaken->deliver(std::make_unique<CountedStream>(closes), 0);
        EXPECT_EQ(closes.load(), 1);
    }
    // The last holder dropped it: the connection went with it.
    EXPECT_EQ(closes.load(), 2);
}

// Withdrawn when no job will take it: a giver still draining the server's
// last reply sees it is not wanted any more, a taker gets nothing at once, and
// the connection, delivered before or after, is closed then.
TEST(FtpHandover, AWithdrawnHandOverIsNotWantedAndClosesItsConnection)
{
    std::atomic<int> closes{0};
    FtpHandover before;
    ASSERT_TRUE(before.want());
    before.withdraw();
    EXPECT_FALSE(before.wanted());
    before.deliver(std::make_unique<CountedStream>(closes), 0);
    EXPECT_EQ(closes.load(), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(before.take(5000, {}).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

    FtpHandover after;
    ASSERT_TRUE(after.want());
    after.deliver(std::make_unique<CountedStream>(closes), 0);
    EXPECT_EQ(closes.load(), 1);
    after.withdraw();
    EXPECT_EQ(closes.load(), 2);
    EXPECT_FALSE(after.take(0, {}).has_value());
    after.withdraw();
    EXPECT_EQ(closes.load(), 2);
}

}  // namespace
}  // namespace fetchora
