#include "shell/main_view.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "config/app_settings.h"
#include "config/pattern_list.h"
#include "engine/job_runner.h"
#include "engine/site_connections.h"
#include "lang/string_table.h"
#include "lang/system_error_text.h"
#include "model/database_file.h"
#include "model/finish_journal.h"
#include "model/job_database.h"
#include "model/job_defaults.h"
#include "model/part_log.h"
#include "platform/desktop_actions.h"
#include "platform/job_lock.h"
#include "shell/application.h"
#include "shell/clipboard_capture.h"
#include "shell/engine_services.h"
#include "shell/html_format.h"
#include "shell/job_list_model.h"
#include "shell/kxd_association.h"
#include "shell/shell_texts.h"
#include "shell/start_database.h"

namespace fetchora {

namespace {

// A job stopped: its completion actions run from the queue, after the
// runner's handler has returned.
constexpr uint32_t kJobStoppedMessage = kWmUser + 2;
// The saver's thread finished a save (its reports wait in m_saveReports).
constexpr uint32_t kSaveReportMessage = kWmUser + 4;
// Progress changes wait for this timer so that they reach the window in
// batches.
constexpr uint32_t kListTimerId = 1004;
constexpr uint32_t kListTimerMs = 250;
// Every this many ticks of the one-second timer: backup, automatic save,
// schedule.
constexpr uint32_t kMinuteTicks = 60;
// While anything changes, the database is saved this often, so that a kill
// loses at most this much of the record of what is on disk.
constexpr uint32_t kSaveEveryTicks = 2;

int32_t wallClock()
{
    return static_cast<int32_t>(std::time(nullptr));
}

}  // namespace

MainView::MainView(Application& app, UserPrompts& prompts, DesktopActions& desktop, PowerControl& power,
                   MainViewHost& host)
    : MessageWindow(app.loop()),
      m_app(app),
      m_prompts(prompts),
      m_desktop(desktop),
      m_power(power),
      m_host(host),
      m_schedule(std::make_unique<Schedule>(m_systemClock, scheduleSettingsFrom(app.settings()))),
      m_endOfWork(desktop, m_dialUp, host.countdown(), *this),
      m_catcher(*this, prompts, app.temporaryFolder())
{
    // At once, so that messages posted while the database opens are queued.
    create();
}

MainView::~MainView()
{
    if (m_doc)
        m_doc->SetNotifyWindow(nullptr);
    if (m_sleepInhibited)
        m_power.holdSleepInhibitor(false);
    destroy();
}

void MainView::setScheduleClock(const ScheduleClock& clock)
{
    m_schedule = std::make_unique<Schedule>(clock, scheduleSettingsFrom(m_app.settings()));
    m_scheduleMinute = -1;
}

bool MainView::isActive(const DownloadJob& job)
{
    if (job.GetState() == JobState::Downloading)
        return true;
    const JobRunner* runner = runnerOf(job);
    return runner != nullptr && runner->file().isOpen();
}

// ---- start and end -----------------------------------------------------------------

DatabaseChoice MainView::chooseStartDatabase(const std::filesystem::path& given)
{
    DatabaseChoice choice;
    if (!given.empty()) {
        choice.path = given;
        return choice;
    }
    const std::filesystem::path recent = ReadRecentFile(m_app.registry());
    StartDatabaseChoice start
        = ChooseStartDatabase(recent, m_app.defaultDatabasePath(), [this](const std::filesystem::path& database) {
              return m_prompts.askYesNo(builtinText(kStrRestoreMissingDatabase, {database.string()}));
          });
    if (!start.problem.empty())
        choice.problems.push_back(start.problem);
    choice.path = start.path;
    return choice;
}

void MainView::openDatabase(const std::filesystem::path& path)
{
    AppSettings& settings = m_app.settings();
    const std::string downloadFolder = settings.GetOptionText(OptionId::DefaultDownloadFolder);
    if (m_doc)
        m_doc->SetNotifyWindow(nullptr);
    m_doc = std::make_unique<CZoviradDoc>(m_app.jobLock(), [](uint32_t id) { return std::string(builtinString(id)); });
    m_databasePath = path;
    if (m_databasePath.empty()) {
        m_doc->OnNewDocument(downloadFolder);
    } else {
        DatabaseOpenOptions open;
        open.load.defaults = JobDefaultsFromSettings(settings);
        open.load.startUnfinishedJobs = settings.GetOption(OptionId::StartDownloadingAtLaunch) > 0;
        open.load.now = wallClock();
        open.chooseBackup = m_prompts.backupChooser();
        OpenResult result = OpenDatabase(*m_doc, m_databasePath, open);
        // A chooser showed the message itself.
        if (!result.message.empty() && (!open.chooseBackup || result.status == OpenStatus::Damaged))
            m_prompts.message(result.message, MessageIcon::Warning);
        if (result.status == OpenStatus::Created)
            m_doc->OnNewDocument(downloadFolder);
        // Finishes the last run made but did not record are taken from their
        // files; those jobs were running, so they start again, and end at
        // once without a byte fetched.
        std::vector<int32_t> mended;
        {
            JobLockGuard lock(m_app.jobLock());
            // Moves noted there put jobs in the folders their files went to.
            if (ApplyFinishJournal(m_doc->tree(), ReadFinishJournal(FinishJournalPath(m_databasePath)), &mended) > 0)
                m_dirty = true;
            for (const int32_t jobId : mended) {
                if (DownloadJob* job = m_doc->tree().FindById(jobId))
                    job->SetStartMode(StartMode::Immediately);
            }
        }
        if (ReadRecentFile(m_app.registry()) != m_databasePath) {
            RememberRecentFile(m_app.registry(), m_databasePath);
            m_app.registry().flush();
        }
    }
    useJournalOf(m_databasePath);
    // A database made or last saved in another language.
    if (m_categoryNames.retext(*m_doc, m_app.jobLock()))
        m_dirty = true;
    m_doc->SetNotifyWindow(this);
    m_queue = std::make_unique<JobQueue>(m_doc->tree(), m_app.jobLock(), *this);
    m_queue->setSimJobs(std::max(1, settings.GetOption(OptionId::SimJobs)));
    m_list = std::make_unique<JobListModel>(m_doc->tree(), settings,
                                            [](uint32_t id) { return std::string(builtinString(id)); });
    m_list->openCategory(m_doc->downloading());
    m_capture = std::make_unique<UrlCapture>(
        m_doc->tree(), m_app.jobLock(), m_prompts,
        [this](const AddDownloadRequest& request) { return addDownload(request); },
        [this] { return m_host.clipboardText(); });
}

void MainView::start(const std::filesystem::path& databaseFile)
{
    // The database type is ours again at every start, unless another
    // program took the extension.
    std::error_code ignored;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ignored);
    if (!program.empty())
        WriteKxdAssociation(m_app.registry(), RegistrationMode::Normal, program.string());
    m_engine = std::make_unique<EngineServices>(m_app, *this);
    m_engine->context().closedFileSyncs = &m_closedFiles;
    m_engine->context().syncFailures = &m_syncFailures;
    m_saver = std::make_unique<BackgroundSaver>(
        [this](const BackgroundSaveReport& report) {
            // A written image may let the finish journal be emptied.
            if (report.save.ok && report.tag == 0)
                return;
            {
                std::lock_guard lock(m_saveReportsMutex);
                m_saveReports.push_back(report);
            }
            MessageWindow::post(kSaveReportMessage);
        },
        &m_syncFailures);
    if (!m_engine->tlsError().empty())
        m_prompts.message(builtinText(kStrHttpsUnavailable, {m_engine->tlsError()}), MessageIcon::Warning);
    DatabaseChoice choice = chooseStartDatabase(databaseFile);
    for (const std::string& problem : choice.problems)
        m_prompts.message(problem, MessageIcon::Warning);
    openDatabase(choice.path);
    // Written on the saver's thread: a large database's image and its syncs
    // no longer hold up the start.
    saveInBackground();
    m_queue->FillQueue();
    setTimer(kViewTimerId, 1000);
    setTimer(kListTimerId, kListTimerMs);
}

