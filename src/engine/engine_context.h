#pragma once
// What the job runner borrows from the application: the settings (with the
// proxy list and the site rules), the site connection counters, the speed
// limiter, the job lock, the message loop, the transfer threads and the list
// of retired handle blocks, the list window's side (RunnerHost), the clocks
// and the string lookup. The application (or a test) builds one and keeps
// every referenced object alive for as long as any job runs.
//
// Thread: read on the loop thread; transfer threads see only what their
// TransferTask carries.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "model/download_job.h"
#include "platform/job_lock.h"
#include "platform/message_window.h"

namespace fetchora {

class AppSettings;
class Clock;
class JobPart;
class MessageLoop;
class RetiredHandleBlocks;
class SiteConnectionTable;
class SmallFileInspector;
class SpeedLimiter;
class CookieJar;
class TlsClientContext;
class TransferThreads;
struct LogEntry;

// The messages the runner sends to the list window (the job's notify window).
// Change notices (1224) go through the job's own notify sink (DownloadJob::Notify).
inline constexpr uint32_t WM_PART_LOGGED = 0x0400 + 201;  // 1225
inline constexpr uint32_t WM_SAVE_DATABASE = 0x0400 + 203;  // 1227, posted
inline constexpr uint32_t WM_JOB_STOPPED = 0x0400 + 205;  // 1229
inline constexpr uint32_t WM_JOB_ENDED = 0x0400 + 11;  // 1035

// The list window's side of the runner. The CLI and the GUI implement it.
// Every call comes on the loop thread with the job lock held; none of them
// may delete the job or start or stop it synchronously other than through
// the queue (which starts other jobs) — post first.
class RunnerHost {
public:
    virtual ~RunnerHost() = default;
    // 1225: a part logged a line.
    virtual void partLogged(DownloadJob& job, JobPart& part, const LogEntry& entry) = 0;
    // 1226: a part was added to a running job.
    virtual void partAdded(DownloadJob& job, JobPart& part) = 0;
    // 1227: save the database soon. Delivered posted, from the loop's queue
    // (see RunnerHostWindow), never inside the runner's own call.
    virtual void saveDatabase() = 0;
    // 1230: move the job to the end of the queue; true when it was moved.
    virtual bool moveJobToEnd(DownloadJob& job) = 0;
    // 1035: the job stopped for this reason.
    virtual void jobEnded(DownloadJob& job, StopReason reason) = 0;
    // 1229: the job stopped; trigger is the part that caused it, if any. The
    // list window's completion actions and the next queue start run here.
    virtual void jobStopped(DownloadJob& job, JobPart* trigger, JobState newState) = 0;
    // A part's thread ended (1141): its line in the detail view may change.
    virtual void partRefreshed(DownloadJob& job, JobPart& part) { (void)job, (void)part; }
    // The job's transfer is over and its finish is being made durable (see
    // FinishCommits): its queue slot is free, jobStopped follows once the
    // finish is on the disk or failed.
    virtual void jobCommitting(DownloadJob& job) { (void)job; }
};

// Dial-up state (for the schedule and dial-up services). Linux has no
// dial-up: without a monitor nothing ever waits for dialling.
class DialUpMonitor {
public:
    virtual ~DialUpMonitor() = default;
    virtual bool dialing() const = 0;
    // After dialling: true connected, false failed (with its text).
    virtual bool connected() const = 0;
    virtual std::string errorText() const = 0;
};

using StringLookupFn = std::function<std::string(uint32_t id)>;
using WallClockFn = std::function<std::time_t()>;

class ClosedFileSyncs;
class FinishCommits;
class SyncFailures;

struct EngineContext {
    AppSettings* settings = nullptr;  // also the proxy list and the site rules
    SiteConnectionTable* sites = nullptr;
    SpeedLimiter* limiter = nullptr;  // handed to the transfer threads; may be null
    JobLock* jobLock = nullptr;
    MessageLoop* loop = nullptr;
    TransferThreads* threads = nullptr;  // the thread procedures and the running threads
    RetiredHandleBlocks* retiredBlocks = nullptr;
    RunnerHost* host = nullptr;  // may be null: nothing is told
    // Where WM_SAVE_DATABASE is posted (a RunnerHostWindow); 0: the host is
    // called directly.
    WindowId hostWindow = 0;
    const Clock* clock = nullptr;  // tick counts
    WallClockFn now;  // time of log lines and completion; std::time when empty
    StringLookupFn strings;  // active language; built-in English when empty
    DialUpMonitor* dialUp = nullptr;
    SmallFileInspector* smallFiles = nullptr;  // the small-file check; skipped when null
    const TlsClientContext* tls = nullptr;
    // The profile's cookie jar, whose cookies go with HTTP requests when the
    // settings send cookies; null: none.
    const CookieJar* cookies = nullptr;
    // Adds the mirror-list mirrors of a job's URL as alternate URLs; called
    // before a start when the job may look for mirrors. May be empty.
    std::function<void(DownloadJob&)> findListMirrors;
    // When set, a finished job's file is closed without its final sync and
    // handed here, for the front end's saver to sync before it records the
    // job as finished. Null: the sync happens at the close.
    ClosedFileSyncs* closedFileSyncs = nullptr;
    // When set, every failed sync of a job's file on the loop thread counts
    // here, so that the front end's saver holds back the images it has that
    // claim what the sync lost. Null: no saver syncs the same files.
    SyncFailures* syncFailures = nullptr;
    // When set, a finished file is synced and noted in this journal before
    // it leaves its ".kx!" name, so that a run killed before the database
    // recorded the finish completes the job at its next start.
    std::filesystem::path finishJournal;
    // When set (with finishJournal), a finished file's sync, note and
    // rename are handed here instead of being made on the loop thread; the
    // job completes when the front end passes the result to
    // JobRunner::FinishCommitted.
    FinishCommits* finishCommits = nullptr;
    // Test aid: called right after a finished file took its final name.
    std::function<void(const DownloadJob&)> afterFinalRename;
    // A handed-over FTP control connection idle longer than this is closed
    // and the next job logs in afresh.
    uint32_t ftpReuseIdleMs = 30000;
};

}  // namespace fetchora
