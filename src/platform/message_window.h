#pragma once
// A target for messages and timers, standing in for a window handle.
//
// Code that lives on the loop thread holds the window object; code on other
// threads (transfer workers, ping threads) holds only its `WindowId` and goes
// through the loop, so that a window destroyed meanwhile turns into a failed
// post or a send that answers 0 instead of a call into freed memory.
//
// Thread: handlers run on the loop thread. Borrows the loop, which must
// outlive the window. The object may be destroyed on any thread (see
// `MessageLoop::destroy`); a subclass that owns state its handlers use should
// call `destroy()` in its own destructor, before that state goes away.
#include <atomic>
#include <cstdint>

namespace fetchora {

class MessageLoop;

// A window handle: 0 is never a window. Handles are not reused while the loop
// lives (short of 2^32 windows), so a stale one finds nothing.
using WindowId = uint32_t;

inline constexpr uint32_t kWmUser = 0x0400;

class MessageWindow {
public:
    explicit MessageWindow(MessageLoop& loop) : m_loop(loop) {}
    virtual ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Registers with the loop; returns the handle (the old one when already
    // created).
    WindowId create();
    // Unregisters: pending posts, sends and timers of this window are dropped.
    void destroy();

    // 0 before `create` and after `destroy`.
    WindowId id() const { return m_id.load(std::memory_order_acquire); }
    MessageLoop& loop() const { return m_loop; }

    // Shorthands for the loop's calls with this window's handle.
    bool post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    intptr_t send(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    bool setTimer(uint32_t timerId, uint32_t periodMs);
    bool killTimer(uint32_t timerId);

protected:
    // Messages nobody handles answer 0, like the default window procedure.
    virtual intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    virtual void onTimer(uint32_t timerId);

private:
    friend class MessageLoop;

    MessageLoop& m_loop;
    std::atomic<WindowId> m_id{0};
};

}  // namespace fetchora
