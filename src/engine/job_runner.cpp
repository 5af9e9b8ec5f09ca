#include "engine/job_runner.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "config/app_settings.h"
#include "engine/job_window.h"
#include "engine/site_connections.h"
#include "engine/transfer_threads.h"
#include "lang/string_table.h"
#include "model/completed_range_ops.h"
#include "net/url.h"
#include "platform/message_loop.h"
#include "platform/tick.h"

namespace fetchora {

namespace {

bool hasNumberedPlaceholder(std::string_view pattern)
{
    for (size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '%' && pattern[i + 1] >= '1' && pattern[i + 1] <= '9')
            return true;
    }
    return false;
}

}  // namespace

// ---- construction -------------------------------------------------------------------

JobRunner::JobRunner(DownloadJob& job, EngineContext& context)
    : m_job(job), m_ctx(context), m_file(systemOutputFileCalls(), context.syncFailures)
{
}

JobRunner::~JobRunner()
{
    JobLockGuard guard(*m_ctx.jobLock);
    for (const auto& part : m_parts) {
        retireBlock(*part);
        releaseSite(*part);
    }
    if (m_file.isOpen() && !m_file.Close()) {
        // What never reached the disk must be fetched again.
        for (const CompletedRange& lost : m_file.unwrittenRanges())
            RemoveCompletedRange(m_job.completedRanges, lost.start, lost.end);
        m_job.RecomputeCompletedBytes();
    }
    if (m_window)
        m_window->destroy();
    if (m_job.hasRun() && m_job.run().detailWindow == m_window.get())
        m_job.run().detailWindow = nullptr;
}

void destroyJobRunner(JobRunner* runner)
{
    delete runner;
}

JobRunner* runnerOf(const DownloadJob& job)
{
    return job.runner();
}

JobRunner::HandlerScope::HandlerScope(JobRunner& runner) : m_runner(runner)
{
    if (m_runner.m_handlerDepth == 0)
        m_runner.purgeDead();
    ++m_runner.m_handlerDepth;
}

JobRunner::HandlerScope::~HandlerScope()
{
    --m_runner.m_handlerDepth;
}

void JobRunner::purgeDead()
{
    if (m_handlerDepth != 0)
        return;
    m_deadParts.clear();
    m_deadWindows.clear();
}

// ---- settings, time, texts ---------------------------------------------------------

int32_t JobRunner::option(OptionId id) const
{
    return m_ctx.settings->GetOption(id);
}

std::time_t JobRunner::now() const
{
    return m_ctx.now ? m_ctx.now() : std::time(nullptr);
}

uint32_t JobRunner::tick() const
{
    return m_ctx.clock ? m_ctx.clock->tick() : tickNow();
}

std::string JobRunner::messageText(uint32_t messageId, std::initializer_list<std::string_view> args) const
{
    std::string pattern = m_ctx.strings ? m_ctx.strings(messageId) : std::string();
    if (pattern.empty())
        pattern = std::string(builtinString(messageId));
    if (args.size() == 0)
        return pattern;
    return hasNumberedPlaceholder(pattern) ? formatMessage(pattern, args) : fillPrintfFields(pattern, args);
}

// ---- logging -------------------------------------------------------------------------

void JobRunner::log(JobPart& part, LogKind kind, std::string text)
{
    // The latest error is what the user is told when the job fails.
    if (kind == LogKind::Error && !m_loggingStop && !text.empty())
        m_job.editTexts().lastError = text;
    part.log.add(kind, std::move(text), now(), this);
}

void JobRunner::logMessage(JobPart& part, uint32_t messageId, std::initializer_list<std::string_view> args)
{
    logMessage(part, messageId, messageKind(messageId).value_or(LogKind::Status), args);
}

void JobRunner::logMessage(JobPart& part, uint32_t messageId, LogKind kind,
                           std::initializer_list<std::string_view> args)
{
    log(part, kind, messageText(messageId, args));
}

