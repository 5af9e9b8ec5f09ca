#include "mirrors/ping_host.h"

#include <arpa/inet.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "engine/job_runner.h"
#include "lang/string_table.h"
#include "net/resolver.h"

namespace fetchora {

namespace {

using Clock = std::chrono::steady_clock;

uint16_t internetChecksum(const uint8_t* data, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length % 2 != 0)
        sum += static_cast<uint32_t>(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::atomic<uint16_t> g_nextIdentifier{static_cast<uint16_t>(::getpid())};

class IcmpEchoSocket final : public EchoSocket {
public:
    IcmpEchoSocket(int fd, bool v6, bool raw, const sockaddr_storage& to, socklen_t toLength)
        : m_fd(fd), m_v6(v6), m_raw(raw), m_to(to), m_toLength(toLength), m_identifier(g_nextIdentifier++)
    {
    }
    ~IcmpEchoSocket() override { ::close(m_fd); }
    IcmpEchoSocket(const IcmpEchoSocket&) = delete;
    IcmpEchoSocket& operator=(const IcmpEchoSocket&) = delete;

    int32_t echo(uint16_t sequence, int timeoutMs) override
    {
        std::array<uint8_t, 8> request{};
        request[0] = m_v6 ? ICMP6_ECHO_REQUEST : ICMP_ECHO;
        request[4] = static_cast<uint8_t>(m_identifier >> 8);
        request[5] = static_cast<uint8_t>(m_identifier);
        request[6] = static_cast<uint8_t>(sequence >> 8);
        request[7] = static_cast<uint8_t>(sequence);
        // ICMPv6 checksums cover a pseudo-header the kernel fills in itself.
        if (!m_v6) {
            const uint16_t sum = internetChecksum(request.data(), request.size());
            request[2] = static_cast<uint8_t>(sum >> 8);
            request[3] = static_cast<uint8_t>(sum);
        }
        const Clock::time_point sent = Clock::now();
        if (::sendto(m_fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&m_to), m_toLength) < 0)
            return -1;
        const Clock::time_point deadline = sent + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return -1;
            pollfd wait{m_fd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return -1;
            std::array<uint8_t, 1500> reply{};
            sockaddr_storage from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got
                = ::recvfrom(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0)
                continue;
            if (isOurReply(reply.data(), static_cast<size_t>(got), from, sequence)) {
                return static_cast<int32_t>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count());
            }
        }
    }

private:
    bool isOurReply(const uint8_t* data, size_t length, const sockaddr_storage& from, uint16_t sequence) const
    {
        size_t offset = 0;
        // A raw IPv4 socket hands over the IP header too.
        if (m_raw && !m_v6) {
            if (length < 20)
                return false;
            offset = static_cast<size_t>(data[0] & 0x0F) * 4;
        }
        if (length < offset + 8)
            return false;
        const uint8_t* icmp = data + offset;
        if (icmp[0] != (m_v6 ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY))
            return false;
        if (static_cast<uint16_t>(icmp[6] << 8 | icmp[7]) != sequence)
            return false;
        if (!m_raw)
            return true;  // the kernel gives a datagram socket only its own replies
        // A raw socket sees every reply of the machine.
        if (static_cast<uint16_t>(icmp[4] << 8 | icmp[5]) != m_identifier)
            return false;
        if (m_v6) {
            const auto& a = reinterpret_cast<const sockaddr_in6&>(from);
            const auto& b = reinterpret_cast<const sockaddr_in6&>(m_to);
            return std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
        }
        const auto& a = reinterpret_cast<const sockaddr_in&>(from);
        const auto& b = reinterpret_cast<const sockaddr_in&>(m_to);
        return a.sin_addr.s_addr == b.sin_addr.s_addr;
    }

    int m_fd;
    bool m_v6;
    bool m_raw;
    sockaddr_storage m_to;
    socklen_t m_toLength;
    uint16_t m_identifier;
};

}  // namespace

