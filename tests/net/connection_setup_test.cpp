// The connect step as a worker runs it, against scripted fake servers and
// proxies: what is logged, what is remembered, which failures end the cycle
// and which take the error step.
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "net/connection_setup.h"
#include "net/socket_error.h"
#include "net/tls_stream.h"
#include "support/loopback_sockets.h"
#include "support/proxy_entries.h"
#include "support/recording_log.h"
#include "support/scripted_server.h"

namespace fetchora {
namespace {

using test::RecordingLog;
using test::ScriptedServer;
using test::ServerScript;
using namespace std::string_literals;

class ConnectionSetupTest : public testing::Test {
protected:
    ConnectionEnvironment environment()
    {
        ConnectionEnvironment env{m_log};
        env.lookUp = [this](std::string_view host, const AliveCheck&) {
            ++m_lookups;
            m_pendingDuringLookup = m_pending.load();
            const auto found = m_names.find(std::string(host));
            if (found == m_names.end())
                return LookupResult{LookupStatus::NotFound, {}};
            return LookupResult{LookupStatus::Found, found->second};
        };
        env.pendingLookups = &m_pending;
        env.rememberTargetAddress = [this](const std::string& address) { m_rememberedTarget.push_back(address); };
        env.rememberProxyAddress = [this](const std::string& address) { m_rememberedProxy.push_back(address); };
        return env;
    }

    static ProxyEntry proxyAt(uint16_t type, uint16_t port)
    {
        return test::proxyEntry(type, "proxy.test", port, 0);
    }

    RecordingLog m_log;
    std::map<std::string, std::string> m_names{
        {"files.test", "127.0.0.1"}, {"proxy.test", "127.0.0.1"}, {"far.test", "127.0.0.2"}};
    int m_lookups = 0;
    int m_pendingDuringLookup = 0;
    std::atomic<int> m_pending{0};
    std::vector<std::string> m_rememberedTarget;
    std::vector<std::string> m_rememberedProxy;
};

TEST_F(ConnectionSetupTest, DirectConnectionResolvesRemembersAndLogsConnected)
{
    ScriptedServer server(ServerScript().stall());
    ConnectionRequest request;
    request.target = {"files.test", server.port(), {}, false};
    const ConnectionResult result = openConnection(request, environment());

    ASSERT_EQ(result.outcome, ConnectOutcome::Open) << m_log.dump();
    EXPECT_EQ(result.route, RequestRoute::Direct);
    EXPECT_EQ(m_log.texts(),
              (std::vector<std::string>{"Connecting files.test:" + std::to_string(server.port()), "Connected."}));
    EXPECT_EQ(m_rememberedTarget, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(m_pendingDuringLookup, 1);
    EXPECT_EQ(m_pending.load(), 0);
}

TEST_F(ConnectionSetupTest, RememberedAddressIsUsedWithoutALookUp)
{
    ScriptedServer server(ServerScript().stall());
    ConnectionRequest request;
    request.target = {"files.test", server.port(), "127.0.0.1", false};
    const ConnectionResult result = openConnection(request, environment());

    ASSERT_EQ(result.outcome, ConnectOutcome::Open);
    EXPECT_EQ(m_lookups, 0);
    EXPECT_EQ(m_log.texts().front(), "Connecting files.test:" + std::to_string(server.port()) + " [IP=127.0.0.1]");
}

TEST_F(ConnectionSetupTest, NameThatCannotBeResolvedEndsTheCycleWithoutTheErrorStep)
{
    ConnectionRequest request;
    request.target = {"nowhere.test", 80, {}, false};
    const ConnectionResult result = openConnection(request, environment());

    EXPECT_EQ(result.outcome, ConnectOutcome::ResolveFailed);
    EXPECT_EQ(result.stream, nullptr);
    EXPECT_EQ(result.detail, "the host name nowhere.test does not exist");
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Error, "Cannot resolve host name"));
    EXPECT_TRUE(m_rememberedTarget.empty());
}

TEST_F(ConnectionSetupTest, AFailingNameServiceTakesTheErrorStepInsteadOfFailingTheUrl)
{
    ConnectionEnvironment env = environment();
    env.lookUp = [](std::string_view, const AliveCheck&) {
        return LookupResult{LookupStatus::TryLater, {}, "Temporary failure in name resolution"};
    };
    ConnectionRequest request;
    request.target = {"files.test", 80, {}, false};
    const ConnectionResult result = openConnection(request, env);
    EXPECT_EQ(result.outcome, ConnectOutcome::Failed);
    EXPECT_EQ(result.detail, "cannot look up the host name files.test now (Temporary failure in name resolution)");
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Error, result.detail));
}