void JobRunner::logOnJob(LogKind kind, std::string text)
{
    if (JobPart* first = firstPart())
        log(*first, kind, std::move(text));
}

void JobRunner::logMessageOnJob(uint32_t messageId, std::initializer_list<std::string_view> args)
{
    if (JobPart* first = firstPart())
        logMessage(*first, messageId, args);
}

void JobRunner::partLogged(const PartLog& log, const LogEntry& entry)
{
    if (!m_ctx.host)
        return;
    for (const auto& part : m_parts) {
        if (&part->log == &log) {
            m_ctx.host->partLogged(m_job, *part, entry);
            return;
        }
    }
}

// ---- parts -----------------------------------------------------------------------------

JobPart* JobRunner::firstPart() const
{
    return m_parts.empty() ? nullptr : m_parts.front().get();
}

size_t JobRunner::indexOf(const JobPart& part) const
{
    for (size_t i = 0; i < m_parts.size(); ++i) {
        if (m_parts[i].get() == &part)
            return i;
    }
    return m_parts.size();
}

size_t JobRunner::runningParts() const
{
    return static_cast<size_t>(
        std::count_if(m_parts.begin(), m_parts.end(), [](const auto& part) { return part->isRunning(); }));
}

std::optional<RetryWait> JobRunner::retryWait() const
{
    std::optional<uint32_t> soonest;
    const uint32_t nowTick = tick();
    for (const auto& part : m_parts) {
        if (!part->isRunning())
            continue;
        if ((part->flags & kPartWaitRetry) == 0)
            return std::nullopt;
        const auto found = m_runtime.find(part.get());
        const uint32_t at = found == m_runtime.end() ? nowTick : found->second.retryAtTick;
        // Wrap-safe: the time left, 0 once the moment has passed.
        const auto left = static_cast<int32_t>(at - nowTick) > 0 ? at - nowTick : 0u;
        soonest = soonest ? std::min(*soonest, left) : left;
    }
    if (!soonest)
        return std::nullopt;
    RetryWait wait;
    wait.attempt = m_job.retryCount;
    wait.limit = option(OptionId::AlwaysRetry) > 0
        ? -1
        : (m_job.run().siteWindow != nullptr ? option(OptionId::ExploreRetry) : option(OptionId::RetryCount));
    wait.secondsLeft = static_cast<int32_t>((*soonest + 999) / 1000);
    wait.cause = m_job.lastError();
    return wait;
}

bool JobRunner::anyPartRunning() const
{
    return runningParts() > 0;
}

const ThreadHandleBlock* JobRunner::blockOf(const JobPart& part) const
{
    const auto found = m_runtime.find(&part);
    return found == m_runtime.end() ? nullptr : found->second.block.get();
}

JobPart* JobRunner::partOfBlock(const ThreadHandleBlock* block) const
{
    if (block == nullptr || !block->alive())
        return nullptr;
    for (const auto& part : m_parts) {
        const auto found = m_runtime.find(part.get());
        if (found != m_runtime.end() && found->second.block.get() == block)
            return part.get();
    }
    return nullptr;
}

JobPart& JobRunner::addPart(const PartRange& range, uint32_t urlIndex, uint32_t flags)
{
    m_parts.push_back(std::make_unique<JobPart>(&m_job, static_cast<uint32_t>(m_parts.size())));
    JobPart& part = *m_parts.back();
    part.SetRange(range);
    part.urlIndex = urlIndex;
    part.flags = flags;
    if (m_ctx.host)
        m_ctx.host->partAdded(m_job, part);
    return part;
}

void JobRunner::retireBlock(JobPart& part)
{
    const auto found = m_runtime.find(&part);
    if (found == m_runtime.end() || !found->second.block)
        return;
    if (m_ctx.retiredBlocks)
        m_ctx.retiredBlocks->retire(std::move(found->second.block));
    else
        found->second.block->kill();
    found->second.block.reset();
}

