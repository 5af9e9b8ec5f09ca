#pragma once
// fetchora-cli --daemon: the whole program without windows. It opens the job
// database chosen at start, serves the "Fetchora" service (a URL handed over
// on "WWW_OPENURL" becomes a job in the download queue; "DownloadInfo"
// answers the queue's status lines), keeps up to "SimJobs" jobs running,
// saves the database while jobs run and at the end, and stops cleanly when
// asked to (SIGINT, SIGTERM).
//
// Thread: the loop thread (the one that calls run()); the service endpoint
// reads requests on its own thread and hands them to the loop; a signal
// thread calls requestStop(). Owns the document, the engine services, the
// queue and the endpoint; borrows the application.
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "engine/engine_context.h"
#include "engine/job_queue.h"
#include "model/job_notify.h"
#include "platform/message_window.h"

namespace fetchora {

class Application;
class CZoviradDoc;
class EngineServices;
class IpcServer;

class DaemonSession final : public RunnerHost, public QueueHost, public JobNotifySink, private MessageWindow {
public:
    DaemonSession(Application& app, std::ostream& err);
    ~DaemonSession() override;

    // Serves at socketPath until requestStop. 0 after a clean stop; 1 when
    // the service could not start.
    int run(const std::filesystem::path& socketPath);

    // Asks the session to stop every job, save and end (any thread).
    void requestStop();

    // A service request, as the endpoint hands it over (loop thread).
    std::optional<std::string> handleRequest(const std::string& topic, const std::string& item);

private:
    // RunnerHost
    void partLogged(DownloadJob& job, JobPart& part, const LogEntry& entry) override;
    void partAdded(DownloadJob& job, JobPart& part) override;
    void saveDatabase() override;
    bool moveJobToEnd(DownloadJob& job) override;
    void jobEnded(DownloadJob& job, StopReason reason) override;
    void jobStopped(DownloadJob& job, JobPart* trigger, JobState newState) override;

    // QueueHost
    bool scheduleWindowOpen() const override;
    bool hasSiteRecord(const DownloadJob& job) const override;
    bool siteFull(const DownloadJob& job) const override;
    void startJob(DownloadJob& job) override;
    void refreshList() override;
    void postFillQueue() override;
    void offerConnection(DownloadJob& finished, DownloadJob& next) override;
    void allDownloadsDone(bool scheduledJobsWaiting) override;

    // JobNotifySink: change notices mark the database for the next save.
    void post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    // MessageWindow
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    void onTimer(uint32_t timerId) override;

    void openDatabase();
    void afterJobStopped(int32_t jobId);
    void stopAll();
    void save();

    Application& m_app;
    std::ostream& m_err;
    std::filesystem::path m_databasePath;  // empty: a database without a file
    bool m_stopping = false;
    bool m_dirty = false;
    bool m_unsavedReported = false;
    uint32_t m_ticks = 0;

    // Declared first so that it goes last: the jobs' runners use it until
    // the document is gone.
    std::unique_ptr<EngineServices> m_engine;
    std::unique_ptr<CZoviradDoc> m_doc;
    std::unique_ptr<JobQueue> m_queue;
    std::unique_ptr<IpcServer> m_server;
};

}  // namespace fetchora
