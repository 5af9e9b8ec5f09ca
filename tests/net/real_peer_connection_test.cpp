// Connections through every proxy kind to real servers on 127.0.0.1: nginx
// (HTTP and HTTPS), tinyproxy (plain proxy and CONNECT), microsocks and dante
// (SOCKS4 and SOCKS5), each with and without login, and TLS over each tunnel.
// A missing server program fails the test with the package to install.
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

#include "config/proxy_entry.h"
#include "net/connection_setup.h"
#include "net/http_tunnel.h"
#include "net/tls_stream.h"
#include "support/proxy_entries.h"
#include "support/real_peers.h"
#include "support/recording_log.h"

namespace fetchora {
namespace {

using test::DantePeer;
using test::kSmallFileText;
using test::MicrosocksPeer;
using test::NginxPeer;
using test::ProxyLogin;
using test::RecordingLog;
using test::TinyproxyPeer;

constexpr int kTimeoutMs = 5000;

ProxyEntry proxyEntry(uint16_t type, uint16_t port, const ProxyLogin& login = {})
{
    return test::proxyEntry(type, "127.0.0.1", port, login.user.empty() ? 0 : kProxyAuthenticate, login.user,
                            login.password);
}

// Sends one HTTP/1.0 GET and returns the whole answer (the server closes).
std::string httpGet(ByteStream& stream, const std::string& requestTarget, const std::string& hostHeader,
                    const std::string& extraHeader = {})
{
    std::string request = "GET " + requestTarget + " HTTP/1.0\r\nHost: " + hostHeader + "\r\n";
    if (!extraHeader.empty())
        request += extraHeader + "\r\n";
    request += "\r\n";
    if (!writeAll(stream, request, kTimeoutMs).ok())
        return "(request not sent)";
    std::string answer;
    char buffer[4096];
    for (;;) {
        const IoResult got = stream.read(buffer, sizeof buffer, kTimeoutMs);
        if (!got.ok())
            return answer;
        answer.append(buffer, got.bytes);
    }
}

std::string statusLine(const std::string& answer)
{
    return answer.substr(0, answer.find("\r\n"));
}

std::string body(const std::string& answer)
{
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

class RealPeerConnection : public testing::Test {
protected:
    void SetUp() override { m_nginx = std::make_unique<NginxPeer>(); }

    ConnectionResult open(const std::string& host, uint16_t port, bool tls, std::optional<ProxyEntry> proxy = {},
                          bool trustServer = true)
    {
        TlsSettings settings;
        if (trustServer)
            settings.extraCaFile = m_nginx->certificateFile().string();
        std::string error;
        m_tls = TlsClientContext::create(settings, &error);
        EXPECT_NE(m_tls, nullptr) << error;
        ConnectionEnvironment environment(m_log);
        environment.tls = m_tls.get();
        ConnectionRequest request;
        request.target = {host, port, {}, tls};
        request.proxy = std::move(proxy);
        request.connectTimeoutMs = kTimeoutMs;
        return openConnection(request, environment);
    }

    // Opens the connection and fetches /files/small.txt through it, as the
    // route asks; the answer's body must be the file.
    void expectSmallFileThrough(const std::string& host, bool tls, std::optional<ProxyEntry> proxy = {})
    {
        const uint16_t port = tls ? m_nginx->httpsPort() : m_nginx->httpPort();
        ConnectionResult result = open(host, port, tls, proxy);
        ASSERT_EQ(result.outcome, ConnectOutcome::Open) << result.detail << "\n" << m_log.dump();
        const std::string hostHeader = host + ":" + std::to_string(port);
        std::string answer;
        if (result.route == RequestRoute::HttpProxy) {
            answer = httpGet(*result.stream, "http://" + hostHeader + "/files/small.txt", hostHeader,
                             ProxyAuthorizationLine(*proxy));
        } else {
            answer = httpGet(*result.stream, "/files/small.txt", hostHeader);
        }
        EXPECT_EQ(statusLine(answer).substr(9, 3), "200") << answer;
        EXPECT_EQ(body(answer), kSmallFileText);
    }

    std::unique_ptr<NginxPeer> m_nginx;
    std::unique_ptr<TlsClientContext> m_tls;
    RecordingLog m_log;
};

TEST_F(RealPeerConnection, DirectHttp)
{
    expectSmallFileThrough("127.0.0.1", false);
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Status, "Connected."));
}

TEST_F(RealPeerConnection, PlainHttpProxyWithAndWithoutLogin)
{
    TinyproxyPeer open;
    expectSmallFileThrough("127.0.0.1", false, proxyEntry(kProxyHttpGet, open.port()));

    const ProxyLogin login{"user", "pass"};
    TinyproxyPeer guarded(login);
    expectSmallFileThrough("127.0.0.1", false, proxyEntry(kProxyHttpGet, guarded.port(), login));
}

TEST_F(RealPeerConnection, PlainHttpProxyWithoutItsLoginAnswers407)
{
    TinyproxyPeer guarded({"user", "pass"});
    ConnectionResult result = open("127.0.0.1", m_nginx->httpPort(), false, proxyEntry(kProxyHttpGet, guarded.port()));
    ASSERT_EQ(result.outcome, ConnectOutcome::Open);
    const std::string target = "http://127.0.0.1:" + std::to_string(m_nginx->httpPort()) + "/files/small.txt";
    EXPECT_EQ(statusLine(httpGet(*result.stream, target, "127.0.0.1")).substr(9, 3), "407");
}

TEST_F(RealPeerConnection, ConnectTunnelWithAndWithoutLogin)
{
    TinyproxyPeer open;
    expectSmallFileThrough("127.0.0.1", false, proxyEntry(kProxyHttpConnect, open.port()));
    EXPECT_TRUE(
        m_log.has(ConnectionLogKind::Sent, "CONNECT 127.0.0.1:" + std::to_string(m_nginx->httpPort()) + " HTTP/1.0"));

    const ProxyLogin login{"user", "pass"};
    TinyproxyPeer guarded(login);
    expectSmallFileThrough("127.0.0.1", false, proxyEntry(kProxyHttpConnect, guarded.port(), login));
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Sent, "Proxy-Authorization: Basic ********"));
}