void JobRunner::releaseSite(JobPart& part)
{
    const auto found = m_runtime.find(&part);
    if (found == m_runtime.end())
        return;
    SiteConnectionTable::release(found->second.site);
    found->second.site = nullptr;
}

void JobRunner::countSiteConnection(JobPart& part, SiteConnectionLimit* site)
{
    JobLockGuard guard(*m_ctx.jobLock);
    if (m_job.run().noSiteLimit || site == nullptr)
        return;
    const auto found = m_runtime.find(&part);
    if (found == m_runtime.end() || found->second.site == site)
        return;
    SiteConnectionTable::release(found->second.site);
    SiteConnectionTable::acquire(site);
    found->second.site = site;
}

void JobRunner::dropParts()
{
    for (auto& part : m_parts) {
        retireBlock(*part);
        releaseSite(*part);
        m_deadParts.push_back(std::move(part));
    }
    m_parts.clear();
    m_runtime.clear();
    purgeDead();
}

JobRangeView JobRunner::rangeView()
{
    JobRangeView view = makeRangeView(m_job, m_parts, option(OptionId::BlockSize));
    view.now = now();
    return view;
}

void JobRunner::startParts(const std::vector<size_t>& indices)
{
    for (size_t index : indices) {
        if (index >= m_parts.size())
            continue;
        JobPart& part = *m_parts[index];
        if (m_finishing || m_job.GetState() != JobState::Downloading) {
            // The job ended while its parts were started; the rest never ran.
            part.markStopped(StopReason::Silent);
            continue;
        }
        StartPart(part, false, true);
    }
}

// ---- job start ---------------------------------------------------------------------------

JobStartResult JobRunner::Start(DownloadJob& job, EngineContext& context)
{
    JobLockGuard guard(*context.jobLock);
    job.run().runFlags = 0;
    if (job.GetState() == JobState::Downloading)
        return JobStartResult::Started;
    if (job.startMode == StartMode::Manual)
        job.startMode = StartMode::Immediately;
    if (!job.run().noSiteLimit && context.sites) {
        const SiteConnectionLimit* site = context.sites->lookup(job);
        if (site && !site->hasRoom()) {
            job.startMode = StartMode::Immediately;
            job.SetState(JobState::Ready);
            return JobStartResult::WaitingForSite;
        }
    }
    if (!job.runner())
        job.setRunner(JobRunnerPtr(new JobRunner(job, context), JobRunnerDeleter{&destroyJobRunner}));
    return job.runner()->startJob();
}

void JobRunner::Stop(DownloadJob& job, StopReason reason)
{
    JobRunner* runner = job.runner();
    if (!runner)
        return;
    JobLockGuard guard(*runner->m_ctx.jobLock);
    if (job.GetState() != JobState::Downloading)
        return;
    runner->Finish(reason);
}

void JobRunner::chooseProxies()
{
    if (const ProxyEntry* run = m_ctx.settings->runProxy()) {
        m_proxies = RunProxies(*run);
    } else {
        JobProxyRequest request;
        request.useDefaultProxies = option(OptionId::UseDefaultProxies) > 0;
        request.own = {m_job.httpProxyId, m_job.ftpProxyId, m_job.streamProxyId};
        const UrlEntry* main = m_job.GetUrl(0);
        request.httpJob = main && (main->service == ServiceCode::Http || main->service == ServiceCode::Https);
        request.siteRule = m_ctx.settings->siteRules().FindSiteRule(m_job.url);
        m_proxies = ChooseJobProxies(m_ctx.settings->proxies(), request);
    }
    m_job.run().httpProxy = m_proxies.http;
    m_job.run().ftpProxy = m_proxies.ftp;
    m_job.run().streamProxy = m_proxies.stream;
}

