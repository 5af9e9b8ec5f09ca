#include "shell/speed_timer.h"

#include "net/speed_limiter.h"
#include "platform/message_loop.h"

namespace fetchora {

SpeedReadout SpeedReadoutStep::step(uint64_t twoSecondBytes, std::optional<uint32_t> autoLimit)
{
    SpeedReadout readout;
    readout.twoSecondBytes = twoSecondBytes;
    if (m_lastSum != twoSecondBytes)
        readout.totalSpeedText = formatTotalSpeed(twoSecondBytes);
    m_lastSum = twoSecondBytes;
    readout.bytesPerSecond = twoSecondBytes / 2;
    if (autoLimit)
        readout.autoLimitText = formatAutoLimit(*autoLimit);
    return readout;
}

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
    std::optional<uint32_t> autoLimit;
    if (m_limiter.mode() == SpeedMode::Automatic) {
        m_limiter.UpdateAutoLimit();
        autoLimit = m_limiter.autoLimit();
    }
    m_lastReadout = m_readoutStep.step(m_limiter.twoSecondBytes(), autoLimit);
    if (m_speedTarget != 0)
        loop().post(m_speedTarget, kTotalSpeedMessage, static_cast<uintptr_t>(m_lastReadout.bytesPerSecond));
    if (m_observer)
        m_observer(m_lastReadout);
}

void SpeedTimer::onTimer(uint32_t timerId)
{
    if (timerId == kSpeedTimerId)
        step();
}

}  // namespace fetchora
