#pragma once
// The transfer threads of running parts: which thread procedure serves which
// URL service (protocol code registers its procedure here), what a thread is
// started with (ThreadStartBlock), the channel through which a thread reports
// to its job window, and the threads themselves.
//
// A thread reports only by sending messages to the job's CJobWnd and acting
// on the answer; once its handle block is dead the channel answers "stop"
// without sending. The thread wrapper counts the thread in the speed limiter
// and sends WM_PART_EXIT (or the mirror workers' done messages) when the
// procedure returns, so procedures need not.
//
// Thread: registration and starts on the loop thread under the job lock;
// channels on their own thread. Owned by the application; borrows the loop
// and the job lock. Before it is destroyed (or joinAll is called on the loop
// thread) every job window must be gone or the loop must have quit, so that
// no thread waits for an answer that cannot come.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/proxy_entry.h"
#include "engine/thread_handle_block.h"
#include "model/job_part.h"
#include "net/transfer_channel.h"
#include "platform/job_lock.h"
#include "platform/message_window.h"

namespace fetchora {

class DownloadJob;
class MessageLoop;
class SiteConnectionTable;

// A transfer thread procedure (HTTP, FTP, HTTPS, MMS, RTSP): runs one part's
// transfer to its end; 0 ended, 1 finished, 2 failed.
using TransferProcedureFn = std::function<int(TransferTask&)>;

// What a mirror worker reports (for the mirror search): ping times and
// found URLs. Like PartChannel, dead once the part was stopped.
class MirrorChannel : public ConnectionLog {
public:
    virtual bool alive() const = 0;
    // A ping worker measured URL urlIndex: milliseconds or -1, and the
    // address it resolved (empty when none).
    virtual void pingResult(size_t urlIndex, int32_t milliseconds, const std::string& address) = 0;
    // The search worker's finds, best first; added as alternate URLs.
    virtual void foundUrls(const std::vector<std::string>& urls) = 0;
    // The search sent the day's country code: the day becomes "CheckDate".
    virtual void dailyCodeSent(int32_t day) { (void)day; }
};

// What the search worker needs of the settings, copied on the loop thread.
struct MirrorSearchOptions {
    std::string jobUrl;
    std::string countryCode;  // "Mirrors" "Code"
    std::string countryList;  // "Mirrors" "List"
    std::string searchTemplate;  // "Mirrors" "Server"
    int32_t maxHit = 40;  // "FtpSearchMaxHit"
    bool ftpSearch = true;  // "Flags1" 0x20
    bool sharingService = false;  // "Flags" 0x2000000
    bool shareUrls = false;  // "Flags1" 0x80000
    bool simplifiedChinese = false;  // the service's Chinese page
    // The first sharing request of a day sends the country and version: when
    // today differs from "CheckDate", the worker reports the day it sent
    // (MirrorChannel::dailyCodeSent) and the runner stores it.
    int32_t today = 0;
    int32_t checkDate = 0;
};

// The day as the sharing service counts it: (year * 100 + month) * 100 + day, UTC.
int32_t DailyDateCode(std::time_t now);

struct MirrorTask {
    std::unique_ptr<MirrorChannel> channel;
    std::vector<UrlEntry> urls;  // copies of the job's URL entries
    size_t firstIndex = 0;  // ping: this worker pings firstIndex, +10, +20, ...
    size_t urlCount = 0;
    std::string fileName;  // search: the job's file name and size
    int64_t fileSize = -1;
    std::optional<ProxyEntry> proxy;
    TransferSettings settings;
    SpeedLimiter* limiter = nullptr;
    const TlsClientContext* tls = nullptr;
    MirrorSearchOptions search;
};
using MirrorProcedureFn = std::function<int(MirrorTask&)>;

// What the runner starts a thread with.
struct ThreadStartBlock {
    DownloadJob* job = nullptr;
    JobPart* part = nullptr;
    HandleBlockPtr block;
    WindowId window = 0;  // the job's CJobWnd
    uint32_t value = 0;  // transfer: 1 when restarted after a failure; ping: the number of URLs
    uint32_t index = 0;  // ping: the worker's first URL index
    uint32_t flags = 0;  // kStartProxyChosen
    std::optional<ProxyEntry> proxy;
    SiteConnectionTable* sites = nullptr;  // where announced site limits are recorded; may be null
};
inline constexpr uint32_t kStartProxyChosen = 0x1;

// Messages from threads to CJobWnd that the runner's handlers take, beside
// the WM_PART_* numbers of the contract.
inline constexpr uint32_t WM_PART_LOG = 0x0400 + 118;  // 1142, a line for the part's log
inline constexpr uint32_t WM_PART_PING_RESULT = 0x0400 + 119;  // 1143
inline constexpr uint32_t WM_PART_SEARCH_RESULT = 0x0400 + 120;  // 1144

// Everything a thread message carries; wParam points at one on the sending
// thread's stack (the send waits for the answer, so it stays valid).
struct PartMessage {
    ThreadHandleBlock* block = nullptr;
    int64_t position = 0;
    std::span<const uint8_t> data;
    uint32_t streamStart = 0;
    uint32_t streamEnd = 0;
    const ResponseInfo* response = nullptr;
    ProtocolKind protocol = ProtocolKind::Http;
    ConnectionLogKind logKind = ConnectionLogKind::Status;
    std::string_view text;  // log line, resolved address
    bool forProxy = false;
    uint32_t error = 0;  // host look-up error
    int32_t retryAfterSeconds = -1;  // a failed cycle: the server's Retry-After
    size_t urlIndex = 0;
    int32_t pingMs = -1;
    const std::vector<std::string>* urls = nullptr;
};

// The PartChannel of a transfer thread: each call sends the matching message
// to the job window and returns the handler's answer.
class JobPartChannel final : public PartChannel {
public:
    JobPartChannel(MessageLoop& loop, JobLock& lock, const ThreadStartBlock& start);