void MainView::languageChanged()
{
    if (m_doc && m_categoryNames.retext(*m_doc, m_app.jobLock()))
        m_dirty = true;
}

void MainView::close()
{
    if (m_closing || !m_doc)
        return;
    m_closing = true;
    killTimer(kViewTimerId);
    killTimer(kListTimerId);
    {
        JobLockGuard lock(m_app.jobLock());
        for (DownloadJob* job = m_doc->downloading() ? m_doc->downloading()->firstChild() : nullptr; job;
             job = job->nextSibling()) {
            if (!job->IsCategory() && job->GetState() == JobState::Downloading)
                JobRunner::Stop(*job, StopReason::Silent);
        }
    }
    m_app.saveSettings();
    save();
}

bool MainView::joinThreads()
{
    return !m_engine || m_engine->joinThreads(std::chrono::seconds(10));
}

bool MainView::save()
{
    if (!m_doc)
        return false;
    m_dirty = false;
    if (m_databasePath.empty())
        return false;
    // A save still on the saver's thread holds an older image.
    if (m_saver)
        m_saver->drain();
    // Its failed syncs are taken back first: a sync made now of the same
    // file would succeed though the pages are lost.
    takeSaveReports();
    // Finished files reach the disk before the image that says so.
    for (const auto& [jobId, error] : m_closedFiles.syncAll())
        dataSyncFailed(jobId, error);
    // Every note in the journal now is of a finish the image below records.
    const uint64_t epoch = m_journalEpoch;
    const uint64_t journalBytes = FinishJournalBytes(finishJournal());
    SaveResult result = SaveJobDatabase(*m_doc, m_databasePath);
    if (result.ok)
        imageWritten(epoch, journalBytes);
    if (!result.ok) {
        m_prompts.message(builtinText(kStrCannotSaveDatabase, {result.error}) + "\r\n" + builtinText(kStrCheckDiskRoom),
                          MessageIcon::Error);
        return false;
    }
    return true;
}

