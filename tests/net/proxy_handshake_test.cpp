// The proxy dialogues against a scripted fake proxy: the exact bytes sent,
// and a clear failure, never a hang, for every way a proxy can misbehave.
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <thread>

#include "config/proxy_entry.h"
#include "net/http_tunnel.h"
#include "net/socks4_handshake.h"
#include "net/socks5_handshake.h"
#include "net/tcp_connection.h"
#include "support/proxy_entries.h"
#include "support/recording_log.h"
#include "support/scripted_server.h"

namespace fetchora {
namespace {

using test::RecordingLog;
using test::ScriptedServer;
using test::ServerScript;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
using namespace std::string_literals;

constexpr int kIdleMs = 2000;

ProxyEntry proxy(uint16_t type, std::string user = {}, std::string password = {})
{
    const uint32_t flags = user.empty() ? 0 : kProxyAuthenticate;
    return test::proxyEntry(type, "127.0.0.1", ProxyEntry{}.port, flags, std::move(user), std::move(password));
}

std::unique_ptr<TcpConnection> connectTo(const ScriptedServer& server, AliveCheck alive = {})
{
    TcpConnectResult connected = TcpConnection::connect(server.host(), server.port(), 2000, std::move(alive));
    EXPECT_TRUE(connected.result.ok());
    return std::move(connected.connection);
}

std::string readAvailable(ByteStream& stream)
{
    char buffer[256];
    const IoResult got = stream.read(buffer, sizeof buffer, 2000);
    return got.ok() ? std::string(buffer, got.bytes) : std::string();
}

const std::string kSocks5Granted = "\x05\x00\x00\x01\x7f\x00\x00\x01\x1f\x90"s;

TEST(Socks4Handshake, SendsTheRequestAndOpensOn5A)
{
    ScriptedServer server(ServerScript().readBytes(9).send("\x00\x5a\x00\x00\x00\x00\x00\x00"s + "220 ready\r\n"));
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result = runSocks4Handshake(*stream, proxy(kProxySocks4), "127.0.0.1", 21, kIdleMs, log);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(server.received(), "\x04\x01\x00\x15\x7f\x00\x00\x01\x00"s);
    EXPECT_TRUE(log.has(ConnectionLogKind::Sent, "Socks: 04 01"));
    // What the target sends at once after the tunnel opens is left for the protocol.
    EXPECT_EQ(readAvailable(*stream), "220 ready\r\n");
}

TEST(Socks4Handshake, Reply5BFailsWithTheReason)
{
    ScriptedServer server(ServerScript().readBytes(9).send("\x00\x5b\x00\x00\x00\x00\x00\x00"s));
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result = runSocks4Handshake(*stream, proxy(kProxySocks4), "127.0.0.1", 80, kIdleMs, log);
    EXPECT_EQ(result.status, IoStatus::Failed);
    EXPECT_NE(result.detail.find("rejected"), std::string::npos) << result.detail;
}

TEST(Socks4Handshake, TargetThatIsNoIpv4AddressFailsBeforeSendingAnything)
{
    ScriptedServer server(ServerScript().stall());
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result = runSocks4Handshake(*stream, proxy(kProxySocks4), "::1", 80, kIdleMs, log);
    EXPECT_EQ(result.status, IoStatus::Failed);
    EXPECT_NE(result.detail.find("IPv4"), std::string::npos);
    EXPECT_EQ(server.received(), "");
}

TEST(Socks5Handshake, WithoutLoginSendsGreetingAndConnectRequest)
{
    ScriptedServer server(
        ServerScript().readBytes(3).send("\x05\x00"s).readBytes(10).send(kSocks5Granted + "SSH-2.0\r\n"));
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result = runSocks5Handshake(*stream, proxy(kProxySocks5), "127.0.0.1", 8080, kIdleMs, log);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(server.received(), "\x05\x01\x00"s + "\x05\x01\x00\x01\x7f\x00\x00\x01\x1f\x90"s);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"Socks: 05 01", "Socks: 05 00", "Socks: 05 01", "Socks: 05 00"}));
    EXPECT_EQ(readAvailable(*stream), "SSH-2.0\r\n");
}

