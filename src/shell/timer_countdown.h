#pragma once
// A countdown without a dialog, for the daemon: it logs the countdown's text
// once and completes with OK when the seconds have run out on the loop's
// timer. Nobody can press Cancel, but the owner may (cancel()).
//
// Thread: loop thread. Borrows the loop, which must outlive it.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/message_window.h"
#include "shell/end_of_work.h"

namespace fetchora {

inline constexpr uint32_t kCountdownTimerId = 1;

class TimerCountdown final : public Countdown, private MessageWindow {
public:
    using LogSink = std::function<void(const std::string& line)>;

    TimerCountdown(MessageLoop& loop, LogSink log);
    ~TimerCountdown() override;

    // A countdown still running when another starts ends as cancelled.
    void start(const CountdownRequest& request, std::function<void(bool ok)> done) override;
    // Ends the running countdown with Cancel; nothing when none runs.
    void cancel();
    bool running() const { return static_cast<bool>(m_done); }
    int32_t secondsLeft() const { return m_secondsLeft; }

private:
    void onTimer(uint32_t timerId) override;
    void finish(bool ok);

    LogSink m_log;
    std::function<void(bool)> m_done;
    int32_t m_secondsLeft = 0;
};

}  // namespace fetchora
