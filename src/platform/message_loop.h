#pragma once
// The message queue and timers that drive every window of the program.
//
// One thread, the loop thread, runs all handlers: every decision about jobs is
// made there. Other threads talk to windows only through `post` (queue and go
// on) and `send` (wait for the handler's answer). Posted and sent messages
// share one queue and are handled in the order they arrived.
//
// Two ways to drive it:
// - the plain driver `run()` (command line, daemon, tests) sleeps until a
//   message arrives or the next timer is due;
// - a foreign event loop (the Qt adapter) installs a wake hook, calls
//   `processPending()` when woken and arms its own timer with
//   `msUntilNextTimer()`.
// Tests can also step it with `processPending()` and a `ManualClock`.
//
// Thread: `post`, `send`, `quit`, `wake` and the timer calls are safe from any
// thread. Handlers run on the thread inside `run`/`processPending`/`runUntil`
// (the loop thread; at first the one that made the loop; one driver at a
// time). Owns its queue and timer table; borrows the windows and the clock.
// Destroy the loop only after every thread that may use it has been joined.
#include "platform/message_window.h"
#include "platform/tick.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace fetchora {

class MessageLoop {
public:
    MessageLoop();
    explicit MessageLoop(const Clock& clock);
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // Registers a window and returns its new handle. Usually called through
    // `MessageWindow::create`.
    WindowId create(MessageWindow& window);
    // Unregisters the window: its queued posts are dropped, waiting senders
    // get 0, its timers stop; later posts fail and later sends answer 0.
    // Called on another thread while the loop thread is inside one of the
    // window's handlers, it waits for that handler to return, so the window
    // may be freed afterwards; the caller then must not hold anything the
    // handler waits for. Returns false for an unknown handle.
    bool destroy(WindowId id);
    bool isWindow(WindowId id) const;

    // Queues a message. False when the window does not exist (any more) or the
    // loop has quit.
    bool post(WindowId id, uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    // On the loop thread, calls the handler at once. Elsewhere, queues the
    // message and waits until the loop thread has handled it. Answers the
    // handler's result, or 0 when the window is or becomes destroyed or the
    // loop quits before the handler ran.
    intptr_t send(WindowId id, uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);

    // Starts or restarts a periodic timer; the first tick comes one period
    // from now. A period of 0 counts as 1 ms. A loop that falls behind fires a
    // timer once, not once per missed period. False for an unknown window.
    bool setTimer(WindowId id, uint32_t timerId, uint32_t periodMs);
    bool killTimer(WindowId id, uint32_t timerId);

    // Runs messages and timers until `quit`. The calling thread becomes the
    // loop thread: a test that runs the loop on its own thread lets that
    // thread step the loop once (`processPending`) before others send to it.
    void run();
    // Makes `run` and `runUntil` return; senders still waiting get 0, timers
    // stop, later posts fail and later sends from other threads answer 0
    // (sends on the loop thread still reach the handler, so shutdown code can
    // talk to its windows). Final: the loop does not start again.
    void quit();
    bool hasQuit() const;

    // One non-blocking step on the calling thread, which becomes the loop
    // thread: fires the due timers, then handles the messages that were queued
    // when the step began (messages posted by these handlers wait for the next
    // step, so a handler that re-posts itself cannot starve its host loop).
    // Returns the number of handlers called.
    size_t processPending();
    // Steps the loop, sleeping while there is nothing to do, until `done`
    // returns true (true), or the timeout passes or the loop quits (false).
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // Milliseconds until the earliest timer is due (0 when overdue); nothing
    // when no timer runs.
    std::optional<uint32_t> msUntilNextTimer() const;

    // Called, on whatever thread queued the work, whenever a message arrives
    // or the timer table changes, so a foreign event loop can schedule a
    // step. Install it before other threads use the loop; it must not block.
    void setWakeHook(std::function<void()> hook);
    // Interrupts a sleeping `run`/`runUntil` (for instance after a test moved
    // its manual clock) and calls the wake hook.
    void wake();

private:
    // A send waiting for its answer; lives on the sender's stack until `done`.
    // Each sender sleeps on its own condition, so an answer wakes only the
    // thread it is for: with one shared condition every answer woke all the
    // waiting transfer threads, and each went back to sleep at once.
    struct PendingSend {
        intptr_t result = 0;
        bool done = false;
        std::condition_variable answered;
    };
    struct Item {
        uint64_t seq;
        WindowId id;
        uint32_t msg;
        uintptr_t wParam;
        intptr_t lParam;
        PendingSend* send;  // null for a post
    };
    struct Timer {
        uint32_t period;
        uint32_t due;
    };
    using TimerKey = std::pair<WindowId, uint32_t>;

    bool onLoopThread() const;
    // Look up a window and mark it busy while one of its handlers runs, so
    // that `destroy` on another thread can wait for the handler to return.
    MessageWindow* enterLocked(WindowId id);
    void leaveLocked(WindowId id);
    size_t fireDueTimers();
    void completeLocked(PendingSend* send, intptr_t result);
    void dropQueuedLocked(WindowId id);
    std::optional<uint32_t> msUntilNextTimerLocked() const;
    // Sleeps until work is queued, a timer is due, the loop quits or `limit`
    // passes.
    void waitForWork(std::chrono::milliseconds limit);
    void notifyWork();

    SystemClock m_systemClock;
    const Clock& m_clock;

    mutable std::mutex m_mutex;
    // Wakes the loop thread (work arrived) and the threads inside `destroy`
    // (handlers finished). Senders have a condition of their own.
    std::condition_variable m_workArrived;
    std::condition_variable m_callDone;
    int m_destroyWaiters = 0;  // threads waiting in `destroy` for a handler to return
    std::unordered_map<WindowId, MessageWindow*> m_windows;
    WindowId m_lastId = 0;
    std::deque<Item> m_queue;
    uint64_t m_nextSeq = 0;
    std::map<TimerKey, Timer> m_timers;
    // Windows whose handlers are running right now, with the running thread
    // (nested when a handler sends to another window).
    std::vector<std::pair<WindowId, std::thread::id>> m_busy;
    bool m_quit = false;
    bool m_wakeRequested = false;

    std::atomic<std::thread::id> m_loopThread;
    std::function<void()> m_wakeHook;
};

}  // namespace fetchora
