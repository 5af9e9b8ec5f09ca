// The main window's commands: when each is available and what it does.
#include <algorithm>
#include <filesystem>
#include <unordered_set>

#include "config/app_settings.h"
#include "engine/job_runner.h"
#include "lang/string_table.h"
#include "lists/completed_file_export.h"
#include "lists/database_merge.h"
#include "lists/url_list.h"
#include "model/database_file.h"
#include "model/job_database.h"
#include "model/job_defaults.h"
#include "model/range_refetch.h"
#include "platform/desktop_actions.h"
#include "platform/text_utils.h"
#include "shell/application.h"
#include "shell/download_defaults.h"
#include "shell/file_filters.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"
#include "shell/shared_job_sheet.h"
#include "shell/shell_texts.h"
#include "shell/start_database.h"
#include "shell/zip_check.h"

namespace fetchora {

namespace {

// Messages by their string-table id, looked up when shown so that the
// current language reaches them.
constexpr uint32_t kCannotMoveRunning = 40301;  // "Can not move downloading job."
constexpr uint32_t kAlsoMoveFiles = 61268;  // "Also move downloaded file?"
constexpr uint32_t kSomeFilesNotMoved = 40302;  // "Some file(s) can't move!"
constexpr uint32_t kSpecialCategory = 61224;  // "Can't move or delete special Category!"
constexpr uint32_t kCannotMoveCategory = 61226;  // "Can't move Category!"
constexpr uint32_t kDeleteCategory = 61225;  // "Delete Category and all it's sub-categories?"
constexpr uint32_t kDeleteRunning = 40303;  // "Are you sure you want to delete downloading job(s)?"
constexpr uint32_t kItemNotFound = 40306;  // "Item not found!"
constexpr uint32_t kDownloadAgain = 40304;  // "Downloading again will delete current downloaded files. ..."
constexpr uint32_t kFileMissing = 40305;  // "File is missing, browse for it?"

std::string lower(std::string_view text)
{
    return asciiLower(text);
}

// The base name and the extension of a file name, split at the last ".".
std::pair<std::string, std::string> nameParts(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {std::string(name), {}};
    return {std::string(name.substr(0, dot)), std::string(name.substr(dot + 1))};
}

// Find's rule for one part of a name: the text matches the part's start;
// a "*" ends what must match.
bool partMatches(std::string_view part, std::string_view pattern)
{
    const size_t star = pattern.find('*');
    if (star != std::string_view::npos)
        pattern = pattern.substr(0, star);
    return part.substr(0, std::min(part.size(), pattern.size())) == pattern && part.size() >= pattern.size();
}

// The name a job's file takes when the job is renamed to `wanted` (as
// DownloadJob::SetFileName stores it).
std::string renamedFileName(const DownloadJob& job, std::string_view wanted)
{
    const std::string stored = wanted.empty() ? std::string() : SanitizeFileName(wanted);
    return SanitizeFileName(stored.empty() ? job.defaultName() : stored);
}

}  // namespace

// The name field of Find: the text is taken as a base name and an extension,
// each compared with the start of the file's own; a text without "." must be
// found in the base name, and a "*" ends the part of each that must match.
bool FindNameMatches(std::string_view fileName, std::string_view text)
{
    const std::string name = lower(fileName);
    const std::string wanted = lower(text);
    if (wanted.find('.') == std::string::npos) {
        const size_t star = wanted.find('*');
        const std::string head = wanted.substr(0, star);
        return name.find(head) != std::string::npos;
    }
    const auto [base, extension] = nameParts(name);
    const auto [wantedBase, wantedExtension] = nameParts(wanted);
    return partMatches(base, wantedBase) && partMatches(extension, wantedExtension);
}

std::vector<DownloadJob*> MainView::selection() const
{
    return m_list ? m_list->selectedJobs() : std::vector<DownloadJob*>{};
}

DownloadJob* MainView::focused() const
{
    return m_list ? m_list->focusedJob() : nullptr;
}

bool MainView::downloadOpen() const
{
    return m_list && m_list->openCategory() == m_doc->downloading();
}

bool MainView::isEnabled(ViewCommand command, CommandKeys keys) const
{
    if (!m_doc || !m_list)
        return false;
    JobLockGuard lock(m_app.jobLock());
    const std::vector<DownloadJob*> selected = selection();
    const DownloadJob* job = focused();
    const DownloadJob* category = m_list->openCategory();
    auto anySelected = [&](bool active) {
        return std::any_of(selected.begin(), selected.end(),
                           [&](const DownloadJob* j) { return isActive(*j) == active; });
    };
    switch (command) {
    case ViewCommand::ExportFiles:
    case ViewCommand::ExportList:
    case ViewCommand::MoveJobs:
    case ViewCommand::Delete:
    case ViewCommand::CommentAsFileName:
    case ViewCommand::CopyUrls: return !selected.empty();
    case ViewCommand::NewCategory:
    case ViewCommand::CategoryProperties:
    case ViewCommand::OpenCategory: return category != nullptr;
    case ViewCommand::MoveCategory:
    case ViewCommand::DeleteCategory: return category != nullptr && !category->IsSpecialCategory();
    case ViewCommand::PasteUrl: return !m_host.clipboardText().empty();
    case ViewCommand::FindNext: return m_find.has_value();
    case ViewCommand::Start: return downloadOpen() && (keys.ctrl ? !selected.empty() : anySelected(false));
    case ViewCommand::Pause: return downloadOpen() && anySelected(true);
    case ViewCommand::DeleteAll: return m_list->rowCount() > 0;
    case ViewCommand::Rename:
    case ViewCommand::Properties: return job != nullptr && !isActive(*job);
    case ViewCommand::SaveAsDefault: return job != nullptr;
    case ViewCommand::SiteProperties:
    case ViewCommand::Comment:
    case ViewCommand::BrowseWithSiteExplorer: return job != nullptr;
    case ViewCommand::BrowseReferrer: return job != nullptr && !job->referer.empty();
    case ViewCommand::MoveUp:
    case ViewCommand::MoveDown:
    case ViewCommand::MoveToTop:
    case ViewCommand::MoveToBottom: return downloadOpen() && !selected.empty();
    case ViewCommand::CheckForUpdate:
    case ViewCommand::OpenFile: return job != nullptr && job->IsComplete();
    case ViewCommand::DownloadAgain:
    case ViewCommand::FixZip: return job != nullptr && (!downloadOpen() || job->IsComplete());
    case ViewCommand::VirusScan:
        return job != nullptr && job->IsComplete() && !m_app.settings().GetOptionText(OptionId::VirusScanner).empty();
    case ViewCommand::OpenFolder: return job != nullptr || category != nullptr;
    case ViewCommand::DetailStart:
        return m_list->detailJob() != nullptr && !isActive(*m_list->detailJob()) && !m_list->detailJob()->IsComplete();
    case ViewCommand::DetailStop:
    case ViewCommand::IncreaseParts:
    case ViewCommand::DecreaseParts:
        return m_list->detailJob() != nullptr && m_list->detailJob()->GetState() == JobState::Downloading;
    case ViewCommand::DetailRestart: return m_list->detailJob() != nullptr && !m_list->detailJob()->IsComplete();
    case ViewCommand::AddLinks:
    case ViewCommand::OpenLink:
        // The links pane belongs to the window; it runs these itself.
        return false;
    default: return true;
    }
}

bool MainView::run(ViewCommand command, CommandKeys keys)
{
    if (!isEnabled(command, keys))
        return false;
    switch (command) {
    case ViewCommand::NewDatabase:
    case ViewCommand::OpenDatabase: {
        std::filesystem::path file;
        if (command == ViewCommand::OpenDatabase) {
            auto chosen = m_prompts.chooseOpenFile(builtinText(kStrTitleOpenDatabase), databaseFileFilter());
            if (!chosen)
                return true;
            file = *chosen;
        }
        replaceDatabase(file);
        return true;
    }
    case ViewCommand::SaveDatabase:
        if (!m_databasePath.empty()) {
            save();
            return true;
        }
        [[fallthrough]];
    case ViewCommand::SaveDatabaseAs: {
        auto chosen = m_prompts.chooseSaveFile(builtinText(kStrTitleSaveAs), databaseFileFilter(), "Default.kxd");
        if (!chosen)
            return true;
        m_databasePath = *chosen;
        // Finishes from now on go to the new file's journal; the old one
        // stays true to the old file.
        useJournalOf(m_databasePath);
        if (save()) {
            RememberRecentFile(m_app.registry(), m_databasePath);
            m_app.registry().flush();
        }
        return true;
    }
    case ViewCommand::MergeDatabase: mergeDatabase(); return true;
    case ViewCommand::ExportFiles: exportFiles(); return true;
    case ViewCommand::ImportList: importList(); return true;
    case ViewCommand::ExportList: exportList(); return true;
    case ViewCommand::SelectAll: m_list->selectAll(); break;
    case ViewCommand::InvertSelection: m_list->invertSelection(); break;
    case ViewCommand::Find: {
        auto request = m_prompts.askFind(m_find.value_or(FindRequest{}));
        if (request) {
            m_find = *request;
            findNext(keys.shift);
        }
        break;
    }
    case ViewCommand::FindNext: findNext(keys.shift); break;
    case ViewCommand::NewDownload: {
        AddDownloadRequest request;
        request.showDialog = true;
        addDownload(request);
        break;
    }
    case ViewCommand::PasteUrl: pasteUrl(); break;
    case ViewCommand::Start: startSelected(keys.ctrl); break;
    case ViewCommand::Pause: pauseSelected(); break;
    case ViewCommand::StartAll: startAll(); break;
    case ViewCommand::PauseAll: pauseAll(); break;
    case ViewCommand::MoveJobs: {
        DownloadJob* target = m_prompts.chooseCategory(builtinText(kStrTitleMove), builtinText(kStrMoveToCategory));
        if (target != nullptr)
            moveSelectedJobs(*target);
        break;
    }
    case ViewCommand::Delete: deleteJobs(selection(), keys.shift || m_list->openCategory() == m_doc->deleted()); break;
    case ViewCommand::DeleteAll: {
        std::vector<DownloadJob*> all;
        for (size_t row = 0; row < m_list->rowCount(); ++row)
            all.push_back(m_list->job(row));
        deleteJobs(all, keys.shift || m_list->openCategory() == m_doc->deleted());
        break;
    }
    case ViewCommand::Rename: renameFocused(); break;
    case ViewCommand::CommentAsFileName: commentAsFileName(); break;
    case ViewCommand::Comment: editComment(); break;
    case ViewCommand::Properties: properties(); break;
    case ViewCommand::DefaultProperties: {
        DownloadJob sample;
        {
            JobLockGuard lock(m_app.jobLock());
            MakeDefaultsSample(sample, m_app.settings(), &m_doc->tree());
        }
        if (m_prompts.editDefaults(builtinText(kStrTitleDefaultProperties), sample)) {
            JobLockGuard lock(m_app.jobLock());
            SaveJobAsDefaults(m_app, sample, &m_doc->tree());
        }
        break;
    }
    case ViewCommand::SaveAsDefault: {
        JobLockGuard lock(m_app.jobLock());
        SaveJobAsDefaults(m_app, *focused(), &m_doc->tree());
        break;
    }
    case ViewCommand::CopyUrls: copyUrls(); break;
    case ViewCommand::MoveUp:
    case ViewCommand::MoveDown:
    case ViewCommand::MoveToTop:
    case ViewCommand::MoveToBottom: reorder(command); break;
    case ViewCommand::CheckForUpdate: {
        JobLockGuard lock(m_app.jobLock());
        recheckJob(*focused());
        m_queue->FillQueue();
        m_dirty = true;
        break;
    }
    case ViewCommand::DownloadAgain: downloadAgain(); break;
    case ViewCommand::OpenFile: openFile(); break;
    case ViewCommand::FixZip: fixZip(); break;
    case ViewCommand::VirusScan: virusScan(*focused(), VirusScanTrigger::Command); break;
    case ViewCommand::OpenFolder: openFolder(); break;
    case ViewCommand::BrowseReferrer: m_desktop.open(focused()->referer); break;
    case ViewCommand::NewCategory: newCategory(); break;
    case ViewCommand::MoveCategory: moveCategory(); break;
    case ViewCommand::DeleteCategory: deleteCategory(); break;
    case ViewCommand::CategoryProperties: categoryProperties(); break;
    case ViewCommand::DetailStart: startJob(*m_list->detailJob(), false); break;
    case ViewCommand::DetailStop: JobRunner::Stop(*m_list->detailJob(), StopReason::User); break;
    case ViewCommand::DetailRestart: {
        DownloadJob& job = *m_list->detailJob();
        if (job.GetState() == JobState::Downloading)
            JobRunner::Stop(job, StopReason::User);
        m_restartAfterStop.insert(job.id);
        if (job.GetState() != JobState::Downloading)
            startJob(job, false);
        break;
    }
    case ViewCommand::IncreaseParts: changeSplit(+1); break;
    case ViewCommand::DecreaseParts: changeSplit(-1); break;
    case ViewCommand::SpeedUnlimited: m_app.chooseSpeedMode(SpeedMode::Unlimited); break;
    case ViewCommand::SpeedManual: m_app.chooseSpeedMode(SpeedMode::Manual); break;
    case ViewCommand::SpeedAutomatic: m_app.chooseSpeedMode(SpeedMode::Automatic); break;
    case ViewCommand::RememberSpeedMode:
        m_app.changeSettings([](AppSettings& settings) {
            settings.SetOption(OptionId::RememberSpeedMode,
                               settings.GetOption(OptionId::RememberSpeedMode) > 0 ? 0 : 1);
        });
        break;
    case ViewCommand::ShutDownWhenDone:
    case ViewCommand::HangUpWhenDone:
    case ViewCommand::RedialIfDisconnected: {
        const OptionId option = command == ViewCommand::ShutDownWhenDone ? OptionId::ShutDownWhenDone
            : command == ViewCommand::HangUpWhenDone                     ? OptionId::HangUpWhenDone
                                                                         : OptionId::Redial;
        m_app.changeSettings(
            [option](AppSettings& settings) { settings.SetOption(option, settings.GetOption(option) > 0 ? 0 : 1); });
        break;
    }
    default:
        // Commands that only open a dialog of their own.
        m_prompts.openDialog(std::to_string(static_cast<uint32_t>(command)));
        break;
    }
    deliverListChanges();
    return true;
}

std::optional<ViewCommand> MainView::doubleClick(DownloadJob& job)
{
    const AppSettings& settings = m_app.settings();
    auto pick = [](int32_t setting, std::optional<ViewCommand> first) -> std::optional<ViewCommand> {
        switch (setting) {
        case 0: return first;
        case 1: return ViewCommand::Properties;
        case 2: return ViewCommand::Comment;
        }
        return std::nullopt;
    };
    std::optional<ViewCommand> command;
    switch (job.GetState()) {
    case JobState::Ready: command = pick(settings.GetOption(OptionId::DoubleClickRunning), ViewCommand::Start); break;
    case JobState::Downloading:
        if (settings.GetOption(OptionId::DoubleClickRunning) == 0)
            command = ViewCommand::Pause;
        break;
    case JobState::Completed:
        command = pick(settings.GetOption(OptionId::DoubleClickDownloaded), ViewCommand::OpenFile);
        break;
    case JobState::Failed:
        command = pick(settings.GetOption(OptionId::DoubleClickFailed), ViewCommand::OpenFolder);
        break;
    }
    if (command) {
        m_list->setSelection({&job});
        m_list->setFocusedJob(&job);
        run(*command);
    }
    return command;
}

// ---- the database -------------------------------------------------------------------

void MainView::replaceDatabase(const std::filesystem::path& file)
{
    {
        JobLockGuard lock(m_app.jobLock());
        for (DownloadJob* node : m_doc->tree().nodes()) {
            if (!node->IsCategory() && node->GetState() == JobState::Downloading)
                JobRunner::Stop(*node, StopReason::Silent);
        }
    }
    save();
    // Stop notices of the old jobs still queued name ids of the old tree.
    ++m_generation;
    openDatabase(file);
    m_queue->FillQueue();
}

void MainView::mergeDatabase()
{
    auto chosen = m_prompts.chooseOpenFile(builtinText(kStrTitleMergeDatabase), databaseFileFilter());
    if (!chosen)
        return;
    CZoviradDoc source(m_app.jobLock());
    KxdLoadOptions options;
    options.defaults = JobDefaultsFromSettings(m_app.settings());
    MergeLoadResult loaded = LoadMergeSource(*chosen, source, options);
    if (!loaded.ok) {
        m_prompts.message(loaded.error, MessageIcon::Error);
        return;
    }
    // An empty database has nothing to take over: no dialog, no new categories.
    if (loaded.jobs == 0)
        return;
    std::unordered_set<const DownloadJob*> ticked = AllCategories(source);
    if (!m_prompts.chooseMergeCategories(*source.root(), ticked))
        return;
    JobLockGuard lock(m_app.jobLock());
    MergeDatabase(*m_doc, source, ticked);
    m_list->rebuild();
    m_dirty = true;
}

void MainView::exportFiles()
{
    auto folder = m_prompts.chooseFolder(builtinText(kStrTitleExport),
                                         m_app.settings().GetOptionText(OptionId::DefaultDownloadFolder));
    if (!folder)
        return;
    std::vector<const DownloadJob*> jobs;
    for (DownloadJob* job : selection())
        jobs.push_back(job);
    FileExportResult result = ExportCompletedFiles(jobs, *folder);
    if (!result.ok()) {
        std::string text(builtinString(kStrErrorOccured));
        for (const std::string& failure : result.failures)
            text += "\r\n" + failure;
        m_prompts.message(text, MessageIcon::Error);
    }
}

void MainView::importList()
{
    auto file = m_prompts.chooseOpenFile(builtinText(kStrTitleImportList), urlListFileFilter());
    if (!file)
        return;
    UrlListRead read = ReadUrlList(*file);
    if (!read.ok) {
        m_prompts.message(read.error, MessageIcon::Error);
        return;
    }
    switch (ActionForUrls(read.urls.size())) {
    case UrlListAction::NoValidUrl:
        m_prompts.message(std::string(builtinString(kStrNoValidUrl)), MessageIcon::Warning);
        return;
    case UrlListAction::AddOne: {
        AddDownloadRequest request;
        request.text = read.urls.front();
        request.showDialog = true;
        addDownload(request);
        return;
    }
    case UrlListAction::SelectLinks: {
        std::vector<LinkChoice> links;
        for (const std::string& url : read.urls)
            links.push_back({url, {}});
        addLinks(links, {}, 1);
        return;
    }
    }
}

void MainView::exportList()
{
    auto file = m_prompts.chooseSaveFile(builtinText(kStrTitleExportList), urlListFileFilter(), "list.lst");
    if (!file)
        return;
    std::vector<const DownloadJob*> jobs;
    {
        JobLockGuard lock(m_app.jobLock());
        for (DownloadJob* job : selection())
            jobs.push_back(job);
    }
    // The list file's error names the file already, as a list's read error does.
    std::string error;
    if (!WriteUrlList(*file, jobs, &error))
        m_prompts.message(error, MessageIcon::Error);
}

// ---- adding several links ---------------------------------------------------------------

void MainView::addLinks(const std::vector<LinkChoice>& links, const std::string& baseUrl, int32_t source)
{
    LinkListRequest request;
    request.baseUrl = baseUrl;
    request.source = source;
    for (const LinkChoice& link : links)
        request.links.push_back({link.url, link.text, {}, 0});
    handleLinks(request);
}

void MainView::addPaneLinks(const std::vector<LinkChoice>& links)
{
    if (links.empty())
        return;
    // The user picked these in the pane: no "Select links", and the job
    // whose page the pane shows (the detail job, not the focused row, which
    // may have moved on) is every link's referrer.
    LinkListRequest request;
    request.source = kListWithOwnReferers;
    std::string referer;
    {
        JobLockGuard lock(m_app.jobLock());
        if (const DownloadJob* page = m_list->detailJob())
            referer = page->url;
    }
    for (const LinkChoice& link : links)
        request.links.push_back({link.url, link.text, referer, 0});
    handleLinks(request);
}

// ---- starting and stopping ----------------------------------------------------------------

void MainView::renumberProxies(const std::vector<int>& renumbered)
{
    if (renumbered.empty())
        return;
    JobLockGuard lock(m_app.jobLock());
    auto follow = [&renumbered](uint16_t& id) {
        if (id < renumbered.size())
            id = static_cast<uint16_t>(renumbered[id]);
    };
    for (DownloadJob* node : m_doc->tree().nodes()) {
        if (node->IsCategory())
            continue;
        follow(node->httpProxyId);
        follow(node->ftpProxyId);
        follow(node->streamProxyId);
    }
    m_dirty = true;
}

void MainView::resumeJobs(const std::vector<int32_t>& ids)
{
    JobLockGuard lock(m_app.jobLock());
    for (const int32_t id : ids) {
        DownloadJob* job = m_doc->tree().FindById(id);
        if (job != nullptr && !job->IsCategory() && job->parent() == m_doc->downloading() && !job->IsComplete()) {
            // Started on its own later if no connection slot is free now.
            job->SetStartMode(StartMode::Immediately);
            startJob(*job, false);
        }
    }
    m_dirty = true;
}

void MainView::startSelected(bool forced)
{
    JobLockGuard lock(m_app.jobLock());
    for (DownloadJob* job : selection()) {
        if (!job->IsComplete() && !isActive(*job))
            startJob(*job, forced);
    }
    m_dirty = true;
}

void MainView::pauseSelected()
{
    JobLockGuard lock(m_app.jobLock());
    for (DownloadJob* job : selection()) {
        // A user stop makes the job Manual: the top-up leaves it alone.
        if (isActive(*job))
            JobRunner::Stop(*job, StopReason::User);
    }
    MessageWindow::post(kFillQueueMessage);
}

void MainView::startAll()
{
    JobLockGuard lock(m_app.jobLock());
    for (DownloadJob* job = m_doc->downloading()->firstChild(); job; job = job->nextSibling()) {
        if (job->IsCategory() || job->GetState() == JobState::Downloading || job->IsComplete())
            continue;
        if (job->startMode != StartMode::Schedule)
            job->SetStartMode(StartMode::Immediately);
    }
    m_pauseAll = false;
    m_queue->FillQueue();
    m_dirty = true;
}

void MainView::pauseAll()
{
    JobLockGuard lock(m_app.jobLock());
    // While the jobs stop, their finishing must start no others.
    m_pauseAll = true;
    for (DownloadJob* job = m_doc->downloading()->firstChild(); job; job = job->nextSibling()) {
        if (!job->IsCategory() && isActive(*job))
            JobRunner::Stop(*job, StopReason::User);
    }
    // The stop notices are queued behind this message; the flag goes when
    // they have been handled.
    MessageWindow::post(kPauseAllDoneMessage);
}

// ---- moving and deleting ---------------------------------------------------------------------

void MainView::moveSelectedJobs(DownloadJob& category)
{
    JobLockGuard lock(m_app.jobLock());
    std::vector<DownloadJob*> jobs = selection();
    if (!m_doc->tree().Contains(&category) || !category.IsCategory() || jobs.empty())
        return;
    if (downloadOpen() && std::any_of(jobs.begin(), jobs.end(), [](DownloadJob* j) { return isActive(*j); })) {
        m_prompts.message(std::string(builtinString(kCannotMoveRunning)), MessageIcon::Warning);
        return;
    }
    const int32_t moveSetting = m_app.settings().GetOption(OptionId::MoveDownloaded);
    bool moveFiles = moveSetting >= 2;
    if (moveSetting == 1)
        moveFiles = m_prompts.askYesNo(std::string(builtinString(kAlsoMoveFiles)));
    bool failed = false;
    std::vector<DownloadJob*> kept;
    for (DownloadJob* job : jobs) {
        if (isActive(*job)) {
            kept.push_back(job);
            continue;
        }
        if (moveFiles && !category.saveFolder.empty() && job->saveFolder != category.saveFolder
            && (!noteFileMove(*job, category.saveFolder, SanitizeFileName(job->GetDisplayName()))
                || !job->MoveFilesTo(category.saveFolder)))
            failed = true;
        job->SetCategory(category.id);
        m_doc->tree().Move(&category, job);
    }
    m_list->rebuild();
    m_list->setSelection(kept);
    m_dirty = true;
    // Jobs may have gone into the bin or out of it.
    afterDelete();
    if (failed)
        m_prompts.message(std::string(builtinString(kSomeFilesNotMoved)), MessageIcon::Warning);
}

void MainView::deleteJobs(std::vector<DownloadJob*> jobs, bool permanent)
{
    if (jobs.empty())
        return;
    AppSettings& settings = m_app.settings();
    PermanentDeleteAnswer choice;
    if (permanent) {
        choice = m_prompts.confirmPermanentDelete(settings.GetOption(OptionId::DeleteDownloadedFile) > 0,
                                                  settings.GetOption(OptionId::DeleteUnfinishedFile) > 0);
        if (!choice.confirmed)
            return;
        m_app.changeSettings([&](AppSettings& s) {
            s.SetOption(OptionId::DeleteDownloadedFile, choice.deleteFiles ? 1 : 0);
            s.SetOption(OptionId::DeleteUnfinishedFile, choice.deleteUnfinished ? 1 : 0);
        });
    }
    JobLockGuard lock(m_app.jobLock());
    if (std::any_of(jobs.begin(), jobs.end(), [](DownloadJob* j) { return isActive(*j); })
        && !m_prompts.askOkCancel(std::string(builtinString(kDeleteRunning))))
        return;
    for (DownloadJob* job : jobs) {
        if (!m_doc->tree().Contains(job))
            continue;
        m_list->remove(*job);
        if (m_list->detailJob() == job)
            m_list->setDetailJob(nullptr);
        if (job->GetState() == JobState::Downloading)
            JobRunner::Stop(*job, StopReason::Silent);
        if (permanent) {
            // The runner goes first: it closes the output file.
            job->resetRunner();
            std::error_code ignored;
            if (job->IsComplete() && choice.deleteFiles) {
                std::filesystem::remove(job->GetLocalPath(), ignored);
                if (settings.GetOption(OptionId::MoveLogWithFile) > 0)
                    std::filesystem::remove(job->GetLocalPath() + ".log", ignored);
            } else if (!job->IsComplete() && choice.deleteUnfinished && job->hasData) {
                std::filesystem::remove(job->GetWorkingPath(), ignored);
            }
            m_doc->tree().Remove(job);
        } else {
            m_doc->tree().Move(m_doc->deleted(), job);
        }
    }
    m_dirty = true;
    afterDelete();
}

void MainView::afterDelete()
{
    DownloadJob* bin = m_doc->deleted();
    if (bin != nullptr)
        bin->imageIndex = m_doc->tree().CountJobs(bin) > 0 ? kImageBinFull : kImageDeleted;
    m_list->markDirty();
}

// ---- order --------------------------------------------------------------------------------------

void MainView::reorder(ViewCommand command)
{
    JobLockGuard lock(m_app.jobLock());
    CComPtrTree& tree = m_doc->tree();
    std::vector<DownloadJob*> chosen = selection();
    std::unordered_set<DownloadJob*> picked(chosen.begin(), chosen.end());
    DownloadJob* queue = m_doc->downloading();
    switch (command) {
    case ViewCommand::MoveUp:
        // From the far end: a selected job swaps with an unselected
        // neighbour in the moving direction.
        for (DownloadJob* job = queue->firstChild(); job; job = job->nextSibling()) {
            if (picked.count(job) && job->prevSibling() && !picked.count(job->prevSibling()))
                tree.MoveUp(job);
        }
        break;
    case ViewCommand::MoveDown: {
        std::vector<DownloadJob*> jobs;
        for (DownloadJob* job = queue->firstChild(); job; job = job->nextSibling())
            jobs.push_back(job);
        for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
            DownloadJob* next = (*it)->nextSibling();
            if (picked.count(*it) && next && !picked.count(next))
                tree.MoveUp(next);
        }
        break;
    }
    case ViewCommand::MoveToTop:
        for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
            std::unique_ptr<DownloadJob> node = tree.Detach(*it);
            tree.Insert(queue, std::move(node), CComPtrTree::kInsertFirst | CComPtrTree::kInsertKeepId);
        }
        break;
    case ViewCommand::MoveToBottom:
        for (DownloadJob* job : chosen)
            tree.MoveToEnd(job);
        break;
    default: return;
    }
    DownloadJob* keepFocus = focused();
    m_list->rebuild();
    m_list->setSelection(chosen);
    m_list->setFocusedJob(keepFocus);
    m_dirty = true;
}