    bool alive() const override;
    int response(const ResponseInfo& info, ProtocolKind kind) override;
    WriteResult data(int64_t position, std::span<const uint8_t> block) override;
    // Message 1146: a stream block with its stream positions (MMS, RTSP).
    WriteResult streamData(int64_t position, std::span<const uint8_t> block, uint32_t streamStart,
                           uint32_t streamEnd) override;
    bool error(const PartFailure& failure) override;
    void done() override;
    void resolved(const std::string& address, bool forProxy) override;
    int64_t rangeStart() const override;
    int64_t knownSize() const override;
    void logLine(ConnectionLogKind kind, std::string_view text) override;
    // Under the job lock, on the job's URL entry of the part.
    void markResumable(bool canResume) override;
    void markLoginFailed() override;
    void markLoginByUserAlone() override;
    bool learnSiteLimit(int32_t limit) override;

    // WM_PART_EXIT, sent by the thread wrapper as the thread ends.
    void exited();

private:
    intptr_t sendMessage(uint32_t msg, PartMessage& message) const;

    MessageLoop& m_loop;
    JobLock& m_lock;
    WindowId m_window;
    HandleBlockPtr m_block;
    DownloadJob* m_job;
    JobPart* m_part;
    SiteConnectionTable* m_sites;
};

class TransferThreads {
public:
    TransferThreads(MessageLoop& loop, JobLock& lock);
    ~TransferThreads();
    TransferThreads(const TransferThreads&) = delete;
    TransferThreads& operator=(const TransferThreads&) = delete;

    // Which procedure serves a service. MMST falls back to MMS's.
    void registerProcedure(ServiceCode service, TransferProcedureFn procedure);
    void registerPingProcedure(MirrorProcedureFn procedure) { m_ping = std::move(procedure); }
    void registerSearchProcedure(MirrorProcedureFn procedure) { m_search = std::move(procedure); }

    // The procedure for a URL's service and the proxy chosen for it: an FTP
    // URL through an HTTP proxy (type 3) is fetched by the HTTP procedure.
    // None for a service nobody serves (PNM, or protocol code not built).
    const TransferProcedureFn* procedureFor(ServiceCode service, const ProxyEntry* proxy) const;
    bool hasPingProcedure() const { return static_cast<bool>(m_ping); }
    bool hasSearchProcedure() const { return static_cast<bool>(m_search); }

    // Start a thread; false when it could not be created.
    bool startTransfer(const TransferProcedureFn& procedure, const ThreadStartBlock& start, TransferTask task);
    bool startPing(const ThreadStartBlock& start, MirrorTask task);
    bool startSearch(const ThreadStartBlock& start, MirrorTask task);

    // Threads still running (not yet ended).
    size_t running() const;
    // Joins the threads that have ended.
    void reap();
    // Waits up to timeout for every thread to end and joins them; true when
    // none is left.
    bool joinAll(std::chrono::milliseconds timeout);

private:
    // Joins and forgets the threads that have ended; m_mutex is held.
    void reapLocked();
    struct Running {
        std::thread thread;
        bool ended = false;
    };
    // A ping or search thread; doneMessage is sent to the job window as it ends.
    bool startMirror(const MirrorProcedureFn& procedure, uint32_t doneMessage, const ThreadStartBlock& start,
                     MirrorTask task);
    template <typename Body> bool spawn(const HandleBlockPtr& block, Body body);
    void ended(Running* entry);

    MessageLoop& m_loop;
    JobLock& m_lock;
    std::map<ServiceCode, TransferProcedureFn> m_procedures;
    MirrorProcedureFn m_ping;
    MirrorProcedureFn m_search;

    mutable std::mutex m_mutex;
    std::condition_variable m_endedSignal;
    std::list<Running> m_threads;
};

}  // namespace fetchora
