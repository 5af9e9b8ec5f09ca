#pragma once
// Host name look-up for connections, IPv4 and IPv6.
//
// A look-up runs on a helper thread while the worker keeps looking at its
// alive check, so a stop takes effect within about 100 ms even when the name
// service hangs; the helper thread finishes on its own and is then dropped.
//
// Thread: any worker thread.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "net/byte_stream.h"

namespace fetchora {

// NotFound: the name does not exist or has no address, which trying again
// will not change. TryLater: the name service failed or could not be
// reached, which may pass.
enum class LookupStatus { Found, NotFound, Stopped, TryLater };

struct LookupResult {
    LookupStatus status = LookupStatus::NotFound;
    std::string address;  // numeric text: "127.0.0.1", "::1"
    std::string detail{};  // the name service's reason when it failed
};

// How a getaddrinfo() result code reads (0 is Found).
LookupStatus lookupStatusOfGaiError(int code);

// How the connection steps look names up; tests hand in their own.
using HostLookup = std::function<LookupResult(std::string_view host, const AliveCheck& alive)>;

// Whether the text is a dotted IPv4 address: exactly three dots, only digits
// and dots, each number at most 255.
bool isIpv4Address(std::string_view text);
// Whether the text is an IPv6 address literal (without brackets).
bool isIpv6Address(std::string_view text);

// The system look-up. An address literal is its own answer. When the name has
// IPv4 and IPv6 addresses the first IPv4 one is taken: it is what older
// servers and SOCKS4 proxies can use, and a host that publishes both serves
// on both.
LookupResult lookUpHostAddress(std::string_view host, const AliveCheck& alive = {});

// lookUp (the system look-up when empty), counted in pendingLookups while it
// runs when a counter is given.
LookupResult lookUpCounted(std::string_view host, const AliveCheck& alive, std::atomic<int>* pendingLookups,
                           const HostLookup& lookUp);

// The first address of the host as text; the fallback when the look-up fails
// or is stopped. pendingLookups, when given, counts this look-up while it
// runs.
std::string ResolveHostAddress(std::string_view host, std::string_view fallback, const AliveCheck& alive = {},
                               std::atomic<int>* pendingLookups = nullptr, const HostLookup& lookUp = {});

}  // namespace fetchora
