#include "engine/transfer_threads.h"

#include "engine/job_runner.h"
#include "engine/site_connections.h"
#include "model/download_job.h"
#include "net/speed_limiter.h"
#include "platform/message_loop.h"

namespace fetchora {

int32_t DailyDateCode(std::time_t now)
{
    std::tm utc{};
    gmtime_r(&now, &utc);
    return ((utc.tm_year + 1900) * 100 + utc.tm_mon + 1) * 100 + utc.tm_mday;
}

namespace {

// The PartChannel's sibling for the ping and search workers.
class JobMirrorChannel final : public MirrorChannel {
public:
    JobMirrorChannel(MessageLoop& loop, const ThreadStartBlock& start)
        : m_loop(loop), m_window(start.window), m_block(start.block)
    {
    }

    bool alive() const override { return m_block->alive(); }

    void pingResult(size_t urlIndex, int32_t milliseconds, const std::string& address) override
    {
        PartMessage message;
        message.urlIndex = urlIndex;
        message.pingMs = milliseconds;
        message.text = address;
        send(WM_PART_PING_RESULT, message);
    }

    void foundUrls(const std::vector<std::string>& urls) override
    {
        PartMessage message;
        message.urls = &urls;
        send(WM_PART_SEARCH_RESULT, message);
    }

    void dailyCodeSent(int32_t day) override
    {
        PartMessage message;
        message.position = day;
        send(WM_PART_SEARCH_RESULT, message);
    }

    void logLine(ConnectionLogKind kind, std::string_view text) override
    {
        PartMessage message;
        message.logKind = kind;
        message.text = text;
        send(WM_PART_LOG, message);
    }

    void finished(uint32_t doneMessage)
    {
        PartMessage message;
        message.block = m_block.get();
        // Sent even when the block is dead: the handler ignores it then, but
        // the loop must not wait for a worker that is gone.
        m_loop.send(m_window, doneMessage, reinterpret_cast<uintptr_t>(&message), 0);
    }

private:
    void send(uint32_t msg, PartMessage& message)
    {
        if (!m_block->alive())
            return;
        message.block = m_block.get();
        m_loop.send(m_window, msg, reinterpret_cast<uintptr_t>(&message), 0);
    }

