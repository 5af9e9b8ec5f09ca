#include "net/ftp_listing.h"

#include <algorithm>
#include <memory>
#include <poll.h>

#include "config/settings_values.h"
#include "net/connection_setup.h"
#include "net/ftp_control.h"
#include "net/ftp_data_address.h"
#include "net/ftp_passive_data.h"
#include "net/ftp_reply.h"
#include "net/net_texts.h"
#include "net/tcp_connection.h"
#include "net/url.h"
#include "platform/tick.h"

namespace fetchora {

namespace {

// The longest single wait: the alive check is looked at this often.
constexpr int kListingWaitMs = 50;

int nativeHandleOf(ByteStream* stream)
{
    const auto* tcp = dynamic_cast<TcpConnection*>(stream);
    return tcp ? tcp->nativeHandle() : -1;
}

// The dialogue reports through a part channel; a listing has no job window,
// so only the log and the alive check are passed on.
class ListingChannel : public PartChannel {
public:
    ListingChannel(ConnectionLog& log, const AliveCheck& alive) : m_log(log), m_alive(alive) { }

    void logLine(ConnectionLogKind kind, std::string_view text) override { m_log.logLine(kind, text); }
    std::string messageText(uint32_t messageId) const override { return m_log.messageText(messageId); }
    bool alive() const override { return !m_alive || m_alive(); }
    int response(const ResponseInfo&, ProtocolKind) override { return 0; }
    WriteResult data(int64_t, std::span<const uint8_t>) override { return WriteResult::Stop; }
    bool error(const PartFailure&) override { return false; }
    void done() override { }
    void resolved(const std::string&, bool) override { }
    int64_t rangeStart() const override { return 0; }
    int64_t knownSize() const override { return -1; }

private:
    ConnectionLog& m_log;
    const AliveCheck& m_alive;
};

class FolderLister {
public:
    FolderLister(UrlEntry url, const std::optional<ProxyEntry>& proxy, const TransferSettings& settings,
                 const AliveCheck& alive, ConnectionLog& log)
        : m_url(std::move(url)), m_proxy(proxy), m_settings(settings), m_channel(log, alive)
    {
    }

    FtpListing run();

private:
    // The dialogue's next result; Error with m_result.error set when the
    // connection ended, the server stayed silent or the caller stopped.
    FtpPumpResult nextResult(FtpControl& control);
    // One read of the control connection, at most waitMs.
    bool readControl(int waitMs);
    bool openData(FtpControl& control);
    bool acceptData();
    // Reads the data connection; false when the listing broke a bound.
    bool readData();
    bool stopFor(std::string why);
    bool timedOut() const
    {
        return ticksSince(m_lastActivity, tickNow()) > static_cast<uint32_t>(std::max(m_settings.dataTimeoutMs, 0));
    }
    ConnectionEnvironment environment();
    FtpSession session() const;

