#pragma once
// Proxy entries for the tests, made in one call: the type, where the proxy
// listens, its flags (those of a new entry unless given) and its login
// (none unless given).
#include <cstdint>
#include <string>
#include <utility>

#include "config/proxy_entry.h"

namespace fetchora::test {

inline ProxyEntry proxyEntry(uint16_t type, std::string server, uint16_t port, uint32_t flags = ProxyEntry{}.flags,
                             std::string user = {}, std::string password = {})
{
    ProxyEntry entry;
    entry.type = type;
    entry.server = std::move(server);
    entry.port = port;
    entry.flags = flags;
    entry.userName = std::move(user);
    entry.password = std::move(password);
    return entry;
}

}  // namespace fetchora::test