// ---- find ----------------------------------------------------------------------------------------

void MainView::findNext(bool up)
{
    if (!m_find)
        return;
    JobLockGuard lock(m_app.jobLock());
    const FindRequest& find = *m_find;
    const std::string wanted = lower(find.text);
    auto matches = [&](const DownloadJob& job) {
        return (find.name && FindNameMatches(job.GetDisplayName(), find.text))
            || (find.url && lower(job.url).find(wanted) != std::string::npos)
            || (find.comment && lower(job.comment()).find(wanted) != std::string::npos);
    };
    const size_t rows = m_list->rowCount();
    // Rows are walked from the focused one; without a focus from the top
    // (or, upwards, from the bottom).
    const std::optional<size_t> focusRow = focused() ? m_list->rowOf(*focused()) : std::nullopt;
    const bool hasFocus = focusRow.has_value();
    const size_t from = focusRow.value_or(up ? rows : 0);
    for (size_t step = 1; step <= rows; ++step) {
        size_t row = 0;
        if (up) {
            if (step > from)
                break;
            row = from - step;
        } else {
            row = hasFocus ? from + step : step - 1;
            if (row >= rows)
                break;
        }
        DownloadJob* job = m_list->job(row);
        if (matches(*job)) {
            m_list->setSelection({job});
            m_list->setFocusedJob(job);
            return;
        }
    }
    m_prompts.message(std::string(builtinString(kItemNotFound)), MessageIcon::Information);
}

