#include "net/ftp_transfer.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <poll.h>
#include <thread>
#include <utility>
#include <vector>

#include "config/settings_values.h"
#include "net/connection_setup.h"
#include "net/ftp_control.h"
#include "net/ftp_data_address.h"
#include "net/ftp_handover.h"
#include "net/ftp_passive_data.h"
#include "net/http_transfer.h"
#include "net/net_texts.h"
#include "net/speed_limiter.h"
#include "net/tcp_connection.h"
#include "net/worker_cycles.h"
#include "platform/tick.h"

namespace fetchora {

namespace {

// How long one pass waits for either connection.
constexpr int kPassWaitMs = 100;
// How long a finished job's worker waits for the server's last reply before
// it hands its connection on, and how long the next job's worker waits for
// that hand-over before it logs in itself.
constexpr uint32_t kHandOverDrainMs = 5000;
constexpr int kTakeOverWaitMs = 10000;

bool isTunnel(const std::optional<ProxyEntry>& proxy)
{
    return proxy && isTunnelProxyType(proxy->type);
}

bool isFtpProxy(const std::optional<ProxyEntry>& proxy)
{
    return proxy && isFtpProxyType(proxy->type);
}

int nativeHandleOf(ByteStream* stream)
{
    const auto* tcp = dynamic_cast<TcpConnection*>(stream);
    return tcp ? tcp->nativeHandle() : -1;
}

class FtpWorker {
public:
    explicit FtpWorker(TransferTask& task) : m_task(task), m_channel(*task.channel), m_buffer(kUnlimitedReadBytes) { }

    int run();

private:
    CycleResult runCycle();
    // One cycle's dialogue over an open control connection, fresh or taken
    // over from the job before (already logged in).
    CycleResult talk(std::unique_ptr<ByteStream> stream, bool reused);
    FtpSession session() const;
    // The connection handed over by the job before, when it is still fit for
    // use; nothing (and a log line saying why) otherwise.
    std::unique_ptr<ByteStream> takeHandedOver(FtpHandover& handover);
    // Whether the connection can go to the next job: logged in, its last
    // transfer answered (waited for a short while) and nothing unread.
    bool readyToHandOn(FtpControl& control);
    CycleResult converse(FtpControl& control);
    CycleResult transfer(FtpControl& control, FtpPumpResult first);
    // Replies already received first, then one read of at most waitMs.
    FtpPumpResult pump(FtpControl& control, int waitMs);
    // Pumps until the dialogue has something for the worker, or the server
    // stays silent past the data time-out.
    FtpPumpResult pumpUntilResult(FtpControl& control);
    CycleResult fromDialogue(FtpPumpResult result, const FtpControl& control);
    std::optional<CycleResult> openPassiveData(FtpControl& control);
    // Reads one block of data; a result when the cycle ends.
    std::optional<CycleResult> readData();
    CycleResult dataEnded();
    // The part's range is complete and it was given a new one: the control
    // connection is kept when the server ends the old transfer in time.
    std::optional<CycleResult> nextRange(FtpControl& control, bool complete);
    CycleResult fail(std::string_view reason, uint32_t socketError = 0);
    bool alive() const { return m_channel.alive(); }
    int dataTimeoutMs() const { return std::max(m_task.settings.dataTimeoutMs, 0); }
    bool idleTooLong() const { return ticksSince(m_lastActivity, tickNow()) > static_cast<uint32_t>(dataTimeoutMs()); }
    ConnectionEnvironment environment();

    TransferTask& m_task;
    PartChannel& m_channel;
    std::string m_proxyAddress;
    std::vector<uint8_t> m_buffer;  // one read's worth of data, allocated once

