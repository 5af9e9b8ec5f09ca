#include "cli/download_session.h"

#include "cli/cli_texts.h"
#include "cli/progress_line.h"
#include "cli/terminal_text.h"
#include "config/app_settings.h"
#include "engine/job_queue.h"
#include "engine/job_runner.h"
#include "lang/system_error_text.h"
#include "model/database_file.h"
#include "model/finish_journal.h"
#include "model/job_database.h"
#include "model/job_defaults.h"
#include "model/part_log.h"
#include "net/url.h"
#include "shell/application.h"
#include "shell/engine_services.h"
#include "shell/shell_texts.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fetchora {

namespace {

constexpr uint32_t kStartNextMessage = kWmUser + 1;
constexpr uint32_t kStopRequestMessage = kWmUser + 2;
constexpr uint32_t kSaveMessage = kWmUser + 3;
constexpr uint32_t kSaveReportMessage = kWmUser + 4;
constexpr uint32_t kCommitMessage = kWmUser + 5;
constexpr uint32_t kTickTimer = 1;
constexpr uint32_t kTickMs = 1000;
// The database is saved this often while jobs run, so that a kill loses at
// most this much of the record of what is on disk (the data stays and is
// fetched again).
constexpr int kSaveEveryTicks = 2;
// Jobs that end within this long of each other are recorded by one save: a
// finish the database has not recorded yet is in the finish journal, so a
// kill meanwhile loses no completed job.
constexpr uint32_t kSaveTimer = 2;
constexpr uint32_t kSaveDelayMs = 300;

size_t terminalWidth()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 100;
}

const char* logKindName(LogKind kind)
{
    switch (kind) {
    case LogKind::Status: return "status";
    case LogKind::Sent: return "sent";
    case LogKind::Error: return "error";
    case LogKind::Received: return "received";
    }
    return "status";
}

std::string absoluteFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::path path = folder.empty() ? std::filesystem::current_path(error) : std::filesystem::path(folder);
    return std::filesystem::absolute(path, error).lexically_normal().string();
}

}  // namespace

DownloadSession::DownloadSession(Application& app, CliOptions options, std::ostream& err)
    : MessageWindow(app.loop()), m_app(app), m_options(std::move(options)), m_err(err)
{
    m_drawProgress = !m_options.quiet && ::isatty(STDERR_FILENO);
    // At once, so that a stop requested before run() is queued, not lost.
    create();
}

DownloadSession::~DownloadSession()
{
    destroy();
}

void DownloadSession::requestStop()
{
    loop().post(id(), kStopRequestMessage);
}

bool DownloadSession::openDatabase()
{
    AppSettings& settings = m_app.settings();
    m_doc = std::make_unique<CZoviradDoc>(m_app.jobLock());
    DatabaseOpenOptions open;
    open.load.defaults = JobDefaultsFromSettings(settings);
    open.load.now = static_cast<int32_t>(std::time(nullptr));
    OpenResult result = OpenDatabase(*m_doc, m_app.defaultDatabasePath(), open);
    if (!result.message.empty())
        m_err << "fetchora-cli: " << result.message << "\n";
    if (result.status == OpenStatus::Created)
        m_doc->OnNewDocument(settings.GetOptionText(OptionId::DefaultDownloadFolder));
    // Finishes the last run made but did not save are taken from their files.
    ApplyFinishJournal(m_doc->tree(), ReadFinishJournal(FinishJournalPath(m_app.defaultDatabasePath())));
    m_doc->SetNotifyWindow(this);
    return true;
}

void DownloadSession::addMirrors(DownloadJob& job) const
{
    for (const std::string& mirror : m_options.mirrors) {
        const bool known = mirror == job.url
            || std::any_of(job.alternateUrls.begin(), job.alternateUrls.end(),
                           [&](const AlternateUrl& alternate) { return alternate.url == mirror; });
        if (!known)
            job.alternateUrls.push_back({mirror, 0});
    }
}

bool DownloadSession::finishedFileStands(const DownloadJob& job)
{
    std::error_code error;
    const std::filesystem::path file = job.GetLocalPath();
    if (std::filesystem::symlink_status(file, error).type() != std::filesystem::file_type::regular)
        return false;
    const auto size = std::filesystem::file_size(file, error);
    return !error && (!job.IsSizeKnown() || size == static_cast<std::uintmax_t>(job.fileSize));
}

