#include "gui/qt_loop_driver.h"

#include <QMetaObject>

#include "platform/message_loop.h"

namespace fetchora {

QtLoopDriver::QtLoopDriver(MessageLoop& loop, QObject* parent) : QObject(parent), m_loop(loop)
{
    m_timer.setSingleShot(true);
    // Loop timers are whole milliseconds; a coarse Qt timer may fire up to 5 %
    // late, which a one-second view timer does not mind, but the precise one
    // keeps the 250 ms list batches even.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &QtLoopDriver::step);
    // Bind the loop to this thread before anyone else can use it.
    m_loop.processPending();
    m_loop.setWakeHook([this] {
        if (m_stepQueued.exchange(true))
            return;
        QMetaObject::invokeMethod(this, &QtLoopDriver::step, Qt::QueuedConnection);
    });
    armTimer();
}

QtLoopDriver::~QtLoopDriver()
{
    m_loop.setWakeHook({});
}

void QtLoopDriver::step()
{
    m_stepQueued.store(false);
    if (m_loop.hasQuit())
        return;
    m_steps += m_loop.processPending();
    armTimer();
}

void QtLoopDriver::armTimer()
{
    const std::optional<uint32_t> due = m_loop.msUntilNextTimer();
    if (!due) {
        m_timer.stop();
        return;
    }
    m_timer.start(static_cast<int>(*due));
}

}  // namespace fetchora