TEST(Socks5Handshake, WithLoginSendsUserAndPasswordWhenTheProxyAsks)
{
    ScriptedServer server(ServerScript()
                              .readBytes(4)
                              .send("\x05\x02"s)
                              .readBytes(1 + 1 + 3 + 1 + 6)
                              .send("\x01\x00"s)
                              .readBytes(7 + 9)
                              .send("\x05\x00\x00\x03\x09localhost\x00\x50"s));
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result
        = runSocks5Handshake(*stream, proxy(kProxySocks5, "bob", "secret"), "localhost", 80, kIdleMs, log);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(server.received(),
              "\x05\x02\x00\x02"s
                  + "\x01\x03"
                    "bob"
                    "\x06"
                    "secret"s
                  + "\x05\x01\x00\x03\x09"
                    "localhost"
                    "\x00\x50"s);
    for (const std::string& line : log.texts())
        EXPECT_EQ(line.find("secret"), std::string::npos);
}

struct Socks5Fault {
    const char* name;
    ServerScript script;
    const char* reason;
};

void PrintTo(const Socks5Fault& fault, std::ostream* out)
{
    *out << fault.name;
}

class Socks5Faults : public testing::TestWithParam<Socks5Fault> { };

TEST_P(Socks5Faults, FailWithAClearReason)
{
    ScriptedServer server(GetParam().script);
    auto stream = connectTo(server);
    RecordingLog log;
    const auto start = Clock::now();
    const IoResult result = runSocks5Handshake(*stream, proxy(kProxySocks5, "u", "p"), "127.0.0.1", 80, kIdleMs, log);
    EXPECT_EQ(result.status, IoStatus::Failed);
    EXPECT_NE(result.detail.find(GetParam().reason), std::string::npos) << result.detail;
    EXPECT_LT(Clock::now() - start, Ms(kIdleMs));
}

INSTANTIATE_TEST_SUITE_P(
    Proxy, Socks5Faults,
    testing::Values(
        Socks5Fault{"NoAcceptableMethod", ServerScript().readBytes(4).send("\x05\xff"s), "none of the offered login"},
        Socks5Fault{"LoginRejected", ServerScript().readBytes(4).send("\x05\x02"s).readBytes(5).send("\x01\x01"s),
                    "rejected the user name or password"},
        Socks5Fault{"TargetRefused",
                    ServerScript().readBytes(4).send("\x05\x00"s).readBytes(10).send("\x05\x05\x00\x01\0\0\0\0\0\0"s),
                    "connection refused by the target"},
        Socks5Fault{"HttpGarbage", ServerScript().readBytes(4).send("HTTP/1.1 400 Bad Request\r\n\r\n"), "not SOCKS5"},
        Socks5Fault{"ClosedMidReply", ServerScript().readBytes(4).closeAfter("\x05\x00"s, 1),
                    "closed the connection during the handshake"},
        Socks5Fault{"UnknownAddressType",
                    ServerScript().readBytes(4).send("\x05\x00"s).readBytes(10).send("\x05\x00\x00\x09"s),
                    "unknown address type"}),
    [](const testing::TestParamInfo<Socks5Fault>& info) { return info.param.name; });

TEST(Socks5Handshake, SilentProxyTimesOutAndLogsTimeOut)
{
    ScriptedServer server(ServerScript().stall());
    auto stream = connectTo(server);
    RecordingLog log;
    const auto start = Clock::now();
    const IoResult result = runSocks5Handshake(*stream, proxy(kProxySocks5), "127.0.0.1", 80, 300, log);
    EXPECT_EQ(result.status, IoStatus::TimedOut);
    EXPECT_GE(Clock::now() - start, Ms(280));
    EXPECT_TRUE(log.has(ConnectionLogKind::Error, "Time out."));
}

TEST(Socks5Handshake, StopDuringTheHandshakeTakesEffectWithinAboutATenthOfASecond)
{
    ScriptedServer server(ServerScript().stall());
    std::atomic<bool> alive{true};
    auto stream = connectTo(server, [&] { return alive.load(); });
    std::atomic<Clock::time_point> stoppedAt{};
    std::thread stopper([&] {
        std::this_thread::sleep_for(Ms(200));
        stoppedAt = Clock::now();
        alive = false;
    });
    RecordingLog log;
    const IoResult result = runSocks5Handshake(*stream, proxy(kProxySocks5), "127.0.0.1", 80, 60000, log);
    const auto reaction = Clock::now() - stoppedAt.load();
    stopper.join();
    EXPECT_EQ(result.status, IoStatus::Stopped);
    EXPECT_LT(reaction, Ms(400));
}

