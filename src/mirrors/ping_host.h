#pragma once
// ICMP echo ("ping") of one address, for ranking mirrors by round-trip time,
// and the ping worker that times a job's URLs.
//
// The echo goes over an unprivileged ICMP datagram socket
// (socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP), allowed by the kernel for the
// groups in /proc/sys/net/ipv4/ping_group_range), else over a raw socket
// when we are root; IPv6 addresses use ICMPv6 the same way. With neither,
// every ping answers -1.
//
// Thread: any worker thread; each call owns its socket.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/transfer_threads.h"

namespace fetchora {

inline constexpr int kPingEchoes = 5;
inline constexpr int kPingEchoTimeoutMs = 2000;
inline constexpr int kPingTtl = 255;
inline constexpr uint32_t kMsgPingLine = 61361;  // "No Response"

// One echo socket towards one address.
class EchoSocket {
public:
    virtual ~EchoSocket() = default;
    // Sends echo request number sequence and waits up to timeoutMs for its
    // reply; the round-trip milliseconds, or -1 when none came in time or the
    // send failed.
    virtual int32_t echo(uint16_t sequence, int timeoutMs) = 0;
};

// Opens an echo socket to a numeric IPv4 or IPv6 address; null when the
// address is not numeric or no ICMP socket may be opened. why (when given)
// gets the reason.
using EchoSocketFactory = std::function<std::unique_ptr<EchoSocket>(const std::string& address, std::string* why)>;
std::unique_ptr<EchoSocket> openEchoSocket(const std::string& address, std::string* why = nullptr);

struct PingOptions {
    int echoes = kPingEchoes;
    int timeoutMs = kPingEchoTimeoutMs;
    EchoSocketFactory open;  // openEchoSocket when empty
    std::function<bool()> alive;  // checked between echoes; always alive when empty
};

// The average round trip of the echoes in milliseconds, a lost echo counted
// as the full time-out; -1 when the sum reaches echoes * timeoutMs (every
// echo lost), when the address is not numeric or "255.255.255.255", or when
// no echo socket can be opened.
int32_t PingHost(const std::string& address, const PingOptions& options = {});

// The ping thread procedure: for URL indexes firstIndex, +10, +20, ...
// resolves the host when the entry has no address, pings it, reports the
// time and logs "host  Nms" or "host  No Response". Returns 0.
int MirrorPingProcedure(MirrorTask& task);
// The same with the given ping options (tests).
int MirrorPingProcedureWith(MirrorTask& task, const PingOptions& options);

}  // namespace fetchora