JobStartResult JobRunner::startJob()
{
    dropParts();
    if (m_ctx.findListMirrors && option(OptionId::MirrorSearch) > 0 && option(OptionId::AutoAlternateUrls) > 0
        && (m_job.optionFlags & kOptNoMirrorSearch) == 0)
        m_ctx.findListMirrors(m_job);
    m_job.RebuildUrlEntries(&m_ctx.settings->siteRules());
    // Stream jobs keep stream positions with their ranges, are written in
    // packets and fetched over one connection.
    if (const UrlEntry* main = m_job.GetUrl(0); main && IsStreamService(main->service) && m_job.streamMarker == 0)
        m_job.streamMarker = 1;
    m_urlStates.assign(m_job.run().urlEntries.size(), UrlState{});
    chooseProxies();
    m_job.retryCount = m_job.run().retryBase;
    m_job.clearLastError();
    m_figures.reset();
    m_job.run().runBytes = 0;
    m_job.run().startTick = 0xFFFFFFFFu;
    m_job.run().pingThreadCount = 0;
    m_firstAnswerSeen = false;
    m_runIdentity = {};
    m_finishing = false;
    m_restartPending = false;
    m_siteConnectionFreed = false;
    m_finalFileIsOurs = false;
    if (m_ctx.threads)
        m_ctx.threads->reap();
    if (m_ctx.retiredBlocks)
        m_ctx.retiredBlocks->prune();

    if (!m_window)
        m_window = std::make_unique<CJobWnd>(*m_ctx.loop, *this, *m_ctx.jobLock);
    m_job.run().detailWindow = m_window.get();
    m_window->startTimer();
    m_job.SetState(JobState::Downloading);

    const bool sized = m_job.IsSizeKnown() && m_job.fileSize >= 0 && (m_job.optionFlags & kOptRecheck) == 0;
    if (sized && m_job.completedBytes >= m_job.fileSize) {
        // Every byte is on disk already (a run that ended before its file
        // could be renamed): finish at once. The part only carries the log.
        addPart({m_job.fileSize, m_job.fileSize - 1, 0, 0}, 0, kPartFirst);
        m_finalFileIsOurs = (m_job.formatFlags & kFmtTempFile) != 0 && finishedUnderFinalName();
        m_startFinishing = true;
        Finish(StopReason::Done);
        m_startFinishing = false;
        return m_job.GetState() == JobState::Completed ? JobStartResult::Started : JobStartResult::Failed;
    }

    const bool pingFirst = sized && m_ctx.threads && m_ctx.threads->hasPingProcedure()
        && static_cast<size_t>(std::max(1, m_job.splitCount)) < m_job.run().urlEntries.size()
        && option(OptionId::MirrorSearch) > 0 && option(OptionId::AutoSelectMirror) > 0;
    if (pingFirst) {
        JobPart& ping = addPart({m_job.fileSize, kOpenEnd, 0, 0}, 0, kPartFirst | kPartMirrorPing);
        StartPart(ping, false, true);
    } else {
        const size_t before = m_parts.size();
        JobRangeView view = rangeView();
        const std::vector<size_t> indices = StartParts(view, true);
        if (m_ctx.host) {
            for (size_t i = before; i < m_parts.size(); ++i)
                m_ctx.host->partAdded(m_job, *m_parts[i]);
        }
        startParts(indices);
    }
    if (!m_finishing && m_job.GetState() == JobState::Downloading && !anyPartRunning())
        Finish(StopReason::Error);

    switch (m_job.GetState()) {
    case JobState::Downloading:
    case JobState::Completed: return JobStartResult::Started;
    case JobState::Ready: return JobStartResult::WaitingForSite;
    default: return JobStartResult::Failed;
    }
}

// ---- the write path (PartWriteHost) -----------------------------------------------

