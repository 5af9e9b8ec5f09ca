#include "platform/message_loop.h"
#include "support/loop_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace fetchora {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kEcho = kWmUser + 1;      // answers wParam * 2
constexpr uint32_t kForward = kWmUser + 2;   // sends kEcho to window lParam, answers its result + 1
constexpr uint32_t kSelfDestroy = kWmUser + 3;
constexpr uint32_t kRepost = kWmUser + 4;
constexpr uint32_t kBlock = kWmUser + 5;     // waits until released

struct Call {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
};

class RecordingWindow : public MessageWindow {
public:
    explicit RecordingWindow(MessageLoop& loop) : MessageWindow(loop) { create(); }
    ~RecordingWindow() override { destroy(); }

    std::vector<Call> calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    std::vector<std::pair<uint32_t, uint32_t>> timers() const
    {
        std::lock_guard lock(m_mutex);
        return m_timers;
    }

    const Clock* clock = nullptr;
    std::atomic<std::thread::id> handlerThread;
    std::atomic<int> depth{0};
    std::atomic<bool> inBlock{false};
    std::atomic<bool> release{false};

protected:
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_calls.push_back({msg, wParam, lParam});
        }
        handlerThread = std::this_thread::get_id();
        switch (msg) {
        case kEcho:
            return static_cast<intptr_t>(wParam * 2);
        case kForward: {
            ++depth;
            const intptr_t inner = loop().send(static_cast<WindowId>(lParam), kEcho, wParam);
            --depth;
            return inner + 1;
        }
        case kSelfDestroy:
            destroy();
            return 7;
        case kRepost:
            post(kRepost);
            return 0;
        case kBlock:
            inBlock = true;
            while (!release)
                std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(20ms);
            inBlock = false;
            return 0;
        }
        return 0;
    }

    void onTimer(uint32_t timerId) override
    {
        std::lock_guard lock(m_mutex);
        m_timers.emplace_back(timerId, clock ? clock->tick() : 0);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::vector<std::pair<uint32_t, uint32_t>> m_timers;
};

using test::LoopThread;

TEST(MessageLoop, PostsAreHandledInOrderAndOnlyWhenStepped)
{
    MessageLoop loop;
    RecordingWindow window(loop);
    for (uintptr_t i = 0; i < 100; ++i)
        ASSERT_TRUE(loop.post(window.id(), kWmUser + 10, i, -static_cast<intptr_t>(i)));
    EXPECT_TRUE(window.calls().empty());

    EXPECT_EQ(loop.processPending(), 100u);
    const auto calls = window.calls();
    ASSERT_EQ(calls.size(), 100u);
    for (uintptr_t i = 0; i < 100; ++i) {
        EXPECT_EQ(calls[i].wParam, i);
        EXPECT_EQ(calls[i].lParam, -static_cast<intptr_t>(i));
    }
    EXPECT_EQ(loop.processPending(), 0u);
}

TEST(MessageLoop, DestroyDropsQueuedPostsAndMakesTheHandleStale)
{
    MessageLoop loop;
    auto window = std::make_unique<RecordingWindow>(loop);
    const WindowId id = window->id();
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(loop.post(id, kEcho, 1));
    ASSERT_TRUE(loop.post(id, kEcho, 2));

    window->destroy();
    EXPECT_EQ(window->id(), 0u);
    EXPECT_FALSE(loop.isWindow(id));
    EXPECT_EQ(loop.processPending(), 0u);
    EXPECT_TRUE(window->calls().empty());
    EXPECT_FALSE(loop.post(id, kEcho, 3));
    EXPECT_EQ(std::async(std::launch::async, [&] { return loop.send(id, kEcho, 4); }).get(), 0);
    EXPECT_FALSE(loop.setTimer(id, 1, 10));

    // A new window never inherits the old handle.
    RecordingWindow next(loop);
    EXPECT_NE(next.id(), id);
    EXPECT_FALSE(loop.post(id, kEcho, 5));
    window.reset();
    EXPECT_TRUE(loop.isWindow(next.id()));
}

TEST(MessageLoop, HandlerMayDestroyItsOwnWindow)
{
    MessageLoop loop;
    RecordingWindow window(loop);
    const WindowId id = window.id();
    ASSERT_TRUE(loop.post(id, kSelfDestroy));
    ASSERT_TRUE(loop.post(id, kEcho, 1));
    EXPECT_EQ(loop.processPending(), 1u);
    EXPECT_FALSE(loop.isWindow(id));
    EXPECT_EQ(window.calls().size(), 1u);
}

TEST(MessageLoop, SendFromAnotherThreadRunsOnTheLoopThreadAndReturnsTheResult)
{
    MessageLoop loop;
    RecordingWindow window(loop);
    LoopThread thread(loop);
    EXPECT_EQ(loop.send(window.id(), kEcho, 21), 42);
    EXPECT_EQ(window.handlerThread.load(), thread.id());
}