TEST(HttpTunnel, SendsConnectAndOpensOn200LeavingLaterBytesInTheStream)
{
    ScriptedServer server(ServerScript().readRequestHead().send(
        "HTTP/1.0 200 Connection established\r\nProxy-agent: fake\r\n\r\n220 ftp ready\r\n"));
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result
        = runHttpTunnelHandshake(*stream, proxy(kProxyHttpConnect, "user", "pass"), "127.0.0.1", 21, kIdleMs, log);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(server.received(), "CONNECT 127.0.0.1:21 HTTP/1.0\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
    EXPECT_EQ(log.lines(),
              (std::vector<std::pair<ConnectionLogKind, std::string>>{
                  {ConnectionLogKind::Sent, "CONNECT 127.0.0.1:21 HTTP/1.0"},
                  {ConnectionLogKind::Sent, "Proxy-Authorization: Basic ********"},
                  {ConnectionLogKind::Received, "HTTP/1.0 200 Connection established"},
                  {ConnectionLogKind::Received, "Proxy-agent: fake"}}));
    EXPECT_EQ(readAvailable(*stream), "220 ftp ready\r\n");
}

TEST(HttpTunnel, SuccessWithManyHeaderLinesStillOpens)
{
    ScriptedServer server(ServerScript().readRequestHead().send(
        "HTTP/1.1 200 OK\r\nVia: a\r\nDate: b\r\nServer: c\r\nX-Extra: d\r\n\r\n"));
    auto stream = connectTo(server);
    RecordingLog log;
    EXPECT_TRUE(runHttpTunnelHandshake(*stream, proxy(kProxyHttpConnect), "localhost", 443, kIdleMs, log).ok());
}

TEST(HttpTunnel, RefusalIsAFailureEvenWithFewHeaderLines)
{
    ScriptedServer server(ServerScript().readRequestHead().send(
        "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n\r\n"));
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result = runHttpTunnelHandshake(*stream, proxy(kProxyHttpConnect), "localhost", 443, kIdleMs, log);
    EXPECT_EQ(result.status, IoStatus::Failed);
    EXPECT_EQ(result.detail, "The proxy refused the tunnel: HTTP/1.0 407 Proxy Authentication Required");
}

TEST(HttpTunnel, AnswerThatIsNotHttpFailsAtOnce)
{
    ScriptedServer server(ServerScript().readRequestHead().send("SSH-2.0-OpenSSH_9.2\r\n").stall());
    auto stream = connectTo(server);
    RecordingLog log;
    const auto start = Clock::now();
    const IoResult result = runHttpTunnelHandshake(*stream, proxy(kProxyHttpConnect), "localhost", 443, kIdleMs, log);
    EXPECT_EQ(result.status, IoStatus::Failed);
    EXPECT_NE(result.detail.find("not HTTP"), std::string::npos);
    EXPECT_LT(Clock::now() - start, Ms(kIdleMs));
}

TEST(HttpTunnel, EndlessAnswerFailsAfterTheHandshakeBuffer)
{
    ScriptedServer server(
        ServerScript().readRequestHead().send("HTTP/1.0 200 OK\r\n" + std::string(5000, 'x')).stall());
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result = runHttpTunnelHandshake(*stream, proxy(kProxyHttpConnect), "localhost", 443, kIdleMs, log);
    EXPECT_EQ(result.status, IoStatus::Failed);
    EXPECT_NE(result.detail.find("too long"), std::string::npos);
}

TEST(HttpTunnel, ProxyClosingMidAnswerFails)
{
    ScriptedServer server(
        ServerScript().readRequestHead().closeAfter("HTTP/1.0 200 Connection established\r\n\r\n", 20));
    auto stream = connectTo(server);
    RecordingLog log;
    const IoResult result = runHttpTunnelHandshake(*stream, proxy(kProxyHttpConnect), "localhost", 443, kIdleMs, log);
    EXPECT_EQ(result.status, IoStatus::Failed);
    EXPECT_NE(result.detail.find("closed the connection"), std::string::npos);
}

}  // namespace
}  // namespace fetchora
