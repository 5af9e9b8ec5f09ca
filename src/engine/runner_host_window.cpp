#include "engine/runner_host_window.h"

namespace fetchora {

RunnerHostWindow::RunnerHostWindow(MessageLoop& loop, RunnerHost& host) : MessageWindow(loop), m_host(host)
{
    create();
}

RunnerHostWindow::~RunnerHostWindow()
{
    destroy();
}

intptr_t RunnerHostWindow::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg == WM_SAVE_DATABASE) {
        m_host.saveDatabase();
        return 1;
    }
    return MessageWindow::handleMessage(msg, wParam, lParam);
}

}  // namespace fetchora
