#include "net/resolver.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

namespace fetchora {

namespace {

std::string addressText(const sockaddr* address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return text;
}

LookupResult systemLookUp(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (code != 0 || !list) {
        if (list)
            ::freeaddrinfo(list);
        return {code == 0 ? LookupStatus::NotFound : lookupStatusOfGaiError(code),
                {},
                code == 0 ? std::string("no address") : std::string(::gai_strerror(code))};
    }
    std::string firstIpv6;
    std::string result;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET) {
            result = addressText(entry->ai_addr);
            break;
        }
        if (entry->ai_family == AF_INET6 && firstIpv6.empty())
            firstIpv6 = addressText(entry->ai_addr);
    }
    ::freeaddrinfo(list);
    if (result.empty())
        result = firstIpv6;
    if (result.empty())
        return {LookupStatus::NotFound, {}, "no address"};
    return {LookupStatus::Found, std::move(result), {}};
}

// Shared between the waiting worker and the look-up thread, which may outlive
// the wait when the worker stops.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    LookupResult result;
};

class PendingCount {
public:
    explicit PendingCount(std::atomic<int>* count) : m_count(count)
    {
        if (m_count)
            m_count->fetch_add(1);
    }
    ~PendingCount()
    {
        if (m_count)
            m_count->fetch_sub(1);
    }
    PendingCount(const PendingCount&) = delete;
    PendingCount& operator=(const PendingCount&) = delete;

private:
    std::atomic<int>* m_count;
};

}  // namespace

LookupStatus lookupStatusOfGaiError(int code)
{
    switch (code) {
    case 0: return LookupStatus::Found;
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return LookupStatus::NotFound;
    default: return LookupStatus::TryLater;
    }
}

bool isIpv4Address(std::string_view text)
{
    int dots = 0;
    int digits = 0;
    int value = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0)
                return false;
            ++dots;
            digits = 0;
            value = 0;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (++digits > 3 || value > 255)
                return false;
        } else {
            return false;
        }
    }
    return dots == 3 && digits > 0;
}

bool isIpv6Address(std::string_view text)
{
    if (text.find(':') == std::string_view::npos || text.size() >= INET6_ADDRSTRLEN)
        return false;
    in6_addr address{};
    return ::inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

LookupResult lookUpHostAddress(std::string_view host, const AliveCheck& alive)
{
    if (host.empty())
        return {};
    if (isIpv4Address(host) || isIpv6Address(host))
        return {LookupStatus::Found, std::string(host)};

    auto pending = std::make_shared<PendingLookup>();
    std::thread([pending, name = std::string(host)] {
        LookupResult result = systemLookUp(name);
        std::lock_guard lock(pending->mutex);
        pending->result = std::move(result);
        pending->finished = true;
        pending->done.notify_all();
    }).detach();

    std::unique_lock lock(pending->mutex);
    while (!pending->done.wait_for(lock, std::chrono::milliseconds(kStopPollIntervalMs),
                                   [&] { return pending->finished; })) {
        if (alive && !alive())
            return {LookupStatus::Stopped, {}};
    }
    return pending->result;
}

LookupResult lookUpCounted(std::string_view host, const AliveCheck& alive, std::atomic<int>* pendingLookups,
                           const HostLookup& lookUp)
{
    PendingCount counted(pendingLookups);
    return lookUp ? lookUp(host, alive) : lookUpHostAddress(host, alive);
}

std::string ResolveHostAddress(std::string_view host, std::string_view fallback, const AliveCheck& alive,
                               std::atomic<int>* pendingLookups, const HostLookup& lookUp)
{
    const LookupResult result = lookUpCounted(host, alive, pendingLookups, lookUp);
    if (result.status == LookupStatus::Found)
        return result.address;
    return std::string(fallback);
}

}  // namespace fetchora
