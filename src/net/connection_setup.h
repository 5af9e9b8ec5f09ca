#pragma once
// One cycle's way from a target host to a connection ready for the
// protocol's first request: choose the proxy or the host, resolve and
// remember its address, connect with the connect time-out, run the proxy's
// handshake (SOCKS4, SOCKS5, HTTP CONNECT), and start TLS for secure
// targets over whatever the layers below give.
//
// Thread: the worker thread of one part. Borrows the environment's log, TLS
// context and counters; the returned stream is the worker's.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/proxy_entry.h"
#include "net/byte_stream.h"
#include "net/resolver.h"
#include "net/url_entry.h"

namespace fetchora {

class ConnectionLog;
class TlsClientContext;

struct ConnectionTarget {
    std::string host;
    uint16_t port = 0;
    std::string address;  // the host's remembered address; empty until the first look-up
    bool tls = false;  // a secure target: TLS runs over the connection or tunnel
};

// The target of a URL entry: its host, port and remembered address; secure
// for "https://".
ConnectionTarget connectionTargetFor(const UrlEntry& entry);

struct ConnectionRequest {
    ConnectionTarget target;
    std::optional<ProxyEntry> proxy;  // none, or type 0: direct
    std::string proxyAddress;  // the proxy server's remembered address; empty until known
    int connectTimeoutMs = 90000;  // also how long a handshake peer may stay silent
};

// How requests on the opened connection are written.
enum class RequestRoute {
    Direct,  // to the target, directly or through a tunnel
    HttpProxy,  // to a plain HTTP proxy: absolute URL in the request line, plus ProxyAuthorizationLine
    FtpProxy,  // to an FTP proxy: its login dialogue names the target
};

enum class ConnectOutcome {
    Open,
    ResolveFailed,  // "Cannot resolve host name" is logged; the cycle ends without the error step
    Stopped,  // the alive check said stop
    Failed,  // take the error step with socketError
    Rejected,  // the peer cannot be used as it is (its certificate is not trusted): no retry helps
};

struct ConnectionResult {
    ConnectOutcome outcome = ConnectOutcome::Failed;
    std::unique_ptr<ByteStream> stream;  // set when Open
    RequestRoute route = RequestRoute::Direct;
    uint32_t socketError = 0;  // when Failed: the socket error code, 0 when none
    std::string detail;  // when it did not open: the reason, already logged
};

// What the connection steps borrow from their worker.
struct ConnectionEnvironment {
    explicit ConnectionEnvironment(ConnectionLog& lineLog) : log(lineLog) { }

    ConnectionLog& log;
    AliveCheck alive;
    HostLookup lookUp;  // empty: the system look-up
    const TlsClientContext* tls = nullptr;  // required for TLS targets
    std::atomic<int>* pendingLookups = nullptr;  // the application's count of running look-ups
    // Store a newly resolved address where later cycles find it (the job's
    // URL entry, the proxy list), under the job lock.
    std::function<void(const std::string&)> rememberTargetAddress;
    std::function<void(const std::string&)> rememberProxyAddress;
};

// Which request route a proxy gives a target.
RequestRoute requestRouteFor(const std::optional<ProxyEntry>& proxy, bool tlsTarget);

ConnectionResult openConnection(const ConnectionRequest& request, const ConnectionEnvironment& environment);

}  // namespace fetchora
