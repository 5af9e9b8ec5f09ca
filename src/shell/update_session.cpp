#include "shell/update_session.h"

#include <atomic>
#include <cstdlib>
#include <system_error>
#include <unistd.h>

#include "config/app_settings.h"
#include "engine/job_runner.h"
#include "engine/runner_host_window.h"
#include "engine/site_connections.h"
#include "engine/thread_handle_block.h"
#include "engine/transfer_threads.h"
#include "lang/string_table.h"
#include "model/part_log.h"
#include "net/tls_stream.h"
#include "platform/desktop_actions.h"
#include "shell/application.h"
#include "shell/transfer_procedures.h"

namespace fetchora {

namespace {

// Internal: the fetch job met an error and is to stop.
constexpr uint32_t kGiveUpMessage = kWmUser + 6;
// How long the end of a session waits for its fetch threads.
constexpr auto kJoinTimeout = std::chrono::seconds(5);

std::atomic<uint32_t> g_sessionNumber{0};

std::string environmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

UpdateSetup UpdateSetupFor(Application& app)
{
    UpdateSetup setup;
    setup.source = app.settings().updateSource();
    setup.simplifiedChinese
        = PrefersSimplifiedChinese(environmentText("LC_ALL"), environmentText("LC_MESSAGES"), environmentText("LANG"));
    setup.writableLanguageFolder = app.profileFolder() / kLanguageFolderName;
    setup.shippedLanguageFolder = std::filesystem::path(app.settings().values().programFolder) / kLanguageFolderName;
    return setup;
}

UpdateSession::UpdateSession(Application& app, UpdateSetup setup, DesktopActions& desktop, UpdateListener& listener)
    : MessageWindow(app.loop()), m_app(app), m_setup(std::move(setup)), m_desktop(desktop), m_listener(listener)
{
    m_tempFolder
        = app.temporaryFolder() / ("update-" + std::to_string(getpid()) + "-" + std::to_string(++g_sessionNumber));

    TlsSettings tlsSettings;
    if (const char* extra = std::getenv("FETCHORA_EXTRA_CA_FILE"))
        tlsSettings.extraCaFile = extra;
    m_tls = TlsClientContext::create(tlsSettings);
    AppSettings& settings = app.settings();
    m_sites = std::make_unique<SiteConnectionTable>(settings.siteRules());
    m_threads = std::make_unique<TransferThreads>(app.loop(), app.jobLock());
    registerTransferProcedures(*m_threads);
    m_retired = std::make_unique<RetiredHandleBlocks>(app.clock());
    m_hostWindow = std::make_unique<RunnerHostWindow>(app.loop(), static_cast<RunnerHost&>(*this));
    m_hostWindow->create();

    m_context.settings = &settings;
    m_context.sites = m_sites.get();
    m_context.limiter = &app.limiter();
    m_context.jobLock = &app.jobLock();
    m_context.loop = &app.loop();
    m_context.threads = m_threads.get();
    m_context.retiredBlocks = m_retired.get();
    m_context.host = this;
    m_context.hostWindow = m_hostWindow->id();
    m_context.clock = &app.clock();
    m_context.tls = m_tls.get();
    create();
}

UpdateSession::~UpdateSession()
{
    destroy();
    cancel();
    m_threads->joinAll(kJoinTimeout);
    {
        JobLockGuard lock(m_app.jobLock());
        m_job.reset();
    }
    m_hostWindow->destroy();
    std::error_code error;
    std::filesystem::remove_all(m_tempFolder, error);
}

void UpdateSession::start(UpdateMode mode)
{
    if (busy())
        return;
    m_mode = mode;
    m_packs.clear();
    m_nextPack = 0;
    const std::optional<UpdateEndpoints> endpoints = UpdateEndpointsFor(m_setup.source, m_setup.simplifiedChinese);
    if (!endpoints) {
        end(std::string(builtinString(kStrNoUpdateSource)));
        return;
    }
    m_fetchingInfo = true;
    m_listener.statusChanged(std::string(builtinString(kStrDownloadingUpdateInfo)));
    requestFetch(endpoints->updateFile);
}

void UpdateSession::downloadPacks(const std::vector<LanguagePackRow>& rows)
{
    if (busy() || rows.empty())
        return;
    m_packs = rows;
    m_nextPack = 0;
    m_fetchingInfo = false;
    nextPack();
}

void UpdateSession::cancel()
{
    m_requested = false;
    m_active = false;
    JobLockGuard lock(m_app.jobLock());
    if (m_job && m_job->GetState() == JobState::Downloading)
        JobRunner::Stop(*m_job, StopReason::Silent);
    // Whatever the stopped job reports now is dropped.
    m_packs.clear();
    ++m_fetchNumber;
}

void UpdateSession::nextPack()
{
    const std::optional<UpdateEndpoints> endpoints = UpdateEndpointsFor(m_setup.source, m_setup.simplifiedChinese);
    if (!endpoints) {
        end(std::string(builtinString(kStrNoUpdateSource)));
        return;
    }
    m_listener.statusChanged(std::string(builtinString(kStrDownloadingLanguagePack)));
    requestFetch(LanguagePackUrl(*endpoints, m_packs[m_nextPack].baseName));
}

void UpdateSession::requestFetch(std::string url)
{
    m_url = std::move(url);
    m_requested = true;
    m_active = true;
    MessageWindow::post(kUpdateFetchRequestMessage, ++m_fetchNumber);
}

void UpdateSession::startFetch()
{
    m_requested = false;
    const std::filesystem::path folder = m_tempFolder / ("fetch-" + std::to_string(m_fetchNumber));
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    std::filesystem::create_directories(folder, error);
    JobLockGuard lock(m_app.jobLock());
    m_job.reset();
    auto job = std::make_unique<DownloadJob>();
    if (error || !job->SetUrl(m_url)) {
        MessageWindow::post(kUpdateFetchEndedMessage, m_fetchNumber);
        return;
    }
    job->saveFolder = folder.string();
    job->formatFlags |= kFmtTempFile;
    job->splitCount = 1;
    job->startMode = StartMode::Immediately;
    // Retried as the explorer's fetches are, not as downloads are.
    job->run().siteWindow = this;
    job->notifyWindow = this;
    job->RebuildUrlEntries(&m_app.settings().siteRules());
    m_job = std::move(job);
    if (JobRunner::Start(*m_job, m_context) == JobStartResult::Failed && m_job->GetState() != JobState::Downloading)
        MessageWindow::post(kUpdateFetchEndedMessage, m_fetchNumber);
}

void UpdateSession::partLogged(DownloadJob& job, JobPart&, const LogEntry& entry)
{
    // The settings may retry a failing download for ever; a user waiting in
    // the dialog is better told at once. The runner is inside its own
    // handler here, so the stop comes as a message of its own.
    if (&job == m_job.get() && entry.kind == LogKind::Error)
        MessageWindow::post(kGiveUpMessage, m_fetchNumber);
}

void UpdateSession::post(uint32_t msg, uintptr_t wParam, intptr_t)
{
    // A server that sends far more than an update file or a pack can be is
    // not read to its end.
    const auto* job = reinterpret_cast<const DownloadJob*>(wParam);
    if (msg != WM_JOB_CHANGED || job == nullptr || job != m_job.get())
        return;
    const int64_t limit = static_cast<int64_t>(m_fetchingInfo ? kUpdateFileLimit : kLanguagePackLimit);
    if ((job->IsSizeKnown() && job->fileSize > limit) || job->completedBytes > limit)
        MessageWindow::post(kGiveUpMessage, m_fetchNumber);
}

void UpdateSession::jobStopped(DownloadJob& job, JobPart*, JobState)
{
    // The job is released once the runner's handler has returned.
    if (&job == m_job.get())
        MessageWindow::post(kUpdateFetchEndedMessage, m_fetchNumber);
}

intptr_t UpdateSession::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg != kUpdateFetchRequestMessage && msg != kUpdateFetchEndedMessage && msg != kGiveUpMessage)
        return MessageWindow::handleMessage(msg, wParam, lParam);
    // A message of a cancelled or earlier fetch says nothing any more.
    if (static_cast<uint32_t>(wParam) != m_fetchNumber)
        return 0;
    if (msg == kUpdateFetchRequestMessage) {
        if (m_requested)
            startFetch();
    } else if (msg == kGiveUpMessage) {
        JobLockGuard lock(m_app.jobLock());
        if (m_job && m_job->GetState() == JobState::Downloading)
            JobRunner::Stop(*m_job, StopReason::User);
    } else {
        fetchEnded();
    }
    return 0;
}

