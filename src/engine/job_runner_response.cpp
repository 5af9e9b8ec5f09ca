// What the job window does with a server's answer to a part's request: learn
// size, resume ability, date and name; start the other parts; follow
// redirects; move to another URL or retry after a failure. Also the mirror
// search and ping passes that may come between the first answer and the
// split.
#include <algorithm>
#include <cctype>

#include "config/app_settings.h"
#include "engine/job_runner.h"
#include "engine/response_handling.h"
#include "engine/site_connections.h"
#include "engine/transfer_threads.h"
#include "net/url.h"

namespace fetchora {

namespace {

// The runner's side of HandleResponse for one part.
class PartResponseHost final : public ResponseHost {
public:
    PartResponseHost(JobRunner& runner, JobPart& part, JobRunner::ResponseHooks& hooks)
        : m_runner(runner), m_part(part), m_hooks(hooks)
    {
    }

    DownloadJob& job() override { return m_runner.job(); }
    JobPart& part() override { return m_part; }
    bool isFirstPart() const override { return !m_runner.parts().empty() && m_runner.parts().front().get() == &m_part; }
    void log(LogKind kind, std::string text) override { m_runner.log(m_part, kind, std::move(text)); }
    void logMessage(uint32_t messageId, std::initializer_list<std::string_view> args) override
    {
        m_runner.logMessage(m_part, messageId, args);
    }
    bool firstAnswer() const override { return m_hooks.firstAnswer(); }
    void markAnswered() override { m_hooks.markAnswered(); }
    int& redirectCount() override { return m_hooks.redirectCount(m_part); }
    FileIdentity& runIdentity() override { return m_hooks.runIdentity(); }
    bool noteRangeRefused() override { return m_hooks.noteRangeRefused(m_part); }
    bool otherPartRunning() const override { return m_hooks.otherPartRunning(m_part); }
    void retryPartLater() override { m_hooks.retryLater(m_part); }
    bool hasOtherUrl() const override { return m_hooks.hasOtherUrl(m_part); }
    void noteUrlFailure(bool bad) override { m_hooks.noteUrlFailure(m_part, bad); }
    bool moveToNextUrl() override { return m_hooks.moveToNextUrl(m_part); }
    void restartPart(bool useSiteLimit) override { m_runner.StartPart(m_part, false, useSiteLimit); }
    void restartPartFromZero() override { m_hooks.restartFromZero(m_part, false); }
    void stopPart(StopReason reason) override { m_runner.StopPart(m_part, reason); }
    bool anyPartRunning() const override { return m_runner.runningParts() > 0; }
    void finishJob(StopReason reason) override { m_runner.Finish(reason, &m_part); }
    void startOver() override { m_hooks.restartFromZero(m_part, true); }
    void startOtherParts() override { m_hooks.startOtherParts(m_part); }
    // A stream served over RTSP has no size but the one its description
    // gives, which a server may change between runs (a file that grew).
    bool sizeChangeAllowed() const override
    {
        const DownloadJob& job = m_runner.job();
        const UrlEntry* url = job.GetUrl(m_part.urlIndex);
        return job.streamMarker != 0 && url && url->service == ServiceCode::Rtsp;
    }

private:
    JobRunner& m_runner;
    JobPart& m_part;
    JobRunner::ResponseHooks& m_hooks;
};

}  // namespace

bool JobRunner::ResponseHooks::firstAnswer() const
{
    return !m_runner.m_firstAnswerSeen;
}

void JobRunner::ResponseHooks::markAnswered()
{
    m_runner.m_firstAnswerSeen = true;
}

int& JobRunner::ResponseHooks::redirectCount(JobPart& part)
{
    return m_runner.m_runtime[&part].redirects;
}

FileIdentity& JobRunner::ResponseHooks::runIdentity()
{
    return m_runner.m_runIdentity;
}

bool JobRunner::ResponseHooks::noteRangeRefused(JobPart& part)
{
    if (part.urlIndex >= m_runner.m_urlStates.size())
        return false;
    UrlState& state = m_runner.m_urlStates[part.urlIndex];
    state.failed = true;
    state.failTick = m_runner.tick();
    if (++state.rangeRefusals >= kRangeRefusalLimit)
        state.bad = true;
    return state.bad;
}

bool JobRunner::ResponseHooks::otherPartRunning(const JobPart& part) const
{
    return std::any_of(m_runner.m_parts.begin(), m_runner.m_parts.end(),
                       [&](const auto& other) { return other.get() != &part && other->isRunning(); });
}

void JobRunner::ResponseHooks::retryLater(JobPart& part)
{
    if (!m_runner.RetryCheck(part))
        return;
    m_runner.WaitPart(part, PartWait::Retry);
    m_runner.StartPart(part, true, false);
}

bool JobRunner::ResponseHooks::hasOtherUrl(const JobPart& part) const
{
    return m_runner.nextUsableUrl(part, true).has_value();
}

void JobRunner::ResponseHooks::noteUrlFailure(JobPart& part, bool bad)
{
    if (part.urlIndex >= m_runner.m_urlStates.size())
        return;
    UrlState& state = m_runner.m_urlStates[part.urlIndex];
    state.failed = true;
    state.failTick = m_runner.tick();
    state.bad = state.bad || bad;
}

bool JobRunner::ResponseHooks::moveToNextUrl(JobPart& part)
{
    const std::optional<size_t> next = m_runner.nextUsableUrl(part, true);
    if (!next)
        return false;
    part.urlIndex = static_cast<uint32_t>(*next);
    return true;
}

void JobRunner::ResponseHooks::restartFromZero(JobPart& part, bool newerFile)
{
    // Everything comes again from byte 0 through this one part: the other
    // parts stop and what they wrote is fetched anew.
    for (const auto& other : m_runner.m_parts) {
        if (other.get() != &part && other->isRunning())
            m_runner.StopPart(*other, StopReason::Done);
    }
    if (newerFile) {
        m_runner.m_job.optionFlags &= ~kOptRecheck;
        // Nothing of the old file may outlive the restart: a smaller new file
        // would otherwise end with the old one's tail.
        if (m_runner.m_file.isOpen()) {
            m_runner.m_file.Flush();
            m_runner.m_file.setLength(0);
        }
    }
    m_runner.m_job.completedRanges.clear();
    m_runner.completedChanged(0);
    part.SetRange({0, kOpenEnd, 0, 0});
    m_runner.StartPart(part, false, false);
}

void JobRunner::ResponseHooks::startOtherParts(JobPart& part)
{
    const DownloadJob& job = m_runner.m_job;
    const bool cannotResume = (job.optionFlags & kOptResumeKnown) != 0 && (job.optionFlags & kOptResumable) == 0;
    // A stream is captured over one connection: no mirror search, no split.
    if (cannotResume || !job.IsSizeKnown() || job.fileSize <= 0 || job.streamMarker != 0)
        return;
    const size_t before = m_runner.m_parts.size();
    std::vector<size_t> indices;
    if (!m_sizeKnownBefore) {
        if (m_runner.startSearchPart())
            return;
        JobRangeView view = m_runner.rangeView();
        indices = StartParts(view, false);
    } else if (part.position() == 0 || (part.flags & kPartFirst) != 0) {
        // A resumed job starts with one part per URL; its first answer
        // spreads the rest of the file over the other connections, as a
        // fresh start's does.
        JobRangeView view = m_runner.rangeView();
        indices = SplitAfterFirstResponse(view, m_runner.indexOf(part));
    } else {
        return;
    }
    if (m_runner.m_ctx.host) {
        for (size_t i = before; i < m_runner.m_parts.size(); ++i)
            m_runner.m_ctx.host->partAdded(m_runner.m_job, *m_runner.m_parts[i]);
    }
    m_runner.startParts(indices);
}

intptr_t JobRunner::onResponse(JobPart& part, const PartMessage& message)
{
    if (m_finishing || !part.isRunning() || message.response == nullptr)
        return 0;
    part.flags &= ~kPartWaitStateMask;
    const ResponseOutcome outcome = message.response->outcome;
    if (outcome != ResponseOutcome::Success && outcome != ResponseOutcome::Redirect && !message.response->cause.empty())
        m_job.editTexts().lastError = message.response->cause;
    ResponseHooks hooks(*this, m_job.IsSizeKnown() && m_job.fileSize >= 0);
    PartResponseHost host(*this, part, hooks);
    return HandleResponse(host, *message.response, message.protocol);
}

bool JobRunner::startSearchPart()
{
    if (!m_ctx.threads || !m_ctx.threads->hasSearchProcedure() || option(OptionId::MirrorSearch) <= 0
        || (m_job.optionFlags & kOptNoMirrorSearch) != 0
        || m_job.fileSize <= static_cast<int64_t>(option(OptionId::FtpSearchMinSize)) * 1024)
        return false;
    m_urlCountBeforeSearch = m_job.run().urlEntries.size();
    // The search part owns no bytes: its position lies past the end of the file.
    JobPart& search = addPart({m_job.fileSize, kOpenEnd, 0, 0}, 0, kPartMirrorSearch);
    return StartPart(search, false, false) || m_finishing;
}

// ---- mirror search and ping ----------------------------------------------------------

intptr_t JobRunner::onPingResult(JobPart&, const PartMessage& message)
{
    if (UrlEntry* url = m_job.GetUrl(message.urlIndex)) {
        url->pingTime = message.pingMs;
        if (!message.text.empty())
            url->resolvedAddress = std::string(message.text);
    }
    return 1;
}

intptr_t JobRunner::onSearchResult(JobPart&, const PartMessage& message)
{
    if (message.urls == nullptr) {
        // The day the sharing service last got the country code.
        if (message.position > 0 && m_ctx.settings)
            m_ctx.settings->setCheckDate(static_cast<int32_t>(message.position));
        return message.position > 0 ? 1 : 0;
    }
    for (const std::string& text : *message.urls) {
        const bool known = text == m_job.url
            || std::any_of(m_job.alternateUrls.begin(), m_job.alternateUrls.end(),
                           [&](const AlternateUrl& alternate) { return alternate.url == text; });
        if (known)
            continue;
        std::optional<UrlEntry> entry = ParseUrl(text);
        if (!entry || !IsTransferable(entry->service))
            continue;
        m_job.alternateUrls.push_back({text, 0});
        m_job.run().urlEntries.push_back(std::move(*entry));
        m_urlStates.push_back({});
    }
    m_job.Notify(kChangeUrl);
    return 1;
}

void JobRunner::orderUrlsByPing()
{
    if (m_job.run().urlEntries.size() < 3)
        return;
    // The main URL stays first; the others by ping time, unanswered ones last.
    std::vector<size_t> order(m_job.run().urlEntries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin() + 1, order.end(), [this](size_t a, size_t b) {
        const int32_t pa = m_job.run().urlEntries[a].pingTime;
        const int32_t pb = m_job.run().urlEntries[b].pingTime;
        if ((pa < 0) != (pb < 0))
            return pb < 0;
        return pa >= 0 && pa < pb;
    });
    std::vector<UrlEntry> entries;
    std::vector<UrlState> states;
    for (size_t index : order) {
        entries.push_back(std::move(m_job.run().urlEntries[index]));
        states.push_back(index < m_urlStates.size() ? m_urlStates[index] : UrlState{});
    }
    // Parts keep fetching the same URL under its new index.
    for (const auto& part : m_parts) {
        for (size_t i = 0; i < order.size(); ++i) {
            if (order[i] == part->urlIndex) {
                part->urlIndex = static_cast<uint32_t>(i);
                break;
            }
        }
    }
    m_job.run().urlEntries = std::move(entries);
    m_urlStates = std::move(states);
}

bool JobRunner::singleConnectionOnly() const
{
    if ((m_job.optionFlags & kOptResumeKnown) != 0 && (m_job.optionFlags & kOptResumable) == 0)
        return true;
    if (m_job.run().noSiteLimit || !m_ctx.sites || m_job.run().urlEntries.empty())
        return false;
    const SiteConnectionLimit* site = m_ctx.sites->lookup(m_job.run().urlEntries.front());
    return site && (site->onePerFile || site->limit <= 1);
}

void JobRunner::goOnAfterMirrors(JobPart& mirrorPart)
{
    const size_t mirrorIndex = indexOf(mirrorPart);
    bool transferRuns = false;
    for (const auto& other : m_parts)
        transferRuns = transferRuns || (other.get() != &mirrorPart && other->isRunning());
    const size_t before = m_parts.size();
    // The mirror part becomes the first new transfer part, so that it is not
    // left behind as a stopped part that the job's own log lines, its part
    // count and the split would still count. With no transfer running this
    // is the ping pass of a start: the real parts are made now.
    if (!transferRuns)
        StopPart(mirrorPart, StopReason::Silent);
    mirrorPart.flags &= ~(kPartMirrorPing | kPartMirrorSearch);
    JobRangeView view = rangeView();
    std::vector<size_t> indices = StartParts(view, !transferRuns, mirrorIndex);
    if (transferRuns && std::find(indices.begin(), indices.end(), mirrorIndex) == indices.end())
        StopPart(mirrorPart, StopReason::Silent);
    if (m_ctx.host) {
        for (size_t i = before; i < m_parts.size(); ++i)
            m_ctx.host->partAdded(m_job, *m_parts[i]);
    }
    startParts(indices);
    if (!m_finishing && m_job.GetState() == JobState::Downloading && !anyPartRunning())
        Finish(StopReason::Error);
}

intptr_t JobRunner::onPingDone(JobPart& part)
{
    if (m_job.run().pingThreadCount > 0)
        --m_job.run().pingThreadCount;
    if (m_job.run().pingThreadCount > 0)
        return 1;
    m_job.run().runFlags &= ~kRunPinging;
    logMessage(part, kMsgPingDone, LogKind::Status);
    orderUrlsByPing();
    goOnAfterMirrors(part);
    return 1;
}

intptr_t JobRunner::onSearchDone(JobPart& part)
{
    m_job.run().runFlags &= ~kRunSearching;
    const size_t urls = m_job.run().urlEntries.size();
    if (urls < 2 && singleConnectionOnly()) {
        StopPart(part, StopReason::Done);
        if (JobPart* first = firstPart(); first && first != &part && !first->isRunning())
            StartPart(*first, false, true);
        return 1;
    }
    if (urls > static_cast<size_t>(std::max(1, m_job.splitCount)) && urls > m_urlCountBeforeSearch
        && option(OptionId::AutoSelectMirror) > 0 && m_ctx.threads && m_ctx.threads->hasPingProcedure()) {
        part.flags = (part.flags & ~kPartMirrorSearch) | kPartMirrorPing;
        StartPart(part, false, false);
        return 1;
    }
    goOnAfterMirrors(part);
    return 1;
}

}  // namespace fetchora