    // One cycle's connections and state.
    std::unique_ptr<ByteStream> m_control;
    std::unique_ptr<ByteStream> m_data;
    FtpDataListener m_listener;
    std::string m_controlPeer;
    FtpReplyReader m_reader;
    std::optional<CycleResult> m_ioEnd;  // set when the control connection ended the cycle
    uint32_t m_lastActivity = 0;
    int64_t m_position = 0;  // file offset of the next data byte
    bool m_blockTaken = false;  // the job window took a block of this transfer
    bool m_dataClosed = false;
    bool m_loggedIn = false;
    bool m_receiving = false;  // RETR was answered with 150 or 125
    bool m_complete = false;  // the final reply to RETR came
    bool m_reported = false;  // the answer went to the job window
    bool m_reusedFailed = false;  // the connection taken over did not serve
    bool m_aheadFailed = false;  // a cycle that sent commands ahead failed before the answer
};

int FtpWorker::run()
{
    if (m_task.url.service != ServiceCode::Ftp) {
        m_channel.logLine(ConnectionLogKind::Error, "The FTP worker cannot fetch this URL.");
        return 2;
    }
    // A plain HTTP proxy fetches FTP URLs itself: the HTTP worker talks to it.
    if (m_task.proxy && m_task.proxy->type == kProxyHttpGet)
        return HttpTransfer(m_task);
    const int result = runWorkerCycles(m_task, ProtocolKind::Ftp, [this] { return runCycle(); });
    // Whoever waits for this worker's connection waits no longer.
    if (m_task.handOn)
        m_task.handOn->decline();
    return result;
}

CycleResult FtpWorker::fail(std::string_view reason, uint32_t socketError)
{
    if (!reason.empty())
        m_channel.logLine(ConnectionLogKind::Error, reason);
    return {CycleEnd::ErrorStep, socketError, std::string(reason)};
}

ConnectionEnvironment FtpWorker::environment()
{
    ConnectionEnvironment env(m_channel);
    env.alive = [this] { return alive(); };
    env.rememberTargetAddress = [this](const std::string& address) {
        m_task.url.resolvedAddress = address;
        m_channel.resolved(address, false);
    };
    env.rememberProxyAddress = [this](const std::string& address) {
        m_proxyAddress = address;
        m_channel.resolved(address, true);
    };
    return env;
}

CycleResult FtpWorker::runCycle()
{
    if (std::shared_ptr<FtpHandover> handover = std::exchange(m_task.takeOver, nullptr)) {
        if (std::unique_ptr<ByteStream> stream = takeHandedOver(*handover)) {
            const CycleResult result = talk(std::move(stream), true);
            if (!m_reusedFailed)
                return result;
            if (!alive())
                return {CycleEnd::Ended};
            m_channel.logLine(ConnectionLogKind::Status, "The connection taken over failed; logging in again.");
        }
    }

    const UrlEntry& url = m_task.url;
    ConnectionRequest request;
    request.target = {url.host, url.port, url.resolvedAddress, false};
    request.proxy = m_task.proxy;
    request.proxyAddress = m_proxyAddress;
    request.connectTimeoutMs = m_task.settings.connectTimeoutMs;
    ConnectionResult connection = openConnection(request, environment());
    switch (connection.outcome) {
    case ConnectOutcome::Open: break;
    case ConnectOutcome::Stopped: return {CycleEnd::Ended};
    case ConnectOutcome::ResolveFailed: return {CycleEnd::ResolveFailed, 0, connection.detail};
    case ConnectOutcome::Rejected: return {CycleEnd::Failed, 0, connection.detail};
    case ConnectOutcome::Failed: return {CycleEnd::ErrorStep, connection.socketError, connection.detail};
    }
    m_channel.logMessage(ConnectionLogKind::Status, kMsgWaitingForWelcome);
    return talk(std::move(connection.stream), false);
}

std::unique_ptr<ByteStream> FtpWorker::takeHandedOver(FtpHandover& handover)
{
    std::optional<FtpHandover::Taken> taken = handover.take(kTakeOverWaitMs, [this] { return alive(); });
    if (!taken || !taken->stream)
        return nullptr;
    std::unique_ptr<ByteStream> stream = std::move(taken->stream);
    auto* tcp = dynamic_cast<TcpConnection*>(stream.get());
    if (tcp == nullptr)
        return nullptr;
    tcp->setAliveCheck([this] { return alive(); });
    if (ticksSince(taken->idleSince, tickNow()) > m_task.settings.ftpReuseIdleMs) {
        m_channel.logLine(ConnectionLogKind::Status, "The connection of the job before was idle too long.");
        stream->close();
        return nullptr;
    }
    // An idle control connection has nothing to say: anything readable is
    // the server's goodbye (a 421 or the end of the connection).
    pollfd wait{tcp->nativeHandle(), POLLIN, 0};
    if (::poll(&wait, 1, 0) != 0) {
        m_channel.logLine(ConnectionLogKind::Status, "The server closed the connection of the job before.");
        stream->close();
        return nullptr;
    }
    return stream;
}

FtpSession FtpWorker::session() const
{
    const UrlEntry& url = m_task.url;
    FtpSession session;
    session.host = url.host;
    session.port = url.port;
    session.user = url.userName;
    session.password = url.password;
    session.anonymousPassword = m_task.settings.anonymousPassword.empty()
        ? std::string(kDefaultAnonymousEMail)
        : m_task.settings.anonymousPassword;
    session.object = url.object;
    if (isFtpProxy(m_task.proxy)) {
        session.ftpProxy = m_task.proxy;
        session.passive = (m_task.proxy->flags & kProxyPassive) != 0;
    } else {
        session.passive = m_task.settings.ftpPassive;
    }
    // Through a tunnel the server cannot reach a listener of ours, and PORT
    // cannot name an IPv6 address.
    session.activeAllowed = !isTunnel(m_task.proxy) && m_controlPeer.find(':') == std::string::npos;
    session.asciiTypes = m_task.settings.asciiTypes;
    session.siteLimitKnown = url.siteLimit != nullptr;
    // A later connection of the job: the site has shown that it resumes and
    // what the file's size is, so the probe is left out and the commands go
    // out without waiting (not through an FTP proxy, whose own dialogue may
    // be less forgiving). A cycle of this worker that failed that way before
    // the answer waits for each reply again.
    session.resumeKnown = url.resumeProbe == 1;
    session.sendAhead = session.resumeKnown && !session.ftpProxy && !m_aheadFailed && m_channel.knownSize() >= 0;
    session.userAloneLogsIn = url.loginByUserAlone;
    // A connection that runs the probe sends the size query right behind it.
    session.sizeQueryAhead = !session.ftpProxy && !m_aheadFailed;
    return session;
}

CycleResult FtpWorker::talk(std::unique_ptr<ByteStream> stream, bool reused)
{
    m_control = std::move(stream);
    m_data.reset();
    m_listener.close();
    m_reader = FtpReplyReader();
    m_ioEnd.reset();
    m_dataClosed = false;
    m_loggedIn = false;
    m_receiving = false;
    m_complete = false;
    m_reported = false;
    m_reusedFailed = false;
    m_controlPeer = SocketPeerAddress(nativeHandleOf(m_control.get()));

    FtpControl control(session(), m_channel);
    control.writer = [this](std::string_view line) {
        const std::string bytes = std::string(line) + "\r\n";
        return writeAll(*m_control, bytes, dataTimeoutMs()).ok();
    };
    control.preparePort = [this] {
        m_data.reset();
        return BuildPortCommand(nativeHandleOf(m_control.get()), m_listener);
    };
    CycleResult result{CycleEnd::ErrorStep};
    if (!reused) {
        result = converse(control);
    } else {
        m_channel.logLine(ConnectionLogKind::Status, "Logged in already: the connection of the job before.");
        m_lastActivity = tickNow();
        if (ResumeFtpLoggedIn(control) != FtpPumpResult::Error)
            result = converse(control);
        // A connection that fails before the file's answer is no fault of
        // the site: a fresh login follows at once.
        m_reusedFailed = !m_reported && result.end == CycleEnd::ErrorStep;
    }
    if ((control.session.sendAhead || control.session.sizeQueryAhead) && !m_reported
        && result.end == CycleEnd::ErrorStep)
        m_aheadFailed = true;
    m_data.reset();
    m_listener.close();
    if (result.end == CycleEnd::Ended && m_task.handOn && m_task.handOn->wanted() && readyToHandOn(control)) {
        m_task.handOn->deliver(std::move(m_control), m_lastActivity);
    } else {
        m_control->close();
    }
    m_control.reset();
    return result;
}

bool FtpWorker::readyToHandOn(FtpControl& control)
{
    auto* tcp = dynamic_cast<TcpConnection*>(m_control.get());
    if (tcp == nullptr || !m_loggedIn || (m_ioEnd && m_ioEnd->end != CycleEnd::Ended))
        return false;
    // The part has ended, so this worker's own check says stop; the wait
    // below is bounded instead, and the taker puts in its own check.
    tcp->setAliveCheck([] { return true; });
    if (!m_complete) {
        if (!m_receiving)
            return false;
        // The data connection is closed now; the server's reply to RETR
        // (226, or 426 for what it could not send) frees the connection.
        AbandonFtpTransfer(control);
        m_ioEnd.reset();
        const uint32_t started = tickNow();
        for (;;) {
            const FtpPumpResult result = pump(control, kPassWaitMs);
            if (result == FtpPumpResult::TransferComplete)
                break;
            if (result != FtpPumpResult::Nothing || ticksSince(started, tickNow()) > kHandOverDrainMs)
                return false;
            // Nobody is going to take it after all: no reason to wait on.
            if (!m_task.handOn->wanted())
                return false;
        }
    }
    return m_reader.idle();
}

CycleResult FtpWorker::fromDialogue(FtpPumpResult result, const FtpControl& control)
{
    if (m_ioEnd)
        return *m_ioEnd;
    switch (result) {
    case FtpPumpResult::Failed: return {CycleEnd::Failed, 0, control.problem};
    case FtpPumpResult::Error: return {CycleEnd::ErrorStep, 0, control.problem};
    default: break;
    }
    return fail(builtinText(kStrFtpAnswerDoesNotFit));
}

CycleResult FtpWorker::converse(FtpControl& control)
{
    m_lastActivity = tickNow();
    FtpPumpResult result = pumpUntilResult(control);
    if (result != FtpPumpResult::LoggedIn)
        return fromDialogue(result, control);
    m_loggedIn = true;

    result = BeginFtpSizeQuery(control);
    if (result == FtpPumpResult::Nothing)
        result = pumpUntilResult(control);
    if (result != FtpPumpResult::SizeKnown && result != FtpPumpResult::SizeQueryFailed)
        return fromDialogue(result, control);

    ResponseInfo info;
    info.outcome = ResponseOutcome::Success;
    info.resume = control.canResume ? ResumeInfo::Honoured : ResumeInfo::NotHonoured;
    info.size = result == FtpPumpResult::SizeKnown ? control.size : -1;
    m_reported = true;
    if (m_channel.response(info, ProtocolKind::Ftp) == 0)
        return {CycleEnd::Ended};

    // The job window may have moved the part while it took the answer.
    m_position = m_channel.rangeStart();
    if (m_position < 0)
        return {CycleEnd::Ended};
    return transfer(control, BeginFtpTransfer(control, m_position, m_channel.knownSize()));
}

FtpPumpResult FtpWorker::pump(FtpControl& control, int waitMs)
{
    std::string line;
    FtpReply reply;
    for (;;) {
        const FtpReplyReader::Status status = m_reader.nextLine(line);
        if (status == FtpReplyReader::Status::Broken) {
            m_ioEnd = fail(builtinText(kStrFtpReplyLineTooLong, {std::to_string(kFtpReplyBufferSize)}));
            return FtpPumpResult::Error;
        }
        if (status == FtpReplyReader::Status::NeedMore)
            break;
        m_channel.logLine(ConnectionLogKind::Received, line);
        const bool complete = m_reader.gather(std::move(line), reply);
        if (m_reader.broken()) {
            m_ioEnd = fail(builtinText(kStrFtpReplyTooManyLines, {std::to_string(kMaxFtpReplyLines)}));
            return FtpPumpResult::Error;
        }
        if (complete) {
            const FtpPumpResult result = ActOnFtpReply(control, reply);
            if (result != FtpPumpResult::Nothing)
                return result;
        }
    }

    const std::span<char> room = m_reader.room();
    SpeedGrant grant;
    std::size_t allowed = room.size();
    if (m_task.limiter) {
        grant = m_task.limiter->acquire();
        allowed = std::min<std::size_t>(allowed, grant.bytes());
    }
    if (allowed == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kLimitedReadWaitMs));
        return FtpPumpResult::Nothing;
    }
    const IoResult got = m_control->read(room.data(), allowed, waitMs);
    grant.commit(got.ok() ? static_cast<uint32_t>(got.bytes) : 0);
    switch (got.status) {
    case IoStatus::Ok:
        m_reader.added(got.bytes);
        m_lastActivity = tickNow();
        return FtpPumpResult::Nothing;
    case IoStatus::TimedOut: return FtpPumpResult::Nothing;
    case IoStatus::Stopped: m_ioEnd = CycleResult{CycleEnd::Ended}; break;
    case IoStatus::Closed: m_ioEnd = fail(builtinText(kStrFtpControlClosed)); break;
    case IoStatus::Failed: m_ioEnd = fail(got.detail, got.socketError); break;
    }
    return FtpPumpResult::Error;
}

