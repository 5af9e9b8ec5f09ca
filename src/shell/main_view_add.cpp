// The add-download operation of the main view.
#include <ctime>
#include <unordered_set>

#include "config/app_settings.h"
#include "engine/job_runner.h"
#include "explorer/explorer_fetch_results.h"
#include "lang/string_table.h"
#include "model/browser_job_fields.h"
#include "model/job_database.h"
#include "model/job_defaults.h"
#include "platform/desktop_actions.h"
#include "platform/text_utils.h"
#include "shell/application.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"

namespace fetchora {

namespace {

inline constexpr uint32_t kStrAddNewDownload = 61229;  // "Add new download"
constexpr std::string_view kUrlInList = "URL now in download list.";

std::vector<std::string> textLines(std::string_view text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = trimBoth(text.substr(start, end - start), " \t\r");
        if (!line.empty())
            lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

// What a batch's later URLs take from its first job.
void copyTemplate(DownloadJob& job, const DownloadJob& model)
{
    job.categoryId = model.categoryId;
    job.SetSaveFolder(model.saveFolder);
    // A name the user gave the first file is not copied: the later URLs are
    // other files, and one name for all of them would make them collide.
    job.splitCount = model.splitCount;
    job.startMode = model.startMode;
    if (job.hasTexts() || !model.userName().empty() || !model.password().empty()) {
        job.editTexts().userName = model.userName();
        job.editTexts().password = model.password();
    }
    job.optionFlags = (job.optionFlags & ~kOptUseLogin) | (model.optionFlags & kOptUseLogin);
    job.httpProxyId = model.httpProxyId;
    job.ftpProxyId = model.ftpProxyId;
    job.streamProxyId = model.streamProxyId;
    job.referer = model.referer;
}

// "&Use new settings" of the duplicate dialog: what the user set for the new
// job replaces the old job's settings; its data stays.
void copySettings(DownloadJob& existing, const DownloadJob& added)
{
    copyTemplate(existing, added);
    existing.alternateUrls = added.alternateUrls;
    if (!JobUserAgent(added).empty())
        SetJobUserAgent(existing, JobUserAgent(added));
}

}  // namespace

AddDownloadOutcome MainView::addDownload(const AddDownloadRequest& request)
{
    AddDownloadOutcome outcome;
    AppSettings& settings = m_app.settings();
    const int32_t now = static_cast<int32_t>(std::time(nullptr));

    std::unique_ptr<DownloadJob> fresh;
    {
        JobLockGuard lock(m_app.jobLock());
        fresh = m_doc->NewRecord(NodeKind::Job, JobDefaultsFromSettings(settings), now);
        std::vector<std::string> lines
            = request.multiLine ? textLines(request.text) : std::vector<std::string>{request.text};
        const bool parsed = !lines.empty() && fresh->SetUrl(trimBoth(lines.front(), " \t\r\n"));
        if (!parsed && !request.showDialog)
            return outcome;
        for (size_t i = 1; i < lines.size(); ++i) {
            DownloadJob probe;
            if (probe.SetUrl(lines[i]) && probe.url != fresh->url)
                fresh->alternateUrls.push_back({probe.url, 0});
        }
        if (!request.referer.empty())
            fresh->referer = request.referer;
        if (!request.comment.empty())
            fresh->SetComment(request.comment);
        if (parsed)
            SetJobUserAgent(*fresh, request.userAgent);
        // Before the download rules: a rule by extension sees the name the
        // file will have.
        if (parsed && !request.fileName.empty())
            fresh->SetFileName(SuggestedFileName(request.fileName));
        if (request.templateJob != nullptr)
            copyTemplate(*fresh, *request.templateJob);
        else if (parsed)
            ApplyDownloadRules(settings.downloadRules(), *fresh, m_doc->tree());
    }

    if (request.showDialog) {
        m_host.bringToFront();
        if (!m_prompts.editJob(std::string(builtinString(kStrAddNewDownload)), *fresh)) {
            outcome.result = AddDownloadResult::Cancelled;
            return outcome;
        }
        // The dialog may have changed the URL; the record must still be one
        // the engine can fetch.
        DownloadJob probe;
        if (fresh->url.empty() || !probe.SetUrl(fresh->url))
            return outcome;
    }
    fresh->RebuildUrlEntries(&settings.siteRules());

    JobLockGuard lock(m_app.jobLock());
    DownloadJob* existing = nullptr;
    for (DownloadJob* node : m_doc->tree().nodes()) {
        if (!node->IsCategory() && node->url == fresh->url) {
            existing = node;
            break;
        }
    }
    if (existing != nullptr) {
        outcome.result = AddDownloadResult::AlreadyListed;
        outcome.job = existing;
        if (existing->parent() == m_doc->downloading()) {
            if (request.showDialog)
                m_prompts.message(std::string(kUrlInList), MessageIcon::Warning);
            if (!isActive(*existing)) {
                existing->SetStartMode(StartMode::Immediately);
                MessageWindow::post(kFillQueueMessage);
            }
            return outcome;
        }
        const DuplicateAnswer answer = m_prompts.askDuplicateUrl(*existing, *fresh);
        if (answer.choice == DuplicateChoice::Cancel)
            return outcome;
        if (!fresh->comment().empty() && fresh->comment() != existing->comment())
            existing->SetComment(existing->comment().empty() ? fresh->comment()
                                                             : existing->comment() + "\r\n" + fresh->comment());
        if (answer.useNewSettings)
            copySettings(*existing, *fresh);
        if (answer.choice == DuplicateChoice::CheckForUpdate)
            recheckJob(*existing);
        else
            redownloadJob(*existing);
        m_queue->FillQueue();
        m_dirty = true;
        return outcome;
    }

    DownloadJob* added = m_doc->AddJob(std::move(fresh));
    if (added == nullptr)
        return outcome;
    outcome.result = AddDownloadResult::Added;
    outcome.job = added;
    if (m_list->openCategory() == m_doc->downloading())
        m_list->markDirty();
    m_dirty = true;
    if (added->startMode == StartMode::Immediately) {
        // The record reaches the disk before the job's file does: a kill
        // right after the start would otherwise leave a file no job names,
        // and the same URL added again would end under another name. The
        // jobs added in one go share one save, made once they are all in.
        if (m_startsAfterSave.empty())
            MessageWindow::post(kStartAddedMessage, 0, static_cast<intptr_t>(m_generation));
        m_startsAfterSave.push_back(added->id);
    }
    playSoundOption(static_cast<int>(OptionId::SoundAdded), -1);
    return outcome;
}

void MainView::startAddedJobs(uintptr_t generation)
{
    std::vector<int32_t> ids;
    ids.swap(m_startsAfterSave);
    // Jobs added to a database since closed were saved with it.
    if (generation != m_generation || m_closing || ids.empty())
        return;
    save();
    for (const int32_t id : ids) {
        DownloadJob* job = m_doc->tree().FindById(id);
        if (job && !job->IsCategory() && job->startMode == StartMode::Immediately)
            startJob(*job, false);
    }
}

void MainView::recordAddedJobs()
{
    if (!m_startsAfterSave.empty()) {
        // The posted start finds nothing left to do.
        startAddedJobs(m_generation);
        return;
    }
    if (m_dirty)
        save();
}

void MainView::recheckJob(DownloadJob& job)
{
    if (isActive(job) || !job.MarkForRecheck())
        return;
    if (job.parent() != m_doc->downloading()) {
        m_doc->tree().Move(m_doc->downloading(), &job);
        m_list->rebuild();
    }
}

void MainView::redownloadJob(DownloadJob& job)
{
    if (job.GetState() == JobState::Downloading)
        JobRunner::Stop(job, StopReason::Silent);
    // A stopped job keeps its runner until it is released: the reset needs
    // the output file closed.
    job.resetRunner();
    if (!job.ResetForRedownload())
        return;
    if (job.parent() != m_doc->downloading()) {
        m_doc->tree().Move(m_doc->downloading(), &job);
        m_list->rebuild();
    }
}

void MainView::ftpDirectoryListed(DownloadJob& job, const std::vector<FtpListEntry>& entries)
{
    JobLockGuard lock(m_app.jobLock());
    if (!m_doc->tree().Contains(&job) || job.IsCategory())
        return;
    // The server listed the file itself: the URL named a file after all.
    if (entries.size() == 1 && entries.front().name == job.GetDisplayName())
        return;
    std::string folderUrl = job.url;
    if (folderUrl.empty() || folderUrl.back() != '/')
        folderUrl += '/';
    std::unordered_set<std::string> listed;
    for (const DownloadJob* node : m_doc->tree().nodes()) {
        if (!node->IsCategory())
            listed.insert(node->url);
    }
    const std::string folder = job.saveFolder;
    const uint32_t flags = job.optionFlags;
    const int32_t now = static_cast<int32_t>(std::time(nullptr));
    bool first = true;
    for (const FtpListEntry& entry : entries) {
        if (entry.name.empty() || entry.name == "." || entry.name == "..")
            continue;
        std::string url = folderUrl + EncodeListedName(entry.name, false);
        if (entry.isDirectory)
            url += '/';
        if (listed.count(url) != 0)
            continue;
        DownloadJob* target = &job;
        std::unique_ptr<DownloadJob> fresh;
        if (!first) {
            fresh = m_doc->NewRecord(NodeKind::Job, JobDefaultsFromSettings(m_app.settings()), now);
            copyTemplate(*fresh, job);
            fresh->optionFlags |= flags & (kOptFtpCreateSubdirectories | kOptCreateCategory);
            target = fresh.get();
        }
        if (!target->SetUrl(url))
            continue;
        if (entry.isDirectory) {
            // The name is one path component of the server's: kept safe.
            const std::string safe = SanitizeFileName(entry.name);
            if (flags & kOptFtpCreateSubdirectories)
                target->SetSaveFolder(JoinPath(folder, safe));
            if (flags & kOptCreateCategory) {
                DownloadJob* home = job.GetCategory() ? job.GetCategory() : m_doc->root();
                if (DownloadJob* category = m_doc->AddCategory(safe, JoinPath(folder, safe), home))
                    target->SetCategory(category->id);
            }
        }
        target->RebuildUrlEntries(&m_app.settings().siteRules());
        listed.insert(url);
        if (fresh)
            m_doc->AddJob(std::move(fresh));
        first = false;
    }
    m_list->markDirty();
    m_dirty = true;
    MessageWindow::post(kFillQueueMessage);
}

}  // namespace fetchora