OutputFileRequest JobRunner::outputRequest() const
{
    OutputFileRequest request;
    const bool fresh = !m_job.hasData && m_job.completedBytes == 0;
    if (fresh)
        m_job.SanitizeDisplayName();
    request.folder = m_job.saveFolder.str();
    request.fileName = m_job.GetDisplayName();
    request.useTempName = (m_job.formatFlags & kFmtTempFile) != 0;
    request.stream = m_job.streamMarker != 0;
    request.hasData = m_job.hasData;
    request.completedBytes = m_job.completedBytes;
    request.sizeKnown = m_job.IsSizeKnown();
    request.fileSize = m_job.fileSize;
    request.destination = static_cast<DestinationPolicy>(std::clamp(option(OptionId::ExistingFileAction), 0, 2));
    request.preallocate = option(OptionId::AllocateDiskSpace) > 0;
    request.allocationNotice = m_ctx.settings->allocDiskPopup();
    request.useCache = option(OptionId::WriteEveryBufferSize) > 0;
    request.bufferSizeKb = static_cast<uint32_t>(std::max(1, option(OptionId::BufferSize)));
    return request;
}

bool JobRunner::writeBlock(int64_t position, std::span<const uint8_t> data)
{
    JobWriteOutcome outcome = writeJobBlock(
        m_file, [this] { return outputRequest(); }, position, data);
    for (FileLogLine& line : outcome.log)
        logOnJob(line.kind, std::move(line.text));
    if (outcome.opened && outcome.open) {
        const OutputFileResult& opened = *outcome.open;
        if (opened.fileName != m_job.GetDisplayName()) {
            // The destination existed and the file got a free name.
            m_job.fileName = opened.fileName;
            m_job.Notify(kChangeName);
        }
        m_job.hasData = true;
        if (opened.existingLength >= 0 && !m_job.completedRanges.empty()
            && m_job.completedRanges.back().end > opened.existingLength) {
            // The partial file is shorter than its ranges say: what lies
            // beyond its end is fetched again.
            RemoveCompletedRange(m_job.completedRanges, opened.existingLength, INT64_MAX);
            m_job.RecomputeCompletedBytes();
        }
        if (m_ctx.hostWindow != 0)
            m_ctx.loop->post(m_ctx.hostWindow, WM_SAVE_DATABASE);
        else if (m_ctx.host)
            m_ctx.host->saveDatabase();
    }
    if (!outcome.ok) {
        if (!outcome.systemError.empty())
            logOnJob(LogKind::Error, outcome.systemError);
        Finish(StopReason::Error);
        return false;
    }
    return true;
}

void JobRunner::countReceived(uint64_t length)
{
    m_figures.recordData(length, tick());
    m_job.run().runBytes += length;
    if (m_figures.startTick)
        m_job.run().startTick = *m_figures.startTick;
}

void JobRunner::stopPart(JobPart& part, StopReason reason)
{
    const auto found = m_runtime.find(&part);
    if (found != m_runtime.end() && found->second.site != nullptr)
        m_siteConnectionFreed = true;
    StopPart(part, reason);
}

void JobRunner::partMoved(JobPart&)
{
    m_job.Notify(kChangeParts);
}

void JobRunner::completedChanged(int64_t completedBytes)
{
    m_job.completedBytes = completedBytes;
    m_job.Notify(kChangeProgress);
}

void JobRunner::finishJob(StopReason reason)
{
    Finish(reason);
}

// ---- thread messages ---------------------------------------------------------------

intptr_t JobRunner::onData(JobPart& part, const PartMessage& message)
{
    if (m_finishing || !part.isRunning())
        return static_cast<intptr_t>(WriteResult::Stop);
    part.flags &= ~kPartWaitStateMask;
    m_runtime[&part].redirects = 0;
    JobRangeView view = rangeView();
    const WriteResult result
        = WriteAt(view, *this, indexOf(part), message.data, message.position, message.streamStart, message.streamEnd);
    return static_cast<intptr_t>(result);
}