FtpPumpResult FtpWorker::pumpUntilResult(FtpControl& control)
{
    for (;;) {
        const FtpPumpResult result = pump(control, kPassWaitMs);
        if (result != FtpPumpResult::Nothing)
            return result;
        if (!alive()) {
            m_ioEnd = CycleResult{CycleEnd::Ended};
            return FtpPumpResult::Error;
        }
        if (idleTooLong()) {
            m_channel.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
            m_ioEnd = CycleResult{CycleEnd::ErrorStep};
            return FtpPumpResult::Error;
        }
    }
}

std::optional<CycleResult> FtpWorker::openPassiveData(FtpControl& control)
{
    m_data.reset();
    m_dataClosed = false;
    FtpPassiveRoute route;
    route.siteHost = m_task.url.host;
    route.siteAddress = m_task.url.resolvedAddress;
    route.proxy = m_task.proxy;
    route.proxyAddress = m_proxyAddress;
    route.controlPeer = m_controlPeer;
    route.connectTimeoutMs = m_task.settings.connectTimeoutMs;
    ConnectionResult connection = OpenFtpPassiveData(route, control.dataAddress, control.dataPort, environment());
    switch (connection.outcome) {
    case ConnectOutcome::Open:
        m_data = std::move(connection.stream);
        return std::nullopt;
    case ConnectOutcome::Stopped: return CycleResult{CycleEnd::Ended};
    case ConnectOutcome::ResolveFailed:
    case ConnectOutcome::Rejected:
    case ConnectOutcome::Failed: break;
    }
    return CycleResult{CycleEnd::ErrorStep, connection.socketError,
                       connection.detail.empty() ? builtinText(kStrFtpDataConnectionFailed) : connection.detail};
}