TEST(MessageLoop, SendOnTheLoopThreadIsADirectCall)
{
    MessageLoop loop;
    RecordingWindow outer(loop);
    RecordingWindow inner(loop);
    // No stepping: a queued send would never be answered here.
    EXPECT_EQ(loop.send(inner.id(), kEcho, 5), 10);
    EXPECT_EQ(inner.handlerThread.load(), std::this_thread::get_id());

    // From inside a handler too, without waiting for the queue.
    ASSERT_TRUE(outer.post(kForward, 8, inner.id()));
    loop.processPending();
    ASSERT_EQ(outer.calls().size(), 1u);
    EXPECT_EQ(inner.calls().size(), 2u);
    EXPECT_EQ(outer.send(kForward, 3, inner.id()), 7);
}

TEST(MessageLoop, ManyThreadsSendingAtOnceEachGetTheirOwnAnswer)
{
    MessageLoop loop;
    RecordingWindow window(loop);
    LoopThread thread(loop);
    constexpr int kThreads = 8;
    constexpr int kSends = 300;
    std::atomic<int> wrong{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            for (int i = 0; i < kSends; ++i) {
                const uintptr_t value = static_cast<uintptr_t>(t * kSends + i);
                if (loop.send(window.id(), kEcho, value) != static_cast<intptr_t>(value * 2))
                    ++wrong;
            }
        });
    for (auto& sender : senders)
        sender.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(window.calls().size(), static_cast<size_t>(kThreads * kSends));
}

// Senders blocked on a window that goes away (or a loop that stops) must come
// back with 0 instead of hanging.
TEST(MessageLoop, WaitingSendersAreReleasedWithZeroByDestroyAndByQuit)
{
    for (const bool byQuit : {false, true}) {
        MessageLoop loop;
        RecordingWindow window(loop);
        const WindowId id = window.id();
        std::vector<std::future<intptr_t>> senders;
        for (int i = 0; i < 4; ++i)
            senders.push_back(std::async(std::launch::async, [&, i] { return loop.send(id, kEcho, 1 + i); }));
        std::this_thread::sleep_for(30ms);
        if (byQuit)
            loop.quit();
        else
            window.destroy();
        for (auto& sender : senders) {
            ASSERT_EQ(sender.wait_for(5s), std::future_status::ready) << "byQuit=" << byQuit;
            EXPECT_EQ(sender.get(), 0);
        }
        EXPECT_TRUE(window.calls().empty());
        EXPECT_FALSE(loop.post(id, kEcho, 9));
    }
}

TEST(MessageLoop, DestroyOnAnotherThreadWaitsForTheRunningHandler)
{
    MessageLoop loop;
    RecordingWindow window(loop);
    LoopThread thread(loop);
    ASSERT_TRUE(window.post(kBlock));
    while (!window.inBlock)
        std::this_thread::sleep_for(1ms);

    std::atomic<bool> handlerStillRunning{true};
    std::thread destroyer([&] {
        window.destroy();
        handlerStillRunning = window.inBlock.load();
    });
    std::this_thread::sleep_for(20ms);
    window.release = true;
    destroyer.join();
    EXPECT_FALSE(handlerStillRunning.load());
    EXPECT_EQ(window.id(), 0u);
}

TEST(MessageLoop, SendsRacingWithDestroyNeverHang)
{
    MessageLoop loop;
    LoopThread thread(loop);
    for (int round = 0; round < 50; ++round) {
        auto window = std::make_unique<RecordingWindow>(loop);
        const WindowId id = window->id();
        std::atomic<bool> stop{false};
        auto sender = std::async(std::launch::async, [&] {
            while (!stop) {
                const intptr_t answer = loop.send(id, kEcho, 3);
                if (answer != 6 && answer != 0)
                    return false;
            }
            return true;
        });
        std::this_thread::sleep_for(1ms);
        // Destroyed on the loop thread, as the program does.
        loop.send(id, kSelfDestroy);
        EXPECT_FALSE(loop.isWindow(id));
        stop = true;
        ASSERT_EQ(sender.wait_for(5s), std::future_status::ready);
        EXPECT_TRUE(sender.get());
        window.reset();
    }
}

TEST(MessageLoop, HandlerThatRepostsItselfDoesNotStarveAStep)
{
    MessageLoop loop;
    RecordingWindow window(loop);
    ASSERT_TRUE(window.post(kRepost));
    EXPECT_EQ(loop.processPending(), 1u);
    EXPECT_EQ(loop.processPending(), 1u);
    EXPECT_EQ(window.calls().size(), 2u);
}

