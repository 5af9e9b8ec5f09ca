#include "cli/daemon_session.h"

#include <ctime>
#include <ostream>

#include "config/app_settings.h"
#include "engine/job_runner.h"
#include "engine/site_connections.h"
#include "model/database_file.h"
#include "model/job_database.h"
#include "model/job_defaults.h"
#include "platform/ipc_endpoint.h"
#include "shell/add_url.h"
#include "shell/application.h"
#include "shell/engine_services.h"
#include "shell/service_topics.h"
#include "shell/start_database.h"

namespace fetchora {

namespace {

constexpr uint32_t kStopRequestMessage = kWmUser + 1;
constexpr uint32_t kJobStoppedMessage = kWmUser + 2;
constexpr uint32_t kSaveSoonMessage = kWmUser + 203;
// The main view's one-second timer: deferred queue starts and saving.
constexpr uint32_t kViewTimer = 1002;
constexpr uint32_t kViewTimerMs = 1000;
// While anything changes the database is saved this often, so that a kill
// loses at most this much of the record of what is on disk.
constexpr uint32_t kSaveEveryTicks = 2;

int32_t wallClock()
{
    return static_cast<int32_t>(std::time(nullptr));
}

}  // namespace

DaemonSession::DaemonSession(Application& app, std::ostream& err) : MessageWindow(app.loop()), m_app(app), m_err(err)
{
    // At once, so that a stop requested while the database opens is queued,
    // not lost.
    create();
}

DaemonSession::~DaemonSession()
{
    if (m_server)
        m_server->stop();
    if (m_doc)
        m_doc->SetNotifyWindow(nullptr);
    destroy();
}

void DaemonSession::requestStop()
{
    loop().post(id(), kStopRequestMessage);
}

void DaemonSession::openDatabase()
{
    AppSettings& settings = m_app.settings();
    const std::filesystem::path recent = ReadRecentFile(m_app.registry());
    StartDatabaseChoice choice = ChooseStartDatabase(recent, m_app.defaultDatabasePath());
    if (!choice.problem.empty())
        m_err << "fetchora-cli: " << choice.problem << "\n";
    if (choice.source == StartDatabaseSource::RecentFromBackup)
        m_err << "fetchora-cli: " << recent.string() << " is missing; restoring it from its newest backup\n";

    m_doc = std::make_unique<CZoviradDoc>(m_app.jobLock());
    const std::string downloadFolder = settings.GetOptionText(OptionId::DefaultDownloadFolder);
    m_databasePath = choice.path;
    if (m_databasePath.empty()) {
        m_doc->OnNewDocument(downloadFolder);
    } else {
        DatabaseOpenOptions open;
        open.load.defaults = JobDefaultsFromSettings(settings);
        open.load.startUnfinishedJobs = settings.GetOption(OptionId::StartDownloadingAtLaunch) > 0;
        open.load.now = wallClock();
        OpenResult result = OpenDatabase(*m_doc, m_databasePath, open);
        if (!result.message.empty())
            m_err << "fetchora-cli: " << result.message << "\n";
        if (result.status == OpenStatus::Created)
            m_doc->OnNewDocument(downloadFolder);
        if (recent != m_databasePath) {
            RememberRecentFile(m_app.registry(), m_databasePath);
            m_app.registry().flush();
        }
    }
    m_doc->SetNotifyWindow(this);
}

int DaemonSession::run(const std::filesystem::path& socketPath)
{
    m_engine = std::make_unique<EngineServices>(m_app, *this);
    if (!m_engine->tlsError().empty())
        m_err << "fetchora-cli: HTTPS is unavailable: " << m_engine->tlsError() << "\n";
    openDatabase();
    m_queue = std::make_unique<JobQueue>(m_doc->tree(), m_app.jobLock(), *this);
    m_queue->setSimJobs(std::max(1, m_app.settings().GetOption(OptionId::SimJobs)));

    m_server = std::make_unique<IpcServer>(
        m_app.loop(), std::vector<std::string>{std::string(kTopicOpenUrl), std::string(kTopicDownloadInfo)},
        [this](const std::string& topic, const std::string& item) { return handleRequest(topic, item); });
    std::string error;
    if (!m_server->listen(socketPath, error)) {
        m_err << "fetchora-cli: cannot start the service: " << error << "\n";
        return 1;
    }

    save();
    m_queue->FillQueue();
    setTimer(kViewTimer, kViewTimerMs);
    loop().run();

    // Requests that come in from now on find nobody.
    m_server->stop();
    // Threads blocked in a send to a job window get 0 once the loop has quit;
    // they see their dead handle blocks and end.
    if (!m_engine->joinThreads(std::chrono::seconds(10)))
        m_err << "fetchora-cli: some transfer threads did not end in time\n";
    save();
    return 0;
}

std::optional<std::string> DaemonSession::handleRequest(const std::string& topic, const std::string& item)
{
    if (!m_doc || m_stopping)
        return std::nullopt;
    if (topic == kTopicOpenUrl) {
        const OpenUrlItem request = SplitOpenUrlItem(item);
        AddUrlOutcome outcome =
            AddUrlToQueue(*m_doc, m_app.settings(), request.url, request.referer, request.comment, wallClock());
        if (outcome.fillQueue)
            loop().post(id(), kFillQueueMessage);
        if (outcome.result == AddUrlResult::Added)
            loop().post(id(), kSaveSoonMessage);
        return std::to_string(static_cast<int>(outcome.result));
    }
    if (topic == kTopicDownloadInfo) {
        JobLockGuard lock(m_app.jobLock());
        return DownloadInfoReply(DownloadInfoEntries(m_doc->tree()), item);
    }
    return std::nullopt;
}

void DaemonSession::stopAll()
{
    m_stopping = true;
    if (!m_doc)
        return;
    JobLockGuard lock(m_app.jobLock());
    for (DownloadJob* node : m_doc->tree().nodes()) {
        if (!node->IsCategory() && node->runner && node->GetState() == JobState::Downloading)
            JobRunner::Stop(*node, StopReason::User);
    }
}

void DaemonSession::save()
{
    if (!m_doc)
        return;
    m_dirty = false;
    if (m_databasePath.empty()) {
        if (!m_unsavedReported)
            m_err << "fetchora-cli: the job database has no file; changes are not saved\n";
        m_unsavedReported = true;
        return;
    }
    SaveResult result = SaveJobDatabase(*m_doc, m_databasePath);
    if (!result.ok)
        m_err << "fetchora-cli: cannot save the job database: " << result.error << "\n";
}

void DaemonSession::afterJobStopped(int32_t jobId)
{
    JobLockGuard lock(m_app.jobLock());
    DownloadJob* job = m_doc->tree().FindById(jobId);
    if (job == nullptr || job->IsCategory())
        return;
    if (job->IsComplete())
        m_doc->PlaceCompletedJob(*job);
    m_dirty = true;
    if (!m_stopping)
        m_queue->JobStopped(*job);
}

// ---- RunnerHost ------------------------------------------------------------------

void DaemonSession::partLogged(DownloadJob&, JobPart&, const LogEntry&) {}

void DaemonSession::partAdded(DownloadJob&, JobPart&) {}

void DaemonSession::saveDatabase()
{
    save();
}

bool DaemonSession::moveJobToEnd(DownloadJob& job)
{
    return m_queue && m_queue->MoveToEndOfQueue(job);
}

void DaemonSession::jobEnded(DownloadJob&, StopReason) {}

void DaemonSession::jobStopped(DownloadJob& job, JobPart*, JobState)
{
    // Moving the job and starting others wait until the runner's handler
    // has returned.
    loop().post(id(), kJobStoppedMessage, static_cast<uintptr_t>(job.id));
}

// ---- QueueHost -------------------------------------------------------------------

bool DaemonSession::scheduleWindowOpen() const
{
    // No schedule runs headless: jobs that wait for one keep waiting.
    return false;
}

bool DaemonSession::hasSiteRecord(const DownloadJob& job) const
{
    return m_engine->sites().hasRecord(job);
}

bool DaemonSession::siteFull(const DownloadJob& job) const
{
    return m_engine->sites().full(job);
}

void DaemonSession::startJob(DownloadJob& job)
{
    if (m_stopping)
        return;
    JobRunner::Start(job, m_engine->context());
    m_dirty = true;
}

void DaemonSession::refreshList() {}

void DaemonSession::postFillQueue()
{
    loop().post(id(), kFillQueueMessage);
}

void DaemonSession::offerConnection(DownloadJob& finished, DownloadJob& next)
{
    OfferFtpConnection(finished, next, &m_app.settings().siteRules());
}

void DaemonSession::allDownloadsDone(bool) {}

// ---- messages --------------------------------------------------------------------

void DaemonSession::post(uint32_t, uintptr_t, intptr_t)
{
    m_dirty = true;
}

intptr_t DaemonSession::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t)
{
    switch (msg) {
    case kStopRequestMessage:
        stopAll();
        loop().quit();
        return 1;
    case kJobStoppedMessage:
        afterJobStopped(static_cast<int32_t>(wParam));
        return 1;
    case kFillQueueMessage:
        if (!m_stopping)
            m_queue->FillQueue();
        return 1;
    case kSaveSoonMessage:
        m_dirty = true;
        return 1;
    }
    return 0;
}

void DaemonSession::onTimer(uint32_t timerId)
{
    if (timerId != kViewTimer)
        return;
    m_queue->OnTimerTick();
    ++m_ticks;
    bool running = false;
    {
        JobLockGuard lock(m_app.jobLock());
        running = m_doc->tree().CountRunning() > 0;
    }
    if ((m_dirty || running) && m_ticks % kSaveEveryTicks == 0)
        save();
}

}  // namespace fetchora
