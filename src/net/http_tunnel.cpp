#include "net/http_tunnel.h"

#include "config/proxy_entry.h"
#include "net/basic_credentials.h"
#include "net/connection_log.h"
#include "net/handshake_io.h"
#include "net/net_texts.h"

namespace fetchora {

namespace {

constexpr std::string_view kProxyAuthorization = "Proxy-Authorization: ";

// The status code of "HTTP/1.x NNN reason"; -1 when the line is no status line.
int statusCode(std::string_view line)
{
    if (line.substr(0, 5) != "HTTP/")
        return -1;
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || line.size() < blank + 4)
        return -1;
    int code = 0;
    for (std::size_t i = blank + 1; i < blank + 4; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return -1;
        code = code * 10 + (line[i] - '0');
    }
    if (line.size() > blank + 4 && line[blank + 4] != ' ')
        return -1;
    return code;
}

}  // namespace

std::string ProxyAuthorizationLine(const ProxyEntry& proxy)
{
    if (!(proxy.flags & kProxyAuthenticate))
        return {};
    return std::string(kProxyAuthorization) + "Basic " + BasicCredentials(proxy.userName, proxy.password);
}

std::string BuildConnectRequest(std::string_view host, uint16_t port, const ProxyEntry& proxy)
{
    std::string request = "CONNECT " + hostAndPort(host, port) + " HTTP/1.0\r\n";
    if (const std::string login = ProxyAuthorizationLine(proxy); !login.empty())
        request += login + "\r\n";
    return request + "\r\n";
}

std::string maskedRequestLine(std::string_view line)
{
    if (line.substr(0, kProxyAuthorization.size()) != kProxyAuthorization)
        return std::string(line);
    const std::string_view value = line.substr(kProxyAuthorization.size());
    const std::size_t blank = value.find(' ');
    const std::string_view scheme = blank == std::string_view::npos ? std::string_view{} : value.substr(0, blank + 1);
    return std::string(kProxyAuthorization) + std::string(scheme) + "********";
}

IoResult runHttpTunnelHandshake(ByteStream& stream, const ProxyEntry& proxy, std::string_view targetHost, uint16_t port,
                                int idleTimeoutMs, ConnectionLog& log)
{
    if (targetHost.empty() || targetHost.find_first_of("\r\n ") != std::string_view::npos)
        return handshakeFailure(builtinText(kStrNetTunnelTargetNotHost, {targetHost}));
    const std::string request = BuildConnectRequest(targetHost, port, proxy);
    HandshakeIo io(stream, idleTimeoutMs, log);
    if (IoResult sent = io.send(request); !sent.ok())
        return sent;
    for (std::size_t at = 0; at + 2 < request.size();) {
        const std::size_t end = request.find("\r\n", at);
        log.logLine(ConnectionLogKind::Sent, maskedRequestLine(std::string_view(request).substr(at, end - at)));
        at = end + 2;
    }

    std::string statusLine;
    for (std::size_t count = 0;; ++count) {
        std::string line;
        if (IoResult got = io.readLine(line); !got.ok())
            return got;
        if (line.empty())
            break;
        log.logLine(ConnectionLogKind::Received, line);
        if (count == 0) {
            statusLine = line;
            if (statusCode(line) < 0)
                return handshakeFailure(builtinText(kStrNetProxyAnswerNotHttp, {line}));
        }
    }
    if (statusLine.empty())
        return handshakeFailure(builtinText(kStrNetProxyAnswerStartsEmpty));
    const int code = statusCode(statusLine);
    if (code < 200 || code > 299)
        return handshakeFailure(builtinText(kStrNetProxyRefusedTunnel, {statusLine}));
    return IoResult{IoStatus::Ok, 0, 0, {}};
}

}  // namespace fetchora
