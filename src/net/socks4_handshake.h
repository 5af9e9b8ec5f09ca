#pragma once
// The SOCKS4 tunnel (proxy type 9): one request naming the target's IPv4
// address and port, one 8-byte reply.
//
// Thread: the worker that opens the connection.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "net/byte_stream.h"

namespace fetchora {

class ConnectionLog;
struct ProxyEntry;

// Writes the connect request for a dotted IPv4 target address: version 4,
// command 1, port high byte first, the four address numbers in text order,
// the proxy's user name when it authenticates, and a 0 byte. Returns the
// length (9 plus the user name), or 0 when the target is no IPv4 address or
// the request does not fit.
std::size_t BuildSocks4Request(std::span<uint8_t> buffer, const ProxyEntry& proxy, std::string_view targetAddress,
                               uint16_t port);

// Sends the request and reads the reply; Ok when the tunnel is open. The
// proxy may stay silent at most idleTimeoutMs at a time.
IoResult runSocks4Handshake(ByteStream& stream, const ProxyEntry& proxy, std::string_view targetAddress, uint16_t port,
                            int idleTimeoutMs, ConnectionLog& log);

}  // namespace fetchora