void MainView::saveInBackground()
{
    if (!m_doc || m_databasePath.empty() || !m_saver) {
        save();
        return;
    }
    m_dirty = false;
    // Failed syncs reported so far are taken back before the image is taken.
    takeSaveReports();
    std::vector<FileToSync> files;
    std::string bytes;
    std::string error;
    // Read before the image is taken: a finish noted by then has ended, under
    // the job lock, before the image can be taken.
    const JournalMark mark{++m_saveTag, m_journalEpoch, FinishJournalBytes(finishJournal())};
    const bool stored = StoreDatabaseImage(
        *m_doc,
        [&files](DownloadJob& job) {
            if (!job.runner())
                return;
            const int fd = job.runner()->FlushForBackgroundSave();
            if (fd >= 0)
                files.push_back({job.id, fd});
        },
        bytes, error);
    for (const PendingSync& closed : m_closedFiles.take())
        files.push_back({closed.jobId, closed.fd});
    if (!stored) {
        // No image to write: the handed-over files are still synced.
        for (const FileToSync& file : files) {
            if (m_syncFailures.syncHere(systemOutputFileCalls(), file.fd) != 0)
                dataSyncFailed(file.jobId, errno);
            ::close(file.fd);
        }
        m_prompts.message(builtinText(kStrCannotSaveDatabase, {error}), MessageIcon::Error);
        return;
    }
    // Only the newest image handed over may empty the journal: an older one
    // is dropped unwritten when a newer one comes.
    m_journalMark = mark;
    m_saver->submit(m_databasePath, std::move(bytes), std::move(files), m_syncFailures.handled(),
                    mark.bytes > 0 ? mark.tag : 0);
}

std::filesystem::path MainView::finishJournal() const
{
    return m_engine ? m_engine->context().finishJournal : std::filesystem::path();
}

void MainView::setAfterFinalRename(std::function<void(const DownloadJob&)> hook)
{
    JobLockGuard lock(m_app.jobLock());
    if (m_engine)
        m_engine->context().afterFinalRename = std::move(hook);
}

void MainView::useJournalOf(const std::filesystem::path& database)
{
    // Runners read the path under the job lock when they note a finish.
    JobLockGuard lock(m_app.jobLock());
    ++m_journalEpoch;
    if (m_engine)
        m_engine->context().finishJournal = database.empty() ? std::filesystem::path() : FinishJournalPath(database);
}

void MainView::imageWritten(uint64_t journalEpoch, uint64_t journalBytes)
{
    JobLockGuard lock(m_app.jobLock());
    if (journalEpoch != m_journalEpoch || m_engine == nullptr)
        return;
    // The engine's journal is the one of the database the image went to.
    if (ClearFinishJournalIfUnchanged(m_engine->context().finishJournal, journalBytes))
        ++m_journalEpoch;
}

