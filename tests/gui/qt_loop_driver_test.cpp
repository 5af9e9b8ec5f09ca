#include "gui/qt_loop_driver.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <thread>

#include "platform/message_loop.h"
#include "platform/message_window.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

class CountingWindow final : public MessageWindow {
public:
    explicit CountingWindow(MessageLoop& loop) : MessageWindow(loop) { create(); }
    ~CountingWindow() override { destroy(); }

    std::thread::id handlerThread;
    int posts = 0;
    int ticks = 0;

protected:
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t) override
    {
        handlerThread = std::this_thread::get_id();
        if (msg == kWmUser + 1)
            ++posts;
        return msg == kWmUser + 2 ? static_cast<intptr_t>(wParam * 2) : 1;
    }
    void onTimer(uint32_t) override { ++ticks; }
};

// Spins Qt's own event loop until done() or the time is up.
bool spinUntil(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST(QtLoopDriver, PostsSendsAndTimersFromOtherThreadsRunOnTheGuiThread)
{
    MessageLoop loop;
    QtLoopDriver driver(loop);
    CountingWindow window(loop);
    const std::thread::id gui = std::this_thread::get_id();

    intptr_t answer = 0;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            loop.post(window.id(), kWmUser + 1);
        // A send from a worker blocks until the GUI thread ran the handler.
        answer = loop.send(window.id(), kWmUser + 2, 21);
    });
    ASSERT_TRUE(spinUntil([&] { return answer != 0; }));
    worker.join();
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(window.posts, 100);
    EXPECT_EQ(window.handlerThread, gui);

    ASSERT_TRUE(window.setTimer(7, 20));
    ASSERT_TRUE(spinUntil([&] { return window.ticks >= 3; }));
    EXPECT_GE(driver.steps(), 101u);
    loop.quit();
}

}  // namespace
}  // namespace fetchora
