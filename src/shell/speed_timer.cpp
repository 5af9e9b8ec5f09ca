#include "shell/speed_timer.h"

#include "net/speed_limiter.h"

namespace fetchora {

SpeedTimer::SpeedTimer(MessageLoop& loop, SpeedLimiter& limiter) : MessageWindow(loop), m_limiter(limiter)
{
    create();
    setTimer(kSpeedTimerId, kSpeedTimerMs);
}

SpeedTimer::~SpeedTimer()
{
    destroy();
}

void SpeedTimer::step()
{
    if (m_limiter.mode() == SpeedMode::Automatic)
        m_limiter.UpdateAutoLimit();
}

void SpeedTimer::onTimer(uint32_t timerId)
{
    if (timerId == kSpeedTimerId)
        step();
}

}  // namespace fetchora
