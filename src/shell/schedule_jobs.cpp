#include "shell/schedule_jobs.h"

#include "model/download_job.h"

namespace fetchora {

namespace {

bool takesSchedule(const DownloadJob& job)
{
    return !job.IsCategory() && !job.IsComplete();
}

}  // namespace

std::vector<DownloadJob*> ScheduleCandidates(const std::vector<DownloadJob*>& selected, const DownloadJob& downloading)
{
    std::vector<DownloadJob*> candidates;
    for (DownloadJob* job : selected) {
        if (job != nullptr && job->parent() == &downloading && takesSchedule(*job))
            candidates.push_back(job);
    }
    return candidates;
}

bool ScheduleArmed(const DownloadJob& downloading)
{
    for (const DownloadJob* job = downloading.firstChild(); job; job = job->nextSibling()) {
        if (takesSchedule(*job) && job->startMode == StartMode::Schedule)
            return true;
    }
    return false;
}

int ScheduledJobCount(const DownloadJob& downloading)
{
    int count = 0;
    for (const DownloadJob* job = downloading.firstChild(); job; job = job->nextSibling()) {
        if (takesSchedule(*job) && job->startMode == StartMode::Schedule)
            ++count;
    }
    return count;
}

std::vector<DownloadJob*> SetStartBySchedule(const std::vector<DownloadJob*>& jobs, bool bySchedule)
{
    std::vector<DownloadJob*> changed;
    for (DownloadJob* job : jobs) {
        if (job == nullptr || !takesSchedule(*job))
            continue;
        const bool scheduled = job->startMode == StartMode::Schedule;
        if (bySchedule == scheduled)
            continue;
        job->SetStartMode(bySchedule ? StartMode::Schedule : StartMode::Manual);
        changed.push_back(job);
    }
    return changed;
}

}  // namespace fetchora