void UpdateSession::fetchEnded()
{
    std::filesystem::path file;
    bool completed = false;
    {
        JobLockGuard lock(m_app.jobLock());
        if (m_job) {
            completed = m_job->GetState() == JobState::Completed;
            file = m_job->GetLocalPath();
        }
    }
    if (!completed) {
        {
            JobLockGuard lock(m_app.jobLock());
            m_job.reset();
        }
        end(std::string(builtinString(kStrCantGetUpdateInfo)));
        return;
    }
    if (m_fetchingInfo)
        infoFetched(file);
    else
        packFetched(file);
}

void UpdateSession::infoFetched(const std::filesystem::path& file)
{
    const UpdateInfo info = ReadUpdateInfo(file);
    {
        JobLockGuard lock(m_app.jobLock());
        m_job.reset();
    }
    m_fetchingInfo = false;
    if (!info.ok) {
        end(std::string(builtinString(kStrCantGetUpdateInfo)) + "\n" + info.error);
        return;
    }
    // The question is asked with the session idle: the window may close
    // while it is open.
    m_active = false;
    if (IsNewerVersion(info.version)) {
        const std::string_view question = builtinString(
            m_mode == UpdateMode::LanguagePacks ? kStrNewerVersionLanguageMode : kStrNewerVersionCheckMode);
        if (m_listener.askOpenDownloadPage(formatMessage(question, {info.version}))) {
            const std::optional<UpdateEndpoints> endpoints
                = UpdateEndpointsFor(m_setup.source, m_setup.simplifiedChinese);
            if (endpoints)
                m_desktop.open(endpoints->downloadPage);
            end({});
            return;
        }
    } else if (m_mode == UpdateMode::VersionCheck) {
        end(std::string(builtinString(kStrLatestVersion)));
        return;
    }
    if (m_mode == UpdateMode::VersionCheck) {
        end({});
        return;
    }
    std::vector<std::filesystem::path> folders;
    for (const std::filesystem::path& folder : {m_setup.writableLanguageFolder, m_setup.shippedLanguageFolder}) {
        // An unset folder would name files relative to the working folder.
        if (folder.is_absolute())
            folders.push_back(folder);
    }
    const std::vector<LanguagePackRow> rows = LanguagePackRows(info, folders);
    if (rows.empty()) {
        end(std::string(builtinString(kStrLatestVersion)));
        return;
    }
    m_listener.packsListed(rows);
}

void UpdateSession::packFetched(const std::filesystem::path& file)
{
    const std::string error = InstallLanguagePack(file, m_setup.writableLanguageFolder, m_packs[m_nextPack].baseName);
    {
        JobLockGuard lock(m_app.jobLock());
        m_job.reset();
    }
    if (!error.empty()) {
        m_packs.clear();
        end(std::string(builtinString(kStrCantGetUpdateInfo)) + "\n" + error);
        return;
    }
    if (++m_nextPack < m_packs.size()) {
        nextPack();
        return;
    }
    m_packs.clear();
    end(std::string(builtinString(kStrLanguagePacksDone)));
}

void UpdateSession::end(const std::string& text)
{
    m_active = false;
    m_listener.ended(text);
}

}  // namespace fetchora