std::optional<CycleResult> FtpWorker::readData()
{
    SpeedGrant grant;
    std::size_t allowed = m_buffer.size();
    if (m_task.limiter) {
        grant = m_task.limiter->acquire();
        allowed = std::min<std::size_t>(allowed, grant.bytes());
    }
    if (allowed == 0) {
        grant = SpeedGrant();
        std::this_thread::sleep_for(std::chrono::milliseconds(kLimitedReadWaitMs));
        return std::nullopt;
    }
    const IoResult got = m_data->read(m_buffer.data(), allowed, 0);
    grant.commit(got.ok() ? static_cast<uint32_t>(got.bytes) : 0);
    switch (got.status) {
    case IoStatus::Ok: break;
    case IoStatus::TimedOut: return std::nullopt;
    case IoStatus::Stopped: return CycleResult{CycleEnd::Ended};
    case IoStatus::Closed:
        m_dataClosed = true;
        m_data->close();
        return std::nullopt;
    case IoStatus::Failed: return fail(got.detail, got.socketError);
    }
    m_lastActivity = tickNow();
    const std::span<const uint8_t> block(m_buffer.data(), got.bytes);
    const WriteResult answer = m_channel.data(m_position, block);
    switch (answer) {
    case WriteResult::Continue:
        m_position += static_cast<int64_t>(got.bytes);
        m_blockTaken = true;
        return std::nullopt;
    case WriteResult::Reconnect: return CycleResult{CycleEnd::Reconnect};
    case WriteResult::Stop: break;
    }
    if (alive())
        m_channel.logLine(ConnectionLogKind::Error, "Thread Save Data Error!");
    return CycleResult{CycleEnd::Ended};
}