// ---- one job's name, comment and settings -------------------------------------------------------

void MainView::renameFocused()
{
    DownloadJob* job = focused();
    auto name = m_prompts.askText(builtinText(kStrTitleRename), job->GetDisplayName());
    if (!name || name->empty())
        return;
    JobLockGuard lock(m_app.jobLock());
    if (!noteFileMove(*job, job->saveFolder, renamedFileName(*job, *name)) || !job->SetFileName(*name))
        m_prompts.message(builtinText(kStrCannotRename, {job->GetDisplayName(), *name}), MessageIcon::Error);
    m_dirty = true;
}

bool MainView::changeJobFile(DownloadJob& job, const std::string& folder, const std::string& name)
{
    JobLockGuard lock(m_app.jobLock());
    if (isActive(job) || !noteFileMove(job, folder, renamedFileName(job, name)))
        return false;
    const std::string oldName = job.fileName;
    if (!job.SetFileName(name))
        return false;
    if (!job.MoveFilesTo(folder)) {
        // Back under the old name, in the folder it never left.
        job.SetFileName(oldName);
        return false;
    }
    m_dirty = true;
    return true;
}

void MainView::commentAsFileName()
{
    JobLockGuard lock(m_app.jobLock());
    bool failed = false;
    for (DownloadJob* job : selection()) {
        const std::string comment(trimBoth(job->comment(), " \t\r\n"));
        if (comment.empty() || isActive(*job))
            continue;
        const std::string current = job->GetDisplayName();
        const size_t dot = current.rfind('.');
        const std::string extension = dot == std::string::npos ? std::string() : current.substr(dot);
        // The first line only: a name never spans lines.
        std::string base = comment.substr(0, comment.find_first_of("\r\n"));
        const std::string wanted = SanitizeFileName(base + extension);
        if (!noteFileMove(*job, job->saveFolder, renamedFileName(*job, wanted)) || !job->SetFileName(wanted))
            failed = true;
    }
    m_dirty = true;
    if (failed)
        m_prompts.message(std::string(builtinString(kSomeFilesNotMoved)), MessageIcon::Warning);
}

