#include "net/connection_setup.h"

#include "net/connection_log.h"
#include "net/http_tunnel.h"
#include "net/net_texts.h"
#include "net/socks4_handshake.h"
#include "net/socks5_handshake.h"
#include "net/tcp_connection.h"
#include "net/tls_stream.h"

namespace fetchora {

namespace {

enum class Handshake { None, Socks4, Socks5, HttpConnect };

bool isDirect(const std::optional<ProxyEntry>& proxy)
{
    return !proxy || proxy->type == kProxyDirect;
}

Handshake handshakeFor(const std::optional<ProxyEntry>& proxy, bool tlsTarget)
{
    if (isDirect(proxy))
        return Handshake::None;
    switch (proxy->type) {
    case kProxySocks4: return Handshake::Socks4;
    case kProxySocks5: return Handshake::Socks5;
    case kProxyHttpConnect: return Handshake::HttpConnect;
    // A plain HTTP proxy cannot see inside TLS: secure targets go through
    // its CONNECT tunnel, as every HTTP proxy offers.
    case kProxyHttpGet: return tlsTarget ? Handshake::HttpConnect : Handshake::None;
    default: return Handshake::None;
    }
}

class Cycle {
public:
    Cycle(const ConnectionRequest& request, const ConnectionEnvironment& environment)
        : m_request(request),
          m_env(environment),
          m_targetAddress(request.target.address),
          m_proxyAddress(request.proxyAddress)
    {
    }

    ConnectionResult run();

private:
    // Looks the name up when no address is remembered; false when the cycle
    // ends (result set).
    bool resolve(const std::string& host, std::string& address,
                 const std::function<void(const std::string&)>& remember);
    ConnectionResult fail(uint32_t socketError, std::string detail);
    ConnectionResult failWith(const IoResult& result);
    ConnectionResult stopped() { return {ConnectOutcome::Stopped, nullptr, RequestRoute::Direct, 0, {}}; }
    IoResult runHandshake(ByteStream& stream, Handshake handshake);

