#include "platform/message_loop.h"

#include <algorithm>

namespace fetchora {

namespace {

// How long `run` sleeps at most when no timer is due: any work that arrives
// wakes it earlier, so this only bounds the damage of a lost wake-up.
constexpr std::chrono::milliseconds kIdleSleep{60000};

}  // namespace

MessageLoop::MessageLoop() : MessageLoop(m_systemClock) {}

MessageLoop::MessageLoop(const Clock& clock) : m_clock(clock), m_loopThread(std::this_thread::get_id()) {}

MessageLoop::~MessageLoop()
{
    quit();
    // Windows that outlive the loop must not call back into it.
    std::lock_guard lock(m_mutex);
    for (auto& [id, window] : m_windows)
        window->m_id.store(0, std::memory_order_release);
    m_windows.clear();
}

WindowId MessageLoop::create(MessageWindow& window)
{
    std::lock_guard lock(m_mutex);
    if (const WindowId existing = window.m_id.load(std::memory_order_acquire))
        return existing;
    do
        ++m_lastId;
    while (m_lastId == 0 || m_windows.count(m_lastId));
    m_windows.emplace(m_lastId, &window);
    window.m_id.store(m_lastId, std::memory_order_release);
    return m_lastId;
}

bool MessageLoop::destroy(WindowId id)
{
    std::unique_lock lock(m_mutex);
    const auto found = m_windows.find(id);
    if (found == m_windows.end())
        return false;
    found->second->m_id.store(0, std::memory_order_release);
    m_windows.erase(found);
    std::erase_if(m_timers, [id](const auto& entry) { return entry.first.first == id; });
    dropQueuedLocked(id);
    // A handler of this window running on this very thread is the caller's
    // own frame (a handler destroying its window); waiting would never end.
    const auto me = std::this_thread::get_id();
    ++m_destroyWaiters;
    m_callDone.wait(lock, [&] {
        return std::none_of(m_busy.begin(), m_busy.end(),
                            [&](const auto& busy) { return busy.first == id && busy.second != me; });
    });
    --m_destroyWaiters;
    return true;
}

bool MessageLoop::isWindow(WindowId id) const
{
    std::lock_guard lock(m_mutex);
    return m_windows.count(id) != 0;
}

bool MessageLoop::post(WindowId id, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_quit || !m_windows.count(id))
            return false;
        m_queue.push_back({m_nextSeq++, id, msg, wParam, lParam, nullptr});
    }
    notifyWork();
    return true;
}

intptr_t MessageLoop::send(WindowId id, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (onLoopThread()) {
        MessageWindow* window;
        {
            std::lock_guard lock(m_mutex);
            window = enterLocked(id);
            if (!window)
                return 0;
        }
        const intptr_t result = window->handleMessage(msg, wParam, lParam);
        std::lock_guard lock(m_mutex);
        leaveLocked(id);
        return result;
    }

    PendingSend pending;
    {
        std::lock_guard lock(m_mutex);
        if (m_quit || !m_windows.count(id))
            return 0;
        m_queue.push_back({m_nextSeq++, id, msg, wParam, lParam, &pending});
    }
    notifyWork();
    // Whoever drops or handles the item completes it under the lock, so the
    // record stays on this stack until nobody can touch it any more.
    std::unique_lock lock(m_mutex);
    pending.answered.wait(lock, [&] { return pending.done; });
    return pending.result;
}

bool MessageLoop::setTimer(WindowId id, uint32_t timerId, uint32_t periodMs)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_windows.count(id))
            return false;
        const uint32_t period = std::max<uint32_t>(periodMs, 1);
        m_timers[{id, timerId}] = Timer{period, m_clock.tick() + period};
    }
    // A sleeping loop must shorten its sleep to the new timer.
    notifyWork();
    return true;
}

bool MessageLoop::killTimer(WindowId id, uint32_t timerId)
{
    std::lock_guard lock(m_mutex);
    return m_timers.erase({id, timerId}) != 0;
}

void MessageLoop::run()
{
    m_loopThread.store(std::this_thread::get_id());
    while (!hasQuit()) {
        processPending();
        waitForWork(kIdleSleep);
    }
}

void MessageLoop::quit()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        for (const Item& item : m_queue)
            completeLocked(item.send, 0);
        m_queue.clear();
        m_timers.clear();
        m_workArrived.notify_all();
    }
    notifyWork();
}

bool MessageLoop::hasQuit() const
{
    std::lock_guard lock(m_mutex);
    return m_quit;
}