void MainView::editComment()
{
    DownloadJob* job = focused();
    auto text = m_prompts.askText(builtinText(kStrTitleComment), job->comment());
    if (!text)
        return;
    JobLockGuard lock(m_app.jobLock());
    job->SetComment(*text);
    m_dirty = true;
}

void MainView::properties()
{
    std::vector<DownloadJob*> jobs = selection();
    DownloadJob* job = focused();
    if (jobs.size() <= 1) {
        const JobFileChange changeFile
            = [this](DownloadJob& edited, const std::string& folder, const std::string& name) {
                  return changeJobFile(edited, folder, name);
              };
        if (!m_prompts.editJob(builtinText(kStrTitleProperties), *job, changeFile))
            return;
        JobLockGuard lock(m_app.jobLock());
        job->RebuildUrlEntries(&m_app.settings().siteRules());
        job->Notify(0xFFFF);
        if (job->parent() == m_doc->downloading() && job->startMode == StartMode::Immediately)
            startJob(*job, false);
        m_dirty = true;
        return;
    }
    DownloadJob sample;
    SharedJobFields before;
    {
        JobLockGuard lock(m_app.jobLock());
        MakeSharedSample(sample, jobs);
        before = SharedFieldsOf(sample);
    }
    if (!m_prompts.editJobs(builtinText(kStrTitleProperties), sample, jobs.size()))
        return;
    JobLockGuard lock(m_app.jobLock());
    // Only what the user changed reaches the jobs: a field left alone keeps
    // each job's own value.
    for (DownloadJob* each : jobs) {
        if (isActive(*each))
            continue;
        ApplySharedChanges(before, sample, *each, m_app.settings().GetOption(OptionId::MaxParallelNum));
        each->RebuildUrlEntries(&m_app.settings().siteRules());
        each->Notify(0xFFFF);
    }
    m_dirty = true;
}