CycleResult FtpWorker::dataEnded()
{
    const int64_t knownSize = m_channel.knownSize();
    if (knownSize < 0) {
        m_channel.logLine(ConnectionLogKind::Error, "TEST UNKNOW SIZE!");
        m_channel.done();
        return {CycleEnd::Finished};
    }
    if (knownSize == 0) {
        // An empty file writes no block, so no write ever completes the job:
        // the ended transfer is its whole body.
        m_channel.done();
        return {CycleEnd::Finished};
    }
    if (m_position < knownSize) {
        return fail(builtinText(kStrFtpDataEndedEarly, {std::to_string(m_position), std::to_string(knownSize)}));
    }
    // The file's end is reached but the part goes on: the job window decides
    // in the error step.
    return alive() ? CycleResult{CycleEnd::ErrorStep} : CycleResult{CycleEnd::Ended};
}

std::optional<CycleResult> FtpWorker::nextRange(FtpControl& control, bool complete)
{
    m_data.reset();
    m_listener.close();
    m_dataClosed = false;
    const int64_t next = m_channel.rangeStart();
    if (!m_blockTaken && next == m_position) {
        // Refused at the very place the part asked for: asking again would
        // get the same answer.
        return fail("The job window refused the data from byte " + std::to_string(m_position) + ".");
    }
    if (!complete) {
        AbandonFtpTransfer(control);
        m_lastActivity = tickNow();
        if (pumpUntilResult(control) != FtpPumpResult::TransferComplete) {
            if (m_ioEnd && m_ioEnd->end == CycleEnd::Ended)
                return *m_ioEnd;
            m_ioEnd.reset();
            return CycleResult{CycleEnd::Reconnect};
        }
    }
    m_position = m_channel.rangeStart();
    if (!alive() || m_position < 0)
        return CycleResult{CycleEnd::Ended};
    m_blockTaken = false;
    return std::nullopt;
}

