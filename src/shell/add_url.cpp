#include "shell/add_url.h"

#include "config/app_settings.h"
#include "model/job_database.h"
#include "model/job_defaults.h"

namespace fetchora {

AddUrlOutcome AddUrlToQueue(CZoviradDoc& doc, const AppSettings& settings, const std::string& url,
                            const std::string& referer, const std::string& comment, int32_t now)
{
    AddUrlOutcome outcome;
    JobLockGuard lock(doc.jobLock());
    std::unique_ptr<DownloadJob> fresh = doc.NewRecord(NodeKind::Job, JobDefaultsFromSettings(settings), now);
    if (!fresh->SetUrl(url))
        return outcome;
    // The site rules are consulted at creation too, so that the new record
    // already names the login it will use.
    fresh->RebuildUrlEntries(&settings.siteRules());
    // An empty referrer keeps the one the defaults give.
    if (!referer.empty())
        fresh->referer = referer;
    if (!comment.empty())
        fresh->SetComment(comment);

    for (DownloadJob* node : doc.tree().nodes()) {
        if (node->IsCategory() || node->url != fresh->url)
            continue;
        outcome.result = AddUrlResult::AlreadyListed;
        outcome.job = node;
        if (node->parent() == doc.downloading() && node->GetState() != JobState::Downloading) {
            node->SetStartMode(StartMode::Immediately);
            outcome.fillQueue = true;
        }
        return outcome;
    }

    ApplyDownloadRules(settings.downloadRules(), *fresh, doc.tree());
    outcome.job = doc.AddJob(std::move(fresh));
    if (outcome.job == nullptr)
        return outcome;
    outcome.result = AddUrlResult::Added;
    outcome.fillQueue = outcome.job->startMode == StartMode::Immediately;
    return outcome;
}

}  // namespace fetchora