void MainView::changeSplit(int delta)
{
    JobLockGuard lock(m_app.jobLock());
    DownloadJob* job = m_list->detailJob();
    if (JobRunner* runner = job->runner())
        runner->ChangeSplitCount(delta);
}

void MainView::copyUrls()
{
    std::string text;
    {
        JobLockGuard lock(m_app.jobLock());
        for (DownloadJob* job : selection()) {
            if (!text.empty())
                text += "\r\n";
            text += job->url;
        }
    }
    m_copiedText = text;
    m_host.setClipboardText(text);
}

void MainView::downloadAgain()
{
    if (!m_prompts.askYesNo(std::string(builtinString(kDownloadAgain))))
        return;
    JobLockGuard lock(m_app.jobLock());
    for (DownloadJob* job : selection()) {
        if (downloadOpen() && !job->IsComplete())
            continue;
        redownloadJob(*job);
    }
    m_queue->FillQueue();
    save();
}

void MainView::openFile()
{
    DownloadJob* job = focused();
    std::string path;
    {
        JobLockGuard lock(m_app.jobLock());
        path = job->GetLocalPath();
    }
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        m_desktop.open(path);
        return;
    }
    if (!m_prompts.askYesNo(std::string(builtinString(kFileMissing))))
        return;
    const std::string name = job->GetDisplayName();
    const size_t dot = name.rfind('.');
    const std::string filter = fileOfTypeFilter(dot != std::string::npos ? name.substr(dot + 1) : std::string());
    auto chosen = m_prompts.chooseOpenFile(builtinText(kStrTitleBrowseMissing), filter);
    if (!chosen)
        return;
    JobLockGuard lock(m_app.jobLock());
    job->SetSaveFolder(chosen->parent_path().string());
    job->SetFileName(chosen->filename().string());
    m_dirty = true;
}