TEST_F(ConnectionSetupTest, ProxyIsResolvedAndRememberedInsteadOfTheTarget)
{
    ScriptedServer proxyServer(ServerScript().stall());
    ConnectionRequest request;
    request.target = {"nowhere.test", 80, {}, false};
    request.proxy = proxyAt(kProxyHttpGet, proxyServer.port());
    const ConnectionResult result = openConnection(request, environment());

    ASSERT_EQ(result.outcome, ConnectOutcome::Open) << m_log.dump();
    EXPECT_EQ(result.route, RequestRoute::HttpProxy);
    EXPECT_EQ(m_log.texts().front(), "Connecting proxy proxy.test:" + std::to_string(proxyServer.port()));
    EXPECT_EQ(m_rememberedProxy, std::vector<std::string>{"127.0.0.1"});
    EXPECT_TRUE(m_rememberedTarget.empty());
}

TEST_F(ConnectionSetupTest, ProxyOfTypeZeroMeansDirect)
{
    ScriptedServer server(ServerScript().stall());
    ConnectionRequest request;
    request.target = {"127.0.0.1", server.port(), {}, false};
    request.proxy = proxyAt(kProxyDirect, 1);
    EXPECT_EQ(openConnection(request, environment()).outcome, ConnectOutcome::Open);
}

TEST_F(ConnectionSetupTest, Socks4ResolvesTheTargetFirstAndSendsItsAddress)
{
    ScriptedServer proxyServer(ServerScript().readBytes(9).send("\x00\x5a\x00\x00\x00\x00\x00\x00"s).stall());
    ConnectionRequest request;
    request.target = {"far.test", 8080, {}, false};
    request.proxy = proxyAt(kProxySocks4, proxyServer.port());
    request.proxyAddress = "127.0.0.1";
    const ConnectionResult result = openConnection(request, environment());

    ASSERT_EQ(result.outcome, ConnectOutcome::Open) << m_log.dump();
    EXPECT_EQ(result.route, RequestRoute::Direct);
    EXPECT_EQ(m_rememberedTarget, std::vector<std::string>{"127.0.0.2"});
    EXPECT_EQ(proxyServer.received(), "\x04\x01\x1f\x90\x7f\x00\x00\x02\x00"s);
    const std::vector<std::string> texts = m_log.texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Connecting far.test:8080");
    EXPECT_EQ(texts[1], "Connecting proxy proxy.test:" + std::to_string(proxyServer.port()) + " [IP=127.0.0.1]");
    EXPECT_EQ(texts[2], "Connected.");
}

TEST_F(ConnectionSetupTest, Socks4TargetThatCannotBeResolvedEndsBeforeConnecting)
{
    ScriptedServer proxyServer(ServerScript().stall());
    ConnectionRequest request;
    request.target = {"nowhere.test", 80, {}, false};
    request.proxy = proxyAt(kProxySocks4, proxyServer.port());
    EXPECT_EQ(openConnection(request, environment()).outcome, ConnectOutcome::ResolveFailed);
    EXPECT_EQ(proxyServer.connectionCount(), 0u);
}

TEST_F(ConnectionSetupTest, RefusedConnectionFailsWithCode10061)
{
    ConnectionRequest request;
    request.target = {"127.0.0.1", test::refusedPort(), {}, false};
    const ConnectionResult result = openConnection(request, environment());
    EXPECT_EQ(result.outcome, ConnectOutcome::Failed);
    EXPECT_EQ(result.socketError, kWsaEconnrefused);
    EXPECT_EQ(result.stream, nullptr);
}

