#include "engine/job_window.h"

#include "engine/job_runner.h"
#include "engine/transfer_threads.h"

namespace fetchora {

CJobWnd::CJobWnd(MessageLoop& loop, JobRunner& runner, JobLock& lock)
    : MessageWindow(loop), m_runner(runner), m_lock(lock)
{
    create();
}

CJobWnd::~CJobWnd()
{
    destroy();
}

intptr_t CJobWnd::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    JobLockGuard guard(m_lock);
    JobRunner::HandlerScope scope(m_runner);
    if (msg == WM_PART_CONNECT_EVENT)
        return m_runner.onConnectEvent(static_cast<int>(wParam), static_cast<uint32_t>(lParam));
    if (msg == WM_JOB_RESTART)
        return m_runner.onRestart();

    auto* message = reinterpret_cast<PartMessage*>(wParam);
    switch (msg) {
    case WM_PART_RESOLVED:
    case WM_PART_DATA:
    case WM_PART_STREAM_DATA:
    case WM_PART_RESPONSE:
    case WM_PART_ERROR:
    case WM_PART_DONE:
    case WM_PART_EXIT:
    case WM_PART_PING_DONE:
    case WM_PART_SEARCH_DONE:
    case WM_PART_LOG:
    case WM_PART_PING_RESULT:
    case WM_PART_SEARCH_RESULT: break;
    default: return MessageWindow::handleMessage(msg, wParam, lParam);
    }
    if (message == nullptr)
        return 0;
    // Anything from a thread whose part was stopped or restarted is ignored.
    JobPart* part = m_runner.partOfBlock(message->block);
    if (part == nullptr)
        return 0;

    switch (msg) {
    case WM_PART_RESOLVED: return m_runner.onResolved(*part, *message);
    case WM_PART_DATA: return m_runner.onData(*part, *message);
    case WM_PART_STREAM_DATA: return m_runner.onData(*part, *message);
    case WM_PART_RESPONSE: return m_runner.onResponse(*part, *message);
    case WM_PART_ERROR: return m_runner.onError(*part, *message);
    case WM_PART_DONE: return m_runner.onDone(*part);
    case WM_PART_EXIT: return m_runner.onExit(*part);
    case WM_PART_PING_DONE: return m_runner.onPingDone(*part);
    case WM_PART_SEARCH_DONE: return m_runner.onSearchDone(*part);
    case WM_PART_LOG: return m_runner.onLog(*part, *message);
    case WM_PART_PING_RESULT: return m_runner.onPingResult(*part, *message);
    case WM_PART_SEARCH_RESULT: return m_runner.onSearchResult(*part, *message);
    default: return 0;
    }
}

void CJobWnd::onTimer(uint32_t timerId)
{
    if (timerId != kJobTimerId)
        return;
    JobLockGuard guard(m_lock);
    JobRunner::HandlerScope scope(m_runner);
    if (!m_runner.onTimer())
        killTimer(kJobTimerId);
}

}  // namespace fetchora
