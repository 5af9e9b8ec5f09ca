#include "cli/proxy_argument.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(ProxyArgument, EverySchemeGivesItsProxyTypePortAndLogin)
{
    struct Case {
        const char* url;
        uint16_t type;
        const char* server;
        uint16_t port;
        const char* user;
        const char* password;
    };
    const Case cases[] = {
        {"http://127.0.0.1:3128", kProxyHttpGet, "127.0.0.1", 3128, "", ""},
        {"HTTP://proxy.example.lan/", kProxyHttpGet, "proxy.example.lan", 80, "", ""},
        {"https://u:p@127.0.0.1:8443", kProxyHttpConnect, "127.0.0.1", 8443, "u", "p"},
        {"https://gate", kProxyHttpConnect, "gate", 443, "", ""},
        {"socks4://ident@127.0.0.1:1081", kProxySocks4, "127.0.0.1", 1081, "ident", ""},
        {"socks5://127.0.0.1", kProxySocks5, "127.0.0.1", 1080, "", ""},
        {"socks5://user:pass@[::1]:1085", kProxySocks5, "::1", 1085, "user", "pass"},
        {"socks5://[::1]", kProxySocks5, "::1", 1080, "", ""},
        // A password may hold ':' and '@' when written percent-encoded; the
        // last '@' ends the login.
        {"socks5://us%65r:p%40ss:w@rd@host:9", kProxySocks5, "host", 9, "user", "p@ss:w@rd"},
        {"http://user:@h:1", kProxyHttpGet, "h", 1, "user", ""},
        {"http://h:65535", kProxyHttpGet, "h", 65535, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        ProxyArgument parsed = parseProxyArgument(c.url);
        ASSERT_TRUE(parsed.entry) << parsed.error;
        EXPECT_EQ(parsed.entry->type, c.type);
        EXPECT_EQ(parsed.entry->server, c.server);
        EXPECT_EQ(parsed.entry->port, c.port);
        EXPECT_EQ(parsed.entry->userName, c.user);
        EXPECT_EQ(parsed.entry->password, c.password);
        // The handshakes send a login only with the authenticate flag.
        EXPECT_EQ((parsed.entry->flags & kProxyAuthenticate) != 0, std::string(c.user) != "");
        EXPECT_EQ(parsed.entry->flags & kProxyMultiProxy, 0u);
    }
}

TEST(ProxyArgument, MalformedUrlsAreRefusedWithoutEchoingThePassword)
{
    const char* bad[] = {
        "",
        "127.0.0.1:3128",
        "ftp://127.0.0.1:21",
        "socks://127.0.0.1",
        "http://",
        "http://:3128",
        "http://h:",
        "http://h:0",
        "http://h:65536",
        "http://h:80x",
        "http://h:-1",
        "http://h/some/path",
        "http://h o:1",
        "http://h\r\nX: y:1",
        "http://[::1",
        "http://[::1]x",
        "http://[::1]:",
        "http://[nothex]:1",
        "http://::1:1080",
        "socks5://@h:1",
        "socks5://:secret@h:1",
        "socks4://user:secret@h:1",
        "socks5://u%00:secret@h:1",
    };
    for (const char* url : bad) {
        SCOPED_TRACE(url);
        ProxyArgument parsed = parseProxyArgument(url);
        EXPECT_FALSE(parsed.entry);
        EXPECT_EQ(parsed.error.rfind("-x: ", 0), 0u) << parsed.error;
        EXPECT_EQ(parsed.error.find("secret"), std::string::npos) << parsed.error;
    }
    const std::string longName(256, 'u');
    EXPECT_FALSE(parseProxyArgument("socks5://" + longName + ":p@h:1").entry);
    EXPECT_TRUE(parseProxyArgument("socks5://" + longName.substr(1) + ":p@h:1").entry);
}

}  // namespace
}  // namespace fetchora
