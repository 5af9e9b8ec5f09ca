#pragma once
// Runs `loop.run()` on a thread of its own, bound to the loop before anyone
// sends to it; quits the loop and joins at destruction.
#include <future>
#include <thread>

#include "platform/message_loop.h"

namespace fetchora::test {

class LoopThread {
public:
    explicit LoopThread(MessageLoop& loop) : m_loop(loop)
    {
        std::promise<void> bound;
        auto ready = bound.get_future();
        m_thread = std::thread([&] {
            m_loop.processPending();
            bound.set_value();
            m_loop.run();
        });
        ready.wait();
    }
    ~LoopThread()
    {
        m_loop.quit();
        m_thread.join();
    }
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    std::thread::id id() const { return m_thread.get_id(); }

private:
    MessageLoop& m_loop;
    std::thread m_thread;
};

}  // namespace fetchora::test
