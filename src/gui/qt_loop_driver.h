#pragma once
// Runs the program's message loop inside Qt's event loop on the GUI thread:
// whenever the loop is woken (a message posted or sent from any thread, a
// timer armed) one step is queued to the GUI thread, and a Qt timer is armed
// for the loop's next timer. Every handler therefore runs on the GUI thread,
// the loop thread, as it does on the plain driver of the CLI and the daemon;
// a transfer thread's send still blocks until the GUI thread has run it.
//
// Thread: made on the GUI thread, which becomes the loop thread; the wake
// hook it installs may be called from any thread. Borrows the loop, which
// must outlive it; destroy the driver before the loop.
#include <QObject>
#include <QTimer>

#include <atomic>

namespace fetchora {

class MessageLoop;

class QtLoopDriver final : public QObject {
    Q_OBJECT
public:
    explicit QtLoopDriver(MessageLoop& loop, QObject* parent = nullptr);
    ~QtLoopDriver() override;

    // Handlers run by the driver so far (for tests and the latency bench).
    uint64_t steps() const { return m_steps; }

private:
    void step();
    void armTimer();

    MessageLoop& m_loop;
    QTimer m_timer;
    // A step is queued and not yet run: further wakes add none.
    std::atomic<bool> m_stepQueued{false};
    uint64_t m_steps = 0;
};

}  // namespace fetchora
