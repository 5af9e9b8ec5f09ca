#pragma once
// How job records tell the main list view that something changed. Records
// never call into a window: they post a message through this sink, which the
// engine binds to the view's message window (a queued post, never a direct
// call into the view).
#include <cstdint>

namespace fetchora {

// wParam = the DownloadJob, lParam = a change mask (kChange* in download_job.h).
inline constexpr uint32_t WM_JOB_CHANGED = 0x0400 + 200;  // WM_USER+200, 1224
// wParam = the DownloadJob, lParam = the JobPart that was added (or 0).
inline constexpr uint32_t WM_JOB_PARTS = 0x0400 + 202;  // WM_USER+202, 1226

// Thread: post() is called on the loop thread under the job lock and must only
// queue. The sink is borrowed by every record that names it; whoever owns the
// window clears the records' pointers (CZoviradDoc::SetNotifyWindow) before
// the window goes away.
class JobNotifySink {
public:
    virtual ~JobNotifySink() = default;
    virtual void post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace fetchora
