#pragma once
// The job runner (`JobRunner`): turns a DownloadJob into running parts and
// back. It starts the job and its parts, starts one transfer thread per part
// with the procedure of the URL's service, takes everything the threads
// report (through the job's CJobWnd), decides about retries, other URLs and
// errors, writes the data through the output file's cache, and finishes the
// job: closes the file, sets its time, renames the ".kx!" file, tells the
// list window.
//
// Thread: loop thread. Every operation runs under the job lock (the public
// entry points take it; it is recursive). Transfer threads never call in;
// they send messages to the CJobWnd.
// Owns: the output file with its write cache, the parts with their handle
// blocks and site connections, the CJobWnd and the run figures. Borrows: the
// job (which owns the runner through JobRunnerPtr) and the EngineContext.
// The runner stays with the job after it stops, so that the part logs can
// still be read; the next start reuses it.
#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/job_proxies.h"
#include "config/option_id.h"
#include "engine/engine_context.h"
#include "engine/job_progress.h"
#include "engine/output_file.h"
#include "engine/response_handling.h"
#include "engine/thread_handle_block.h"
#include "model/download_job.h"
#include "model/job_part.h"
#include "model/part_log.h"
#include "model/splitting.h"
#include "net/response_info.h"

namespace fetchora {

class CJobWnd;
struct MirrorSearchOptions;
struct PartMessage;
struct SiteConnectionLimit;
struct TransferSettings;
struct TransferTask;

// String-table ids the runner logs.
inline constexpr uint32_t kMsgClosed = 61214;  // "Closed."
inline constexpr uint32_t kMsgMaximumError = 61220;  // "Encountered maximum error.  This part job is halted."
inline constexpr uint32_t kMsgWaitDialing = 61276;  // "Wait dialing..."
inline constexpr uint32_t kMsgDialUpError = 61277;  // "Dial-up Error: %1"
inline constexpr uint32_t kMsgScheduleStop = 61287;  // "Schedule stop!"
inline constexpr uint32_t kMsgResumeNotSupported = 61288;
inline constexpr uint32_t kMsgAutoRename = 61293;  // "Destination file exists, auto rename"
inline constexpr uint32_t kMsgNoDataInTries = 61299;  // "Didn't receive any data within 99 tries, should stop."
inline constexpr uint32_t kMsgDownloadLater = 61313;  // "Error encountered.  Download again later."
inline constexpr uint32_t kMsgStartPing = 61362;  // "Start Ping."
inline constexpr uint32_t kMsgPingDone = 61363;  // "Ping Done!"
inline constexpr uint32_t kMsgSiteFull = 61425;  // "Reached max connections of this site"
inline constexpr uint32_t kMsgOnePerFile = 61426;  // "Only can use one connection for each file in this site."
inline constexpr const char* kUrlInvalid = "URL is invalid";
inline constexpr const char* kStartThreadError = "Start Thread Error!";

// Ping workers started at most for one ping part.
inline constexpr size_t kMaxPingThreads = 10;
// The no-data guard of unlimited retries.
inline constexpr int32_t kFruitlessTries = 100;

enum class JobStartResult : int {
    Failed = 0,  // the job could not start (it is Failed now)
    Started = 1,  // Downloading (or already was)
    WaitingForSite = 2,  // the site has no free connection: Ready, waits in the queue
};

// JobPart Wait kinds.
enum class PartWait : int { Clear = -1, Kind0 = 0, Kind1 = 1, Retry = 2, DialUp = 3 };

// A job whose connections all wait to try again, as front ends show it
// ("retry 2/5 in 4 s: HTTP 503").
struct RetryWait {
    int32_t attempt = 0;  // the retry being waited for, counted from 1
    int32_t limit = -1;  // the most retries the job makes; -1 unlimited
    int32_t secondsLeft = 0;  // until the soonest connection tries again
    std::string cause;  // why the last attempt failed
};

// A live stream that has recorded more than this is finished rather than
// retried when its connection fails.
inline constexpr int64_t kStreamEndMinBytes = 51199;

class JobRunner final : public PartWriteHost, public PartLogSink {
public:
    JobRunner(DownloadJob& job, EngineContext& context);
    ~JobRunner() override;
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // ---- job operations --------------------------------------------------------
    // `Start` of DownloadJob: makes the runner when the job has none.
    static JobStartResult Start(DownloadJob& job, EngineContext& context);
    // Stops a running job for a reason (user 1, schedule 4, ...): Finish.
    static void Stop(DownloadJob& job, StopReason reason);
    // `Finish` of DownloadJob. trigger: the part whose report caused it.
    void Finish(StopReason reason, JobPart* trigger = nullptr);