TEST_F(RealPeerConnection, ConnectTunnelWithoutItsLoginFailsSayingSo)
{
    TinyproxyPeer guarded({"user", "pass"});
    const ConnectionResult result
        = open("127.0.0.1", m_nginx->httpPort(), false, proxyEntry(kProxyHttpConnect, guarded.port()));
    EXPECT_EQ(result.outcome, ConnectOutcome::Failed);
    EXPECT_EQ(result.detail, "The proxy refused the tunnel: HTTP/1.0 407 Proxy Authentication Required");
}

TEST_F(RealPeerConnection, Socks4ThroughDante)
{
    DantePeer dante;
    expectSmallFileThrough("127.0.0.1", false, proxyEntry(kProxySocks4, dante.port()));
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Sent, "Socks: 04 01"));
}

TEST_F(RealPeerConnection, Socks4ResolvesANamedTargetItself)
{
    DantePeer dante;
    expectSmallFileThrough("localhost", false, proxyEntry(kProxySocks4, dante.port()));
}

TEST_F(RealPeerConnection, Socks5ThroughMicrosocksWithAndWithoutLogin)
{
    MicrosocksPeer open;
    expectSmallFileThrough("localhost", false, proxyEntry(kProxySocks5, open.port()));

    const ProxyLogin login{"user", "pass"};
    MicrosocksPeer guarded(login);
    expectSmallFileThrough("127.0.0.1", false, proxyEntry(kProxySocks5, guarded.port(), login));
}

