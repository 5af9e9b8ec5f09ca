#pragma once
// The main window's logic without a window: it holds the job database, the
// queue and the engine, receives every engine notification, runs every
// command of the main window and decides what the list shows. The desktop
// program draws it; the daemon runs it with nobody watching. Questions go
// through UserPrompts, the desktop through DesktopActions, and what only a
// frame can do (come to the front, exit, the clipboard) through MainViewHost.
//
// Thread: the loop thread, for every call. Transfer threads reach it only
// through the loop (the runner's sends and the records' posts). Owns the
// document, the engine services, the queue and the list model; borrows the
// application, the prompts, the desktop and the host, which must outlive it.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/closed_file_syncs.h"
#include "engine/engine_context.h"
#include "engine/job_queue.h"
#include "engine/sync_failures.h"
#include "model/database_file.h"
#include "model/job_notify.h"
#include "platform/message_window.h"
#include "shell/add_download.h"
#include "shell/background_saver.h"
#include "shell/category_names.h"
#include "shell/click_catcher.h"
#include "shell/end_of_work.h"
#include "shell/schedule.h"
#include "shell/url_capture.h"
#include "shell/user_prompts.h"
#include "shell/view_command.h"
#include "shell/virus_scan.h"

namespace fetchora {

class Application;
class CZoviradDoc;
class DesktopActions;
class EngineServices;
class JobListModel;
class PowerControl;
struct FtpListEntry;

// Messages of the main view besides the engine's (WM_USER based).
inline constexpr uint32_t kAddUrlMessage = kWmUser + 204;  // 1228
inline constexpr uint32_t kAddLinksMessage = kWmUser + 207;  // 1231
inline constexpr uint32_t kSpeedSampleMessage = kWmUser + 208;  // 1232
inline constexpr uint32_t kOpenFileMessage = kWmUser + 217;  // 1241
inline constexpr uint32_t kStopAllSilentMessage = kWmUser + 218;  // 1242
inline constexpr uint32_t kFtpListingMessage = kWmUser + 221;  // 1245
// Internal: the jobs a "Pause All" stopped have all been handled.
inline constexpr uint32_t kPauseAllDoneMessage = kWmUser + 3;
// Jobs added to start at once wait for the save that records them.
inline constexpr uint32_t kStartAddedMessage = kWmUser + 9;
// The view's one-second timer.
inline constexpr uint32_t kViewTimerId = 1002;

// What only the frame around the view can do.
class MainViewHost {
public:
    virtual ~MainViewHost() = default;
    // Before a dialog opens for a URL that came from elsewhere.
    virtual void bringToFront() = 0;
    // The exit command (the frame closes, the program ends).
    virtual void requestExit() = 0;
    virtual std::string clipboardText() = 0;
    virtual void setClipboardText(const std::string& text) = 0;
    // Where the end of work shows its countdowns (a dialog, or a log line
    // and a timer without a window).
    virtual Countdown& countdown() = 0;
};

// Where the database of a start comes from.
struct DatabaseChoice {
    std::filesystem::path path;  // empty: a new database without a file
    std::vector<std::string> problems;  // said to the user, nothing lost
};

// Find's rule for the name field (lower case): a text with a "." matches
// base name and extension separately from their starts, one without must
// occur in the base name; a "*" ends the part that must match.
bool FindNameMatches(std::string_view fileName, std::string_view text);

class MainView final : public RunnerHost,
                       public QueueHost,
                       public JobNotifySink,
                       private MessageWindow,
                       private ClickCatcherHost,
                       private EndOfWorkHost {
public:
    MainView(Application& app, UserPrompts& prompts, DesktopActions& desktop, PowerControl& power, MainViewHost& host);
    ~MainView() override;
    MainView(const MainView&) = delete;
    MainView& operator=(const MainView&) = delete;

    // Builds the engine, opens the database of the start (the last one used,
    // its backup or the default one in the profile folder; a given file
    // instead when not empty), opens the "Download" category, starts the
    // queue and the one-second timer. Problems are reported through the
    // prompts; the view always starts.
    void start(const std::filesystem::path& databaseFile = {});
    // After a switch of the language: the special categories and the default
    // ones the user never renamed take their names in the new language
    // (shell/category_names.h); a changed name is saved.
    void languageChanged();
    // The view's end: stops every active job of the queue silently, saves
    // the settings and the database. Call once, before the loop ends.
    void close();
    // Waits for the transfer threads after the loop has ended.
    bool joinThreads();
    // Set when the end of work's shut-down countdown ended with OK: the
    // program's exit powers the machine off (ShutDownAtExit).
    bool shutDownAtExit() const { return m_endOfWork.shutDownAtExit(); }
    // Before start: where the schedule takes the local time from.
    void setScheduleClock(const ScheduleClock& clock);
    Schedule& schedule() { return *m_schedule; }

    // ---- URLs from elsewhere -------------------------------------------------------
    // A URL from the command line: handed to the view as message 1228 once
    // the loop runs (source 16 with a referrer, else 0).
    void postStartupUrl(const std::string& url, const std::string& referer);
    // Message 1228 and 1231, queued from any thread.
    void postUrl(UrlRequest request);
    void postLinks(LinkListRequest request);
    // The same, now (loop thread): the decision of who asks, then the
    // add-download operation. 0 when the URL was taken.
    int32_t handleUrl(const UrlRequest& request);
    LinkListResult handleLinks(const LinkListRequest& request);
    // The clipboard changed (the window watches it): a single monitored URL
    // is posted as message 1228 from the clipboard.
    void clipboardChanged(const std::string& text, bool ownWindowInFront);
    // A drop of text (one URL) or of "HTML Format" data (its links).
    void textDropped(const std::string& text);
    void htmlDropped(const std::string& htmlFormat);
    // The click catcher's service topic (loop thread).
    std::optional<std::string> serveClickCatcher(const std::string& topic, const std::string& item);

    WindowId windowId() const { return id(); }
    CZoviradDoc& doc() { return *m_doc; }
    // The job the commands act on (the list's focused row), if any.
    DownloadJob* focusedJob() const { return focused(); }
    // After the proxy list was edited: every job's proxy choices follow
    // their entries (renumbered[old index] = new index; 0 for a deleted one).
    void renumberProxies(const std::vector<int>& renumbered);
    JobQueue& queue() { return *m_queue; }
    JobListModel& list() { return *m_list; }
    DesktopActions& desktop() { return m_desktop; }
    const std::filesystem::path& databasePath() const { return m_databasePath; }

    // ---- commands --------------------------------------------------------------
    bool isEnabled(ViewCommand command, CommandKeys keys = {}) const;
    // Runs the command when it is enabled; false when it is not.
    bool run(ViewCommand command, CommandKeys keys = {});
    // A double click on a row: the command the double-click settings choose
    // for the job's state, run at once; none when they choose nothing.
    std::optional<ViewCommand> doubleClick(DownloadJob& job);
    // Moving the selected jobs onto a category (a drop on the tree or the
    // "Move To..." choice).
    void moveSelectedJobs(DownloadJob& category);
    // The last search, for Find Next.
    const std::optional<FindRequest>& lastFind() const { return m_find; }

    // ---- adding jobs -----------------------------------------------------------
    AddDownloadOutcome addDownload(const AddDownloadRequest& request);
    // Starts a job now when a slot is free (forced: up to 10 at once),
    // else lets it wait in the queue. A Completed job never starts.
    void startJob(DownloadJob& job, bool forced);
    // Saves once for the jobs added to start at once, then starts them.
    void startAddedJobs(uintptr_t generation);
    // Saves the jobs added so far now (and starts those that wait for that
    // save), so that an add acknowledged to another process survives a kill.
    void recordAddedJobs();

    // An FTP job's URL named a folder (message 1245): the job takes the first
    // entry not yet listed, every further entry becomes a job with its
    // settings; a folder entry gets a local folder of its own (option 0x1000)
    // and a category named after it (0x2000).
    void ftpDirectoryListed(DownloadJob& job, const std::vector<FtpListEntry>& entries);

    // Whether a job is active: downloading, or still holding its output file.
    static bool isActive(const DownloadJob& job);

    // ---- the one-second timer's pieces (also called by tests) ---------------------
    void onViewTimer();
    // Saves the database now (WM_USER+203). False when it could not.
    bool save();
    // The saves made while jobs run: the caches are written out and the
    // image taken here; syncing the files and writing the image happen on the
    // saver's thread (see shell/background_saver.h). save() waits for it.
    void saveInBackground();
    // The saver thread's reports of failed syncs and writes.
    void takeSaveReports();
    // A sync of a job's data failed after its runner let go of the file (or
    // while it held it): what may not be on the disk is fetched again.
    void dataSyncFailed(int32_t jobId, int error);
    // The finish journal the engine notes finishes in: the open database's
    // (see model/finish_journal.h); empty for a database without a file.
    std::filesystem::path finishJournal() const;
    // Test aid: called right after a finished file took its final name
    // (after start).
    void setAfterFinalRename(std::function<void(const DownloadJob&)> hook);

private:
    // RunnerHost
    void partLogged(DownloadJob& job, JobPart& part, const LogEntry& entry) override;
    void partAdded(DownloadJob& job, JobPart& part) override;
    void saveDatabase() override;
    bool moveJobToEnd(DownloadJob& job) override;
    void jobEnded(DownloadJob& job, StopReason reason) override;
    void jobStopped(DownloadJob& job, JobPart* trigger, JobState newState) override;
    void partRefreshed(DownloadJob& job, JobPart& part) override;

    // QueueHost
    bool scheduleWindowOpen() const override;
    bool hasSiteRecord(const DownloadJob& job) const override;
    bool siteFull(const DownloadJob& job) const override;
    void startJob(DownloadJob& job) override;
    void refreshList() override;
    void postFillQueue() override;
    void offerConnection(DownloadJob& finished, DownloadJob& next) override;
    void allDownloadsDone(bool scheduledJobsWaiting) override;

    // ClickCatcherHost
    int32_t monitorFlags() const override;
    bool closing() const override { return m_closing; }
    int32_t sendUrl(const CaughtUrl& url) override;
    void postUrl(const CaughtUrl& url) override;
    void postLinks(std::vector<CapturedLink> links, const std::string& baseUrl, int32_t listSource) override;

    // EndOfWorkHost
    void requestExit() override;

    // JobNotifySink: the records' change notices.
    void post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    // MessageWindow
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    void onTimer(uint32_t timerId) override;

    // Opening and finishing.
    DatabaseChoice chooseStartDatabase(const std::filesystem::path& given);
    void openDatabase(const std::filesystem::path& path);
    // The engine notes finishes in the journal of this database from now on.
    void useJournalOf(const std::filesystem::path& database);
    // After a write of an image taken when the journal was this long.
    void imageWritten(uint64_t journalEpoch, uint64_t journalBytes);
    // Notes in the journal where a job's files are about to go (folder and
    // final name), so that a kill before the next save still finds them.
    // True when the note is on the disk or nothing needs one; the caller
    // holds the job lock and leaves the files where they are on false.
    // A file moves only into a folder named from the root: a relative one
    // lies wherever the working folder of the moment is, so no note could
    // name it for the next start; false then, when a file would move.
    bool noteFileMove(const DownloadJob& job, const std::string& folder, const std::string& name);
    // The property sheet's rename and change of folder (JobFileChange): noted,
    // then the file renamed and the job's files moved; undone on a failure.
    bool changeJobFile(DownloadJob& job, const std::string& folder, const std::string& name);
    void finishJob(int32_t jobId);
    void deliverListChanges();
    void playSoundOption(int soundOption, int switchOption);
    // The update check and the new download of one job (also the duplicate
    // dialog's two choices): the job goes back to the queue.
    void recheckJob(DownloadJob& job);
    void redownloadJob(DownloadJob& job);

    // Commands (main_view_commands.cpp).
    std::vector<DownloadJob*> selection() const;
    DownloadJob* focused() const;
    bool downloadOpen() const;
    void startSelected(bool forced);
    void pauseSelected();
    void startAll();
    void pauseAll();
    void deleteJobs(std::vector<DownloadJob*> jobs, bool permanent);
    void reorder(ViewCommand command);
    void findNext(bool up);
    void renameFocused();
    void commentAsFileName();
    void editComment();
    void copyUrls();
    void checkForUpdate();
    void downloadAgain();
    void openFile();
    void openFolder();
    void fixZip();
    void virusScan(const DownloadJob& job, VirusScanTrigger trigger);
    void pasteUrl();
    void newCategory();
    void moveCategory();
    void deleteCategory();
    void categoryProperties();
    void properties();
    void changeSplit(int delta);
    void afterDelete();
    void replaceDatabase(const std::filesystem::path& file);
    void mergeDatabase();
    void exportFiles();
    void importList();
    void exportList();

public:
    // Several links at once (message 1231 and the list commands): "Select
    // links" first when there are several and the source is not 2 (the
    // browser's own choice), then each through the add-download operation
    // with its text as comment and the base URL as referrer; after the
    // first, "Use the same setting for other files?" decides whether the
    // others are asked too.
    void addLinks(const std::vector<LinkChoice>& links, const std::string& baseUrl, int32_t source);
    // "Add to job list" of the detail area's links pane: the chosen links,
    // with the URL of the detail job (whose page the pane shows) as their
    // referrer.
    void addPaneLinks(const std::vector<LinkChoice>& links);
    // Starts the jobs of these ids that wait in the queue unfinished (the
    // downloads a daemon was running when the window took over).
    void resumeJobs(const std::vector<int32_t>& ids);

private:
    void scheduleMinute();

    Application& m_app;
    UserPrompts& m_prompts;
    DesktopActions& m_desktop;
    PowerControl& m_power;
    MainViewHost& m_host;
    SystemScheduleClock m_systemClock;
    std::unique_ptr<Schedule> m_schedule;
    int m_scheduleMinute = -1;
    NoDialUp m_dialUp;
    EndOfWork m_endOfWork;
    ClickCatcher m_catcher;
    bool m_sleepInhibited = false;
    std::string m_copiedText;  // the last text the view put on the clipboard
    // Messages 1228 and 1231 wait here (guarded) until the loop takes them.
    std::mutex m_incomingLock;
    std::deque<UrlRequest> m_incomingUrls;
    std::deque<LinkListRequest> m_incomingLinks;

    std::filesystem::path m_databasePath;
    bool m_closing = false;
    bool m_pauseAll = false;
    bool m_dirty = false;
    CategoryNames m_categoryNames;
    uint32_t m_ticks = 0;
    DailyBackupCheck m_backup;
    AutoSaveClock m_autoSave;
    std::optional<FindRequest> m_find;
    // Jobs to start again once their stop has been handled (Restart).
    std::unordered_set<int32_t> m_restartAfterStop;
    // Jobs added to start at once, waiting for the save that records them.
    std::vector<int32_t> m_startsAfterSave;
    // Counts database switches, so that a stop notice of a job of the old
    // database finds nothing in the new one.
    uintptr_t m_generation = 0;
    // The journal is emptied only after an image taken after its last note
    // was written. The epoch counts the emptyings and database switches, so
    // that a late report of an older image never empties a journal that has
    // grown again to the same length.
    uint64_t m_journalEpoch = 0;
    struct JournalMark {
        uint64_t tag = 0;
        uint64_t epoch = 0;
        uint64_t bytes = 0;
    };
    JournalMark m_journalMark;  // of the newest image handed to the saver
    uint64_t m_saveTag = 0;

    // Declared first so that it goes last: the jobs' runners use it until
    // the document is gone.
    // Every failed sync of a job's file, on the loop or the saver's thread.
    SyncFailures m_syncFailures;
    // Finished jobs' files waiting for their sync on the saver's thread;
    // before the engine, so that it outlives every runner.
    ClosedFileSyncs m_closedFiles{&m_syncFailures};
    std::unique_ptr<EngineServices> m_engine;
    // What the saver's thread reported, for the loop thread.
    std::mutex m_saveReportsMutex;
    std::vector<BackgroundSaveReport> m_saveReports;
    std::unique_ptr<CZoviradDoc> m_doc;
    std::unique_ptr<JobQueue> m_queue;
    std::unique_ptr<JobListModel> m_list;
    std::unique_ptr<UrlCapture> m_capture;
    // Last, so that it goes first: its thread reports into the members above.
    std::unique_ptr<BackgroundSaver> m_saver;
};

}  // namespace fetchora