bool MainView::noteFileMove(const DownloadJob& job, const std::string& folder, const std::string& name)
{
    std::error_code error;
    FinishNote note{job.id, 0, name, folder, false};
    if (std::filesystem::symlink_status(job.GetLocalPath(), error).type() == std::filesystem::file_type::regular) {
        note.size = static_cast<int64_t>(std::filesystem::file_size(job.GetLocalPath(), error));
    } else if (std::filesystem::symlink_status(job.GetTempPath(), error).type()
               == std::filesystem::file_type::regular) {
        note.unfinished = true;
        note.size = static_cast<int64_t>(std::filesystem::file_size(job.GetTempPath(), error));
    } else {
        return true;  // no file moves with it
    }
    if (error || folder.empty() || folder.front() != '/')
        return false;
    const std::filesystem::path journal = finishJournal();
    if (journal.empty())
        return true;
    std::string failure;
    return RecordFileMove(journal, note, failure);
}

void MainView::takeSaveReports()
{
    std::vector<BackgroundSaveReport> reports;
    {
        std::lock_guard lock(m_saveReportsMutex);
        reports.swap(m_saveReports);
    }
    for (const BackgroundSaveReport& report : reports) {
        for (const auto& [jobId, error] : report.failedSyncs) {
            dataSyncFailed(jobId, error);
            m_syncFailures.takenBack(1);
        }
        if (report.save.ok && report.tag != 0 && report.tag == m_journalMark.tag)
            imageWritten(m_journalMark.epoch, m_journalMark.bytes);
        if (!report.save.ok && !report.save.error.empty())
            m_prompts.message(builtinText(kStrCannotSaveDatabase, {report.save.error}) + "\r\n"
                                  + builtinText(kStrCheckDiskRoom),
                              MessageIcon::Error);
    }
}

void MainView::dataSyncFailed(int32_t jobId, int error)
{
    JobLockGuard lock(m_app.jobLock());
    // The image was skipped: the next save stores what is taken back here.
    m_dirty = true;
    DownloadJob* job = m_doc ? m_doc->tree().FindById(jobId) : nullptr;
    if (job == nullptr)
        return;
    if (job->runner() && job->runner()->file().isOpen()) {
        job->runner()->BackgroundSyncFailed(error);
        return;
    }
    // The file was closed as finished: none of its bytes can be trusted.
    job->completedRanges.clear();
    job->RecomputeCompletedBytes();
    job->editTexts().lastError = builtinText(kStrDiskWriteFailed, {systemErrorText(error)});
    job->SetState(JobState::Failed);
    job->Notify(0xFFFF);
}

// ---- starting and finishing jobs ---------------------------------------------------------

void MainView::startJob(DownloadJob& job, bool forced)
{
    JobLockGuard lock(m_app.jobLock());
    if (job.IsComplete() || isActive(job) || m_closing)
        return;
    const int running = m_doc->tree().CountRunning();
    const int limit = forced ? 10 : m_queue->simJobs();
    if (running < limit) {
        startJob(job);
        return;
    }
    if (job.startMode != StartMode::Schedule)
        job.SetStartMode(StartMode::Immediately);
}

void MainView::playSoundOption(int soundOption, int switchOption)
{
    const AppSettings& settings = m_app.settings();
    if (settings.GetOption(OptionId::PlaySounds) <= 0)
        return;
    if (switchOption >= 0 && settings.GetOption(static_cast<OptionId>(switchOption)) <= 0)
        return;
    const std::string file = settings.GetOptionText(static_cast<OptionId>(soundOption));
    if (!file.empty())
        m_desktop.playSound(file);
}

