#include "net/socks5_handshake.h"

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

constexpr uint8_t kVersion = 0x05;
constexpr uint8_t kLoginVersion = 0x01;
constexpr uint8_t kMethodNone = 0x00;
constexpr uint8_t kMethodUserPassword = 0x02;
constexpr uint8_t kCommandConnect = 0x01;
constexpr uint8_t kAddressIpv4 = 0x01;
constexpr uint8_t kAddressName = 0x03;
constexpr uint8_t kAddressIpv6 = 0x04;

bool authenticates(const ProxyEntry& proxy)
{
    return (proxy.flags & kProxyAuthenticate) != 0;
}

class Writer {
public:
    explicit Writer(std::span<uint8_t> buffer) : m_buffer(buffer) { }
    void byte(uint8_t value)
    {
        if (m_at < m_buffer.size())
            m_buffer[m_at] = value;
        ++m_at;
    }
    void bytes(std::string_view text)
    {
        for (char c : text)
            byte(static_cast<uint8_t>(c));
    }
    std::size_t length() const { return m_at <= m_buffer.size() ? m_at : 0; }

private:
    std::span<uint8_t> m_buffer;
    std::size_t m_at = 0;
};

std::string replyReason(uint8_t code)
{
    switch (code) {
    case 0x01: return builtinText(kStrNetSocks5GeneralFailure);
    case 0x02: return builtinText(kStrNetSocks5NotAllowed);
    case 0x03: return builtinText(kStrNetNetworkUnreachable);
    case 0x04: return builtinText(kStrNetHostUnreachable);
    case 0x05: return builtinText(kStrNetSocks5TargetRefused);
    case 0x06: return builtinText(kStrNetSocks5TtlExpired);
    case 0x07: return builtinText(kStrNetSocks5CommandUnsupported);
    case 0x08: return builtinText(kStrNetSocks5AddressTypeUnsupported);
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "%02x", code);
        return builtinText(kStrNetSocksUnknownAnswer, {text});
    }
    }
}

// The greeted state's answer to a reply, or the reason it fails.
struct GreetedStep {
    bool ok;
    Socks5Stage next;
    std::string failure;
};

GreetedStep greetedStep(uint8_t first, uint8_t second)
{
    if (first == kVersion && second == kMethodNone)
        return {true, Socks5Stage::ConnectRequest, {}};
    if (first == kVersion && second == kMethodUserPassword)
        return {true, Socks5Stage::UserPassword, {}};
    if (first == kLoginVersion && second == 0x00)
        return {true, Socks5Stage::ConnectRequest, {}};
    if (first == kVersion && second == 0xFF)
        return {false, {}, builtinText(kStrNetSocks5NoMethod)};
    if (first == kLoginVersion)
        return {false, {}, builtinText(kStrNetSocks5LoginRejected)};
    return {false, {}, builtinText(kStrNetProxyAnswerNotSocks5)};
}

// Reads the rest of a successful connect reply: reserved byte, address type,
// bound address and port.
IoResult readBoundAddress(HandshakeIo& io)
{
    std::string header;
    if (IoResult got = io.readExact(2, header); !got.ok())
        return got;
    std::string rest;
    switch (static_cast<uint8_t>(header[1])) {
    case kAddressIpv4: return io.readExact(4 + 2, rest);
    case kAddressIpv6: return io.readExact(16 + 2, rest);
    case kAddressName: {
        if (IoResult got = io.readExact(1, rest); !got.ok())
            return got;
        return io.readExact(static_cast<uint8_t>(rest[0]) + 2u, rest);
    }
    default: return handshakeFailure(builtinText(kStrNetSocks5UnknownAddressType));
    }
}

}  // namespace

