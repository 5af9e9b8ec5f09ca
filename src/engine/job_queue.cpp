#include "engine/job_queue.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "net/url_entry.h"
#include "platform/text_utils.h"

namespace fetchora {

QueueHost::~QueueHost() = default;

JobQueue::JobQueue(CComPtrTree& tree, JobLock& lock, QueueHost& host) : m_tree(tree), m_lock(lock), m_host(host)
{
}

DownloadJob* JobQueue::downloading() const
{
    return m_tree.FindCategory(CategoryKind::Downloading);
}

DownloadJob* JobQueue::NextJobToStart(bool checkSite) const
{
    JobLockGuard guard(m_lock);
    const DownloadJob* queue = downloading();
    if (queue == nullptr)
        return nullptr;
    for (DownloadJob* job = queue->firstChild(); job != nullptr; job = job->nextSibling()) {
        if (job->IsCategory() || job->GetState() != JobState::Ready)
            continue;
        if (job->startMode == StartMode::Schedule) {
            if (!m_host.scheduleWindowOpen())
                continue;
        } else if (job->startMode != StartMode::Immediately) {
            continue;
        }
        if (checkSite && m_host.siteFull(*job))
            continue;
        return job;
    }
    return nullptr;
}

int32_t JobQueue::StartNext(bool chain)
{
    JobLockGuard guard(m_lock);
    int32_t free = m_simJobs - m_tree.CountRunning();
    if (free > 0) {
        if (DownloadJob* job = NextJobToStart(true)) {
            m_host.startJob(*job);
            --free;
        }
    }
    m_host.refreshList();
    if (chain && free > 0)
        m_host.postFillQueue();
    return free;
}

void JobQueue::FillQueue()
{
    JobLockGuard guard(m_lock);
    const int32_t slots = m_simJobs - m_tree.CountRunning();
    for (int32_t i = 0; i < slots; ++i) {
        // Nothing left that may start: the remaining passes would find
        // nothing either.
        if (NextJobToStart(true) == nullptr)
            break;
        StartNext(false);
    }
}

bool JobQueue::MoveToEndOfQueue(DownloadJob& job)
{
    JobLockGuard guard(m_lock);
    DownloadJob* queue = downloading();
    if (queue == nullptr || !m_tree.Contains(&job))
        return false;
    const DownloadJob* other = NextJobToStart(true);
    if (other == nullptr || other == &job)
        return false;
    const bool moved = job.parent() == queue ? m_tree.MoveToEnd(&job) : m_tree.Move(queue, &job);
    if (moved)
        m_host.refreshList();
    return moved;
}

void JobQueue::JobStopped(DownloadJob& finished)
{
    JobLockGuard guard(m_lock);
    DownloadJob* next = NextJobToStart(false);
    if (next != nullptr && next != &finished)
        m_host.offerConnection(finished, *next);
    // A connection the next job did not take is nobody's.
    if (finished.run().reusedConnection)
        finished.run().reusedConnection->withdraw();
    finished.run().reusedConnection.reset();
    if (next != nullptr && m_host.hasSiteRecord(finished)) {
        // The site's connection count is released by the stop that is still
        // under way; starting now could find the site full.
        m_startDeferred = true;
        return;
    }
    StartNext(true);
    reportIfAllDone();
}

void JobQueue::OnTimerTick()
{
    JobLockGuard guard(m_lock);
    if (!m_startDeferred)
        return;
    m_startDeferred = false;
    StartNext(true);
    reportIfAllDone();
}

void JobQueue::reportIfAllDone()
{
    if (m_tree.CountRunning() > 0 || NextJobToStart(false) != nullptr)
        return;
    bool scheduledJobsWaiting = false;
    if (const DownloadJob* queue = downloading()) {
        for (const DownloadJob* job = queue->firstChild(); job != nullptr; job = job->nextSibling()) {
            if (!job->IsCategory() && job->GetState() == JobState::Ready && job->startMode == StartMode::Schedule)
                scheduledJobsWaiting = true;
        }
    }
    m_host.allDownloadsDone(scheduledJobsWaiting);
}

bool shouldMoveToEndAfterRetries(bool optionOn, std::size_t urlCount, int32_t retryCount)
{
    return optionOn && urlCount == 1 && retryCount > 0 && retryCount % kRetriesBeforeMoveToEnd == 0;
}

bool canReuseFtpConnection(const UrlEntry& finished, const ProxyEntry* finishedProxy, const UrlEntry& next,
                           const ProxyEntry* nextProxy)
{
    return finished.service == ServiceCode::Ftp && next.service == ServiceCode::Ftp
        && equalsIgnoringCase(finished.host, next.host) && finished.port == next.port
        && finished.userName == next.userName && finishedProxy == nextProxy;
}

bool OfferFtpConnection(DownloadJob& finished, DownloadJob& next, const SiteRuleList* siteRules)
{
    if (!finished.run().reusedConnection || next.run().reusedConnection)
        return false;
    next.RebuildUrlEntries(siteRules);
    if (next.run().urlEntries.empty())
        return false;
    const FtpHandover& connection = *finished.run().reusedConnection;
    // Same host, port and user; the proxy is judged by the runner.
    if (!canReuseFtpConnection(connection.route(), nullptr, next.run().urlEntries.front(), nullptr))
        return false;
    next.run().reusedConnection = std::move(finished.run().reusedConnection);
    return true;
}

}  // namespace fetchora