DownloadJob* DownloadSession::earlierJobFor(const DownloadJob& fresh, bool complete) const
{
    // A job keeps the name it took at its add, which is a free one
    // ("name(1).bin") when its own was taken: unless a name was asked for,
    // the URL and the folder find it; a job of the same name goes first.
    DownloadJob* found = nullptr;
    for (DownloadJob* node : m_doc->tree().nodes()) {
        if (node->IsCategory() || node->IsComplete() != complete || node->url != fresh.url
            || node->saveFolder != fresh.saveFolder)
            continue;
        // A finished job stands only while its file does.
        if (complete && !finishedFileStands(*node))
            continue;
        if (node->GetDisplayName() == fresh.GetDisplayName())
            return node;
        if (m_options.outputName.empty() && found == nullptr)
            found = node;
    }
    return found;
}

bool DownloadSession::addJobs()
{
    AppSettings& settings = m_app.settings();
    JobDefaults defaults = JobDefaultsFromSettings(settings);
    const std::string folder = absoluteFolder(m_options.folder);
    defaults.path = folder;
    if (m_options.split) {
        defaults.maxParallelNum = std::clamp(*m_options.split, defaults.maxParallelNum, kMaxSplitCount);
        defaults.splitCount = std::min(*m_options.split, defaults.maxParallelNum);
    }
    if (!m_options.referer.empty())
        defaults.referer = m_options.referer;
    defaults.startMode = StartMode::Immediately;

    std::error_code error;
    std::filesystem::create_directories(folder, error);

    JobLockGuard lock(m_app.jobLock());
    const int32_t now = static_cast<int32_t>(std::time(nullptr));
    for (const std::string& url : m_options.urls) {
        std::unique_ptr<DownloadJob> fresh = m_doc->NewRecord(NodeKind::Job, defaults, now);
        if (!fresh->SetUrl(url)) {
            const std::optional<UrlEntry> parsed = ParseUrl(url);
            if (parsed && parsed->service == ServiceCode::Pnm) {
                m_err << "fetchora-cli: " << builtinText(kStrCliPnmStream, {url}) << "\n";
            } else {
                m_err << "fetchora-cli: " << builtinText(kStrCliNotDownloadable, {url}) << "\n";
            }
            return false;
        }
        addMirrors(*fresh);
        fresh->RebuildUrlEntries(&settings.siteRules());
        if (!m_options.outputName.empty())
            fresh->SetFileName(m_options.outputName);

        // The unfinished job of an earlier run for the same URL and file
        // resumes from the ranges it recorded.
        DownloadJob* job = earlierJobFor(*fresh, false);
        if (!job) {
            // A URL already downloaded here is not fetched a second time
            // under a new name: its finished job stands while its file does.
            if (DownloadJob* done = earlierJobFor(*fresh, true)) {
                m_jobs.push_back({done, true, true, false, std::chrono::steady_clock::now(), done->completedBytes});
                continue;
            }
        }
        if (job) {
            job->SetSplitCount(defaults.splitCount, defaults.maxParallelNum);
            if (!m_options.referer.empty())
                job->referer = m_options.referer;
            addMirrors(*job);
            job->SetStartMode(StartMode::Immediately);
        } else {
            job = m_doc->AddJob(std::move(fresh));
        }
        if (job)
            m_jobs.push_back({job, false, false, false, {}, 0});
    }
    return true;
}

