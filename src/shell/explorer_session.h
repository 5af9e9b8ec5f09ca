#pragma once
// What one site-explorer window does without a window: it browses
// addresses into its node store, fetches folders and pages through the
// engine, turns what came back into nodes and builds the list of picked
// entries for the main view.
//
// FTP folders are listed by a worker thread (the FTP listing); pages are
// fetched by a job of the window's own (a DownloadJob run by the job runner
// into the window's temporary folder), and their links are extracted on a
// worker thread, so that a huge page never holds the window. Results come
// back as messages to the session's own message window: WM_USER+212 for a
// folder listing, WM_USER+214 for an ended page fetch.
//
// Thread: the loop thread (the GUI thread in the desktop program), for
// every call and every listener call; node changes run under the job lock.
// Owns the node store, its fetch jobs, the workers and the transfer threads
// of its jobs, and its temporary folder (removed when it goes). Borrows the
// application and the listener, which must outlive it.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/proxy_entry.h"
#include "engine/engine_context.h"
#include "explorer/explorer_entries.h"
#include "explorer/explorer_node_store.h"
#include "model/job_notify.h"
#include "platform/message_window.h"
#include "shell/url_capture.h"

namespace fetchora {

class AppSettings;
class Application;
class RetiredHandleBlocks;
class RunnerHostWindow;
class SiteConnectionTable;
class TlsClientContext;
class TransferThreads;

inline constexpr uint32_t kExplorerListingMessage = kWmUser + 212;
inline constexpr uint32_t kExplorerPageMessage = kWmUser + 214;

// The address a user typed, as the explorer browses it: blanks trimmed,
// "http://" put before an address without a scheme ("ftp://" before one
// beginning with "ftp."), the scheme in lower case, "/" after a bare site.
// Nothing for anything but an http, https or ftp address with a host.
std::optional<std::string> ExplorerAddress(std::string_view typed);

// The picked rows as message 1231 carries them (source 2: each link with
// its own referrer and title). Only http, https and ftp URLs are taken.
LinkListRequest ExplorerDownloadRequest(const std::vector<EntryRow>& rows);

// The FTP proxy a listing of this URL goes through, as a new job's would;
// nothing for a direct connection.
std::optional<ProxyEntry> ExplorerFtpProxy(const AppSettings& settings, const std::string& url);

class ExplorerListener {
public:
    virtual ~ExplorerListener() = default;
    // A fetch of this node ended and changed it (new children, links, or
    // only its label): expand and reveal it, show it.
    virtual void nodeFetched(ExplorerNode& node) = 0;
    // A line for the log pane.
    virtual void logLine(const std::string& line) = 0;
    // Whether any fetch runs (the window's animation).
    virtual void busyChanged(bool busy) = 0;
};

class ExplorerSession final : private MessageWindow, private RunnerHost, private JobNotifySink {
public:
    ExplorerSession(Application& app, ExplorerListener& listener);
    ~ExplorerSession() override;
    ExplorerSession(const ExplorerSession&) = delete;
    ExplorerSession& operator=(const ExplorerSession&) = delete;

    // Browses an address: its nodes are made, and the node to show (the
    // folder of a file address) is fetched unless it was already. Null for
    // an address the explorer does not browse (logged).
    ExplorerNode* browse(std::string_view typed);
    // Fetches a node now unless a fetch of it runs; a file fetches nothing.
    void fetch(ExplorerNode& node);
    // Deletes the node's temporary file and fetches it again.
    void refresh(ExplorerNode& node);
    // Stops every running fetch; each ends as a failure.
    void stop();
    bool busy() const { return !m_fetches.empty(); }
    bool fetching(const ExplorerNode& node) const;

    ExplorerNodeStore& store() { return m_store; }
    const std::filesystem::path& temporaryFolder() const { return m_tempFolder; }

private:
    struct Fetch;

    void startListing(ExplorerNode& node);
    void startPage(ExplorerNode& node);
    void finish(uint32_t token);
    void listingReady(Fetch& fetch);
    void pageEnded(Fetch& fetch);
    void linksReady(Fetch& fetch);
    Fetch* fetchOfJob(const DownloadJob& job);
    void setBusy();

    // MessageWindow
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    // RunnerHost: only the end of a fetch job and its log lines matter here.
    void partLogged(DownloadJob& job, JobPart& part, const LogEntry& entry) override;
    void partAdded(DownloadJob&, JobPart&) override { }
    void saveDatabase() override { }
    bool moveJobToEnd(DownloadJob&) override { return false; }
    void jobEnded(DownloadJob&, StopReason) override { }
    void jobStopped(DownloadJob& job, JobPart* trigger, JobState newState) override;
    // JobNotifySink: fetch jobs are nobody's list rows.
    void post(uint32_t, uintptr_t, intptr_t) override { }

    Application& m_app;
    ExplorerListener& m_listener;
    ExplorerNodeStore m_store;
    std::filesystem::path m_tempFolder;
    uint32_t m_nextToken = 1;
    bool m_wasBusy = false;
    std::unique_ptr<TlsClientContext> m_tls;
    std::unique_ptr<SiteConnectionTable> m_sites;
    std::unique_ptr<TransferThreads> m_threads;
    std::unique_ptr<RetiredHandleBlocks> m_retired;
    std::unique_ptr<RunnerHostWindow> m_hostWindow;
    EngineContext m_context;
    // Last, so that it goes first: its workers write into the fetches.
    std::map<uint32_t, std::unique_ptr<Fetch>> m_fetches;
};

}  // namespace fetchora
