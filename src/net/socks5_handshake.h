#pragma once
// The SOCKS5 tunnel (proxy type 7): greeting, optional user/password login,
// connect request.
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

// The messages the client sends, by the stage numbers of the dialogue.
enum class Socks5Stage : int { Greeting = 0, UserPassword = 1, ConnectRequest = 2 };

// Where the dialogue stands: after the greeting (and after a login message)
// Greeted, after the connect request Requested, then Open.
enum class Socks5State { Greeted, Requested, Open };

// Writes one message and returns its length, 0 when it cannot be written
// (a user name, password or host name longer than 255 bytes, or a buffer too
// small). Greeting: 3 bytes (method "none"), or 4 when the proxy
// authenticates (methods "none" and "user/password"). User/password: 3 plus
// both lengths. Connect request: 10 bytes for a dotted IPv4 target, 22 for an
// IPv6 literal, 7 plus the length for a host name.
std::size_t BuildSocks5Message(std::span<uint8_t> buffer, const ProxyEntry& proxy, Socks5Stage stage,
                               std::string_view targetHost, uint16_t port);

// Runs the dialogue; Ok when the tunnel is open. The proxy resolves a target
// given by name. The proxy may stay silent at most idleTimeoutMs at a time.
IoResult runSocks5Handshake(ByteStream& stream, const ProxyEntry& proxy, std::string_view targetHost, uint16_t port,
                            int idleTimeoutMs, ConnectionLog& log);

}  // namespace fetchora
