#include "cli/proxy_argument.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "cli/cli_texts.h"
#include "net/url.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

struct Scheme {
    std::string_view name;
    uint16_t type;
    uint16_t defaultPort;
};

constexpr std::array kSchemes = {
    Scheme{"http", kProxyHttpGet, 80},
    Scheme{"https", kProxyHttpConnect, 443},
    Scheme{"socks4", kProxySocks4, 1080},
    Scheme{"socks5", kProxySocks5, 1080},
};

// SOCKS5 sends each of user name and password with a one-byte length.
constexpr size_t kMaxLoginLength = 255;

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool hasControlOrBlank(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' ' || c == 0x7F; });
}

bool validHostName(std::string_view host)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '.' || c == '_';
    });
}

bool validIpv6(std::string_view host)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isxdigit(c) || c == ':' || c == '.';
    });
}

}  // namespace

ProxyArgument parseProxyArgument(std::string_view text)
{
    auto fail = [](std::string why) { return ProxyArgument{std::nullopt, "-x: " + std::move(why)}; };
    const size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string_view::npos)
        return fail(builtinText(kStrProxyNoScheme));
    const std::string schemeName = lower(text.substr(0, schemeEnd));
    const auto scheme
        = std::find_if(kSchemes.begin(), kSchemes.end(), [&](const Scheme& s) { return s.name == schemeName; });
    if (scheme == kSchemes.end())
        return fail(builtinText(kStrProxyUnknownScheme, {schemeName}));

    std::string_view rest = text.substr(schemeEnd + 3);
    if (const size_t slash = rest.find('/'); slash != std::string_view::npos) {
        if (slash + 1 != rest.size())
            return fail(builtinText(kStrProxyHasPath));
        rest = rest.substr(0, slash);
    }
    if (hasControlOrBlank(rest))
        return fail(builtinText(kStrProxyBlanks));

    ProxyEntry entry;
    entry.title = "--proxy";
    entry.type = scheme->type;
    entry.port = scheme->defaultPort;
    entry.flags = kProxyPassive | kProxyNoCache;

    if (const size_t at = rest.rfind('@'); at != std::string_view::npos) {
        const std::string_view login = rest.substr(0, at);
        const size_t colon = login.find(':');
        entry.userName = PercentDecode(login.substr(0, colon));
        if (colon != std::string_view::npos)
            entry.password = PercentDecode(login.substr(colon + 1));
        if (entry.userName.empty())
            return fail(builtinText(kStrProxyEmptyUser));
        if (entry.userName.size() > kMaxLoginLength || entry.password.size() > kMaxLoginLength)
            return fail(builtinText(kStrProxyLoginTooLong));
        if (entry.userName.find('\0') != std::string::npos || entry.password.find('\0') != std::string::npos)
            return fail(builtinText(kStrProxyLoginNul));
        if (entry.type == kProxySocks4 && colon != std::string_view::npos)
            return fail(builtinText(kStrProxySocks4Password));
        entry.flags |= kProxyAuthenticate;
        rest = rest.substr(at + 1);
    }

    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return fail(builtinText(kStrProxyNoClosingBracket));
        host = rest.substr(1, close - 1);
        if (!validIpv6(host))
            return fail(builtinText(kStrProxyNotIpv6));
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return fail(builtinText(kStrProxyAfterBracket));
        port = rest.empty() ? rest : rest.substr(1);
        if (!rest.empty() && port.empty())
            return fail(builtinText(kStrProxyEmptyPort));
    } else {
        const size_t colon = rest.find(':');
        host = rest.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = rest.substr(colon + 1);
            if (port.empty())
                return fail(builtinText(kStrProxyEmptyPort));
        }
        if (!validHostName(host))
            return fail(host.empty() ? builtinText(kStrProxyNoHost) : builtinText(kStrProxyNotHostName, {host}));
    }
    if (!port.empty()) {
        uint32_t number = 0;
        auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535)
            return fail(builtinText(kStrProxyBadPort));
        entry.port = static_cast<uint16_t>(number);
    }
    entry.server = std::string(host);
    return ProxyArgument{std::move(entry), {}};
}

}  // namespace fetchora