CycleResult FtpWorker::transfer(FtpControl& control, FtpPumpResult result)
{
    bool& receiving = m_receiving;
    bool& complete = m_complete;
    receiving = false;
    complete = false;
    m_blockTaken = false;
    m_lastActivity = tickNow();
    for (;;) {
        switch (result) {
        case FtpPumpResult::Nothing: break;
        case FtpPumpResult::OpenDataConnection:
            if (const std::optional<CycleResult> ended = openPassiveData(control))
                return *ended;
            result = FtpDataConnected(control);
            continue;
        case FtpPumpResult::StartReceiving:
            receiving = true;
            m_lastActivity = tickNow();
            break;
        case FtpPumpResult::TransferComplete:
            complete = true;
            // Data without a 150 first: the 226 still means the file was sent.
            receiving = true;
            break;
        default: return fromDialogue(result, control);
        }

        if (receiving && !m_data && m_listener.listening()) {
            std::unique_ptr<TcpConnection> accepted;
            std::string refused;
            const IoResult taken = m_listener.accept(m_controlPeer, [this] { return alive(); }, accepted, refused);
            if (!refused.empty())
                m_channel.logLine(ConnectionLogKind::Error, refused);
            if (taken.status == IoStatus::Failed)
                return fail(taken.detail, taken.socketError);
            if (taken.ok()) {
                m_channel.logLine(ConnectionLogKind::Status, "Data connection accepted.");
                m_data = std::move(accepted);
                m_dataClosed = false;
                m_listener.close();
            }
        }

        if (receiving && m_dataClosed) {
            // A file whose size the job knows needs no 226 to be judged.
            if (complete || m_channel.knownSize() >= 0)
                return dataEnded();
        }

        pollfd waits[2];
        nfds_t count = 0;
        waits[count++] = pollfd{nativeHandleOf(m_control.get()), POLLIN, 0};
        if (receiving && m_data && !m_dataClosed)
            waits[count++] = pollfd{nativeHandleOf(m_data.get()), POLLIN, 0};
        else if (receiving && m_listener.listening())
            waits[count++] = pollfd{m_listener.nativeHandle(), POLLIN, 0};
        // A reply read with the one before it is handled without a wait.
        const bool lineWaiting = m_reader.lineWaiting();
        const int ready = ::poll(waits, count, lineWaiting ? 0 : kPassWaitMs);
        if (!alive())
            return {CycleEnd::Ended};
        // While data flows the control connection is mostly silent: it is
        // read only when it has something (or the poll failed and says
        // nothing), not once for every block of data.
        const bool controlReady = lineWaiting || ready < 0 || waits[0].revents != 0;

        if (receiving && m_data && !m_dataClosed) {
            if (const std::optional<CycleResult> ended = readData()) {
                if (ended->end != CycleEnd::Reconnect)
                    return *ended;
                if (const std::optional<CycleResult> stop = nextRange(control, complete))
                    return *stop;
                receiving = false;
                complete = false;
                m_lastActivity = tickNow();
                result = BeginFtpTransfer(control, m_position, m_channel.knownSize());
                continue;
            }
        }
        result = controlReady ? pump(control, 0) : FtpPumpResult::Nothing;
        if (result == FtpPumpResult::Nothing && idleTooLong()) {
            m_channel.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
            return {CycleEnd::ErrorStep};
        }
    }
}

}  // namespace

int FtpTransfer(TransferTask& task)
{
    if (!task.channel)
        return 2;
    return FtpWorker(task).run();
}

}  // namespace fetchora
