#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "config/proxy_entry.h"
#include "net/http_tunnel.h"
#include "net/socks4_handshake.h"
#include "net/socks5_handshake.h"
#include "support/proxy_entries.h"

namespace fetchora {
namespace {

using Bytes = std::vector<uint8_t>;

ProxyEntry proxyWith(uint16_t type, uint32_t flags, std::string user = {}, std::string password = {})
{
    return test::proxyEntry(type, "127.0.0.1", 1080, flags, std::move(user), std::move(password));
}

Bytes socks4(const ProxyEntry& proxy, std::string_view address, uint16_t port)
{
    std::array<uint8_t, 4096> buffer{};
    const std::size_t length = BuildSocks4Request(buffer, proxy, address, port);
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
}

Bytes socks5(const ProxyEntry& proxy, Socks5Stage stage, std::string_view host, uint16_t port)
{
    std::array<uint8_t, 4096> buffer{};
    const std::size_t length = BuildSocks5Message(buffer, proxy, stage, host, port);
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
}

TEST(Socks4Request, CarriesPortHighByteFirstAndTheAddressInTextOrder)
{
    EXPECT_EQ(socks4(proxyWith(kProxySocks4, 0), "10.1.2.3", 8080), (Bytes{0x04, 0x01, 0x1F, 0x90, 10, 1, 2, 3, 0x00}));
}

TEST(Socks4Request, CarriesTheUserNameOnlyWhenTheProxyAuthenticates)
{
    EXPECT_EQ(socks4(proxyWith(kProxySocks4, kProxyAuthenticate, "bob"), "127.0.0.1", 80),
              (Bytes{0x04, 0x01, 0x00, 0x50, 127, 0, 0, 1, 'b', 'o', 'b', 0x00}));
    EXPECT_EQ(socks4(proxyWith(kProxySocks4, 0, "bob"), "127.0.0.1", 80).size(), 9u);
    EXPECT_EQ(socks4(proxyWith(kProxySocks4, kProxyAuthenticate, ""), "127.0.0.1", 80).size(), 9u);
}

TEST(Socks4Request, CannotCarryANameOrAnIpv6Address)
{
    EXPECT_TRUE(socks4(proxyWith(kProxySocks4, 0), "localhost", 80).empty());
    EXPECT_TRUE(socks4(proxyWith(kProxySocks4, 0), "::1", 80).empty());
    EXPECT_TRUE(socks4(proxyWith(kProxySocks4, 0), "1.2.3.256", 80).empty());
}

TEST(Socks5Message, GreetingOffersUserPasswordOnlyWhenTheProxyAuthenticates)
{
    EXPECT_EQ(socks5(proxyWith(kProxySocks5, 0), Socks5Stage::Greeting, "x", 1), (Bytes{0x05, 0x01, 0x00}));
    EXPECT_EQ(socks5(proxyWith(kProxySocks5, kProxyAuthenticate), Socks5Stage::Greeting, "x", 1),
              (Bytes{0x05, 0x02, 0x00, 0x02}));
}

TEST(Socks5Message, UserPasswordMessageIsThreeBytesPlusBothLengths)
{
    EXPECT_EQ(socks5(proxyWith(kProxySocks5, kProxyAuthenticate, "ab", "xyz"), Socks5Stage::UserPassword, "h", 1),
              (Bytes{0x01, 2, 'a', 'b', 3, 'x', 'y', 'z'}));
    EXPECT_TRUE(socks5(proxyWith(kProxySocks5, kProxyAuthenticate, std::string(256, 'u'), "p"),
                       Socks5Stage::UserPassword, "h", 1)
                    .empty());
}

TEST(Socks5Message, ConnectRequestUsesAddressTypeOneForDottedIpv4AndThreeForNames)
{
    const ProxyEntry proxy = proxyWith(kProxySocks5, 0);
    EXPECT_EQ(socks5(proxy, Socks5Stage::ConnectRequest, "192.168.0.10", 443),
              (Bytes{0x05, 0x01, 0x00, 0x01, 192, 168, 0, 10, 0x01, 0xBB}));
    EXPECT_EQ(socks5(proxy, Socks5Stage::ConnectRequest, "example.org", 80),
              (Bytes{0x05, 0x01, 0x00, 0x03, 11, 'e', 'x', 'a', 'm', 'p', 'l', 'e', '.', 'o', 'r', 'g', 0x00, 0x50}));
    // Four numbers but not an address: sent as a name.
    EXPECT_EQ(socks5(proxy, Socks5Stage::ConnectRequest, "1.2.3.4.5", 80).size(), 7u + 9u);
}

TEST(Socks5Message, ConnectRequestCarriesAnIpv6LiteralAsAddressTypeFour)
{
    const Bytes request = socks5(proxyWith(kProxySocks5, 0), Socks5Stage::ConnectRequest, "::1", 8080);
    ASSERT_EQ(request.size(), 22u);
    EXPECT_EQ(request[3], 0x04);
    EXPECT_EQ(request[19], 0x01);
    EXPECT_EQ(request[20], 0x1F);
    EXPECT_EQ(request[21], 0x90);
}

TEST(Socks5Message, RefusesHostNamesLongerThan255Bytes)
{
    EXPECT_TRUE(socks5(proxyWith(kProxySocks5, 0), Socks5Stage::ConnectRequest, std::string(256, 'a'), 80).empty());
    EXPECT_EQ(socks5(proxyWith(kProxySocks5, 0), Socks5Stage::ConnectRequest, std::string(255, 'a'), 80).size(),
              7u + 255u);
}

TEST(ConnectRequest, IsHttp10WithProxyLoginOnlyWhenTheProxyAuthenticates)
{
    EXPECT_EQ(BuildConnectRequest("files.example", 443, proxyWith(kProxyHttpConnect, 0, "u", "p")),
              "CONNECT files.example:443 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(BuildConnectRequest("files.example", 443, proxyWith(kProxyHttpConnect, kProxyAuthenticate, "u", "p")),
              "CONNECT files.example:443 HTTP/1.0\r\nProxy-Authorization: Basic dTpw\r\n\r\n");
    EXPECT_EQ(BuildConnectRequest("::1", 8443, proxyWith(kProxyHttpConnect, 0)), "CONNECT [::1]:8443 HTTP/1.0\r\n\r\n");
}

TEST(ConnectRequest, LoggedLoginLineHidesTheSecret)
{
    EXPECT_EQ(maskedRequestLine("Proxy-Authorization: Basic dTpw"), "Proxy-Authorization: Basic ********");
    EXPECT_EQ(maskedRequestLine("CONNECT a:1 HTTP/1.0"), "CONNECT a:1 HTTP/1.0");
}

}  // namespace
}  // namespace fetchora