    UrlEntry m_url;
    std::optional<ProxyEntry> m_proxy;
    const TransferSettings& m_settings;
    ListingChannel m_channel;
    FtpListing m_result;
    std::unique_ptr<ByteStream> m_control;
    std::unique_ptr<ByteStream> m_data;
    FtpDataListener m_listener;
    std::string m_controlPeer;
    FtpReplyReader m_reader;
    std::string m_text;  // the listing as received
    std::size_t m_lines = 0;  // line ends in m_text
    bool m_dataClosed = false;
    uint32_t m_lastActivity = 0;
};

bool FolderLister::stopFor(std::string why)
{
    if (!m_channel.alive()) {
        m_result.stopped = true;
        why = builtinText(kStrFtpListingStopped);
    }
    if (m_result.error.empty())
        m_result.error = std::move(why);
    return false;
}

ConnectionEnvironment FolderLister::environment()
{
    ConnectionEnvironment env(m_channel);
    env.alive = [this] { return m_channel.alive(); };
    env.rememberTargetAddress = [this](const std::string& address) { m_url.resolvedAddress = address; };
    return env;
}

FtpSession FolderLister::session() const
{
    FtpSession session;
    session.host = m_url.host;
    session.port = m_url.port;
    session.user = m_url.userName;
    session.password = m_url.password;
    session.anonymousPassword
        = m_settings.anonymousPassword.empty() ? std::string(kDefaultAnonymousEMail) : m_settings.anonymousPassword;
    session.object = m_url.object;
    if (m_proxy && isFtpProxyType(m_proxy->type)) {
        session.ftpProxy = m_proxy;
        session.passive = (m_proxy->flags & kProxyPassive) != 0;
    } else {
        session.passive = m_settings.ftpPassive;
    }
    // Through a tunnel the server cannot reach a listener of ours, and PORT
    // cannot name an IPv6 address.
    session.activeAllowed
        = !(m_proxy && isTunnelProxyType(m_proxy->type)) && m_controlPeer.find(':') == std::string::npos;
    // A listing never needs the site-limit hint: it is one short connection.
    session.siteLimitKnown = true;
    return session;
}

bool FolderLister::readControl(int waitMs)
{
    const std::span<char> room = m_reader.room();
    if (room.empty())
        return stopFor(builtinText(kStrFtpReplyLineTooLong, {std::to_string(kFtpReplyBufferSize)}));
    const IoResult got = m_control->read(room.data(), room.size(), waitMs);
    switch (got.status) {
    case IoStatus::Ok:
        m_reader.added(got.bytes);
        m_lastActivity = tickNow();
        return true;
    case IoStatus::TimedOut: return true;
    case IoStatus::Stopped: return stopFor(builtinText(kStrFtpListingStopped));
    case IoStatus::Closed: return stopFor(builtinText(kStrFtpControlClosed));
    case IoStatus::Failed: return stopFor(got.detail.empty() ? builtinText(kStrFtpControlFailed) : got.detail);
    }
    return true;
}

FtpPumpResult FolderLister::nextResult(FtpControl& control)
{
    std::string line;
    FtpReply reply;
    for (;;) {
        const FtpReplyReader::Status status = m_reader.nextLine(line);
        if (status == FtpReplyReader::Status::Broken) {
            stopFor(builtinText(kStrFtpReplyLineTooLong, {std::to_string(kFtpReplyBufferSize)}));
            return FtpPumpResult::Error;
        }
        if (status == FtpReplyReader::Status::Line) {
            m_channel.logLine(ConnectionLogKind::Received, line);
            const bool complete = m_reader.gather(std::move(line), reply);
            if (m_reader.broken()) {
                stopFor(builtinText(kStrFtpReplyTooManyLines, {std::to_string(kMaxFtpReplyLines)}));
                return FtpPumpResult::Error;
            }
            if (complete) {
                const FtpPumpResult result = ActOnFtpReply(control, reply);
                if (result == FtpPumpResult::Failed || result == FtpPumpResult::Error)
                    stopFor(control.problem.empty() ? builtinText(kStrFtpAnswerEndedListing) : control.problem);
                if (result != FtpPumpResult::Nothing)
                    return result;
            }
            continue;
        }
        if (!m_channel.alive() || (m_data && !m_dataClosed) || m_listener.listening())
            return FtpPumpResult::Nothing;
        if (timedOut()) {
            m_channel.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
            stopFor(builtinText(kStrFtpNoAnswerInTime));
            return FtpPumpResult::Error;
        }
        if (!readControl(kListingWaitMs))
            return FtpPumpResult::Error;
    }
}

bool FolderLister::openData(FtpControl& control)
{
    FtpPassiveRoute route;
    route.siteHost = m_url.host;
    route.siteAddress = m_url.resolvedAddress;
    route.proxy = m_proxy;
    route.controlPeer = m_controlPeer;
    route.connectTimeoutMs = m_settings.connectTimeoutMs;
    ConnectionResult connection = OpenFtpPassiveData(route, control.dataAddress, control.dataPort, environment());
    if (connection.outcome != ConnectOutcome::Open)
        return stopFor(builtinText(kStrFtpDataPortFailed, {std::to_string(control.dataPort)}));
    m_data = std::move(connection.stream);
    return true;
}

bool FolderLister::acceptData()
{
    std::unique_ptr<TcpConnection> accepted;
    std::string refused;
    const IoResult taken = m_listener.accept(
        m_controlPeer, [this] { return m_channel.alive(); }, accepted, refused);
    if (!refused.empty())
        m_channel.logLine(ConnectionLogKind::Error, refused);
    if (taken.status == IoStatus::Failed)
        return stopFor(taken.detail.empty() ? builtinText(kStrFtpDataNotTaken) : taken.detail);
    if (taken.ok()) {
        m_data = std::move(accepted);
        m_listener.close();
        m_lastActivity = tickNow();
    }
    return true;
}

bool FolderLister::readData()
{
    char block[4096];
    const IoResult got = m_data->read(block, sizeof block, 0);
    switch (got.status) {
    case IoStatus::Ok: break;
    case IoStatus::TimedOut: return true;
    case IoStatus::Stopped: return stopFor(builtinText(kStrFtpListingStopped));
    case IoStatus::Closed:
        m_dataClosed = true;
        m_data->close();
        return true;
    case IoStatus::Failed: return stopFor(got.detail.empty() ? builtinText(kStrFtpDataConnectionFailed) : got.detail);
    }
    m_lastActivity = tickNow();
    if (m_text.size() + got.bytes > kMaxFtpListingBytes)
        return stopFor(builtinText(kStrFtpListingTooLarge, {std::to_string(kMaxFtpListingBytes >> 20)}));
    m_text.append(block, got.bytes);
    m_lines += static_cast<std::size_t>(std::count(block, block + got.bytes, '\n'));
    if (m_lines > kMaxFtpListingLines)
        return stopFor(builtinText(kStrFtpListingTooManyLines, {std::to_string(kMaxFtpListingLines)}));
    return true;
}

FtpListing FolderLister::run()
{
    ConnectionRequest request;
    request.target = {m_url.host, m_url.port, m_url.resolvedAddress, false};
    request.proxy = m_proxy;
    request.connectTimeoutMs = m_settings.connectTimeoutMs;
    ConnectionResult connection = openConnection(request, environment());
    switch (connection.outcome) {
    case ConnectOutcome::Open: break;
    case ConnectOutcome::Stopped: stopFor(builtinText(kStrFtpListingStopped)); return std::move(m_result);
    case ConnectOutcome::ResolveFailed:
        stopFor(builtinText(kStrFtpHostNotResolved, {m_url.host}));
        return std::move(m_result);
    case ConnectOutcome::Rejected:
    case ConnectOutcome::Failed:
        stopFor(connection.detail.empty() ? builtinText(kStrFtpServerUnreachable) : connection.detail);
        return std::move(m_result);
    }
    m_control = std::move(connection.stream);
    m_controlPeer = SocketPeerAddress(nativeHandleOf(m_control.get()));
    m_channel.logMessage(ConnectionLogKind::Status, kMsgWaitingForWelcome);

    FtpControl control(session(), m_channel);
    control.writer = [this](std::string_view line) {
        const std::string bytes = std::string(line) + "\r\n";
        return writeAll(*m_control, bytes, std::max(m_settings.dataTimeoutMs, 0)).ok();
    };
    control.preparePort = [this] {
        m_data.reset();
        return BuildPortCommand(nativeHandleOf(m_control.get()), m_listener);
    };
    m_lastActivity = tickNow();
    FtpPumpResult result = nextResult(control);
    if (result != FtpPumpResult::LoggedIn) {
        stopFor(builtinText(kStrFtpLoginFailed));
        return std::move(m_result);
    }
    result = BeginFtpListing(control);
    bool receiving = false;
    bool complete = false;
    for (;;) {
        switch (result) {
        case FtpPumpResult::Nothing: break;
        case FtpPumpResult::OpenDataConnection:
            if (!openData(control))
                return std::move(m_result);
            result = FtpDataConnected(control);
            continue;
        case FtpPumpResult::StartReceiving: receiving = true; break;
        case FtpPumpResult::TransferComplete:
            receiving = true;
            complete = true;
            break;
        default: stopFor(builtinText(kStrFtpAnswerDoesNotFitListing)); return std::move(m_result);
        }
        if (receiving && !m_data && m_listener.listening() && !acceptData())
            return std::move(m_result);
        if (complete && m_dataClosed)
            break;
        if (complete && !m_data && !m_listener.listening()) {
            stopFor(builtinText(kStrFtpListingWithoutData));
            return std::move(m_result);
        }

        // Once the final reply is in, only the data connection is waited for.
        pollfd waits[2];
        nfds_t count = 0;
        waits[count++] = pollfd{complete ? -1 : nativeHandleOf(m_control.get()), POLLIN, 0};
        if (m_data && !m_dataClosed)
            waits[count++] = pollfd{nativeHandleOf(m_data.get()), POLLIN, 0};
        else if (m_listener.listening())
            waits[count++] = pollfd{m_listener.nativeHandle(), POLLIN, 0};
        ::poll(waits, count, kListingWaitMs);
        if (!m_channel.alive()) {
            stopFor(builtinText(kStrFtpListingStopped));
            return std::move(m_result);
        }
        if (m_data && !m_dataClosed && !readData())
            return std::move(m_result);
        if (!complete) {
            if ((waits[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !readControl(0))
                return std::move(m_result);
            result = nextResult(control);
            if (result == FtpPumpResult::Error || result == FtpPumpResult::Failed)
                return std::move(m_result);
        } else {
            result = FtpPumpResult::Nothing;
        }
        if (timedOut()) {
            m_channel.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
            stopFor(builtinText(kStrFtpNoAnswerInTime));
            return std::move(m_result);
        }
    }

    std::size_t at = 0;
    while (at < m_text.size()) {
        const std::size_t end = std::min(m_text.find('\n', at), m_text.size());
        std::string_view line = std::string_view(m_text).substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ParseListLine(line, m_result.entries);
        at = end + 1;
    }
    m_result.reportedPath = control.currentDirectory;
    m_result.ok = true;
    m_control->close();
    return std::move(m_result);
}

}  // namespace

FtpListing ListFtpDirectory(std::string_view url, const std::optional<ProxyEntry>& proxy,
                            const TransferSettings& settings, const AliveCheck& alive, ConnectionLog& log)
{
    std::optional<UrlEntry> entry = ParseUrl(url);
    FtpListing failed;
    if (!entry || entry->service != ServiceCode::Ftp || entry->host.empty()) {
        failed.error = builtinText(kStrFtpNotListable);
        return failed;
    }
    if (proxy && proxy->type == kProxyHttpGet) {
        failed.error = "A plain HTTP proxy cannot list an FTP folder; use an FTP proxy or none.";
        return failed;
    }
    return FolderLister(std::move(*entry), proxy, settings, alive, log).run();
}

}  // namespace fetchora
