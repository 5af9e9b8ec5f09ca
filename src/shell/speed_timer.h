#pragma once
// The speed step of the main frame's status timer, for every front end: once
// a second, while the limiter is in Automatic mode, the automatic limit is
// worked out again from the machine's TCP connections, so that other
// programs that open connections get their share of the line within a second.
// Each step also produces the read-outs the frame shows (SpeedReadout): the
// total speed for status pane 3, the per-second figure for the speed band and
// the main view, and the automatic limit for pane 2.
//
// Thread: the loop thread (a window of the loop with timer 1000). Borrows the
// loop and the limiter, which must outlive it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/message_window.h"

namespace fetchora {

class SpeedLimiter;

// The frame's speed timer and its period.
inline constexpr uint32_t kSpeedTimerId = 1000;
inline constexpr uint32_t kSpeedTimerMs = 1000;

// To the main view: the total speed in bytes per second in wParam.
inline constexpr uint32_t kTotalSpeedMessage = kWmUser + 208;

// What one second's step shows.
struct SpeedReadout {
    // Bytes of this and the previous second; 0 when nothing moved for more
    // than three seconds.
    uint64_t twoSecondBytes = 0;
    // Status pane 3 ("%0.2fKB/s" of the two-second average); only when the
    // sum differs from the previous step's, so an idle bar is not redrawn.
    std::optional<std::string> totalSpeedText;
    // The average per second: the speed band and kTotalSpeedMessage.
    uint64_t bytesPerSecond = 0;
    // Status pane 2 ("%0.1fKB/s"); only in Automatic mode.
    std::optional<std::string> autoLimitText;
};

// The arithmetic of the step, apart from the limiter and the loop.
class SpeedReadoutStep {
public:
    // twoSecondBytes as the limiter reports it; autoLimit only in Automatic
    // mode.
    SpeedReadout step(uint64_t twoSecondBytes, std::optional<uint32_t> autoLimit);

private:
    // Empty before the first step, so the first step always shows a figure.
    std::optional<uint64_t> m_lastSum;
};

class SpeedTimer final : private MessageWindow {
public:
    using ReadoutObserver = std::function<void(const SpeedReadout&)>;

    SpeedTimer(MessageLoop& loop, SpeedLimiter& limiter);
    ~SpeedTimer() override;

    // One step of the timer (also what each tick runs).
    void step();

    // Called after every step with its read-outs (the frame's status bar and
    // speed band).
    void setReadoutObserver(ReadoutObserver observer) { m_observer = std::move(observer); }
    // The window that gets kTotalSpeedMessage each step; 0 for none.
    void setSpeedMessageTarget(WindowId view) { m_speedTarget = view; }
    const SpeedReadout& lastReadout() const { return m_lastReadout; }

private:
    void onTimer(uint32_t timerId) override;

    SpeedLimiter& m_limiter;
    SpeedReadoutStep m_readoutStep;
    SpeedReadout m_lastReadout;
    ReadoutObserver m_observer;
    WindowId m_speedTarget = 0;
};

}  // namespace fetchora
