#include "shell/timer_countdown.h"

#include <utility>

namespace fetchora {

TimerCountdown::TimerCountdown(MessageLoop& loop, LogSink log) : MessageWindow(loop), m_log(std::move(log))
{
    create();
}

TimerCountdown::~TimerCountdown()
{
    destroy();
}

void TimerCountdown::start(const CountdownRequest& request, std::function<void(bool ok)> done)
{
    cancel();
    m_done = std::move(done);
    m_secondsLeft = request.seconds > 0 ? request.seconds : 0;
    if (m_log)
        m_log(request.caption + ": " + CountdownText(request.text, m_secondsLeft));
    // Even a zero-second countdown completes from the loop, never inside
    // start, so the caller's chain always sees the same order of events.
    setTimer(kCountdownTimerId, m_secondsLeft > 0 ? 1000 : 1);
}

void TimerCountdown::cancel()
{
    if (running())
        finish(false);
}

void TimerCountdown::onTimer(uint32_t timerId)
{
    if (timerId != kCountdownTimerId || !running())
        return;
    if (m_secondsLeft > 0)
        --m_secondsLeft;
    if (m_secondsLeft == 0)
        finish(true);
}

void TimerCountdown::finish(bool ok)
{
    killTimer(kCountdownTimerId);
    // The callback may start the next countdown.
    std::function<void(bool)> done = std::move(m_done);
    m_done = nullptr;
    done(ok);
}

}  // namespace fetchora