size_t MessageLoop::processPending()
{
    m_loopThread.store(std::this_thread::get_id());
    size_t calls = fireDueTimers();

    std::unique_lock lock(m_mutex);
    const uint64_t end = m_nextSeq;
    while (!m_queue.empty() && m_queue.front().seq < end) {
        const Item item = m_queue.front();
        m_queue.pop_front();
        // Destroying a window drops its items, so the lookup fails only in
        // theory; a send must still be completed then.
        MessageWindow* window = enterLocked(item.id);
        if (!window) {
            completeLocked(item.send, 0);
            continue;
        }
        lock.unlock();
        const intptr_t result = window->handleMessage(item.msg, item.wParam, item.lParam);
        ++calls;
        lock.lock();
        leaveLocked(item.id);
        completeLocked(item.send, result);
    }
    return calls;
}

bool MessageLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        processPending();
        if (done())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (hasQuit() || left <= std::chrono::milliseconds::zero())
            return false;
        waitForWork(left);
    }
}

std::optional<uint32_t> MessageLoop::msUntilNextTimer() const
{
    std::lock_guard lock(m_mutex);
    return msUntilNextTimerLocked();
}

void MessageLoop::setWakeHook(std::function<void()> hook)
{
    m_wakeHook = std::move(hook);
}

void MessageLoop::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_wakeRequested = true;
    }
    notifyWork();
}

bool MessageLoop::onLoopThread() const
{
    return m_loopThread.load() == std::this_thread::get_id();
}

MessageWindow* MessageLoop::enterLocked(WindowId id)
{
    const auto found = m_windows.find(id);
    if (found == m_windows.end())
        return nullptr;
    m_busy.emplace_back(id, std::this_thread::get_id());
    return found->second;
}

void MessageLoop::leaveLocked(WindowId id)
{
    const auto me = std::this_thread::get_id();
    const auto last = std::find(m_busy.rbegin(), m_busy.rend(), std::make_pair(id, me));
    if (last != m_busy.rend())
        m_busy.erase(std::next(last).base());
    if (m_destroyWaiters > 0)
        m_callDone.notify_all();
}

size_t MessageLoop::fireDueTimers()
{
    std::vector<TimerKey> due;
    {
        std::lock_guard lock(m_mutex);
        if (m_quit)
            return 0;
        const uint32_t now = m_clock.tick();
        for (auto& [key, timer] : m_timers) {
            if (!tickReached(timer.due, now))
                continue;
            due.push_back(key);
            // Keep the rhythm of the period, but a loop that fell behind fires
            // once rather than in a burst for every missed period.
            timer.due += timer.period;
            if (tickReached(timer.due, now))
                timer.due = now + timer.period;
        }
    }

    size_t calls = 0;
    for (const TimerKey& key : due) {
        MessageWindow* window;
        {
            // An earlier handler of this round may have killed the timer or
            // destroyed the window.
            std::lock_guard lock(m_mutex);
            if (m_quit || !m_timers.count(key))
                continue;
            window = enterLocked(key.first);
            if (!window)
                continue;
        }
        window->onTimer(key.second);
        ++calls;
        std::lock_guard lock(m_mutex);
        leaveLocked(key.first);
    }
    return calls;
}

void MessageLoop::completeLocked(PendingSend* send, intptr_t result)
{
    if (!send)
        return;
    send->result = result;
    send->done = true;
    // Under the lock: the sender cannot see done, return and free the
    // record before this call is over.
    send->answered.notify_one();
}

void MessageLoop::dropQueuedLocked(WindowId id)
{
    std::erase_if(m_queue, [&](const Item& item) {
        if (item.id != id)
            return false;
        completeLocked(item.send, 0);
        return true;
    });
}

std::optional<uint32_t> MessageLoop::msUntilNextTimerLocked() const
{
    if (m_timers.empty())
        return std::nullopt;
    const uint32_t now = m_clock.tick();
    uint32_t soonest = UINT32_MAX;
    for (const auto& [key, timer] : m_timers)
        soonest = std::min(soonest, tickReached(timer.due, now) ? 0u : timer.due - now);
    return soonest;
}

void MessageLoop::waitForWork(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    if (const auto next = msUntilNextTimerLocked())
        limit = std::min(limit, std::chrono::milliseconds(*next));
    m_workArrived.wait_for(lock, limit, [&] { return !m_queue.empty() || m_quit || m_wakeRequested; });
    m_wakeRequested = false;
}

void MessageLoop::notifyWork()
{
    m_workArrived.notify_all();
    if (m_wakeHook)
        m_wakeHook();
}

}  // namespace fetchora
