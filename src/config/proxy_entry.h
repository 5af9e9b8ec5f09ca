#pragma once
// One configured proxy of the proxy list. Entry 0 of the list is the pseudo
// entry "Direct Connection" (type 0); jobs and site rules name proxies by
// their index in the list.
#include <cstdint>
#include <string>

namespace fetchora {

// Proxy types. The numbers are stored in the settings and in exported lists.
inline constexpr uint16_t kProxyDirect = 0;
inline constexpr uint16_t kProxyFtpOpen = 1;  // FTP proxy, OPEN host
inline constexpr uint16_t kProxyFtpUserColon = 2;  // FTP proxy, USER user@host:port
inline constexpr uint16_t kProxyHttpGet = 3;  // HTTP proxy, absolute URL in the GET line
inline constexpr uint16_t kProxyFtpUserSpace = 4;  // FTP proxy, USER user@host port
inline constexpr uint16_t kProxyFtpSite = 5;  // FTP proxy, SITE host
inline constexpr uint16_t kProxyFtpSiteUser = 6;  // FTP proxy, SITE user@host
inline constexpr uint16_t kProxySocks5 = 7;
inline constexpr uint16_t kProxyHttpConnect = 8;  // HTTP CONNECT tunnel
inline constexpr uint16_t kProxySocks4 = 9;
inline constexpr uint16_t kProxyTypeCount = 10;

// Entry flags.
inline constexpr uint32_t kProxyAuthenticate = 0x1;
inline constexpr uint32_t kProxyPassive = 0x2;
inline constexpr uint32_t kProxyNoCache = 0x4;
inline constexpr uint32_t kProxyMultiProxy = 0x8;  // takes part in multi-proxy rotation

struct ProxyEntry {
    std::string title, server, userName, password;
    uint16_t port = 80;
    uint16_t type = 0;
    uint32_t flags = 6;
};

inline bool isFtpProxyType(uint16_t type)
{
    return type == kProxyFtpOpen || type == kProxyFtpUserColon || type == kProxyFtpUserSpace || type == kProxyFtpSite
        || type == kProxyFtpSiteUser;
}

// SOCKS5, CONNECT and SOCKS4 carry any protocol: a tunnel, not an HTTP or FTP
// proxy that rewrites the request.
inline bool isTunnelProxyType(uint16_t type)
{
    return type == kProxySocks5 || type == kProxyHttpConnect || type == kProxySocks4;
}

}  // namespace fetchora