void MainView::finishJob(int32_t jobId)
{
    JobLockGuard lock(m_app.jobLock());
    DownloadJob* job = m_doc->tree().FindById(jobId);
    if (job == nullptr || job->IsCategory())
        return;
    m_dirty = true;
    const AppSettings& settings = m_app.settings();
    if (job->IsComplete()) {
        const bool removeWhenDone = settings.GetOption(OptionId::RemoveWhenComplete) > 0;
        const bool wasInQueue = job->parent() == m_doc->downloading();
        if (removeWhenDone) {
            m_list->remove(*job);
        } else if (m_doc->PlaceCompletedJob(*job)) {
            // The job left the queue for its own category: both lists change.
            if (wasInQueue && m_list->openCategory() == m_doc->downloading())
                m_list->remove(*job);
            else if (m_list->openCategory() == job->parent())
                m_list->insertAtTop(*job);
        }
        playSoundOption(static_cast<int>(OptionId::SoundDone), static_cast<int>(OptionId::PlayDoneSound));
        if (settings.GetOption(OptionId::VirusScan) != 0)
            virusScan(*job, VirusScanTrigger::AfterDownload);
        saveInBackground();
        if (settings.GetOption(OptionId::OpenWhenDone) > 0) {
            const std::string types = settings.GetOptionText(OptionId::OpenTypes);
            const std::string name = job->GetDisplayName();
            const size_t dot = name.rfind('.');
            if (!types.empty() && dot != std::string::npos && matchPatternList(types, name.substr(dot)))
                m_desktop.open(job->GetLocalPath());
        }
        if (removeWhenDone && !isActive(*job)) {
            if (m_list->detailJob() == job)
                m_list->setDetailJob(nullptr);
            m_doc->tree().Remove(job);
            job = nullptr;
            saveInBackground();
        }
    } else if (job->GetState() == JobState::Failed) {
        playSoundOption(static_cast<int>(OptionId::SoundFailed), static_cast<int>(OptionId::PlayFailedSound));
    }
    if (m_closing || m_pauseAll)
        return;
    if (job != nullptr && m_restartAfterStop.erase(job->id) > 0 && !job->IsComplete()) {
        startJob(*job, false);
        return;
    }
    if (job != nullptr)
        m_queue->JobStopped(*job);
    else
        m_queue->FillQueue();
}

// ---- RunnerHost ----------------------------------------------------------------------------

void MainView::partLogged(DownloadJob& job, JobPart& part, const LogEntry& entry)
{
    m_list->partLogged(job, part, entry.text);
}

void MainView::partAdded(DownloadJob& job, JobPart& part)
{
    m_list->partsChanged(job, &part);
}

void MainView::partRefreshed(DownloadJob& job, JobPart&)
{
    m_list->partsChanged(job, nullptr);
}

void MainView::saveDatabase()
{
    save();
}

bool MainView::moveJobToEnd(DownloadJob& job)
{
    const bool moved = m_queue && m_queue->MoveToEndOfQueue(job);
    if (moved && m_list->openCategory() == m_doc->downloading())
        m_list->rebuild();
    return moved;
}

void MainView::jobEnded(DownloadJob&, StopReason)
{
}

void MainView::jobStopped(DownloadJob& job, JobPart*, JobState)
{
    // Moving the job and starting others wait until the runner's handler
    // has returned.
    MessageWindow::post(kJobStoppedMessage, static_cast<uintptr_t>(job.id), static_cast<intptr_t>(m_generation));
}

// ---- QueueHost -----------------------------------------------------------------------------

bool MainView::scheduleWindowOpen() const
{
    return m_schedule->windowOpen();
}

bool MainView::hasSiteRecord(const DownloadJob& job) const
{
    return m_engine->sites().hasRecord(job);
}

bool MainView::siteFull(const DownloadJob& job) const
{
    return m_engine->sites().full(job);
}

void MainView::startJob(DownloadJob& job)
{
    if (m_closing)
        return;
    JobRunner::Start(job, m_engine->context());
    m_dirty = true;
}

void MainView::refreshList()
{
    m_list->markDirty();
}

void MainView::postFillQueue()
{
    MessageWindow::post(kFillQueueMessage);
}

void MainView::offerConnection(DownloadJob& finished, DownloadJob& next)
{
    OfferFtpConnection(finished, next, &m_app.settings().siteRules());
}

void MainView::allDownloadsDone(bool scheduledJobsWaiting)
{
    m_endOfWork.OnAllJobsDone(endOfWorkSettingsFrom(m_app.settings()), scheduledJobsWaiting);
}

void MainView::requestExit()
{
    m_host.requestExit();
}

// ---- URLs from elsewhere ---------------------------------------------------------------