int DownloadSession::run()
{
    if (id() == 0)
        create();
    AppSettings& settings = m_app.settings();
    if (m_options.limit) {
        SpeedSettings speed = m_app.limiter().settings();
        speed.manualLimit = *m_options.limit;
        m_app.limiter().setSettings(speed);
        m_app.limiter().setMode(SpeedMode::Manual);
    }

    m_engine = std::make_unique<EngineServices>(m_app, *this, m_options.caFile);
    m_engine->context().closedFileSyncs = &m_closedFiles;
    m_engine->context().syncFailures = &m_syncFailures;
    m_engine->context().finishJournal = FinishJournalPath(m_app.defaultDatabasePath());
    // Finished files are synced, noted and renamed in groups on the
    // committer's thread; the loop goes on with the other jobs.
    m_commits = std::make_unique<FinishCommits>(
        m_engine->context().finishJournal, [this] { loop().post(id(), kCommitMessage); }, &m_syncFailures);
    m_engine->context().finishCommits = m_commits.get();
    if (::getenv("FETCHORA_TEST_KILL_AFTER_RENAME") != nullptr)
        m_engine->context().afterFinalRename = [](const DownloadJob&) { ::raise(SIGKILL); };
    m_saver = std::make_unique<BackgroundSaver>([this](const BackgroundSaveReport& report) {
        if (report.save.ok)
            return;
        {
            std::lock_guard lock(m_saveReportsMutex);
            m_saveReports.push_back(report);
        }
        loop().post(id(), kSaveReportMessage);
    }, &m_syncFailures);
    if (!m_engine->tlsError().empty())
        m_err << "fetchora-cli: " << builtinText(kStrHttpsUnavailable, {m_engine->tlsError()}) << "\n";

    // A finish the last run noted but did not save is recorded by this
    // run's saves; so is every job it adds or takes up again.
    const bool journalNotes = FinishJournalBytes(FinishJournalPath(m_app.defaultDatabasePath())) > 0;
    openDatabase();
    if (!addJobs())
        return 2;
    // Only jobs found finished before are entered as ended.
    const bool changed
        = journalNotes || std::any_of(m_jobs.begin(), m_jobs.end(), [](const SessionEntry& e) { return !e.ended; });
    m_simJobs = std::max(1, settings.GetOption(OptionId::SimJobs));
    // Every job of the run is on the disk before any starts: a finish is
    // committed (noted, renamed) off the loop thread while the saves of
    // opened files are grouped, so a small file can be renamed before any
    // later image; its note then needs a recorded job. A run that found all
    // its URLs downloaded before writes nothing.
    if (changed)
        save();

    startWaitingJobs();
    setTimer(kTickTimer, kTickMs);
    if (!allEnded())
        loop().run();

    // Threads blocked in a send to a job window get 0 once the loop has quit;
    // they see their dead handle blocks and end.
    m_engine->joinThreads(std::chrono::seconds(10));
    // A run that only found its URLs downloaded before changes nothing.
    if (changed)
        save();
    // A finished file whose sync failed made its job fail: that counts below.
    takeSaveReports();
    drawProgress(true);

    bool allCompleted = !m_interrupted;
    JobLockGuard lock(m_app.jobLock());
    for (const SessionEntry& entry : m_jobs)
        allCompleted = allCompleted && entry.job->IsComplete();
    return allCompleted ? 0 : 1;
}

void DownloadSession::startWaitingJobs()
{
    if (m_stopping)
        return;
    JobLockGuard lock(m_app.jobLock());
    auto running = std::count_if(m_jobs.begin(), m_jobs.end(),
                                 [](const SessionEntry& e) { return e.started && !e.ended && !e.committing; });
    for (SessionEntry& entry : m_jobs) {
        if (running >= m_simJobs)
            break;
        if (entry.started)
            continue;
        entry.started = true;
        entry.startedAt = std::chrono::steady_clock::now();
        entry.bytesAtStart = entry.job->completedBytes;
        ++running;
        JobStartResult result = JobRunner::Start(*entry.job, m_engine->context());
        if (result == JobStartResult::Failed) {
            entry.ended = true;
            --running;
        }
    }
    if (allEnded())
        loop().quit();
}

bool DownloadSession::allEnded() const
{
    return std::all_of(m_jobs.begin(), m_jobs.end(), [](const SessionEntry& e) { return e.ended; });
}

void DownloadSession::stopAll()
{
    m_stopping = true;
    m_interrupted = true;
    JobLockGuard lock(m_app.jobLock());
    for (SessionEntry& entry : m_jobs) {
        if (entry.started && !entry.ended && entry.job->runner())
            JobRunner::Stop(*entry.job, StopReason::User);
        entry.ended = true;
    }
}

void DownloadSession::save()
{
    if (!m_doc)
        return;
    // Finishes being committed are recorded as what they came to: an image
    // that still called them unfinished would let the journal, which holds
    // their notes, be emptied below.
    if (m_commits) {
        m_commits->drain();
        takeCommits();
    }
    // A save still on the saver's thread holds an older image.
    if (m_saver)
        m_saver->drain();
    // Its failed syncs are taken back first: a sync made now of the same
    // file would succeed though the pages are lost.
    takeSaveReports();
    // Finished files reach the disk before the image that says so.
    for (const auto& [jobId, error] : m_closedFiles.syncAll())
        dataSyncFailed(jobId, error);
    // Every note in the journal now is of a finish the image below records;
    // one noted after it is kept for the next save.
    const std::filesystem::path journal = FinishJournalPath(m_app.defaultDatabasePath());
    const uint64_t journalBytes = FinishJournalBytes(journal);
    SaveResult result = SaveJobDatabase(*m_doc, m_app.defaultDatabasePath());
    if (!result.ok) {
        m_err << "fetchora-cli: " << builtinText(kStrCannotSaveDatabase, {result.error}) << "\n";
    } else {
        JobLockGuard lock(m_app.jobLock());
        ClearFinishJournalIfUnchanged(journal, journalBytes);
    }
}