TEST_F(ConnectionSetupTest, UnansweredConnectLogsTimeOutAndFailsWithoutACode)
{
    test::SilentListener silent;
    ConnectionRequest request;
    request.target = {"127.0.0.1", silent.port(), {}, false};
    request.connectTimeoutMs = 200;
    const ConnectionResult result = openConnection(request, environment());
    EXPECT_EQ(result.outcome, ConnectOutcome::Failed);
    EXPECT_EQ(result.socketError, 0u);
    EXPECT_EQ(m_log.texts().back(), "Time out.");
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Error, "Time out."));
}

TEST_F(ConnectionSetupTest, StopWhileConnectingEndsTheCycleAsStopped)
{
    test::SilentListener silent;
    std::atomic<bool> alive{true};
    ConnectionEnvironment env = environment();
    env.alive = [&] { return alive.load(); };
    ConnectionRequest request;
    request.target = {"127.0.0.1", silent.port(), {}, false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        alive = false;
    });
    const auto start = std::chrono::steady_clock::now();
    const ConnectionResult result = openConnection(request, env);
    stopper.join();
    EXPECT_EQ(result.outcome, ConnectOutcome::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(m_log.has(ConnectionLogKind::Error, "Time out."));
}

TEST_F(ConnectionSetupTest, HandshakeFailureIsLoggedAsAnErrorWithoutASocketCode)
{
    ScriptedServer proxyServer(ServerScript().readRequestHead().send("HTTP/1.0 403 Forbidden\r\n\r\n"));
    ConnectionRequest request;
    request.target = {"127.0.0.1", 443, {}, false};
    request.proxy = proxyAt(kProxyHttpConnect, proxyServer.port());
    const ConnectionResult result = openConnection(request, environment());

    EXPECT_EQ(result.outcome, ConnectOutcome::Failed);
    EXPECT_EQ(result.socketError, 0u);
    EXPECT_TRUE(m_log.has(ConnectionLogKind::Error, "The proxy refused the tunnel: HTTP/1.0 403 Forbidden"))
        << m_log.dump();
}

TEST_F(ConnectionSetupTest, SecureTargetThroughAPlainHttpProxyUsesItsTunnel)
{
    ScriptedServer proxyServer(ServerScript().readRequestHead().send("HTTP/1.0 502 Bad Gateway\r\n\r\n"));
    ConnectionRequest request;
    request.target = {"files.test", 443, {}, true};
    request.proxy = proxyAt(kProxyHttpGet, proxyServer.port());
    const auto tls = TlsClientContext::create({});
    ConnectionEnvironment env = environment();
    env.tls = tls.get();
    EXPECT_EQ(openConnection(request, env).outcome, ConnectOutcome::Failed);
    EXPECT_EQ(proxyServer.received(), "CONNECT files.test:443 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(requestRouteFor(request.proxy, true), RequestRoute::Direct);
    EXPECT_EQ(requestRouteFor(request.proxy, false), RequestRoute::HttpProxy);
}

TEST_F(ConnectionSetupTest, UnknownProxyTypeFailsWithoutConnecting)
{
    ScriptedServer proxyServer(ServerScript().stall());
    ConnectionRequest request;
    request.target = {"127.0.0.1", 80, {}, false};
    request.proxy = proxyAt(42, proxyServer.port());
    EXPECT_EQ(openConnection(request, environment()).outcome, ConnectOutcome::Failed);
    EXPECT_EQ(proxyServer.connectionCount(), 0u);
}

TEST_F(ConnectionSetupTest, FtpProxyTypesConnectToTheProxyForTheFtpLogin)
{
    ScriptedServer proxyServer(ServerScript().send("220 proxy ready\r\n").stall());
    ConnectionRequest request;
    request.target = {"nowhere.test", 21, {}, false};
    request.proxy = proxyAt(kProxyFtpUserColon, proxyServer.port());
    const ConnectionResult result = openConnection(request, environment());
    ASSERT_EQ(result.outcome, ConnectOutcome::Open);
    EXPECT_EQ(result.route, RequestRoute::FtpProxy);
}

}  // namespace
}  // namespace fetchora