intptr_t JobRunner::onError(JobPart& part, const PartMessage& message)
{
    if (m_finishing || !part.isRunning())
        return 0;
    if (!message.text.empty())
        m_job.editTexts().lastError = std::string(message.text);
    return RetryDecision(part, message.retryAfterSeconds);
}

intptr_t JobRunner::onDone(JobPart& part)
{
    if (m_finishing || !part.isRunning())
        return 0;
    if (!m_job.IsSizeKnown()) {
        // The body ran to its end without an announced length: that is the size.
        m_job.SetFileSize(m_job.completedBytes);
        Finish(StopReason::Done, &part);
        return 1;
    }
    if (m_job.completedBytes >= m_job.fileSize) {
        Finish(StopReason::Done, &part);
        return 1;
    }
    // A body that ended short of the known size: the part tries again.
    if (RetryCheck(part)) {
        WaitPart(part, PartWait::Retry);
        StartPart(part, true, false);
    }
    return 1;
}

intptr_t JobRunner::onExit(JobPart& part)
{
    if (m_ctx.host)
        m_ctx.host->partRefreshed(m_job, part);
    return kPartExitTaken;
}

intptr_t JobRunner::onLog(JobPart& part, const PartMessage& message)
{
    log(part, static_cast<LogKind>(message.logKind), std::string(message.text));
    return 1;
}

intptr_t JobRunner::onResolved(JobPart& part, const PartMessage& message)
{
    if (message.error != 0 || message.text.empty()) {
        logMessage(part, kMsgCannotResolve);
        Finish(StopReason::Error, &part);
        return 0;
    }
    // A proxy's address lives with the thread's copy of the entry; the URL's
    // is kept for the job's later connections.
    if (!message.forProxy) {
        if (UrlEntry* url = m_job.GetUrl(part.urlIndex))
            url->resolvedAddress = std::string(message.text);
    }
    part.flags &= ~kPartWaitDialUp;
    return 1;
}

intptr_t JobRunner::onConnectEvent(int socket, uint32_t event)
{
    for (const auto& part : m_parts) {
        const auto found = m_runtime.find(part.get());
        if (found == m_runtime.end() || !found->second.block || !found->second.block->alive())
            continue;
        if (part->socket == socket) {
            found->second.block->socket = socket;
            found->second.block->lastEvent = event;
            return 1;
        }
    }
    // Nobody waits for this socket; sockets here are polled, so there is no
    // selection to cancel.
    return 0;
}

bool JobRunner::onTimer()
{
    if (m_job.GetState() != JobState::Downloading)
        return false;
    const int64_t size = m_job.IsSizeKnown() ? m_job.fileSize : -1;
    m_job.Notify(m_figures.timerStep(tick(), size, m_job.completedBytes));
    // A part still connecting when the one before it reached its start gave
    // back its connection of a limited site: without a part to take it, the
    // job would go on over fewer connections than the site allows. It is
    // given on the next tick, once the stopped worker (which looks at its
    // alive flag every 100 ms) has closed its connection: the server counts
    // that one until then.
    if (std::exchange(m_siteConnectionFreed, false))
        startPartsRefusedAConnection();
    if (m_ctx.dialUp && !m_ctx.dialUp->dialing()) {
        for (size_t i = 0; i < m_parts.size(); ++i) {
            JobPart& part = *m_parts[i];
            if (!part.isRunning() || (part.flags & kPartWaitDialUp) == 0)
                continue;
            part.flags &= ~kPartWaitDialUp;
            if (m_ctx.dialUp->connected())
                StartPart(part, false, true);
            else
                logMessage(part, kMsgDialUpError, LogKind::Error, {m_ctx.dialUp->errorText()});
        }
    }
    return true;
}

intptr_t JobRunner::onRestart()
{
    if (!m_restartPending)
        return 0;
    m_restartPending = false;
    return static_cast<intptr_t>(Start(m_job, m_ctx));
}

}  // namespace fetchora