    // Writes the write cache out and syncs the file's data to the disk, so
    // that a database saved now records only ranges that are on disk. False
    // when that failed: the ranges that may not have reached the disk are
    // taken back and the job fails.
    bool FlushForSave();
    // The same for a save whose disk work runs on another thread: the cache
    // is written out here, and the file's descriptor is handed over (a
    // duplicate, -1 when nothing needs a sync) for that thread to sync
    // before it writes the database. When that sync fails,
    // BackgroundSyncFailed takes the ranges back and fails the job.
    int FlushForBackgroundSave();
    void BackgroundSyncFailed(int error);

    // One connection more or less while the job runs: the split count
    // changes, and a new part takes over a free gap (or half of the largest
    // one), or the last running part stops and leaves its range to the
    // others. False when the job cannot change now (not running, no known
    // size, at the limit, a single part).
    bool ChangeSplitCount(int delta);

    // ---- part operations -------------------------------------------------------
    bool StartPart(JobPart& part, bool isRetry, bool useSiteLimit);
    void StopPart(JobPart& part, StopReason reason);
    // retryAfterSeconds: for a retry wait, how long the server asked for
    // (-1: it did not say, the configured delay applies).
    void WaitPart(JobPart& part, PartWait kind, int32_t retryAfterSeconds = -1);
    // Counts one retry; false (the part stopped, maybe the job failed) when
    // the limit is reached.
    bool RetryCheck(JobPart& part);
    // The answer to WM_PART_ERROR: 1 wait and reconnect, 0 the thread ends.
    int RetryDecision(JobPart& part, int32_t retryAfterSeconds = -1);
    // A server announced its site's limit while the part was connected: the
    // part's connection counts against that record from now on.
    void countSiteConnection(JobPart& part, SiteConnectionLimit* site);

    // ---- thread messages (CJobWnd, under the job lock) -----------------------
    // Marks a handler frame; old parts and windows are freed only when none
    // is active.
    class HandlerScope {
    public:
        explicit HandlerScope(JobRunner& runner);
        ~HandlerScope();
        HandlerScope(const HandlerScope&) = delete;
        HandlerScope& operator=(const HandlerScope&) = delete;

    private:
        JobRunner& m_runner;
    };
    // The part whose current, alive handle block this is; none otherwise.
    JobPart* partOfBlock(const ThreadHandleBlock* block) const;
    intptr_t onResolved(JobPart& part, const PartMessage& message);
    intptr_t onData(JobPart& part, const PartMessage& message);
    intptr_t onResponse(JobPart& part, const PartMessage& message);
    intptr_t onConnectEvent(int socket, uint32_t event);
    intptr_t onError(JobPart& part, const PartMessage& message);
    intptr_t onDone(JobPart& part);
    intptr_t onExit(JobPart& part);
    intptr_t onPingDone(JobPart& part);
    intptr_t onSearchDone(JobPart& part);
    intptr_t onLog(JobPart& part, const PartMessage& message);
    intptr_t onPingResult(JobPart& part, const PartMessage& message);
    intptr_t onSearchResult(JobPart& part, const PartMessage& message);
    intptr_t onRestart();
    // Timer 1001; false when the timer should stop.
    bool onTimer();