    MessageLoop& m_loop;
    WindowId m_window;
    HandleBlockPtr m_block;
};

}  // namespace

// ---- JobPartChannel ---------------------------------------------------------------

JobPartChannel::JobPartChannel(MessageLoop& loop, JobLock& lock, const ThreadStartBlock& start)
    : m_loop(loop),
      m_lock(lock),
      m_window(start.window),
      m_block(start.block),
      m_job(start.job),
      m_part(start.part),
      m_sites(start.sites)
{
}

bool JobPartChannel::alive() const
{
    return m_block->alive();
}

intptr_t JobPartChannel::sendMessage(uint32_t msg, PartMessage& message) const
{
    if (!m_block->alive())
        return 0;
    message.block = m_block.get();
    return m_loop.send(m_window, msg, reinterpret_cast<uintptr_t>(&message), 0);
}

int JobPartChannel::response(const ResponseInfo& info, ProtocolKind kind)
{
    PartMessage message;
    message.response = &info;
    message.protocol = kind;
    return static_cast<int>(sendMessage(WM_PART_RESPONSE, message));
}

WriteResult JobPartChannel::data(int64_t position, std::span<const uint8_t> block)
{
    PartMessage message;
    message.position = position;
    message.data = block;
    const intptr_t answer = sendMessage(WM_PART_DATA, message);
    return answer == 1 ? WriteResult::Continue : answer == 2 ? WriteResult::Reconnect : WriteResult::Stop;
}

WriteResult JobPartChannel::streamData(int64_t position, std::span<const uint8_t> block, uint32_t streamStart,
                                       uint32_t streamEnd)
{
    PartMessage message;
    message.position = position;
    message.data = block;
    message.streamStart = streamStart;
    message.streamEnd = streamEnd;
    const intptr_t answer = sendMessage(WM_PART_STREAM_DATA, message);
    return answer == 1 ? WriteResult::Continue : answer == 2 ? WriteResult::Reconnect : WriteResult::Stop;
}

bool JobPartChannel::error(const PartFailure& failure)
{
    PartMessage message;
    message.text = failure.cause;
    message.retryAfterSeconds = failure.retryAfterSeconds;
    return sendMessage(WM_PART_ERROR, message) != 0;
}

void JobPartChannel::done()
{
    PartMessage message;
    sendMessage(WM_PART_DONE, message);
}

void JobPartChannel::resolved(const std::string& address, bool forProxy)
{
    PartMessage message;
    message.text = address;
    message.forProxy = forProxy;
    sendMessage(WM_PART_RESOLVED, message);
}

int64_t JobPartChannel::rangeStart() const
{
    JobLockGuard guard(m_lock);
    // A live block means the part and its job still exist: both are only
    // freed after their blocks were retired, under this lock. A stopped part
    // has no place to read from.
    return m_block->alive() ? m_part->position() : kNoRangeLeft;
}

int64_t JobPartChannel::knownSize() const
{
    JobLockGuard guard(m_lock);
    if (!m_block->alive() || !m_job->IsSizeKnown())
        return -1;
    return m_job->fileSize;
}

void JobPartChannel::logLine(ConnectionLogKind kind, std::string_view text)
{
    PartMessage message;
    message.logKind = kind;
    message.text = text;
    sendMessage(WM_PART_LOG, message);
}

void JobPartChannel::markResumable(bool canResume)
{
    JobLockGuard guard(m_lock);
    if (!m_block->alive())
        return;
    if (UrlEntry* url = m_job->GetUrl(m_part->urlIndex))
        url->resumeProbe = canResume ? 1 : 2;
}

void JobPartChannel::markLoginByUserAlone()
{
    JobLockGuard guard(m_lock);
    if (!m_block->alive())
        return;
    if (UrlEntry* url = m_job->GetUrl(m_part->urlIndex))
        url->loginByUserAlone = true;
}

void JobPartChannel::markLoginFailed()
{
    JobLockGuard guard(m_lock);
    if (!m_block->alive())
        return;
    if (UrlEntry* url = m_job->GetUrl(m_part->urlIndex))
        url->loginFailed = true;
}

bool JobPartChannel::learnSiteLimit(int32_t limit)
{
    JobLockGuard guard(m_lock);
    if (!m_block->alive() || m_sites == nullptr || limit <= 0)
        return false;
    UrlEntry* url = m_job->GetUrl(m_part->urlIndex);
    if (url == nullptr || url->siteLimit != nullptr)
        return false;
    SiteConnectionLimit* record = m_sites->learnLimit(url->host, url->port, limit);
    url->siteLimit = record;
    // The connection this worker holds counts against the new limit.
    if (JobRunner* runner = runnerOf(*m_job))
        runner->countSiteConnection(*m_part, record);
    return true;
}

void JobPartChannel::exited()
{
    PartMessage message;
    message.block = m_block.get();
    m_loop.send(m_window, WM_PART_EXIT, reinterpret_cast<uintptr_t>(&message), 0);
}

// ---- TransferThreads --------------------------------------------------------------

TransferThreads::TransferThreads(MessageLoop& loop, JobLock& lock) : m_loop(loop), m_lock(lock)
{
}

TransferThreads::~TransferThreads()
{
    if (joinAll(std::chrono::seconds(10)))
        return;
    // A thread that ignores its dead block for ten seconds is left behind
    // rather than hanging the exit.
    std::lock_guard lock(m_mutex);
    for (Running& entry : m_threads) {
        if (entry.thread.joinable())
            entry.thread.detach();
    }
}

void TransferThreads::registerProcedure(ServiceCode service, TransferProcedureFn procedure)
{
    m_procedures[service] = std::move(procedure);
}

const TransferProcedureFn* TransferThreads::procedureFor(ServiceCode service, const ProxyEntry* proxy) const
{
    auto find = [this](ServiceCode code) -> const TransferProcedureFn* {
        const auto found = m_procedures.find(code);
        return found != m_procedures.end() && found->second ? &found->second : nullptr;
    };
    switch (service) {
    case ServiceCode::Ftp:
        if (proxy && proxy->type == kProxyHttpGet)
            return find(ServiceCode::Http);
        return find(ServiceCode::Ftp);
    case ServiceCode::Http:
    case ServiceCode::Https:
    case ServiceCode::Mms:
    case ServiceCode::Rtsp: return find(service);
    case ServiceCode::Mmst: {
        const TransferProcedureFn* own = find(ServiceCode::Mmst);
        return own ? own : find(ServiceCode::Mms);
    }
    default: return nullptr;
    }
}

template <typename Body> bool TransferThreads::spawn(const HandleBlockPtr& block, Body body)
{
    std::lock_guard lock(m_mutex);
    reapLocked();
    Running& entry = m_threads.emplace_back();
    try {
        // The new thread's first act that touches the entry (ended) waits for
        // this lock, so the entry is complete before it is used.
        entry.thread = std::thread([this, &entry, body = std::move(body)]() mutable {
            try {
                body();
            } catch (...) {
                // Exceptions never cross threads; the thread just ends.
            }
            ended(&entry);
        });
    } catch (...) {
        m_threads.pop_back();
        return false;
    }
    if (block)
        block->addThread(entry.thread.get_id());
    return true;
}

void TransferThreads::ended(Running* entry)
{
    {
        std::lock_guard lock(m_mutex);
        entry->ended = true;
        m_endedSignal.notify_all();
    }
    // Whoever runs the loop until the threads are gone looks again.
    m_loop.wake();
}

bool TransferThreads::startTransfer(const TransferProcedureFn& procedure, const ThreadStartBlock& start,
                                    TransferTask task)
{
    auto channel = std::make_unique<JobPartChannel>(m_loop, m_lock, start);
    JobPartChannel* exitChannel = channel.get();
    task.channel = std::move(channel);
    SpeedLimiter* limiter = task.limiter;
    return spawn(start.block, [procedure, task = std::move(task), exitChannel, limiter]() mutable {
        if (limiter)
            limiter->threadStarted();
        try {
            procedure(task);
        } catch (...) {
            // A procedure that throws has ended like one that returned.
        }
        exitChannel->exited();
        if (limiter)
            limiter->threadEnded();
    });
}

bool TransferThreads::startPing(const ThreadStartBlock& start, MirrorTask task)
{
    return startMirror(m_ping, WM_PART_PING_DONE, start, std::move(task));
}

bool TransferThreads::startSearch(const ThreadStartBlock& start, MirrorTask task)
{
    return startMirror(m_search, WM_PART_SEARCH_DONE, start, std::move(task));
}

bool TransferThreads::startMirror(const MirrorProcedureFn& procedure, uint32_t doneMessage,
                                  const ThreadStartBlock& start, MirrorTask task)
{
    if (!procedure)
        return false;
    auto channel = std::make_unique<JobMirrorChannel>(m_loop, start);
    JobMirrorChannel* done = channel.get();
    task.channel = std::move(channel);
    return spawn(start.block, [procedure, doneMessage, task = std::move(task), done]() mutable {
        try {
            procedure(task);
        } catch (...) {
        }
        done->finished(doneMessage);
    });
}

size_t TransferThreads::running() const
{
    std::lock_guard lock(m_mutex);
    size_t count = 0;
    for (const Running& entry : m_threads)
        count += entry.ended ? 0 : 1;
    return count;
}

void TransferThreads::reap()
{
    std::lock_guard lock(m_mutex);
    reapLocked();
}

void TransferThreads::reapLocked()
{
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (it->ended) {
            it->thread.join();
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}

bool TransferThreads::joinAll(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const bool all = m_endedSignal.wait_for(lock, timeout, [this] {
        for (const Running& entry : m_threads) {
            if (!entry.ended)
                return false;
        }
        return true;
    });
    reapLocked();
    return all;
}

}  // namespace fetchora