void DownloadSession::saveInBackground()
{
    if (!m_doc || !m_saver) {
        save();
        return;
    }
    // Failed syncs reported so far are taken back before the image is taken.
    takeSaveReports();
    std::vector<FileToSync> files;
    std::string bytes;
    std::string error;
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
        m_err << "fetchora-cli: " << builtinText(kStrCannotSaveDatabase, {error}) << "\n";
        return;
    }
    // The image claims the ranges of the finishes being committed: it waits
    // for their files' syncs.
    std::function<void()> beforeImage;
    if (m_commits) {
        beforeImage = [commits = m_commits.get(), submitted = m_commits->submitted()] {
            commits->waitSynced(submitted);
        };
    }
    m_saver->submit(m_app.defaultDatabasePath(), std::move(bytes), std::move(files), m_syncFailures.handled(), 0,
                    std::move(beforeImage));
}

void DownloadSession::takeSaveReports()
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
        if (!report.save.ok && !report.save.error.empty())
            m_err << "fetchora-cli: " << builtinText(kStrCannotSaveDatabase, {report.save.error}) << "\n";
    }
}

void DownloadSession::takeCommits()
{
    if (!m_commits)
        return;
    for (const FinishCommitResult& result : m_commits->takeResults()) {
        {
            JobLockGuard lock(m_app.jobLock());
            DownloadJob* job = m_doc ? m_doc->tree().FindById(result.jobId) : nullptr;
            if (job != nullptr && job->runner())
                job->runner()->FinishCommitted(result.error, result.syncFailed, result.journalError);
        }
        // The ranges the failed sync lost are taken back now.
        if (result.syncFailed)
            m_syncFailures.takenBack(1);
    }
}

void DownloadSession::scheduleSave()
{
    if (!m_saveDue)
        m_saveDue = setTimer(kSaveTimer, kSaveDelayMs);
    if (!m_saveDue)
        saveInBackground();
}

void DownloadSession::dataSyncFailed(int32_t jobId, int error)
{
    JobLockGuard lock(m_app.jobLock());
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

void DownloadSession::drawProgress(bool final)
{
    std::string text;
    if (m_drawProgress && m_linesDrawn > 0)
        text += "\x1b[" + std::to_string(m_linesDrawn) + "A";
    const std::string lineStart = m_drawProgress ? "\r" : "";
    const std::string lineEnd = m_drawProgress ? "\x1b[K\n" : "\n";
    size_t width = terminalWidth() - 1;
    size_t progressLines = 0;
    {
        JobLockGuard lock(m_app.jobLock());
        // Ended jobs leave the progress block as one summary line each.
        for (SessionEntry& entry : m_jobs) {
            if (!entry.ended || entry.reported)
                continue;
            entry.reported = true;
            if (const std::string line = summaryOf(entry); !line.empty())
                text += lineStart + line + lineEnd;
        }
        for (const SessionEntry& entry : m_jobs) {
            if (!m_drawProgress || final || entry.reported)
                continue;
            const DownloadJob& job = *entry.job;
            ProgressFigures figures;
            figures.name = job.GetDisplayName();
            figures.completedBytes = job.completedBytes;
            figures.fileSize = job.IsSizeKnown() ? job.fileSize : -1;
            if (!entry.started) {
                figures.state = builtinText(kStrCliWaiting);
            } else if (job.runner()) {
                figures.bytesPerSecond = job.runner()->figures().shortSpeed;
                figures.secondsLeft = job.runner()->figures().secondsLeft;
                figures.connections = static_cast<uint32_t>(job.runner()->runningParts());
                if (const std::optional<RetryWait> wait = job.runner()->retryWait())
                    figures.retry = retryText(wait->attempt, wait->limit, wait->secondsLeft, wait->cause);
            }
            text += "\r" + progressLine(figures, width) + "\x1b[K\n";
            ++progressLines;
        }
    }
    if (m_drawProgress && progressLines < m_linesDrawn)
        text += "\x1b[J";
    m_linesDrawn = progressLines;
    if (!text.empty())
        m_err << text << std::flush;
}

std::string DownloadSession::summaryOf(const SessionEntry& entry) const
{
    const DownloadJob& job = *entry.job;
    JobSummary summary;
    summary.name = job.GetDisplayName();
    summary.completed = job.IsComplete();
    summary.failed = !summary.completed && job.GetState() == JobState::Failed;
    // A failure is told even with -q: a script has to learn why.
    if (m_options.quiet && !summary.failed)
        return {};
    summary.fileSize = job.IsSizeKnown() ? job.fileSize : -1;
    summary.completedBytes = job.completedBytes;
    summary.bytesThisRun = std::max<int64_t>(0, job.completedBytes - entry.bytesAtStart);
    if (entry.started) {
        summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - entry.startedAt).count();
    }
    summary.cause = job.lastError();
    return summaryLine(summary);
}