    // ---- read-outs -------------------------------------------------------------
    DownloadJob& job() const { return m_job; }
    PartList& parts() { return m_parts; }
    const PartList& parts() const { return m_parts; }
    const RunFigures& figures() const { return m_figures; }
    const OutputFile& file() const { return m_file; }
    CJobWnd* window() const { return m_window.get(); }
    size_t runningParts() const;
    // Set while every running connection waits for its retry.
    std::optional<RetryWait> retryWait() const;
    // The part's current handle block; none when it is stopped.
    const ThreadHandleBlock* blockOf(const JobPart& part) const;

    // ---- logging ---------------------------------------------------------------
    void log(JobPart& part, LogKind kind, std::string text);
    // A string-table message with the kind it is always logged with (or the
    // one given), filled from args.
    void logMessage(JobPart& part, uint32_t messageId, std::initializer_list<std::string_view> args = {});
    void logMessage(JobPart& part, uint32_t messageId, LogKind kind, std::initializer_list<std::string_view> args = {});
    // Job-level lines go to the first part; dropped when there is none.
    void logOnJob(LogKind kind, std::string text);
    void logMessageOnJob(uint32_t messageId, std::initializer_list<std::string_view> args = {});

    // ---- PartWriteHost ---------------------------------------------------------
    bool writeBlock(int64_t position, std::span<const uint8_t> data) override;
    void countReceived(uint64_t length) override;
    void stopPart(JobPart& part, StopReason reason) override;
    void partMoved(JobPart& part) override;
    void completedChanged(int64_t completedBytes) override;
    void finishJob(StopReason reason) override;

    // ---- PartLogSink -----------------------------------------------------------
    void partLogged(const PartLog& log, const LogEntry& entry) override;

private:
    struct PartRuntime {
        HandleBlockPtr block;
        SiteConnectionLimit* site = nullptr;  // the connection counted for the part
        int redirects = 0;
        uint32_t retryAtTick = 0;  // while the part waits to retry: when its thread tries again
        // Where the part's FTP worker leaves its connection for the next job.
        std::shared_ptr<FtpHandover> handOn;
    };
    struct UrlState {
        bool bad = false;  // not found or refused: never tried again this run
        bool failed = false;
        uint32_t failTick = 0;
        int rangeRefusals = 0;  // reconnects answered without the range
    };

    JobStartResult startJob();
    // A live stream (no size) that has recorded enough counts as finished
    // when its part fails or stops: the recording is what the user wanted.
    bool streamEndReached() const;
    // Makes a finished live ASF recording a file players can measure.
    void finalizeStreamFile();
    bool startTransferThread(JobPart& part, const UrlEntry& url, const ProxyEntry* proxy, bool isRetry);
    // "Reuse FTP connections": the part's FTP worker may take over the job
    // before's connection and leaves its own for the job after.
    void handOverFtpConnections(JobPart& part, const UrlEntry& url, const ProxyEntry* proxy, TransferTask& task);
    void keepFtpConnectionForNextJob();
    bool startMirrorThreads(JobPart& part);
    // The settings the search worker reads.
    void fillSearchOptions(MirrorSearchOptions& search);
    bool applySiteLimit(JobPart& part, bool useSiteLimit);
    // False (the part stopped) when the part has nothing left to fetch and
    // no free gap to take over.
    bool keepOnlyWithRangeLeft(JobPart& part);
    // Parts the site's limit kept from starting start now where the site has
    // room again and they have something to fetch.
    void startPartsRefusedAConnection();
    const ProxyEntry* proxyFor(const JobPart& part, const UrlEntry& url) const;
    std::optional<size_t> nextUsableUrl(const JobPart& part, bool skipBad) const;
    bool siteHasRoom(const UrlEntry& url) const;
    void retireBlock(JobPart& part);
    void releaseSite(JobPart& part);
    void startParts(const std::vector<size_t>& indices);
    JobPart& addPart(const PartRange& range, uint32_t urlIndex, uint32_t flags);
    JobRangeView rangeView();
    size_t indexOf(const JobPart& part) const;
    JobPart* firstPart() const;
    bool anyPartRunning() const;
    void dropParts();
    void purgeDead();
    void chooseProxies();
    TransferSettings transferSettings(const ProxyEntry* proxy) const;
    OutputFileRequest outputRequest() const;

