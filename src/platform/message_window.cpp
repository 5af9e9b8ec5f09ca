#include "platform/message_window.h"

#include "platform/message_loop.h"

namespace fetchora {

MessageWindow::~MessageWindow()
{
    destroy();
}

WindowId MessageWindow::create()
{
    return m_loop.create(*this);
}

void MessageWindow::destroy()
{
    // The loop clears the handle itself when the window is destroyed through
    // the loop or the loop goes away first, so a zero here means there is
    // nothing left to undo.
    if (const WindowId id = m_id.load(std::memory_order_acquire))
        m_loop.destroy(id);
}

bool MessageWindow::post(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    return m_loop.post(id(), msg, wParam, lParam);
}

intptr_t MessageWindow::send(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    return m_loop.send(id(), msg, wParam, lParam);
}

bool MessageWindow::setTimer(uint32_t timerId, uint32_t periodMs)
{
    return m_loop.setTimer(id(), timerId, periodMs);
}

bool MessageWindow::killTimer(uint32_t timerId)
{
    return m_loop.killTimer(id(), timerId);
}

intptr_t MessageWindow::handleMessage(uint32_t, uintptr_t, intptr_t)
{
    return 0;
}

void MessageWindow::onTimer(uint32_t) {}

}  // namespace fetchora
