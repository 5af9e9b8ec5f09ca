#pragma once
// The proxy URL of -x/--proxy, turned into the proxy list entry the run's
// jobs connect through.
#include <optional>
#include <string>
#include <string_view>

#include "config/proxy_entry.h"

namespace fetchora {

struct ProxyArgument {
    std::optional<ProxyEntry> entry;
    std::string error;  // why the URL was refused; never repeats the password
};

// scheme://[user[:password]@]host[:port][/] with the schemes http (an HTTP
// proxy), https (an HTTP CONNECT tunnel), socks4 and socks5. User name and
// password are percent-decoded; an IPv6 host is written in brackets. The
// port defaults to 80, 443 or 1080 by scheme.
ProxyArgument parseProxyArgument(std::string_view text);

}  // namespace fetchora