void MainView::postStartupUrl(const std::string& url, const std::string& referer)
{
    UrlRequest request;
    request.url = url;
    request.referer = referer;
    request.source = referer.empty() ? kUrlFromDrop : kUrlFromCommandLine;
    postUrl(std::move(request));
}

void MainView::postUrl(UrlRequest request)
{
    {
        std::lock_guard<std::mutex> guard(m_incomingLock);
        m_incomingUrls.push_back(std::move(request));
    }
    MessageWindow::post(kAddUrlMessage);
}

void MainView::postLinks(LinkListRequest request)
{
    {
        std::lock_guard<std::mutex> guard(m_incomingLock);
        m_incomingLinks.push_back(std::move(request));
    }
    MessageWindow::post(kAddLinksMessage);
}

int32_t MainView::handleUrl(const UrlRequest& request)
{
    if (m_closing || !m_capture)
        return static_cast<int32_t>(AddDownloadResult::Cancelled);
    return m_capture->addUrl(request, CaptureSettings::From(m_app.settings()));
}

LinkListResult MainView::handleLinks(const LinkListRequest& request)
{
    if (m_closing || !m_capture)
        return {0, true};
    LinkListResult result = m_capture->addLinks(request, CaptureSettings::From(m_app.settings()));
    m_queue->FillQueue();
    m_dirty = true;
    return result;
}

void MainView::clipboardChanged(const std::string& text, bool ownWindowInFront)
{
    ClipboardChange change;
    change.text = text;
    change.monitorFlags = m_app.settings().GetOption(OptionId::MonitorFlags);
    change.monitorType = m_app.settings().GetOptionText(OptionId::MonitorType);
    change.ownWindowInFront = ownWindowInFront;
    // What the program copied itself (Copy URL) is not a URL to catch.
    change.writingClipboard = !m_copiedText.empty() && text == m_copiedText;
    const std::optional<std::string> url = ClipboardUrlToCapture(change, [this](std::string_view candidate) {
        JobLockGuard lock(m_app.jobLock());
        for (const DownloadJob* node : m_doc->tree().nodes()) {
            if (!node->IsCategory() && node->url == candidate)
                return true;
        }
        return false;
    });
    if (url)
        postUrl({*url, {}, kUrlFromClipboard});
}

void MainView::textDropped(const std::string& text)
{
    postUrl({text.substr(0, 511), {}, kUrlFromDrop});
}

void MainView::htmlDropped(const std::string& htmlFormat)
{
    HtmlFormatLinks read = ReadHtmlFormat(htmlFormat);
    if (!read.links.empty())
        postLinks({std::move(read.links), read.baseUrl, kListFromDrop});
}

std::optional<std::string> MainView::serveClickCatcher(const std::string& topic, const std::string& item)
{
    return m_catcher.serve(topic, item);
}

int32_t MainView::monitorFlags() const
{
    return m_app.settings().GetOption(OptionId::MonitorFlags);
}

int32_t MainView::sendUrl(const CaughtUrl& url)
{
    return handleUrl({url.url, url.referer, kUrlFromBrowser, url.userAgent, url.fileName});
}

void MainView::postUrl(const CaughtUrl& url)
{
    postUrl(UrlRequest{url.url, url.referer, kUrlFromBrowser, url.userAgent, url.fileName});
}

void MainView::postLinks(std::vector<CapturedLink> links, const std::string& baseUrl, int32_t listSource)
{
    postLinks(LinkListRequest{std::move(links), baseUrl, listSource});
}

// ---- messages ------------------------------------------------------------------------------

void MainView::post(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    MessageWindow::post(msg, wParam, lParam);
}

