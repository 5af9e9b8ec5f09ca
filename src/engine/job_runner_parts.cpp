// The part side of the job runner: starting a part's thread under the site's
// connection limit, stopping it, its wait states and the retry decision.
#include <algorithm>
#include <utility>

#include "config/app_settings.h"
#include "config/mirror_country.h"
#include "config/proxy_list.h"
#include "config/site_rules.h"
#include "engine/job_queue.h"
#include "engine/job_runner.h"
#include "engine/job_window.h"
#include "engine/site_connections.h"
#include "engine/transfer_threads.h"
#include "model/browser_job_fields.h"
#include "net/http_request.h"
#include "net/url.h"
#include "net/worker_cycles.h"

namespace fetchora {

// ---- site limit and proxies ----------------------------------------------------------

bool JobRunner::siteHasRoom(const UrlEntry& url) const
{
    if (m_job.run().noSiteLimit || !m_ctx.sites)
        return true;
    const SiteConnectionLimit* site = m_ctx.sites->lookup(url);
    return site == nullptr || site->hasRoom();
}

std::optional<size_t> JobRunner::nextUsableUrl(const JobPart& part, bool skipBad) const
{
    const size_t count = m_job.run().urlEntries.size();
    for (size_t step = 1; step < count; ++step) {
        const size_t index = (part.urlIndex + step) % count;
        if (skipBad && index < m_urlStates.size() && m_urlStates[index].bad)
            continue;
        const auto found = m_runtime.find(&part);
        const SiteConnectionLimit* own = found != m_runtime.end() ? found->second.site : nullptr;
        const SiteConnectionLimit* site
            = m_job.run().noSiteLimit || !m_ctx.sites ? nullptr : m_ctx.sites->lookup(m_job.run().urlEntries[index]);
        // The part's own connection is given back when it moves.
        if (site == nullptr || site == own || site->hasRoom())
            return index;
    }
    return std::nullopt;
}

bool JobRunner::applySiteLimit(JobPart& part, bool useSiteLimit)
{
    releaseSite(part);
    if (m_job.run().noSiteLimit || !m_ctx.sites)
        return true;
    PartRuntime& runtime = m_runtime[&part];
    SiteConnectionLimit* site = m_ctx.sites->lookup(m_job.run().urlEntries[part.urlIndex]);
    if (site == nullptr)
        return true;
    if (!useSiteLimit) {
        SiteConnectionTable::acquire(site);
        runtime.site = site;
        return true;
    }
    const auto connectedElsewhere = [&](const SiteConnectionLimit* record) {
        for (const auto& other : m_parts) {
            if (other.get() == &part || !other->isRunning())
                continue;
            const auto found = m_runtime.find(other.get());
            if (found != m_runtime.end() && found->second.site == record)
                return true;
        }
        return false;
    };
    const auto allowed = [&](const SiteConnectionLimit* record) {
        return record->hasRoom() && !(record->onePerFile && connectedElsewhere(record));
    };
    if (allowed(site)) {
        SiteConnectionTable::acquire(site);
        runtime.site = site;
        return true;
    }
    // Another URL of the job whose site has room.
    for (size_t index = 0; index < m_job.run().urlEntries.size(); ++index) {
        if (index == part.urlIndex || (index < m_urlStates.size() && m_urlStates[index].bad))
            continue;
        SiteConnectionLimit* other = m_ctx.sites->lookup(m_job.run().urlEntries[index]);
        if (other == nullptr || allowed(other)) {
            part.urlIndex = static_cast<uint32_t>(index);
            SiteConnectionTable::acquire(other);
            runtime.site = other;
            return true;
        }
    }
    retireBlock(part);
    part.markStopped(StopReason::NoConnectionSlot);
    m_job.Notify(kChangeParts);
    if (site->onePerFile) {
        logMessage(part, kMsgOnePerFile);
        return false;
    }
    logMessage(part, kMsgSiteFull);
    if (!anyPartRunning())
        Finish(StopReason::NoConnectionSlot, &part);
    return false;
}

void JobRunner::startPartsRefusedAConnection()
{
    // By index: a start that fails may finish the job and drop its parts.
    for (size_t i = 0; i < m_parts.size(); ++i) {
        if (m_finishing || m_job.GetState() != JobState::Downloading)
            return;
        JobPart& part = *m_parts[i];
        if (part.isRunning() || part.stopReason != StopReason::NoConnectionSlot)
            continue;
        const UrlEntry* url = m_job.GetUrl(part.urlIndex);
        if (url == nullptr || !siteHasRoom(*url))
            continue;
        // One connection per file: the part was refused for the connection
        // that still runs, not for want of room.
        if (const SiteConnectionLimit* site = m_ctx.sites ? m_ctx.sites->lookup(*url) : nullptr; site && site->onePerFile)
            continue;
        // A part whose start was reached meanwhile takes over a gap, if
        // any is left; otherwise it stays as it was refused.
        const JobRangeView view = rangeView();
        if (!HasRangeLeft(view, part.position()) && !FindTakeover(view, i))
            continue;
        StartPart(part, false, true);
    }
}

const ProxyEntry* JobRunner::proxyFor(const JobPart& part, const UrlEntry& url) const
{
    int kind = kMultiProxyHttp;
    const ProxyEntry* proxy = m_job.run().httpProxy;
    if (url.service == ServiceCode::Ftp) {
        kind = kMultiProxyFtp;
        proxy = m_job.run().ftpProxy;
    } else if (IsStreamService(url.service)) {
        kind = kMultiProxyStream;
        proxy = m_job.run().streamProxy;
    }
    const std::optional<std::string> text = CanonicalUrl(url);
    const SiteRule* rule = text ? m_ctx.settings->siteRules().FindSiteRule(*text) : nullptr;
    // A proxy given for the run carries every connection, rotation or not.
    if (rule && (rule->flags & kSiteMultiProxy) != 0 && !m_ctx.settings->runProxy()) {
        // Connection n of the job (counting from 1) takes the n-th proxy of the rotation.
        int connection = 1;
        for (const auto& other : m_parts) {
            if (other.get() != &part && other->isRunning())
                ++connection;
        }
        proxy = proxyForConnection(m_ctx.settings->proxies(), m_proxies, connection, kind);
    }
    return proxy && proxy->type != kProxyDirect ? proxy : nullptr;
}

TransferSettings JobRunner::transferSettings(const ProxyEntry*) const
{
    const AppSettings& settings = *m_ctx.settings;
    TransferSettings out;
    out.connectTimeoutMs = option(OptionId::ConnectTimeout) * 1000;
    out.dataTimeoutMs = option(OptionId::DataTimeout) * 1000;
    out.retryDelaySeconds = std::max(1, option(OptionId::RetryDelay));
    out.userAgentChoice = static_cast<uint32_t>(option(OptionId::UserAgentChoice));
    out.userAgentText = settings.GetOptionText(OptionId::UserAgentText);
    // A job the browser handed over asks as the browser did: a site that
    // checks the agent serves it as it served the page.
    if (const std::string agent = JobUserAgent(m_job); !agent.empty()) {
        out.userAgentChoice = kUserAgentUserDefined;
        out.userAgentText = agent;
    }
    out.sendReferer = option(OptionId::NoReferer) == 0;
    out.sendCookies = option(OptionId::SendCookies) > 0;
    out.alwaysRange = settings.alwaysRange();
    const ProxyEntry* direct = settings.proxies().ProxyAt(0);
    out.noCacheWithoutProxy = direct && (direct->flags & kProxyNoCache) != 0;
    out.rollback = settings.proxies().rollback();
    out.bandwidth = static_cast<uint32_t>(std::max(0, settings.bandWidth()));
    out.asciiTypes = settings.GetOptionText(OptionId::AsciiModeTypes);
    out.ftpPassive = option(OptionId::FtpPassive) != 0;
    out.anonymousPassword = settings.GetOptionText(OptionId::AnonymousEMail);
    out.ftpReuseIdleMs = m_ctx.ftpReuseIdleMs;
    return out;
}

// ---- threads ---------------------------------------------------------------------------

bool JobRunner::startTransferThread(JobPart& part, const UrlEntry& url, const ProxyEntry* proxy, bool isRetry)
{
    if (!m_ctx.threads || !m_window)
        return false;
    const TransferProcedureFn* procedure = m_ctx.threads->procedureFor(url.service, proxy);
    if (procedure == nullptr)
        return false;
    ThreadStartBlock start;
    start.job = &m_job;
    start.part = &part;
    start.block = m_runtime[&part].block;
    start.window = m_window->id();
    start.value = isRetry ? 1 : 0;
    start.sites = m_ctx.sites;
    if (proxy) {
        start.flags |= kStartProxyChosen;
        start.proxy = *proxy;
    }
    TransferTask task;
    task.url = url;
    task.referer = m_job.referer;
    task.proxy = start.proxy;
    task.isRetry = isRetry;
    task.settings = transferSettings(proxy);
    task.limiter = m_ctx.limiter;
    task.tls = m_ctx.tls;
    task.cookies = m_ctx.cookies;
    handOverFtpConnections(part, url, proxy, task);
    return m_ctx.threads->startTransfer(*procedure, start, std::move(task));
}

void JobRunner::handOverFtpConnections(JobPart& part, const UrlEntry& url, const ProxyEntry* proxy, TransferTask& task)
{
    // The first part to start takes what the job before left; a connection
    // to another route is dropped (and closed by its last holder).
    std::shared_ptr<FtpHandover> offered = std::exchange(m_job.run().reusedConnection, nullptr);
    std::shared_ptr<FtpHandover>& handOn = m_runtime[&part].handOn;
    handOn.reset();
    const bool ftpWorker = url.service == ServiceCode::Ftp && !(proxy && proxy->type == kProxyHttpGet);
    if (offered && ftpWorker && canReuseFtpConnection(offered->route(), offered->proxy(), url, proxy))
        task.takeOver = std::move(offered);
    else if (offered)
        offered->withdraw();
    if (!ftpWorker)
        return;
    if (option(OptionId::ReuseFtpConnections) == 0)
        return;
    handOn = std::make_shared<FtpHandover>(url, proxy);
    task.handOn = handOn;
}

void JobRunner::keepFtpConnectionForNextJob()
{
    // What the job before left and no part took is nobody's now.
    if (m_job.run().reusedConnection)
        m_job.run().reusedConnection->withdraw();
    m_job.run().reusedConnection.reset();
    if (option(OptionId::ReuseFtpConnections) == 0)
        return;
    // One connection goes on: the first whose worker has not ended without one.
    for (const auto& part : m_parts) {
        const auto found = m_runtime.find(part.get());
        if (found != m_runtime.end() && found->second.handOn && found->second.handOn->want()) {
            m_job.run().reusedConnection = found->second.handOn;
            return;
        }
    }
}

void JobRunner::fillSearchOptions(MirrorSearchOptions& search)
{
    search.jobUrl = m_job.url;
    if (!m_ctx.settings)
        return;
    const AppSettings& settings = *m_ctx.settings;
    search.countryCode = settings.GetOptionText(OptionId::MirrorCountryCode);
    search.countryList = settings.GetOptionText(OptionId::MirrorCountryList);
    search.searchTemplate = settings.GetOptionText(OptionId::MirrorSearchServer);
    search.maxHit = settings.GetOption(OptionId::FtpSearchMaxHit);
    search.ftpSearch = settings.GetOption(OptionId::FtpSearch) > 0;
    search.sharingService = settings.GetOption(OptionId::UrlSharingService) > 0;
    search.shareUrls = settings.GetOption(OptionId::ShareUrls) > 0;
    search.simplifiedChinese = isSimplifiedChineseLocale(settings.environment().localeName);
    search.today = DailyDateCode(m_ctx.now ? m_ctx.now() : std::time(nullptr));
    search.checkDate = settings.checkDate();
}

bool JobRunner::startMirrorThreads(JobPart& part)
{
    if (!m_ctx.threads || !m_window)
        return false;
    ThreadStartBlock start;
    start.job = &m_job;
    start.part = &part;
    start.block = m_runtime[&part].block;
    start.window = m_window->id();
    const bool ping = (part.flags & kPartMirrorPing) != 0;
    const auto makeTask = [this](size_t firstIndex) {
        MirrorTask task;
        task.urls = m_job.run().urlEntries;
        task.urlCount = m_job.run().urlEntries.size();
        task.firstIndex = firstIndex;
        task.fileName = m_job.GetDisplayName();
        task.fileSize = m_job.fileSize;
        task.settings = transferSettings(m_job.run().httpProxy);
        task.limiter = m_ctx.limiter;
        if (m_job.run().httpProxy)
            task.proxy = *m_job.run().httpProxy;
        task.tls = m_ctx.tls;
        return task;
    };
    if (!ping) {
        MirrorTask task = makeTask(0);
        fillSearchOptions(task.search);
        m_job.run().runFlags |= kRunSearching;
        if (m_ctx.threads->startSearch(start, std::move(task)))
            return true;
        m_job.run().runFlags &= ~kRunSearching;
        return false;
    }
    logMessage(part, kMsgStartPing);
    const size_t workers = std::min(kMaxPingThreads, m_job.run().urlEntries.size());
    m_job.run().pingThreadCount = 0;
    for (size_t index = 0; index < workers; ++index) {
        start.value = static_cast<uint32_t>(m_job.run().urlEntries.size());
        start.index = static_cast<uint32_t>(index);
        if (m_ctx.threads->startPing(start, makeTask(index)))
            ++m_job.run().pingThreadCount;
    }
    if (m_job.run().pingThreadCount == 0)
        return false;
    m_job.run().runFlags |= kRunPinging;
    return true;
}

// ---- part operations -------------------------------------------------------------------

bool JobRunner::StartPart(JobPart& part, bool isRetry, bool useSiteLimit)
{
    JobLockGuard guard(*m_ctx.jobLock);
    if (m_finishing || !m_window)
        return false;
    const UrlEntry* url = m_job.GetUrl(part.urlIndex);
    if (url == nullptr || url->host.empty()) {
        retireBlock(part);
        log(part, LogKind::Error, kUrlInvalid);
        part.markStopped(StopReason::Error);
        return false;
    }
    const bool transfer = (part.flags & (kPartMirrorPing | kPartMirrorSearch)) == 0;
    if (transfer && !keepOnlyWithRangeLeft(part))
        return false;
    part.markRunning();
    if (m_ctx.dialUp && m_ctx.dialUp->dialing()) {
        logMessage(part, kMsgWaitDialing);
        part.flags |= kPartWaitDialUp;
        return true;
    }
    retireBlock(part);
    m_runtime[&part].block = std::make_shared<ThreadHandleBlock>();

    if ((part.flags & (kPartMirrorPing | kPartMirrorSearch)) != 0) {
        if (startMirrorThreads(part)) {
            m_job.Notify(kChangeParts);
            return true;
        }
        // Without a mirror worker the job goes on as if the pass had found nothing.
        retireBlock(part);
        goOnAfterMirrors(part);
        return false;
    }

    if (!applySiteLimit(part, useSiteLimit))
        return false;
    const UrlEntry& chosen = m_job.run().urlEntries[part.urlIndex];
    if (!startTransferThread(part, chosen, proxyFor(part, chosen), isRetry)) {
        log(part, LogKind::Error, kStartThreadError);
        releaseSite(part);
        retireBlock(part);
        part.markStopped(StopReason::Error);
        Finish(StopReason::Error, &part);
        return false;
    }
    m_job.Notify(kChangeParts);
    return true;
}

bool JobRunner::ChangeSplitCount(int delta)
{
    JobLockGuard guard(*m_ctx.jobLock);
    if (m_finishing || m_job.GetState() != JobState::Downloading || delta == 0)
        return false;
    const int32_t limit = std::max(1, std::min(option(OptionId::MaxParallelNum), kMaxSplitCount));
    if (delta > 0) {
        // Without a size, or on a connection without ranges, there is
        // nothing to divide.
        if (!m_job.IsSizeKnown() || m_job.splitCount >= limit || (m_job.optionFlags & kOptRecheck) != 0)
            return false;
        m_job.SetSplitCount(m_job.splitCount + 1, limit);
        JobRangeView view = rangeView();
        const std::optional<PartRange> range = FindTakeover(view);
        if (range) {
            const JobPart* first = firstPart();
            JobPart& part = addPart(*range, first ? first->urlIndex : 0, 0);
            AddCompletedRange(view.ranges, view.limits,
                              {range->start, range->start, range->streamStart, range->streamStart});
            startParts({indexOf(part)});
        }
        m_job.Notify(kChangeParts);
        return true;
    }
    if (m_job.splitCount <= 1)
        return false;
    m_job.SetSplitCount(m_job.splitCount - 1, limit);
    JobPart* last = nullptr;
    size_t running = 0;
    for (const auto& part : m_parts) {
        if (part->isRunning()) {
            last = part.get();
            ++running;
        }
    }
    // The last part's range stays unfetched; a part that runs out takes it over.
    if (last != nullptr && running > 1)
        StopPart(*last, StopReason::Silent);
    m_job.Notify(kChangeParts);
    return true;
}

bool JobRunner::keepOnlyWithRangeLeft(JobPart& part)
{
    JobRangeView view = rangeView();
    // A re-check asks the server about data that is all on disk.
    if (view.recheck || HasRangeLeft(view, part.position()))
        return true;
    // Nothing is left where the part stands: it takes over a gap no running
    // part owns, or stops without opening a connection.
    const std::optional<PartRange> range = FindTakeover(view, indexOf(part));
    if (!range) {
        StopPart(part, StopReason::Done);
        return false;
    }
    part.SetRange(*range);
    AddCompletedRange(view.ranges, view.limits, {range->start, range->start, range->streamStart, range->streamStart});
    partMoved(part);
    return true;
}

void JobRunner::StopPart(JobPart& part, StopReason reason)
{
    JobLockGuard guard(*m_ctx.jobLock);
    const bool waitedForDialUp = (part.flags & kPartWaitDialUp) != 0;
    part.stopReason = reason;
    retireBlock(part);
    releaseSite(part);
    part.flags &= ~(kPartRunning | kPartWaitStateMask);
    if (reason != StopReason::Silent)
        m_job.Notify(kChangeParts);
    m_loggingStop = true;
    switch (reason) {
    case StopReason::Done: logMessage(part, kMsgClosed, LogKind::Status); break;
    case StopReason::User: log(part, LogKind::Error, "User Cancel at " + std::to_string(part.position()) + "."); break;
    case StopReason::MaxErrors: logMessage(part, kMsgMaximumError, LogKind::Error); break;
    case StopReason::Error: logMessage(part, kMsgErrorOccured, LogKind::Error); break;
    case StopReason::Schedule: logMessage(part, kMsgScheduleStop, LogKind::Error); break;
    case StopReason::ResumeNotSupported: logMessage(part, kMsgResumeNotSupported, LogKind::Error); break;
    case StopReason::DialUpError:
        if (waitedForDialUp)
            logMessage(part, kMsgDialUpError, LogKind::Error, {m_ctx.dialUp ? m_ctx.dialUp->errorText() : ""});
        break;
    default: break;
    }
    m_loggingStop = false;
}

void JobRunner::WaitPart(JobPart& part, PartWait kind, int32_t retryAfterSeconds)
{
    switch (kind) {
    case PartWait::Clear: part.flags &= ~kPartWaitStateMask; break;
    case PartWait::Kind0: part.flags |= kPartWaitKind0; break;
    case PartWait::Kind1: part.flags |= kPartWaitKind1; break;
    case PartWait::DialUp: part.flags |= kPartWaitDialUp; break;
    case PartWait::Retry:
        // The retry check has allowed it (RetryCheck); the thread sleeps.
        {
            // The thread waits the same time (retryWaitSeconds) before it tries again.
            part.flags |= kPartWaitRetry;
            const int32_t seconds = retryWaitSeconds(option(OptionId::RetryDelay), retryAfterSeconds);
            m_runtime[&part].retryAtTick = tick() + static_cast<uint32_t>(seconds) * 1000u;
            logMessage(part, kMsgWaitForRetry, LogKind::Status, {std::to_string(std::max(1, seconds))});
            break;
        }
    }
}

bool JobRunner::RetryCheck(JobPart& part)
{
    const bool unlimited = option(OptionId::AlwaysRetry) > 0;
    if (!unlimited) {
        const int32_t limit
            = m_job.run().siteWindow != nullptr ? option(OptionId::ExploreRetry) : option(OptionId::RetryCount);
        if (m_job.retryCount >= limit) {
            StopPart(part, StopReason::MaxErrors);
            if (!anyPartRunning())
                Finish(StopReason::MaxErrors, &part);
            return false;
        }
    } else if (option(OptionId::StopAfterFruitlessTries) > 0 && m_job.retryCount >= kFruitlessTries
               && m_figures.runBytes == 0) {
        StopPart(part, StopReason::MaxErrors);
        if (!anyPartRunning()) {
            // The line restates why the job stops; the cause stays the last
            // failure the server gave.
            m_loggingStop = true;
            logMessageOnJob(kMsgNoDataInTries);
            m_loggingStop = false;
            Finish(StopReason::MaxErrors, &part);
        }
        return false;
    }
    ++m_job.retryCount;
    m_job.Notify(kChangeRetry);
    return true;
}

bool JobRunner::streamEndReached() const
{
    const UrlEntry* main = m_job.GetUrl(0);
    return m_job.streamMarker != 0 && main && IsStreamService(main->service) && !m_job.IsSizeKnown()
        && m_job.completedBytes > kStreamEndMinBytes;
}

int JobRunner::RetryDecision(JobPart& part, int32_t retryAfterSeconds)
{
    if (streamEndReached()) {
        Finish(StopReason::Done, &part);
        return 0;
    }
    if (!RetryCheck(part))
        return 0;
    if (option(OptionId::MoveToBottomAfterRetries) > 0
        && shouldMoveToEndAfterRetries(true, m_job.run().urlEntries.size(), m_job.retryCount) && m_ctx.host
        && m_ctx.host->moveJobToEnd(m_job)) {
        const int32_t retries = m_job.retryCount;
        logMessage(part, kMsgDownloadLater);
        Finish(StopReason::MovedToEnd, &part);
        m_job.run().retryBase = retries;
        return 0;
    }
    if (m_ctx.dialUp && m_ctx.dialUp->dialing()) {
        logMessage(part, kMsgWaitDialing);
        WaitPart(part, PartWait::DialUp);
        return 0;
    }
    if (part.urlIndex < m_urlStates.size()) {
        m_urlStates[part.urlIndex].failed = true;
        m_urlStates[part.urlIndex].failTick = tick();
    }
    if (const std::optional<size_t> next = nextUsableUrl(part, true)) {
        part.urlIndex = static_cast<uint32_t>(*next);
        StartPart(part, false, true);
        return 0;
    }
    // The thread reconnects by itself: only for something left to fetch.
    if (!keepOnlyWithRangeLeft(part))
        return 0;
    WaitPart(part, PartWait::Retry, retryAfterSeconds);
    return 1;
}

}  // namespace fetchora
