#pragma once
// The download queue: the jobs directly under the Downloading Category,
// started in list order, no more at a time than "SimJobs".
//
// The queue only decides. Starting a job, asking the scheduler and the site
// table, refreshing the list and posting messages go through `QueueHost`,
// which the main view implements with the runner behind it.
//
// Thread: loop thread. Every operation takes the job lock (recursive, so
// callers that already hold it may call in). Borrows the tree, the lock and
// the host; all three must outlive it.
#include <cstdint>

#include "model/category_tree.h"
#include "model/download_job.h"
#include "platform/job_lock.h"

namespace fetchora {

struct UrlEntry;
struct ProxyEntry;

// Message to the main view that runs FillQueue.
inline constexpr uint32_t kFillQueueMessage = 1243;  // WM_USER+219
// Message from the runner asking the view to move a job to the end of the
// queue; a non-zero reply means it was moved.
inline constexpr uint32_t kMoveToEndMessage = 1230;  // WM_USER+206
// Message to the frame: every download is done.
inline constexpr uint32_t kAllDoneMessage = 1134;  // WM_USER+110

// A failing job goes to the end of the queue after every this many retries.
inline constexpr int32_t kRetriesBeforeMoveToEnd = 10;

class QueueHost {
public:
    virtual ~QueueHost();

    // Whether the schedule's start window is open, so that jobs started by
    // the schedule may run.
    virtual bool scheduleWindowOpen() const = 0;
    // Whether the job's host has a site record, and whether that record has
    // no free connection left.
    virtual bool hasSiteRecord(const DownloadJob& job) const = 0;
    virtual bool siteFull(const DownloadJob& job) const = 0;

    // Starts the job (the runner's job Start).
    virtual void startJob(DownloadJob& job) = 0;
    // The job list shows the queue's new state.
    virtual void refreshList() = 0;
    // Posts kFillQueueMessage to the main view, so that the rest of the
    // queue starts after the current message.
    virtual void postFillQueue() = 0;
    // Gives the finished job's open FTP control connection to the next job
    // when it can use it (see canReuseFtpConnection).
    virtual void offerConnection(DownloadJob& finished, DownloadJob& next) = 0;
    // Tells the frame (kAllDoneMessage) that nothing runs and nothing waits
    // to start; scheduledJobsWaiting when a job still waits for the schedule.
    virtual void allDownloadsDone(bool scheduledJobsWaiting) = 0;
};

class JobQueue {
public:
    JobQueue(CComPtrTree& tree, JobLock& lock, QueueHost& host);

    // "SimJobs": jobs downloading at once.
    void setSimJobs(int32_t simJobs) { m_simJobs = simJobs; }
    int32_t simJobs() const { return m_simJobs; }

    // The first job under Downloading, in list order, that is Ready and
    // either starts Immediately or by Schedule while the schedule's window is
    // open; with checkSite, jobs whose site has no free connection are
    // passed over. None when no job qualifies.
    DownloadJob* NextJobToStart(bool checkSite) const;

    // Starts the next job when a slot is free and returns the slots still
    // free. With chain, free slots left over are filled later (message 1243).
    int32_t StartNext(bool chain);

    // Starts as many jobs as there are free slots.
    void FillQueue();

    // The reply to kMoveToEndMessage: when another job can start, the failing
    // job becomes the last of the queue and the reply is true; otherwise it
    // keeps its place and retries there.
    bool MoveToEndOfQueue(DownloadJob& job);

    // After a job stopped (message 1229): the next job may take over the
    // finished job's FTP connection (a connection nobody takes is closed); the next start runs at once, or at the
    // view's next one-second tick when the finished job's site must first
    // release its connection. Reports when all downloads are done.
    void JobStopped(DownloadJob& finished);

    // The view's one-second timer (1002): runs a start deferred by JobStopped.
    void OnTimerTick();
    bool startDeferred() const { return m_startDeferred; }

private:
    DownloadJob* downloading() const;
    void reportIfAllDone();

    CComPtrTree& m_tree;
    JobLock& m_lock;
    QueueHost& m_host;
    int32_t m_simJobs = 3;
    bool m_startDeferred = false;
};

// Whether the retry decision asks for the move to the end of the queue: the
// option ("Move Job to bottom after 10 retries") is on, the job has a single
// URL and its retries have just reached a multiple of ten.
bool shouldMoveToEndAfterRetries(bool optionOn, std::size_t urlCount, int32_t retryCount);

// Whether an open FTP control connection of a finished job can serve the next
// one: both FTP, same host, port and user name, through the same proxy (or
// both direct).
bool canReuseFtpConnection(const UrlEntry& finished, const ProxyEntry* finishedProxy, const UrlEntry& next,
                           const ProxyEntry* nextProxy);

// Moves the finished job's FTP connection (its reusedConnection) to the next
// job when the next job's main URL is on the same host and port with the
// same user name and the next job holds none yet. The proxy is compared when
// the next job's part takes the connection, once its proxy is chosen.
// The next job's user name includes the login of its site rule when
// siteRules is given. Loop thread, under the job lock. True when it was moved.
bool OfferFtpConnection(DownloadJob& finished, DownloadJob& next, const SiteRuleList* siteRules = nullptr);

}  // namespace fetchora
