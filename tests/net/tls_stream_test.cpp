// TLS sessions against peers that never finish the handshake; the real
// handshakes run against nginx in real_peer_connection_test.cpp.
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "net/tcp_connection.h"
#include "net/tls_stream.h"
#include "support/scripted_server.h"

namespace fetchora {
namespace {

using test::ScriptedServer;
using test::ServerScript;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

class TlsStreamTest : public testing::Test {
protected:
    std::unique_ptr<ByteStream> connectTo(const ScriptedServer& server, AliveCheck alive = {})
    {
        TcpConnectResult connected = TcpConnection::connect(server.host(), server.port(), 2000, std::move(alive));
        EXPECT_TRUE(connected.result.ok());
        return std::move(connected.connection);
    }

    std::unique_ptr<TlsClientContext> m_context = TlsClientContext::create({});
};

TEST_F(TlsStreamTest, SilentServerTimesOutTheHandshake)
{
    ScriptedServer server(ServerScript().stall());
    const auto start = Clock::now();
    const TlsStartResult started = TlsStream::start(*m_context, connectTo(server), "localhost", 300);
    EXPECT_EQ(started.result.status, IoStatus::TimedOut);
    EXPECT_GE(Clock::now() - start, Ms(280));
    EXPECT_EQ(started.stream, nullptr);
    // The client hello went out, naming the host.
    EXPECT_NE(server.received().find("localhost"), std::string::npos);
}

TEST_F(TlsStreamTest, StopDuringTheHandshakeTakesEffectWithinAboutATenthOfASecond)
{
    ScriptedServer server(ServerScript().stall());
    std::atomic<bool> alive{true};
    auto lower = connectTo(server, [&] { return alive.load(); });
    std::atomic<Clock::time_point> stoppedAt{};
    std::thread stopper([&] {
        std::this_thread::sleep_for(Ms(200));
        stoppedAt = Clock::now();
        alive = false;
    });
    const TlsStartResult started = TlsStream::start(*m_context, std::move(lower), "localhost", 60000);
    const auto reaction = Clock::now() - stoppedAt.load();
    stopper.join();
    EXPECT_EQ(started.result.status, IoStatus::Stopped);
    EXPECT_LT(reaction, Ms(400));
}

TEST_F(TlsStreamTest, ServerAnsweringGarbageFailsWithAReason)
{
    ScriptedServer server(ServerScript().readBytes(1).send("HTTP/1.1 400 Bad Request\r\n\r\n").close());
    const TlsStartResult started = TlsStream::start(*m_context, connectTo(server), "127.0.0.1", 2000);
    EXPECT_EQ(started.result.status, IoStatus::Failed);
    EXPECT_NE(started.result.detail.find("TLS handshake with 127.0.0.1 failed: "), std::string::npos)
        << started.result.detail;
}

TEST_F(TlsStreamTest, ServerClosingMidHandshakeFails)
{
    ScriptedServer server(ServerScript().readBytes(1).close());
    const TlsStartResult started = TlsStream::start(*m_context, connectTo(server), "localhost", 2000);
    EXPECT_EQ(started.result.status, IoStatus::Failed);
    EXPECT_FALSE(started.result.detail.empty());
}

TEST(TlsClientContext, UnreadableCaFileIsRefusedWithItsName)
{
    std::string error;
    TlsSettings settings;
    settings.extraCaFile = "/nonexistent/ca.pem";
    EXPECT_EQ(TlsClientContext::create(settings, &error), nullptr);
    EXPECT_NE(error.find("/nonexistent/ca.pem"), std::string::npos);
}

}  // namespace
}  // namespace fetchora