    const ConnectionRequest& m_request;
    const ConnectionEnvironment& m_env;
    std::string m_targetAddress;
    std::string m_proxyAddress;
    ConnectionResult m_ended;
};

bool Cycle::resolve(const std::string& host, std::string& address,
                    const std::function<void(const std::string&)>& remember)
{
    if (!address.empty())
        return true;
    const bool literal = isIpv4Address(host) || isIpv6Address(host);
    const LookupResult found = literal ? LookupResult{LookupStatus::Found, host}
                                       : lookUpCounted(host, m_env.alive, m_env.pendingLookups, m_env.lookUp);
    if (found.status == LookupStatus::Stopped) {
        m_ended = stopped();
        return false;
    }
    if (found.status == LookupStatus::TryLater) {
        // The name service itself failed: that may pass, so the error step
        // retries.
        m_ended = fail(0,
                       found.detail.empty() ? builtinText(kStrNetCannotLookUpNow, {host})
                                            : builtinText(kStrNetCannotLookUpNowBecause, {host, found.detail}));
        return false;
    }
    if (found.status != LookupStatus::Found || found.address.empty()) {
        m_env.log.logMessage(ConnectionLogKind::Error, kMsgCannotResolve);
        m_ended = {ConnectOutcome::ResolveFailed, nullptr, RequestRoute::Direct, 0,
                   builtinText(kStrNetHostDoesNotExist, {host})};
        return false;
    }
    address = found.address;
    if (remember)
        remember(address);
    return true;
}

ConnectionResult Cycle::fail(uint32_t socketError, std::string detail)
{
    if (!detail.empty())
        m_env.log.logLine(ConnectionLogKind::Error, detail);
    return {ConnectOutcome::Failed, nullptr, RequestRoute::Direct, socketError, std::move(detail)};
}

ConnectionResult Cycle::failWith(const IoResult& result)
{
    if (result.status == IoStatus::Stopped)
        return stopped();
    return fail(result.socketError, result.detail);
}

IoResult Cycle::runHandshake(ByteStream& stream, Handshake handshake)
{
    const ProxyEntry& proxy = *m_request.proxy;
    const ConnectionTarget& target = m_request.target;
    const int timeout = m_request.connectTimeoutMs;
    switch (handshake) {
    case Handshake::Socks4: return runSocks4Handshake(stream, proxy, m_targetAddress, target.port, timeout, m_env.log);
    case Handshake::Socks5: return runSocks5Handshake(stream, proxy, target.host, target.port, timeout, m_env.log);
    case Handshake::HttpConnect:
        return runHttpTunnelHandshake(stream, proxy, target.host, target.port, timeout, m_env.log);
    case Handshake::None: break;
    }
    return IoResult{};
}

ConnectionResult Cycle::run()
{
    const ConnectionTarget& target = m_request.target;
    const std::optional<ProxyEntry>& proxy = m_request.proxy;
    const bool direct = isDirect(proxy);
    if (target.tls && !m_env.tls)
        return fail(0, builtinText(kStrNetTlsUnavailable, {target.host}));
    if (!direct && proxy->type >= kProxyTypeCount)
        return fail(0, builtinText(kStrNetUnknownProxyType, {std::to_string(proxy->type)}));
    if (target.tls && !direct && isFtpProxyType(proxy->type))
        return fail(0, builtinText(kStrNetFtpProxyCannotCarryTls, {target.host}));
    const Handshake handshake = handshakeFor(proxy, target.tls);

    // SOCKS4 carries an address, so the target is resolved here first.
    if (handshake == Handshake::Socks4) {
        m_env.log.logMessage(ConnectionLogKind::Status, kMsgConnecting, {hostAndPort(target.host, target.port)});
        if (!resolve(target.host, m_targetAddress, m_env.rememberTargetAddress))
            return std::move(m_ended);
    }

    std::string peerAddress;
    uint16_t peerPort = 0;
    if (direct) {
        const std::string name = hostAndPort(target.host, target.port);
        if (m_targetAddress.empty())
            m_env.log.logMessage(ConnectionLogKind::Status, kMsgConnecting, {name});
        else
            m_env.log.logMessage(ConnectionLogKind::Status, kMsgConnectingWithAddress, {name, m_targetAddress});
        if (!resolve(target.host, m_targetAddress, m_env.rememberTargetAddress))
            return std::move(m_ended);
        peerAddress = m_targetAddress;
        peerPort = target.port;
    } else {
        const std::string name = hostAndPort(proxy->server, proxy->port);
        if (m_proxyAddress.empty())
            m_env.log.logMessage(ConnectionLogKind::Status, kMsgConnectingProxy, {name});
        else
            m_env.log.logMessage(ConnectionLogKind::Status, kMsgConnectingProxyWithAddress, {name, m_proxyAddress});
        if (!resolve(proxy->server, m_proxyAddress, m_env.rememberProxyAddress))
            return std::move(m_ended);
        peerAddress = m_proxyAddress;
        peerPort = proxy->port;
    }

    TcpConnectResult connected = TcpConnection::connect(peerAddress, peerPort, m_request.connectTimeoutMs, m_env.alive);
    if (connected.result.status == IoStatus::TimedOut) {
        m_env.log.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
        return fail(0, {});
    }
    if (!connected.result.ok())
        return failWith(connected.result);
    m_env.log.logMessage(ConnectionLogKind::Status, kMsgConnected);
    std::unique_ptr<ByteStream> stream = std::move(connected.connection);

    if (handshake != Handshake::None) {
        if (const IoResult shaken = runHandshake(*stream, handshake); !shaken.ok())
            return failWith(shaken);
    }

    if (target.tls) {
        TlsStartResult secured
            = TlsStream::start(*m_env.tls, std::move(stream), target.host, m_request.connectTimeoutMs);
        if (secured.result.status == IoStatus::TimedOut) {
            m_env.log.logMessage(ConnectionLogKind::Error, kMsgTimeOut);
            return fail(0, {});
        }
        if (secured.certificateRejected) {
            m_env.log.logLine(ConnectionLogKind::Error, secured.result.detail);
            return {ConnectOutcome::Rejected, nullptr, RequestRoute::Direct, 0, secured.result.detail};
        }
        if (!secured.result.ok())
            return failWith(secured.result);
        m_env.log.logLine(ConnectionLogKind::Status, "TLS: " + secured.stream->sessionDescription());
        stream = std::move(secured.stream);
    }
    return {ConnectOutcome::Open, std::move(stream), requestRouteFor(proxy, target.tls), 0, {}};
}

}  // namespace

ConnectionTarget connectionTargetFor(const UrlEntry& entry)
{
    return {entry.host, entry.port, entry.resolvedAddress, entry.service == ServiceCode::Https};
}

RequestRoute requestRouteFor(const std::optional<ProxyEntry>& proxy, bool tlsTarget)
{
    if (isDirect(proxy))
        return RequestRoute::Direct;
    if (proxy->type == kProxyHttpGet)
        return tlsTarget ? RequestRoute::Direct : RequestRoute::HttpProxy;
    if (isFtpProxyType(proxy->type))
        return RequestRoute::FtpProxy;
    return RequestRoute::Direct;
}

ConnectionResult openConnection(const ConnectionRequest& request, const ConnectionEnvironment& environment)
{
    return Cycle(request, environment).run();
}

}  // namespace fetchora