std::unique_ptr<EchoSocket> openEchoSocket(const std::string& address, std::string* why)
{
    const auto fail = [why](std::string reason) {
        if (why)
            *why = std::move(reason);
        return nullptr;
    };
    sockaddr_storage to{};
    socklen_t toLength = 0;
    bool v6 = false;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&to);
    auto* v6to = reinterpret_cast<sockaddr_in6*>(&to);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        // The all-ones address is the look-up failure value of the classic
        // address parser, and a broadcast besides: never pinged.
        if (v4->sin_addr.s_addr == INADDR_BROADCAST)
            return fail("the broadcast address is not pinged");
        v4->sin_family = AF_INET;
        toLength = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, address.c_str(), &v6to->sin6_addr) == 1) {
        v6to->sin6_family = AF_INET6;
        toLength = sizeof(sockaddr_in6);
        v6 = true;
    } else {
        return fail("not a numeric address");
    }
    const int family = v6 ? AF_INET6 : AF_INET;
    const int protocol = v6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);
    bool raw = false;
    int fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    const int datagramError = errno;
    if (fd < 0 && ::geteuid() == 0) {
        fd = ::socket(family, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
        raw = fd >= 0;
    }
    if (fd < 0) {
        return fail(std::string("no ICMP socket may be opened (") + std::strerror(datagramError)
                    + "; see /proc/sys/net/ipv4/ping_group_range)");
    }
    const int ttl = kPingTtl;
    if (v6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl);
    else
        ::setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    return std::make_unique<IcmpEchoSocket>(fd, v6, raw, to, toLength);
}

int32_t PingHost(const std::string& address, const PingOptions& options)
{
    if (options.echoes <= 0 || options.timeoutMs <= 0 || address == "255.255.255.255")
        return -1;
    std::string numeric = address;
    if (!isIpv4Address(address) && !isIpv6Address(address)) {
        const LookupResult found = lookUpHostAddress(address, options.alive);
        if (found.status != LookupStatus::Found)
            return -1;
        numeric = found.address;
    }
    std::unique_ptr<EchoSocket> socket = options.open ? options.open(numeric, nullptr) : openEchoSocket(numeric);
    if (!socket)
        return -1;
    int64_t sum = 0;
    for (int i = 0; i < options.echoes; ++i) {
        if (options.alive && !options.alive())
            return -1;
        const int32_t ms = socket->echo(static_cast<uint16_t>(i + 1), options.timeoutMs);
        sum += ms < 0 || ms > options.timeoutMs ? options.timeoutMs : ms;
    }
    const int64_t limit = static_cast<int64_t>(options.echoes) * options.timeoutMs;
    return sum < limit ? static_cast<int32_t>(sum / options.echoes) : -1;
}

int MirrorPingProcedureWith(MirrorTask& task, const PingOptions& options)
{
    if (!task.channel)
        return 0;
    MirrorChannel& channel = *task.channel;
    PingOptions withAlive = options;
    withAlive.alive = [&channel] { return channel.alive(); };
    for (size_t index = task.firstIndex; index < task.urls.size(); index += kMaxPingThreads) {
        if (!channel.alive())
            break;
        const UrlEntry& url = task.urls[index];
        std::string address = url.resolvedAddress;
        if (address.empty())
            address = ResolveHostAddress(url.host, "", withAlive.alive);
        const int32_t ms = address.empty() ? -1 : PingHost(address, withAlive);
        if (!channel.alive())
            break;
        channel.pingResult(index, ms, address);
        const std::string line = ms >= 0 ? fillPrintfFields("%s  %dms", {url.host, std::to_string(ms)})
                                         : fillPrintfFields("%s  %s", {url.host, builtinString(kMsgPingLine)});
        channel.logLine(ConnectionLogKind::Status, line);
    }
    return 0;
}

int MirrorPingProcedure(MirrorTask& task)
{
    return MirrorPingProcedureWith(task, {});
}

}  // namespace fetchora