TEST(MessageLoop, TimersFireWithTheirIdsAndPeriods)
{
    ManualClock clock(5000);
    MessageLoop loop(clock);
    RecordingWindow window(loop);
    window.clock = &clock;
    ASSERT_TRUE(window.setTimer(1001, 1000));
    ASSERT_TRUE(window.setTimer(1002, 250));
    EXPECT_EQ(loop.msUntilNextTimer(), 250u);

    for (int step = 0; step < 8; ++step) {
        clock.advance(250);
        loop.processPending();
    }
    const std::vector<std::pair<uint32_t, uint32_t>> expected{
        {1002, 5250}, {1002, 5500}, {1002, 5750}, {1001, 6000}, {1002, 6000},
        {1002, 6250}, {1002, 6500}, {1002, 6750}, {1001, 7000}, {1002, 7000}};
    EXPECT_EQ(window.timers(), expected);

    EXPECT_TRUE(window.killTimer(1002));
    EXPECT_FALSE(window.killTimer(1002));
    clock.advance(999);
    EXPECT_EQ(loop.processPending(), 0u);
    clock.advance(1);
    EXPECT_EQ(loop.processPending(), 1u);
    EXPECT_EQ(window.timers().back(), std::make_pair(1001u, 8000u));
    EXPECT_EQ(window.timers().size(), expected.size() + 1);
}

TEST(MessageLoop, ALateLoopKeepsTheRhythmButFiresOnceForMissedPeriods)
{
    ManualClock clock;
    MessageLoop loop(clock);
    RecordingWindow window(loop);
    ASSERT_TRUE(window.setTimer(7, 1000));
    clock.advance(1100);
    EXPECT_EQ(loop.processPending(), 1u);
    EXPECT_EQ(loop.msUntilNextTimer(), 900u);

    clock.advance(3400);
    EXPECT_EQ(loop.processPending(), 1u);
    EXPECT_EQ(loop.msUntilNextTimer(), 1000u);
    clock.advance(400);
    EXPECT_EQ(loop.processPending(), 0u);

    // Resetting a timer restarts its period from now.
    ASSERT_TRUE(window.setTimer(7, 100));
    clock.advance(100);
    EXPECT_EQ(loop.processPending(), 1u);
}

TEST(MessageLoop, TimersWorkAcrossTheTickWrap)
{
    ManualClock clock(0xFFFFFF00u);
    MessageLoop loop(clock);
    RecordingWindow window(loop);
    ASSERT_TRUE(window.setTimer(1, 1000));
    clock.advance(999);
    EXPECT_EQ(loop.processPending(), 0u);
    EXPECT_EQ(loop.msUntilNextTimer(), 1u);
    clock.advance(1);
    EXPECT_EQ(loop.processPending(), 1u);
    clock.advance(1000);
    EXPECT_EQ(loop.processPending(), 1u);
}

TEST(MessageLoop, DestroyStopsTheWindowsTimers)
{
    ManualClock clock;
    MessageLoop loop(clock);
    RecordingWindow window(loop);
    RecordingWindow other(loop);
    ASSERT_TRUE(window.setTimer(1, 10));
    ASSERT_TRUE(other.setTimer(1, 10));
    window.destroy();
    clock.advance(10);
    EXPECT_EQ(loop.processPending(), 1u);
    EXPECT_TRUE(window.timers().empty());
    EXPECT_EQ(other.timers().size(), 1u);
}

TEST(MessageLoop, RunSleepsUntilTimersAreDueAndQuitEndsIt)
{
    MessageLoop loop;
    RecordingWindow window(loop);
    ASSERT_TRUE(window.setTimer(3, 10));
    EXPECT_TRUE(loop.runUntil([&] { return window.timers().size() >= 3; }, 5s));
    EXPECT_FALSE(loop.runUntil([] { return false; }, 30ms));

    std::thread stopper([&] {
        std::this_thread::sleep_for(30ms);
        loop.quit();
    });
    const auto started = std::chrono::steady_clock::now();
    loop.run();
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_TRUE(loop.hasQuit());
    EXPECT_FALSE(loop.msUntilNextTimer().has_value());
}

TEST(MessageLoop, WakeHookHearsOfWorkFromOtherThreads)
{
    MessageLoop loop;
    RecordingWindow window(loop);
    std::atomic<int> wakes{0};
    loop.setWakeHook([&] { ++wakes; });
    std::thread([&] { window.post(kEcho, 1); }).join();
    EXPECT_EQ(wakes.load(), 1);
    ASSERT_TRUE(window.setTimer(1, 50));
    EXPECT_EQ(wakes.load(), 2);
    EXPECT_EQ(loop.processPending(), 1u);
}

TEST(MessageLoop, WindowsOutlivingTheLoopForgetIt)
{
    auto loop = std::make_unique<MessageLoop>();
    RecordingWindow window(*loop);
    loop.reset();
    EXPECT_EQ(window.id(), 0u);
}

}  // namespace
}  // namespace fetchora