TEST_F(RealPeerConnection, Socks5WrongPasswordFailsSayingSo)
{
    MicrosocksPeer guarded({"user", "pass"});
    const ConnectionResult result
        = open("127.0.0.1", m_nginx->httpPort(), false, proxyEntry(kProxySocks5, guarded.port(), {"user", "wrong"}));
    EXPECT_EQ(result.outcome, ConnectOutcome::Failed);
    EXPECT_EQ(result.detail, "The SOCKS5 proxy rejected the user name or password.");
}

TEST_F(RealPeerConnection, Socks5ThroughDanteWithAndWithoutLogin)
{
    DantePeer open;
    expectSmallFileThrough("localhost", false, proxyEntry(kProxySocks5, open.port()));

    DantePeer guarded(true);
    expectSmallFileThrough(
        "127.0.0.1", false,
        proxyEntry(kProxySocks5, guarded.port(), {DantePeer::kDanteUser, DantePeer::kDantePassword}));
}

TEST_F(RealPeerConnection, Socks5LoginRequiredButNotOfferedFailsSayingSo)
{
    DantePeer guarded(true);
    const ConnectionResult result
        = open("127.0.0.1", m_nginx->httpPort(), false, proxyEntry(kProxySocks5, guarded.port()));
    EXPECT_EQ(result.outcome, ConnectOutcome::Failed);
    EXPECT_EQ(result.detail, "The SOCKS5 proxy accepts none of the offered login methods.");
}

TEST_F(RealPeerConnection, TlsDirectAndOverEveryTunnel)
{
    expectSmallFileThrough("127.0.0.1", true);
    expectSmallFileThrough("localhost", true);
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Status, "Connected."));

    TinyproxyPeer tinyproxy;
    expectSmallFileThrough("127.0.0.1", true, proxyEntry(kProxyHttpConnect, tinyproxy.port()));
    expectSmallFileThrough("localhost", true, proxyEntry(kProxyHttpGet, tinyproxy.port()));

    DantePeer dante;
    expectSmallFileThrough("127.0.0.1", true, proxyEntry(kProxySocks4, dante.port()));

    MicrosocksPeer microsocks;
    expectSmallFileThrough("localhost", true, proxyEntry(kProxySocks5, microsocks.port()));
}

TEST_F(RealPeerConnection, TlsToAnUntrustedServerIsRejectedSayingTheCertificateIsNotTrusted)
{
    const ConnectionResult result = open("127.0.0.1", m_nginx->httpsPort(), true, {}, false);
    // Rejected, not Failed: trying the same peer again cannot help.
    EXPECT_EQ(result.outcome, ConnectOutcome::Rejected);
    EXPECT_EQ(result.socketError, 0u);
    EXPECT_EQ(result.detail, "the certificate of 127.0.0.1 is not trusted (self-signed certificate)");
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Error, result.detail));
}

TEST_F(RealPeerConnection, TlsCertificateForAnotherNameIsRejected)
{
    NginxPeer other({"DNS:other.test"});
    TlsSettings settings;
    settings.extraCaFile = other.certificateFile().string();
    const auto tls = TlsClientContext::create(settings);
    ASSERT_NE(tls, nullptr);
    ConnectionEnvironment environment(m_log);
    environment.tls = tls.get();
    ConnectionRequest request;
    request.target = {"127.0.0.1", other.httpsPort(), {}, true};
    const ConnectionResult result = openConnection(request, environment);
    EXPECT_EQ(result.outcome, ConnectOutcome::Rejected);
    EXPECT_NE(result.detail.find("not valid for 127.0.0.1"), std::string::npos) << result.detail;
    EXPECT_NE(result.detail.find("mismatch"), std::string::npos) << result.detail;
}

TEST_F(RealPeerConnection, TlsToAPlainHttpPortFailsWithoutHanging)
{
    const ConnectionResult result = open("127.0.0.1", m_nginx->httpPort(), true);
    EXPECT_EQ(result.outcome, ConnectOutcome::Failed);
    EXPECT_NE(result.detail.find("TLS handshake with 127.0.0.1 failed"), std::string::npos) << result.detail;
}

}  // namespace
}  // namespace fetchora