void MainView::fixZip()
{
    DownloadJob* job = focused();
    std::string path;
    int64_t received = 0;
    {
        JobLockGuard lock(m_app.jobLock());
        if (!job->IsComplete())
            return;
        path = job->GetLocalPath();
        received = job->completedBytes;
    }
    // The check reads the whole file: not under the job lock.
    const ZipCheckResult result = checkZipArchive(path);
    if (result.kind != ZipCheckKind::Damaged) {
        const MessageIcon icon = result.kind == ZipCheckKind::Clean || result.kind == ZipCheckKind::Encrypted
            ? MessageIcon::Information
            : MessageIcon::Error;
        m_prompts.message(zipCheckMessage(result.kind), icon);
        return;
    }
    if (!m_prompts.askYesNo(zipRedownloadQuestion(result.damaged, received)))
        return;
    JobLockGuard lock(m_app.jobLock());
    if (!m_doc->tree().Contains(job) || isActive(*job))
        return;
    // The runner of the finished run goes first: it still names the old file.
    job->resetRunner();
    const RefetchResult refetch = RefetchRanges(*job, result.damaged);
    if (refetch != RefetchResult::Ready) {
        m_prompts.message(builtinText(kStrCannotRefetchZip, {job->GetDisplayName()}), MessageIcon::Error);
        return;
    }
    if (job->parent() != m_doc->downloading())
        m_doc->tree().Move(m_doc->downloading(), job);
    m_list->rebuild();
    m_queue->FillQueue();
    save();
}

