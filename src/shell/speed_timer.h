#pragma once
// The speed step of the main frame's status timer, for every front end: once
// a second, while the limiter is in Automatic mode, the automatic limit is
// worked out again from the machine's TCP connections, so that other
// programs that open connections get their share of the line within a second.
//
// Thread: the loop thread (a window of the loop with timer 1000). Borrows the
// loop and the limiter, which must outlive it.
#include <cstdint>

#include "platform/message_window.h"

namespace fetchora {

class SpeedLimiter;

// The frame's speed timer and its period.
inline constexpr uint32_t kSpeedTimerId = 1000;
inline constexpr uint32_t kSpeedTimerMs = 1000;

class SpeedTimer final : private MessageWindow {
public:
    SpeedTimer(MessageLoop& loop, SpeedLimiter& limiter);
    ~SpeedTimer() override;

    // One step of the timer (also what each tick runs).
    void step();

private:
    void onTimer(uint32_t timerId) override;

    SpeedLimiter& m_limiter;
};

}  // namespace fetchora
