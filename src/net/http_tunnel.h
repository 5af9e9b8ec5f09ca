#pragma once
// The HTTP proxy used as a tunnel with CONNECT (proxy type 8), and the proxy
// login line that plain HTTP proxy requests (type 3) carry as well.
//
// Thread: the worker that opens the connection.
#include <cstdint>
#include <string>
#include <string_view>

#include "net/byte_stream.h"

namespace fetchora {

class ConnectionLog;
struct ProxyEntry;

// "Proxy-Authorization: Basic " and the Base64 of user, ":" and password when
// the proxy authenticates; empty otherwise. No line end.
std::string ProxyAuthorizationLine(const ProxyEntry& proxy);

// "CONNECT host:port HTTP/1.0", the proxy login line when the proxy
// authenticates, each ending in CR LF, then an empty line.
std::string BuildConnectRequest(std::string_view host, uint16_t port, const ProxyEntry& proxy);

// The request line as logged: a proxy login keeps its scheme but not its
// secret.
std::string maskedRequestLine(std::string_view line);

// Sends the CONNECT request (its lines logged as sent) and reads the reply
// (its lines logged as received) up to the empty line that ends it. Ok when
// the status is 2xx; any other status, or an answer that is not HTTP, fails
// with the status line as the reason. The proxy may stay silent at most
// idleTimeoutMs at a time.
IoResult runHttpTunnelHandshake(ByteStream& stream, const ProxyEntry& proxy, std::string_view targetHost, uint16_t port,
                                int idleTimeoutMs, ConnectionLog& log);

}  // namespace fetchora