void MainView::virusScan(const DownloadJob& job, VirusScanTrigger trigger)
{
    std::string path;
    {
        JobLockGuard lock(m_app.jobLock());
        path = job.GetLocalPath();
    }
    const std::vector<std::string> argv = virusScanCommand(virusScanSettings(m_app.settings()), path, trigger);
    if (!argv.empty() && !m_desktop.startProgram(argv))
        m_prompts.message(builtinText(kStrCannotStartScanner, {argv.front()}), MessageIcon::Error);
}

void MainView::openFolder()
{
    DownloadJob* job = focused();
    std::string file;
    std::string folder;
    {
        JobLockGuard lock(m_app.jobLock());
        if (job != nullptr) {
            file = job->IsComplete() ? job->GetLocalPath() : job->GetWorkingPath();
            folder = job->saveFolder;
        } else {
            folder = m_list->openCategory()->saveFolder;
        }
    }
    std::error_code error;
    if (!file.empty() && std::filesystem::exists(file, error)) {
        m_desktop.showInFolder(file);
        return;
    }
    if (!folder.empty())
        m_desktop.open(folder);
}

void MainView::pasteUrl()
{
    const std::string text = m_host.clipboardText();
    std::vector<std::string> urls = ParseUrlList(text);
    if (urls.size() >= 2) {
        std::vector<LinkChoice> links;
        for (const std::string& url : urls)
            links.push_back({url, {}});
        addLinks(links, {}, 1);
        return;
    }
    AddDownloadRequest request;
    request.text = urls.empty() ? std::string(trimBoth(text, " \t\r\n")) : urls.front();
    request.showDialog = true;
    addDownload(request);
}