    // response handling (job_runner_response.cpp)
public:
    // What HandleResponse asks of the runner beyond its public operations,
    // for one answer.
    class ResponseHooks {
    public:
        ResponseHooks(JobRunner& runner, bool sizeKnownBefore)
            : m_runner(runner), m_sizeKnownBefore(sizeKnownBefore) { }
        bool firstAnswer() const;
        void markAnswered();
        int& redirectCount(JobPart& part);
        FileIdentity& runIdentity();
        bool noteRangeRefused(JobPart& part);
        bool otherPartRunning(const JobPart& part) const;
        void retryLater(JobPart& part);
        bool hasOtherUrl(const JobPart& part) const;
        void noteUrlFailure(JobPart& part, bool bad);
        bool moveToNextUrl(JobPart& part);
        // The URL cannot resume (or the server's file is newer): the other
        // parts stop and this part fetches everything again from byte 0.
        void restartFromZero(JobPart& part, bool newerFile);
        // The first answer is in: split the job, or start the mirror search.
        void startOtherParts(JobPart& part);

    private:
        JobRunner& m_runner;
        bool m_sizeKnownBefore;
    };

private:
    bool startSearchPart();
    void goOnAfterMirrors(JobPart& mirrorPart);
    bool singleConnectionOnly() const;
    void orderUrlsByPing();
    bool nothingReceived() const;

    // finishing (job_runner_finish.cpp)
    bool closeFile(StopReason reason);
    bool renameToFinal();
    // Notes the finish in the journal before the file takes the name `to`;
    // false (logged) when the note did not reach the disk.
    bool noteFinish(const std::filesystem::path& to);
    void renamedToFinal();
    // The ranges say every byte is done, the ".kx!" file is gone and the
    // final file is there with the recorded size: the last run renamed it
    // and ended before the database recorded the finish.
    bool finishedUnderFinalName() const;
    bool smallFileRestart();
    void destroyWindow();

    int32_t option(OptionId id) const;
    std::string messageText(uint32_t messageId, std::initializer_list<std::string_view> args) const;
    std::time_t now() const;
    uint32_t tick() const;

    DownloadJob& m_job;
    EngineContext& m_ctx;
    PartList m_parts;
    std::unordered_map<const JobPart*, PartRuntime> m_runtime;
    std::vector<UrlState> m_urlStates;
    OutputFile m_file;
    RunFigures m_figures;
    std::unique_ptr<CJobWnd> m_window;
    // Freed only when no handler of this runner is on the stack.
    std::vector<std::unique_ptr<JobPart>> m_deadParts;
    std::vector<std::unique_ptr<CJobWnd>> m_deadWindows;
    int m_handlerDepth = 0;
    JobProxies m_proxies;
    bool m_firstAnswerSeen = false;
    FileIdentity m_runIdentity;
    bool m_finishing = false;
    bool m_restartPending = false;
    bool m_finalFileIsOurs = false;  // this start found the file already renamed
    // Error lines logged while a part stops restate its reason; they never
    // replace the cause of the failure.
    bool m_loggingStop = false;
    // A part that held a connection of a limited site was stopped by the
    // part before it reaching its start: the connection is free for another.
    bool m_siteConnectionFreed = false;
    size_t m_urlCountBeforeSearch = 0;
};

// The destroy function a JobRunnerPtr carries.
void destroyJobRunner(JobRunner* runner);
// The job's runner; none when it never ran (or its database was reloaded).
JobRunner* runnerOf(const DownloadJob& job);

}  // namespace fetchora
