#pragma once
// The hidden window of a running job (`CJobWnd`). Its transfer threads send
// their reports here; each handler takes the job lock, lets the runner check
// that the message's handle block is alive and still its part's current one,
// and hands the message to the runner. It also carries the job's one-second
// timer (1001: progress figures and the dial-up check).
//
// Thread: loop thread. Owned by the job's runner; borrows the runner and the
// job lock. The runner destroys (unregisters) it when the job completes or
// fails and frees the object later, never inside one of its handlers.
#include <cstdint>

#include "platform/job_lock.h"
#include "platform/message_window.h"

namespace fetchora {

class JobRunner;

inline constexpr uint32_t kJobTimerId = 1001;
inline constexpr uint32_t kJobTimerPeriodMs = 1000;
// The answer to WM_PART_EXIT when the notice was taken.
inline constexpr intptr_t kPartExitTaken = 85;
// Posted to the window itself: start the job again (after the small-file
// check), once the handler that decided it has returned.
inline constexpr uint32_t WM_JOB_RESTART = 0x0400 + 121;  // 1145

class CJobWnd final : public MessageWindow {
public:
    CJobWnd(MessageLoop& loop, JobRunner& runner, JobLock& lock);
    ~CJobWnd() override;

    void startTimer() { setTimer(kJobTimerId, kJobTimerPeriodMs); }

protected:
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    void onTimer(uint32_t timerId) override;

private:
    JobRunner& m_runner;
    JobLock& m_lock;
};

}  // namespace fetchora