intptr_t MainView::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    switch (msg) {
    case WM_JOB_CHANGED: {
        JobLockGuard lock(m_app.jobLock());
        auto* job = reinterpret_cast<DownloadJob*>(wParam);
        // A record deleted since it posted is no longer in the tree.
        if (m_doc && m_doc->tree().Contains(job))
            m_list->jobChanged(*job, static_cast<uint32_t>(lParam));
        m_dirty = true;
        deliverListChanges();
        return 1;
    }
    case WM_JOB_PARTS: {
        JobLockGuard lock(m_app.jobLock());
        auto* job = reinterpret_cast<DownloadJob*>(wParam);
        if (m_doc && m_doc->tree().Contains(job))
            m_list->partsChanged(*job, reinterpret_cast<const JobPart*>(lParam));
        deliverListChanges();
        return 1;
    }
    case kJobStoppedMessage:
        if (static_cast<uintptr_t>(lParam) == m_generation)
            finishJob(static_cast<int32_t>(wParam));
        deliverListChanges();
        return 1;
    case kAddUrlMessage: {
        std::optional<UrlRequest> request;
        {
            std::lock_guard<std::mutex> guard(m_incomingLock);
            if (!m_incomingUrls.empty()) {
                request = std::move(m_incomingUrls.front());
                m_incomingUrls.pop_front();
            }
        }
        return request ? handleUrl(*request) : 1;
    }
    case kAddLinksMessage: {
        std::optional<LinkListRequest> request;
        {
            std::lock_guard<std::mutex> guard(m_incomingLock);
            if (!m_incomingLinks.empty()) {
                request = std::move(m_incomingLinks.front());
                m_incomingLinks.pop_front();
            }
        }
        if (request)
            handleLinks(*request);
        return 1;
    }
    case kPauseAllDoneMessage: m_pauseAll = false; return 1;
    case WM_SAVE_DATABASE: saveInBackground(); return 1;
    case kSaveReportMessage: takeSaveReports(); return 1;
    case kStartAddedMessage: startAddedJobs(static_cast<uintptr_t>(lParam)); return 1;
    case kFillQueueMessage:
        if (!m_closing && !m_pauseAll)
            m_queue->FillQueue();
        return 1;
    case kStopAllSilentMessage: {
        JobLockGuard lock(m_app.jobLock());
        for (DownloadJob* job = m_doc->downloading()->firstChild(); job; job = job->nextSibling()) {
            if (!job->IsCategory() && isActive(*job))
                JobRunner::Stop(*job, StopReason::Silent);
        }
        return 85;
    }
    }
    return 0;
}

void MainView::deliverListChanges()
{
    if (m_list)
        m_list->deliver(m_app.clock().tick());
}

void MainView::onViewTimer()
{
    if (m_closing)
        return;
    m_queue->OnTimerTick();
    ++m_ticks;
    m_list->refreshIfDirty();
    bool running = false;
    {
        JobLockGuard lock(m_app.jobLock());
        running = m_doc->tree().CountRunning() > 0;
    }
    if ((m_dirty || running) && m_ticks % kSaveEveryTicks == 0)
        saveInBackground();
    scheduleMinute();
    {
        JobLockGuard lock(m_app.jobLock());
        running = m_doc->tree().CountRunning() > 0;
    }
    if (running != m_sleepInhibited) {
        // The machine stays awake while anything downloads.
        m_sleepInhibited = running;
        m_power.holdSleepInhibitor(running);
    }
    if (m_ticks % kMinuteTicks != 0)
        return;
    if (!m_databasePath.empty())
        m_backup.RunIfDue(m_app.settings(), m_app.jobLock(), m_databasePath, std::time(nullptr));
    if (m_autoSave.MinutePassed(m_app.settings()))
        saveInBackground();
}

void MainView::scheduleMinute()
{
    // The schedule is looked at once per minute of the clock, so that a
    // window opens within a second of its start time.
    const std::tm now = m_schedule->clock().localNow();
    const int minute = now.tm_hour * 60 + now.tm_min;
    if (minute == m_scheduleMinute)
        return;
    m_scheduleMinute = minute;
    m_schedule->setSettings(scheduleSettingsFrom(m_app.settings()));
    JobLockGuard lock(m_app.jobLock());
    switch (m_schedule->ScheduleTick()) {
    case ScheduleAction::StartWaitingJobs: m_queue->FillQueue(); break;
    case ScheduleAction::StopScheduledJobs:
        for (DownloadJob* job = m_doc->downloading()->firstChild(); job; job = job->nextSibling()) {
            if (!job->IsCategory() && job->GetState() == JobState::Downloading && job->startMode == StartMode::Schedule)
                JobRunner::Stop(*job, StopReason::Schedule);
        }
        break;
    case ScheduleAction::None: break;
    }
}

void MainView::onTimer(uint32_t timerId)
{
    if (timerId == kViewTimerId)
        onViewTimer();
    else if (timerId == kListTimerId)
        deliverListChanges();
}

}  // namespace fetchora