void DownloadSession::partLogged(DownloadJob& job, JobPart& part, const LogEntry& entry)
{
    if (!m_options.verbose)
        return;
    // Log lines carry what servers sent: never raw to the terminal.
    m_err << terminalSafe(job.GetDisplayName()) << " #" << part.log.partIndex() << " " << logKindName(entry.kind) << " "
          << terminalSafe(entry.text) << "\n";
}

void DownloadSession::partAdded(DownloadJob&, JobPart&)
{
}

void DownloadSession::saveDatabase()
{
    // Asked for when a job's file is opened. Every job of the run was saved
    // before the first started, so a save soon, shared with the others
    // asked for meanwhile, is enough.
    scheduleSave();
}

bool DownloadSession::moveJobToEnd(DownloadJob&)
{
    // Only this run's jobs are in the queue; there is nothing to move past.
    return false;
}

void DownloadSession::jobEnded(DownloadJob&, StopReason)
{
}

void DownloadSession::jobCommitting(DownloadJob& job)
{
    for (SessionEntry& entry : m_jobs) {
        if (entry.job == &job)
            entry.committing = true;
    }
    // The next job starts now: it may take over the FTP connection as it
    // would at the job's stop.
    offerFtpConnectionOnward(job);
    loop().post(id(), kStartNextMessage);
}

void DownloadSession::offerFtpConnectionOnward(DownloadJob& job)
{
    for (SessionEntry& entry : m_jobs) {
        if (!entry.started && entry.job != &job) {
            OfferFtpConnection(job, *entry.job, &m_app.settings().siteRules());
            break;
        }
    }
    // One no job of this run can use: its worker need not wait to give it.
    if (job.run().reusedConnection)
        job.run().reusedConnection->withdraw();
    job.run().reusedConnection.reset();
}

void DownloadSession::jobStopped(DownloadJob& job, JobPart*, JobState newState)
{
    for (SessionEntry& entry : m_jobs) {
        if (entry.job == &job && (newState != JobState::Downloading))
            entry.ended = true;
    }
    // The next job to start may take over the finished job's FTP connection;
    // one nobody can use is closed now.
    offerFtpConnectionOnward(job);
    // Decisions about other jobs are taken after the runner's handler ends.
    loop().post(id(), kStartNextMessage);
}

void DownloadSession::post(uint32_t, uintptr_t, intptr_t)
{
}

intptr_t DownloadSession::handleMessage(uint32_t msg, uintptr_t, intptr_t)
{
    switch (msg) {
    case kStartNextMessage:
        startWaitingJobs();
        // A job ended: its new state is stored soon, together with any
        // other that ends meanwhile.
        scheduleSave();
        return 1;
    case kSaveReportMessage: takeSaveReports(); return 1;
    case kCommitMessage: takeCommits(); return 1;
    case kStopRequestMessage:
        stopAll();
        loop().quit();
        return 1;
    case kSaveMessage: saveInBackground(); return 1;
    }
    return 0;
}

void DownloadSession::onTimer(uint32_t timerId)
{
    if (timerId == kSaveTimer) {
        killTimer(kSaveTimer);
        m_saveDue = false;
        saveInBackground();
        return;
    }
    static int ticks = 0;
    drawProgress(false);
    if (++ticks % kSaveEveryTicks == 0)
        saveInBackground();
    if (allEnded())
        loop().quit();
}

}  // namespace fetchora
