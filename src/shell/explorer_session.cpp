#include "shell/explorer_session.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "config/app_settings.h"
#include "config/job_proxies.h"
#include "config/proxy_list.h"
#include "config/site_rules.h"
#include "engine/job_runner.h"
#include "engine/runner_host_window.h"
#include "engine/site_connections.h"
#include "engine/thread_handle_block.h"
#include "engine/transfer_threads.h"
#include "explorer/explorer_fetch_results.h"
#include "model/part_log.h"
#include "net/ftp_listing.h"
#include "net/tls_stream.h"
#include "net/url.h"
#include "platform/text_utils.h"
#include "shell/application.h"
#include "shell/shell_texts.h"
#include "shell/transfer_procedures.h"

namespace fetchora {

namespace {

// Internal: the links of a fetched page have been extracted.
constexpr uint32_t kLinksExtractedMessage = kWmUser + 5;
// A page's link nodes are made this many at a time, as many batches per turn
// of the loop as fit in the slice.
constexpr size_t kLinkNodesBatch = 250;
constexpr auto kLinkNodesSlice = std::chrono::milliseconds(8);
// How long the end of a window waits for its fetch threads.
constexpr auto kJoinTimeout = std::chrono::seconds(5);

std::string_view trimmed(std::string_view text)
{
    const size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos)
        return {};
    const size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

std::string schemeOf(std::string_view url)
{
    const size_t colon = url.find("://");
    return colon == std::string_view::npos ? std::string() : asciiLower(url.substr(0, colon));
}

bool isBrowsedScheme(std::string_view scheme)
{
    return scheme == "http" || scheme == "https" || scheme == "ftp";
}

// The listing worker's log: lines are kept and handed to the window with
// the result.
class CollectedLog final : public ConnectionLog {
public:
    void logLine(ConnectionLogKind, std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

TransferSettings listingSettings(const AppSettings& settings)
{
    TransferSettings out;
    out.connectTimeoutMs = settings.GetOption(OptionId::ConnectTimeout) * 1000;
    out.dataTimeoutMs = settings.GetOption(OptionId::DataTimeout) * 1000;
    out.retryDelaySeconds = std::max(1, settings.GetOption(OptionId::RetryDelay));
    out.ftpPassive = settings.GetOption(OptionId::FtpPassive) != 0;
    out.anonymousPassword = settings.GetOptionText(OptionId::AnonymousEMail);
    return out;
}

std::atomic<uint32_t> g_sessionNumber{0};

}  // namespace

// The FTP proxy a new job of this URL would use: the run's proxy, else the
// defaults (always with option 31, else unless the site rule names others).
std::optional<ProxyEntry> ExplorerFtpProxy(const AppSettings& settings, const std::string& url)
{
    JobProxies chosen;
    if (const ProxyEntry* run = settings.runProxy()) {
        chosen = RunProxies(*run);
    } else {
        const ProxyList& proxies = settings.proxies();
        JobProxyRequest request;
        request.useDefaultProxies = settings.GetOption(OptionId::UseDefaultProxies) > 0;
        request.own = {static_cast<uint16_t>(proxies.defaultIndex(ProxyDefault::Http)),
                       static_cast<uint16_t>(proxies.defaultIndex(ProxyDefault::Ftp)),
                       static_cast<uint16_t>(proxies.defaultIndex(ProxyDefault::Stream))};
        request.siteRule = settings.siteRules().FindSiteRule(url);
        chosen = ChooseJobProxies(proxies, request);
    }
    if (chosen.ftp == nullptr || chosen.ftp->type == kProxyDirect)
        return std::nullopt;
    return *chosen.ftp;
}

namespace {

}  // namespace

std::optional<std::string> ExplorerAddress(std::string_view typed)
{
    std::string url(trimmed(typed));
    if (url.empty())
        return std::nullopt;
    if (url.find("://") == std::string::npos) {
        // "mailto:x" or "javascript:..." is no address; "host:8080/" is.
        const size_t colon = url.find(':');
        if (colon != std::string::npos && colon < url.find_first_of("/.")
            && (colon + 1 == url.size() || !std::isdigit(static_cast<unsigned char>(url[colon + 1]))))
            return std::nullopt;
        url.insert(0, asciiLower(std::string_view(url).substr(0, 4)) == "ftp." ? "ftp://" : "http://");
    }
    const size_t colon = url.find("://");
    const std::string scheme = asciiLower(std::string_view(url).substr(0, colon));
    if (!isBrowsedScheme(scheme))
        return std::nullopt;
    url.replace(0, colon, scheme);
    if (!ParseUrl(url))
        return std::nullopt;
    if (url.find_first_of("/?#", colon + 3) == std::string::npos)
        url += '/';
    if (!SplitExplorerAddress(url))
        return std::nullopt;
    return url;
}

LinkListRequest ExplorerDownloadRequest(const std::vector<EntryRow>& rows)
{
    LinkListRequest request;
    request.source = kListWithOwnReferers;
    for (const EntryRow& row : rows) {
        std::optional<PickedDownload> picked = PickedDownloadOf(row);
        if (!picked || !isBrowsedScheme(schemeOf(picked->url)) || !ParseUrl(picked->url))
            continue;
        CapturedLink link;
        link.url = std::move(picked->url);
        link.text = std::move(picked->title);
        link.referer = std::move(picked->referrer);
        request.links.push_back(std::move(link));
    }
    if (!rows.empty() && rows.front().page != nullptr)
        request.baseUrl = rows.front().page->url;
    return request;
}

// One fetch of a node. The worker (when there is one) writes only into the
// result fields, and only until it posts; the window joins it before reading.
struct ExplorerSession::Fetch {
    uint32_t token = 0;
    std::string url;
    ExplorerNode* node = nullptr;
    std::unique_ptr<DownloadJob> job;
    std::thread worker;
    std::atomic<bool> alive{true};
    // Results.
    bool completed = false;
    FtpListing listing;
    std::vector<ExtractedLink> links;
    std::vector<std::string> log;
    // The nodes of a read page's links, made a batch per turn of the loop.
    std::unique_ptr<PageLinkNodes> linkNodes;
};

ExplorerSession::ExplorerSession(Application& app, ExplorerListener& listener)
    : MessageWindow(app.loop()), m_app(app), m_listener(listener)
{
    m_tempFolder
        = app.temporaryFolder() / ("explorer-" + std::to_string(getpid()) + "-" + std::to_string(++g_sessionNumber));
    std::error_code error;
    std::filesystem::create_directories(m_tempFolder, error);
    m_store.setPageTypes(app.settings().GetOptionText(OptionId::ExploreTypes));

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

ExplorerSession::~ExplorerSession()
{
    destroy();
    {
        JobLockGuard lock(m_app.jobLock());
        for (auto& [token, fetch] : m_fetches) {
            fetch->alive = false;
            if (fetch->job && fetch->job->GetState() == JobState::Downloading)
                JobRunner::Stop(*fetch->job, StopReason::Silent);
        }
    }
    for (auto& [token, fetch] : m_fetches) {
        if (fetch->worker.joinable())
            fetch->worker.join();
    }
    {
        JobLockGuard lock(m_app.jobLock());
        m_fetches.clear();
    }
    m_threads->joinAll(kJoinTimeout);
    m_hostWindow->destroy();
    std::error_code error;
    std::filesystem::remove_all(m_tempFolder, error);
}

bool ExplorerSession::fetching(const ExplorerNode& node) const
{
    for (const auto& [token, fetch] : m_fetches) {
        if (fetch->node == &node)
            return true;
    }
    return false;
}

ExplorerNode* ExplorerSession::browse(std::string_view typed)
{
    const std::optional<std::string> url = ExplorerAddress(typed);
    if (!url) {
        m_listener.logLine(builtinText(kStrNotBrowsedAddress, {trimmed(typed)}));
        return nullptr;
    }
    ExplorerNode* node = nullptr;
    {
        JobLockGuard lock(m_app.jobLock());
        node = m_store.addAddress(*url);
        // A file is shown in its folder's list.
        if (node != nullptr && node->kind == ExplorerNodeKind::File && node->parent != nullptr)
            node = node->parent;
    }
    if (node != nullptr && !node->fetched)
        fetch(*node);
    return node;
}

void ExplorerSession::fetch(ExplorerNode& node)
{
    if (node.kind == ExplorerNodeKind::File || fetching(node))
        return;
    if (schemeOf(node.url) == "ftp")
        startListing(node);
    else
        startPage(node);
    setBusy();
}

void ExplorerSession::refresh(ExplorerNode& node)
{
    if (fetching(node))
        return;
    std::error_code error;
    if (!node.tempFile.empty())
        std::filesystem::remove(node.tempFile, error);
    node.tempFile.clear();
    node.fetched = false;
    fetch(node);
}

void ExplorerSession::stop()
{
    JobLockGuard lock(m_app.jobLock());
    for (auto& [token, fetch] : m_fetches) {
        fetch->alive = false;
        if (fetch->job && fetch->job->GetState() == JobState::Downloading)
            JobRunner::Stop(*fetch->job, StopReason::User);
    }
}

void ExplorerSession::startListing(ExplorerNode& node)
{
    auto fetch = std::make_unique<Fetch>();
    Fetch& f = *fetch;
    f.token = m_nextToken++;
    f.url = node.url;
    f.node = &node;
    m_listener.logLine(builtinText(kStrListing, {node.url}));
    const TransferSettings settings = listingSettings(m_app.settings());
    std::optional<ProxyEntry> proxy;
    {
        JobLockGuard lock(m_app.jobLock());
        proxy = ExplorerFtpProxy(m_app.settings(), node.url);
    }
    if (proxy && proxy->type == kProxyHttpGet)
        m_listener.logLine(builtinText(kStrHttpProxyForFtp));
    const WindowId window = id();
    MessageLoop& loop = m_app.loop();
    m_fetches.emplace(f.token, std::move(fetch));
    f.worker = std::thread([&f, settings, proxy, window, &loop] {
        CollectedLog log;
        f.listing = ListFtpDirectory(
            f.url, proxy, settings, [&f] { return f.alive.load(); }, log);
        f.log = std::move(log.lines);
        loop.post(window, kExplorerListingMessage, f.token);
    });
}

void ExplorerSession::startPage(ExplorerNode& node)
{
    auto fetch = std::make_unique<Fetch>();
    Fetch& f = *fetch;
    f.token = m_nextToken++;
    f.url = node.url;
    f.node = &node;
    const std::filesystem::path folder = m_tempFolder / ("fetch-" + std::to_string(f.token));
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    JobLockGuard lock(m_app.jobLock());
    auto job = std::make_unique<DownloadJob>();
    if (!job->SetUrl(node.url)) {
        m_listener.logLine(FetchEndedLogLine(false, node.url));
        return;
    }
    job->saveFolder = folder.string();
    job->formatFlags |= kFmtTempFile;
    job->splitCount = 1;
    job->startMode = StartMode::Immediately;
    job->run().siteWindow = this;
    job->RebuildUrlEntries(&m_app.settings().siteRules());
    f.job = std::move(job);
    node.fetchJob = f.job.get();
    m_fetches.emplace(f.token, std::move(fetch));
    if (JobRunner::Start(*f.job, m_context) == JobStartResult::Failed && f.job->GetState() != JobState::Downloading)
        MessageWindow::post(kExplorerPageMessage, f.token);
}

ExplorerSession::Fetch* ExplorerSession::fetchOfJob(const DownloadJob& job)
{
    for (auto& [token, fetch] : m_fetches) {
        if (fetch->job.get() == &job)
            return fetch.get();
    }
    return nullptr;
}

void ExplorerSession::partLogged(DownloadJob&, JobPart&, const LogEntry& entry)
{
    m_listener.logLine(entry.text);
}

void ExplorerSession::jobStopped(DownloadJob& job, JobPart*, JobState)
{
    // The job is released once the runner's handler has returned.
    if (Fetch* fetch = fetchOfJob(job))
        MessageWindow::post(kExplorerPageMessage, fetch->token);
}

intptr_t ExplorerSession::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    const auto it = m_fetches.find(static_cast<uint32_t>(wParam));
    if (it == m_fetches.end()
        || (msg != kExplorerListingMessage && msg != kExplorerPageMessage && msg != kLinksExtractedMessage))
        return MessageWindow::handleMessage(msg, wParam, lParam);
    Fetch& fetch = *it->second;
    if (fetch.worker.joinable())
        fetch.worker.join();
    if (msg == kExplorerListingMessage)
        listingReady(fetch);
    else if (msg == kExplorerPageMessage)
        pageEnded(fetch);
    else
        linksReady(fetch);
    return 0;
}

void ExplorerSession::listingReady(Fetch& fetch)
{
    for (const std::string& line : fetch.log)
        m_listener.logLine(line);
    const bool ok = fetch.listing.ok && fetch.alive;
    ExplorerNode* folder = nullptr;
    if (ok) {
        JobLockGuard lock(m_app.jobLock());
        folder = FolderListingReady(m_store, fetch.url, {}, fetch.listing.entries, std::time(nullptr));
    } else if (!fetch.listing.error.empty()) {
        m_listener.logLine(fetch.listing.error);
    }
    m_listener.logLine(FetchEndedLogLine(ok, fetch.url));
    ExplorerNode* node = folder != nullptr ? folder : fetch.node;
    finish(fetch.token);
    m_listener.nodeFetched(*node);
}

void ExplorerSession::pageEnded(Fetch& fetch)
{
    ExplorerNode& node = *fetch.node;
    std::filesystem::path file;
    bool completed = false;
    {
        JobLockGuard lock(m_app.jobLock());
        node.fetchJob = nullptr;
        if (fetch.job) {
            completed = fetch.job->GetState() == JobState::Completed && fetch.alive;
            file = fetch.job->GetLocalPath();
        }
    }
    m_listener.logLine(FetchEndedLogLine(completed, fetch.url));
    if (!completed || !HoldsLinks(node)) {
        // A failed fetch leaves the node as it was.
        finish(fetch.token);
        m_listener.nodeFetched(node);
        return;
    }
    node.tempFile = file;
    std::string base;
    {
        JobLockGuard lock(m_app.jobLock());
        PageNodeOf(m_store, fetch.url, &base);
    }
    Fetch* f = &fetch;
    const WindowId window = id();
    MessageLoop& loop = m_app.loop();
    fetch.worker = std::thread([f, file, base, window, &loop] {
        f->links = ExtractLinksFromFile(file, base);
        loop.post(window, kLinksExtractedMessage, f->token);
    });
}

void ExplorerSession::linksReady(Fetch& fetch)
{
    if (fetch.alive && fetch.linkNodes == nullptr) {
        JobLockGuard lock(m_app.jobLock());
        fetch.linkNodes = std::make_unique<PageLinkNodes>(m_store, fetch.url, std::move(fetch.links));
    }
    if (fetch.linkNodes != nullptr && fetch.alive) {
        const auto sliceEnd = std::chrono::steady_clock::now() + kLinkNodesSlice;
        bool more = true;
        {
            JobLockGuard lock(m_app.jobLock());
            while (more && std::chrono::steady_clock::now() < sliceEnd)
                more = fetch.linkNodes->step(kLinkNodesBatch);
        }
        if (more) {
            // The rest on a later turn, after the window's own events.
            MessageWindow::post(kLinksExtractedMessage, fetch.token);
            return;
        }
    }
    ExplorerNode* node = fetch.linkNodes != nullptr ? fetch.linkNodes->node() : nullptr;
    if (node == nullptr)
        node = fetch.node;
    finish(fetch.token);
    m_listener.nodeFetched(*node);
}

void ExplorerSession::finish(uint32_t token)
{
    {
        JobLockGuard lock(m_app.jobLock());
        m_fetches.erase(token);
    }
    setBusy();
}

void ExplorerSession::setBusy()
{
    if (busy() != m_wasBusy) {
        m_wasBusy = busy();
        m_listener.busyChanged(m_wasBusy);
    }
}

}  // namespace fetchora
