#include "net/socks4_handshake.h"

#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <string>

#include "config/proxy_entry.h"
#include "net/connection_log.h"
#include "net/handshake_io.h"
#include "net/net_texts.h"
#include "net/resolver.h"

namespace fetchora {

namespace {

constexpr uint8_t kSocks4Version = 0x04;
constexpr uint8_t kSocks4Connect = 0x01;
constexpr uint8_t kSocks4Granted = 0x5A;
constexpr std::size_t kSocks4ReplySize = 8;

std::string socks4ReplyReason(uint8_t code)
{
    switch (code) {
    case 0x5B: return builtinText(kStrNetSocks4Rejected);
    case 0x5C: return builtinText(kStrNetSocks4NoIdentService);
    case 0x5D: return builtinText(kStrNetSocks4IdentNotConfirmed);
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "%02x", code);
        return builtinText(kStrNetSocksUnknownAnswer, {text});
    }
    }
}

}  // namespace

std::size_t BuildSocks4Request(std::span<uint8_t> buffer, const ProxyEntry& proxy, std::string_view targetAddress,
                               uint16_t port)
{
    if (!isIpv4Address(targetAddress))
        return 0;
    in_addr address{};
    if (::inet_pton(AF_INET, std::string(targetAddress).c_str(), &address) != 1)
        return 0;
    const bool sendsUser = (proxy.flags & kProxyAuthenticate) && !proxy.userName.empty();
    const std::size_t length = 9 + (sendsUser ? proxy.userName.size() : 0);
    if (buffer.size() < length || (sendsUser && proxy.userName.find('\0') != std::string::npos))
        return 0;
    buffer[0] = kSocks4Version;
    buffer[1] = kSocks4Connect;
    buffer[2] = static_cast<uint8_t>(port >> 8);
    buffer[3] = static_cast<uint8_t>(port & 0xFF);
    const auto* octets = reinterpret_cast<const uint8_t*>(&address.s_addr);
    std::copy(octets, octets + 4, buffer.begin() + 4);
    std::size_t at = 8;
    if (sendsUser) {
        std::copy(proxy.userName.begin(), proxy.userName.end(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
        at += proxy.userName.size();
    }
    buffer[at] = 0;
    return length;
}

IoResult runSocks4Handshake(ByteStream& stream, const ProxyEntry& proxy, std::string_view targetAddress, uint16_t port,
                            int idleTimeoutMs, ConnectionLog& log)
{
    std::array<uint8_t, kHandshakeBufferSize> buffer{};
    const std::size_t length = BuildSocks4Request(buffer, proxy, targetAddress, port);
    if (length == 0) {
        return handshakeFailure(builtinText(kStrNetSocks4OnlyIpv4, {targetAddress}));
    }
    HandshakeIo io(stream, idleTimeoutMs, log);
    const std::string request(reinterpret_cast<const char*>(buffer.data()), length);
    if (IoResult sent = io.send(request); !sent.ok())
        return sent;
    log.logLine(ConnectionLogKind::Sent, socksLogText(request));

    std::string reply;
    if (IoResult got = io.readExact(2, reply); !got.ok())
        return got;
    const auto version = static_cast<uint8_t>(reply[0]);
    const auto code = static_cast<uint8_t>(reply[1]);
    if (version != 0x00)
        return handshakeFailure(builtinText(kStrNetProxyAnswerNotSocks4, {socksLogText(reply)}));
    if (code != kSocks4Granted)
        return handshakeFailure(builtinText(kStrNetSocks4Refused, {socks4ReplyReason(code)}));
    return io.readExact(kSocks4ReplySize - 2, reply);
}

}  // namespace fetchora
