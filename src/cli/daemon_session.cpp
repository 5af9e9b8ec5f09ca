#include "cli/daemon_session.h"

#include <csignal>
#include <cstdlib>
#include <ostream>

#include "cli/cli_texts.h"
#include "cli/daemon_prompts.h"
#include "model/job_database.h"
#include "platform/desktop_system.h"
#include "platform/ipc_endpoint.h"
#include "platform/logind_power.h"
#include "shell/application.h"
#include "shell/daemon_takeover.h"
#include "shell/front_end_texts.h"
#include "shell/ipc_fault_text.h"
#include "shell/service_topics.h"
#include "shell/shell_texts.h"
#include "shell/timer_countdown.h"

namespace fetchora {

namespace {

constexpr uint32_t kStopRequestMessage = kWmUser + 1;

}  // namespace

DaemonSession::DaemonSession(Application& app, std::ostream& err)
    : MessageWindow(app.loop()),
      m_app(app),
      m_err(err),
      m_prompts(std::make_unique<DaemonPrompts>(err)),
      m_desktop(std::make_unique<SystemDesktop>()),
      m_power(std::make_unique<LogindPower>()),
      m_countdown(std::make_unique<TimerCountdown>(
          app.loop(), [&err](const std::string& line) { err << "fetchora-cli: " << line << "\n"; }))
{
    // At once, so that a stop requested while the database opens is queued,
    // not lost.
    create();
}

DaemonSession::~DaemonSession()
{
    if (m_server)
        m_server->stop();
    destroy();
}

void DaemonSession::requestStop()
{
    loop().post(id(), kStopRequestMessage);
}

void DaemonSession::requestExit()
{
    requestStop();
}

int DaemonSession::run(const std::filesystem::path& socketPath)
{
    m_view = std::make_unique<MainView>(m_app, *m_prompts, *m_desktop, *m_power, *this);
    m_view->start();
    // Test aid: a kill right after a finished file took its final name.
    if (::getenv("FETCHORA_TEST_KILL_AFTER_RENAME") != nullptr)
        m_view->setAfterFinalRename([](const DownloadJob&) { ::raise(SIGKILL); });

    m_server = std::make_unique<IpcServer>(
        m_app.loop(),
        std::vector<std::string>{std::string(kTopicOpenUrl), std::string(kTopicDownloadInfo),
                                 std::string(kTopicClickCatcher), std::string(kTopicBrowserCatch),
                                 std::string(kTopicTakeOver)},
        [this](const std::string& topic, const std::string& item) { return handleRequest(topic, item); });
    IpcFault fault;
    if (!m_server->listen(socketPath, fault)) {
        m_err << "fetchora-cli: " << builtinText(kStrCliCannotServe, {ipcFaultText(fault)}) << "\n";
        m_view->close();
        return 1;
    }

    loop().run();

    // Requests that come in from now on find nobody.
    m_server->stop();
    // Threads blocked in a send to a job window get 0 once the loop has quit;
    // they see their dead handle blocks and end.
    if (!m_view->joinThreads())
        m_err << "fetchora-cli: " << builtinText(kStrThreadsDidNotEnd) << "\n";
    m_view->save();
    if (m_view->shutDownAtExit())
        m_err << "fetchora-cli: " << describe(ShutDownAtExit(*m_power)) << "\n";
    return 0;
}

std::optional<std::string> DaemonSession::handleRequest(const std::string& topic, const std::string& item)
{
    if (!m_view || m_stopping)
        return std::nullopt;
    if (topic == kTopicOpenUrl) {
        const OpenUrlItem request = SplitOpenUrlItem(item);
        AddDownloadRequest add;
        add.text = request.url;
        add.referer = request.referer;
        add.comment = request.comment;
        const AddDownloadOutcome outcome = m_view->addDownload(add);
        // The sender takes the answer as the job being there: it is on the
        // disk before the answer goes out.
        if (outcome.result == AddDownloadResult::Added)
            m_view->recordAddedJobs();
        return std::to_string(static_cast<int>(outcome.result));
    }
    if (topic == kTopicDownloadInfo) {
        JobLockGuard lock(m_app.jobLock());
        return DownloadInfoReply(DownloadInfoEntries(m_view->doc().tree()), item);
    }
    if (topic == kTopicClickCatcher || topic == kTopicBrowserCatch)
        return m_view->serveClickCatcher(topic, item);
    if (topic == kTopicTakeOver) {
        // The desktop program takes the profile: stop and save as on SIGTERM,
        // after this answer has gone out.
        m_err << "fetchora-cli: " << builtinText(kStrCliTakenOver) << "\n";
        std::vector<int32_t> running;
        {
            JobLockGuard lock(m_app.jobLock());
            for (DownloadJob* job = m_view->doc().downloading()->firstChild(); job; job = job->nextSibling()) {
                if (!job->IsCategory() && job->GetState() == JobState::Downloading)
                    running.push_back(job->id);
            }
        }
        requestStop();
        return TakeOverReply(running);
    }
    return std::nullopt;
}

intptr_t DaemonSession::handleMessage(uint32_t msg, uintptr_t, intptr_t)
{
    if (msg != kStopRequestMessage)
        return 0;
    m_stopping = true;
    if (m_view)
        m_view->close();
    loop().quit();
    return 1;
}

}  // namespace fetchora
