#pragma once
// fetchora-cli's download mode: adds each URL as a job of the profile's job
// database (or finds the unfinished job of an earlier run, which then resumes
// from the ranges on disk), runs them headless until every one has ended,
// draws a progress line per job on a terminal and saves the database as it
// goes, so that a kill at any moment loses at most a few seconds of work.
// The saves run on a saver thread: a finished file is synced there before
// the image that records it as finished, and a save asked for while one is
// being written replaces the waiting one, so that many small jobs ending
// together cost a few saves, not one each.
//
// Thread: the loop thread (the one that calls run()). A helper thread waits
// for SIGINT and SIGTERM and posts a stop request to the loop.
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "engine/closed_file_syncs.h"
#include "engine/engine_context.h"
#include "engine/finish_commits.h"
#include "engine/sync_failures.h"
#include "model/job_notify.h"
#include "platform/message_window.h"
#include "shell/background_saver.h"

namespace fetchora {

class Application;
class CZoviradDoc;
class EngineServices;

// One job of the session.
struct SessionEntry {
    DownloadJob* job = nullptr;
    bool started = false;
    bool ended = false;
    bool reported = false;  // its summary line is out
    std::chrono::steady_clock::time_point startedAt{};
    int64_t bytesAtStart = 0;
    bool committing = false;  // transfer over, finish being made durable: no queue slot
};

class DownloadSession final : public RunnerHost, public JobNotifySink, private MessageWindow {
public:
    DownloadSession(Application& app, CliOptions options, std::ostream& err);
    ~DownloadSession() override;

    // Runs every job to its end. 0 when all completed, 1 when any failed or
    // the run was interrupted.
    int run();

    // Asks the session to stop every job and end (any thread).
    void requestStop();

private:
    // RunnerHost
    void partLogged(DownloadJob& job, JobPart& part, const LogEntry& entry) override;
    void partAdded(DownloadJob& job, JobPart& part) override;
    void saveDatabase() override;
    bool moveJobToEnd(DownloadJob& job) override;
    void jobEnded(DownloadJob& job, StopReason reason) override;
    void jobStopped(DownloadJob& job, JobPart* trigger, JobState newState) override;
    void jobCommitting(DownloadJob& job) override;

    // JobNotifySink: change notices of the jobs (the progress lines poll instead).
    void post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    // MessageWindow
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    void onTimer(uint32_t timerId) override;

    bool openDatabase();
    bool addJobs();
    // The job of an earlier run for the same URL and folder, unfinished or
    // finished with its file still there.
    DownloadJob* earlierJobFor(const DownloadJob& fresh, bool complete) const;
    static bool finishedFileStands(const DownloadJob& job);
    // The --mirror URLs the job does not have yet become its alternate URLs.
    void addMirrors(DownloadJob& job) const;
    void startWaitingJobs();
    void stopAll();
    // Saves on this thread, after the saver's pending work and the syncs of
    // the finished files.
    void save();
    // Hands the image to the saver thread.
    void saveInBackground();
    void takeSaveReports();
    // Hands the committer's results to their jobs, which complete or fail.
    void takeCommits();
    // A save soon, with whatever else asks for one meanwhile.
    void scheduleSave();
    // The first job not started yet may take over the job's FTP connection.
    void offerFtpConnectionOnward(DownloadJob& job);
    // The sync of the job's file failed: its ranges (or, for a finished
    // file, the job) are taken back.
    void dataSyncFailed(int32_t jobId, int error);
    // Prints the summary line of every job that ended since the last call
    // and, on a terminal, redraws the progress lines of the others.
    void drawProgress(bool final);
    // The summary line of an ended job; empty when -q leaves it out.
    std::string summaryOf(const SessionEntry& entry) const;
    bool allEnded() const;

    Application& m_app;
    CliOptions m_options;
    std::ostream& m_err;
    bool m_drawProgress = false;
    size_t m_linesDrawn = 0;
    bool m_stopping = false;
    bool m_interrupted = false;
    bool m_saveDue = false;  // the save timer runs
    int32_t m_simJobs = 3;

    std::mutex m_saveReportsMutex;
    std::vector<BackgroundSaveReport> m_saveReports;
    // Before the engine, so that they outlive the runners that hand files
    // over and the saver that reports. Every failed sync of a job's file,
    // on the loop or the saver's thread, counts in m_syncFailures.
    SyncFailures m_syncFailures;
    ClosedFileSyncs m_closedFiles{&m_syncFailures};
    // Before the saver, whose images wait for its syncs.
    std::unique_ptr<FinishCommits> m_commits;
    std::unique_ptr<BackgroundSaver> m_saver;
    // Declared first so that it goes last: the jobs' runners use it until
    // the document is gone.
    std::unique_ptr<EngineServices> m_engine;
    std::unique_ptr<CZoviradDoc> m_doc;

    std::vector<SessionEntry> m_jobs;
};

}  // namespace fetchora