std::size_t BuildSocks5Message(std::span<uint8_t> buffer, const ProxyEntry& proxy, Socks5Stage stage,
                               std::string_view targetHost, uint16_t port)
{
    Writer out(buffer);
    switch (stage) {
    case Socks5Stage::Greeting:
        out.byte(kVersion);
        if (authenticates(proxy)) {
            out.byte(2);
            out.byte(kMethodNone);
            out.byte(kMethodUserPassword);
        } else {
            out.byte(1);
            out.byte(kMethodNone);
        }
        break;
    case Socks5Stage::UserPassword:
        if (proxy.userName.size() > 255 || proxy.password.size() > 255)
            return 0;
        out.byte(kLoginVersion);
        out.byte(static_cast<uint8_t>(proxy.userName.size()));
        out.bytes(proxy.userName);
        out.byte(static_cast<uint8_t>(proxy.password.size()));
        out.bytes(proxy.password);
        break;
    case Socks5Stage::ConnectRequest: {
        out.byte(kVersion);
        out.byte(kCommandConnect);
        out.byte(0x00);
        const std::string host(targetHost);
        in_addr v4{};
        in6_addr v6{};
        if (isIpv4Address(host) && ::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
            out.byte(kAddressIpv4);
            out.bytes(std::string_view(reinterpret_cast<const char*>(&v4), sizeof v4));
        } else if (isIpv6Address(host) && ::inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
            out.byte(kAddressIpv6);
            out.bytes(std::string_view(reinterpret_cast<const char*>(&v6), sizeof v6));
        } else {
            if (host.empty() || host.size() > 255)
                return 0;
            out.byte(kAddressName);
            out.byte(static_cast<uint8_t>(host.size()));
            out.bytes(host);
        }
        out.byte(static_cast<uint8_t>(port >> 8));
        out.byte(static_cast<uint8_t>(port & 0xFF));
        break;
    }
    }
    return out.length();
}

IoResult runSocks5Handshake(ByteStream& stream, const ProxyEntry& proxy, std::string_view targetHost, uint16_t port,
                            int idleTimeoutMs, ConnectionLog& log)
{
    HandshakeIo io(stream, idleTimeoutMs, log);
    std::array<uint8_t, kHandshakeBufferSize> buffer{};
    const auto sendStage = [&](Socks5Stage stage) {
        const std::size_t length = BuildSocks5Message(buffer, proxy, stage, targetHost, port);
        if (length == 0) {
            return handshakeFailure(stage == Socks5Stage::UserPassword
                                        ? builtinText(kStrNetSocks5LoginTooLong)
                                        : builtinText(kStrNetSocks5HostTooLong, {targetHost}));
        }
        const std::string message(reinterpret_cast<const char*>(buffer.data()), length);
        IoResult sent = io.send(message);
        if (sent.ok())
            log.logLine(ConnectionLogKind::Sent, socksLogText(message));
        return sent;
    };

    if (IoResult sent = sendStage(Socks5Stage::Greeting); !sent.ok())
        return sent;
    Socks5State state = Socks5State::Greeted;
    while (state != Socks5State::Open) {
        std::string reply;
        if (IoResult got = io.readExact(2, reply); !got.ok())
            return got;
        log.logLine(ConnectionLogKind::Received, socksLogText(reply));
        const auto first = static_cast<uint8_t>(reply[0]);
        const auto second = static_cast<uint8_t>(reply[1]);
        if (state == Socks5State::Greeted) {
            const GreetedStep step = greetedStep(first, second);
            if (!step.ok)
                return handshakeFailure(step.failure);
            if (IoResult sent = sendStage(step.next); !sent.ok())
                return sent;
            if (step.next == Socks5Stage::ConnectRequest)
                state = Socks5State::Requested;
            continue;
        }
        if (first != kVersion)
            return handshakeFailure(builtinText(kStrNetProxyAnswerNotSocks5));
        if (second != 0x00)
            return handshakeFailure(builtinText(kStrNetSocks5CouldNotConnect, {replyReason(second)}));
        if (IoResult got = readBoundAddress(io); !got.ok())
            return got;
        state = Socks5State::Open;
    }
    return IoResult{IoStatus::Ok, 0, 0, {}};
}

}  // namespace fetchora