// ---- categories --------------------------------------------------------------------------------

void MainView::newCategory()
{
    CategoryAnswer start;
    start.parent = m_list->openCategory();
    start.folder = start.parent ? start.parent->saveFolder : std::string();
    auto answer = m_prompts.editCategory(builtinText(kStrTitleNewCategory), start);
    if (!answer || answer->name.empty())
        return;
    JobLockGuard lock(m_app.jobLock());
    DownloadJob* parent = answer->parent && m_doc->tree().Contains(answer->parent) ? answer->parent : m_doc->root();
    m_doc->AddCategory(answer->name, answer->folder, parent);
    if (!answer->folder.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(answer->folder, ignored);
    }
    m_dirty = true;
}

void MainView::moveCategory()
{
    DownloadJob* category = m_list->openCategory();
    if (category->IsSpecialCategory()) {
        m_prompts.message(std::string(builtinString(kSpecialCategory)), MessageIcon::Warning);
        return;
    }
    DownloadJob* target = m_prompts.chooseCategory(builtinText(kStrTitleMove), builtinText(kStrMoveToCategory));
    if (target == nullptr)
        return;
    JobLockGuard lock(m_app.jobLock());
    if (!m_doc->tree().Move(target, category)) {
        m_prompts.message(std::string(builtinString(kCannotMoveCategory)), MessageIcon::Warning);
        return;
    }
    m_dirty = true;
}

void MainView::deleteCategory()
{
    DownloadJob* category = m_list->openCategory();
    if (category->IsSpecialCategory()) {
        m_prompts.message(std::string(builtinString(kSpecialCategory)), MessageIcon::Warning);
        return;
    }
    if (!m_prompts.askYesNo(std::string(builtinString(kDeleteCategory))))
        return;
    JobLockGuard lock(m_app.jobLock());
    // Running jobs inside stop first; their records go with the category.
    std::vector<DownloadJob*> inside;
    for (DownloadJob* node : m_doc->tree().nodes()) {
        for (DownloadJob* up = node->parent(); up; up = up->parent()) {
            if (up == category) {
                inside.push_back(node);
                break;
            }
        }
    }
    for (DownloadJob* node : inside) {
        if (!node->IsCategory() && node->GetState() == JobState::Downloading)
            JobRunner::Stop(*node, StopReason::Silent);
        if (!node->IsCategory())
            node->resetRunner();
    }
    m_list->openCategory(m_doc->downloading());
    m_doc->tree().Remove(category);
    m_dirty = true;
}

void MainView::categoryProperties()
{
    DownloadJob* category = m_list->openCategory();
    CategoryAnswer start;
    start.name = category->GetDisplayName();
    start.folder = category->saveFolder;
    auto answer = m_prompts.editCategory(builtinText(kStrTitleProperties), start);
    if (!answer)
        return;
    JobLockGuard lock(m_app.jobLock());
    if (!category->IsSpecialCategory() && !answer->name.empty())
        category->name = answer->name;
    if (answer->folder == category->saveFolder || answer->folder.empty()) {
        m_dirty = true;
        return;
    }
    const std::string oldFolder = category->saveFolder;
    category->SetSaveFolder(answer->folder);
    m_dirty = true;
    if (category->IsSpecialCategory())
        return;
    auto change = m_prompts.askFolderChange();
    if (!change)
        return;
    bool failed = false;
    std::vector<DownloadJob*> inside;
    for (DownloadJob* node : m_doc->tree().nodes()) {
        if (node->parent() == category
            || (change->changeSubcategoryFolders && node->parent() && node->parent()->parent() == category))
            inside.push_back(node);
    }
    for (DownloadJob* node : inside) {
        if (node->IsCategory()) {
            if (change->changeSubcategoryFolders && node->saveFolder.rfind(oldFolder, 0) == 0)
                node->SetSaveFolder(answer->folder + node->saveFolder.substr(oldFolder.size()));
            continue;
        }
        if (!change->moveFiles || isActive(*node))
            continue;
        if (node->saveFolder == oldFolder
            && (!noteFileMove(*node, answer->folder, SanitizeFileName(node->GetDisplayName()))
                || !node->MoveFilesTo(answer->folder)))
            failed = true;
    }
    if (failed)
        m_prompts.message(std::string(builtinString(kSomeFilesNotMoved)), MessageIcon::Warning);
}

}  // namespace fetchora
