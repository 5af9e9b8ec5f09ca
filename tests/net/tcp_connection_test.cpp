#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "net/socket_error.h"
#include "net/tcp_connection.h"
#include "support/loopback_sockets.h"
#include "support/scripted_server.h"

namespace fetchora {
namespace {

using test::ScriptedServer;
using test::ServerScript;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

std::string readAll(ByteStream& stream)
{
    std::string text;
    char buffer[256];
    for (;;) {
        const IoResult got = stream.read(buffer, sizeof buffer, 2000);
        if (!got.ok())
            return text;
        text.append(buffer, got.bytes);
    }
}

TEST(TcpConnection, ConnectsToLoopbackAndMovesBytesBothWays)
{
    ScriptedServer server(ServerScript().readBytes(5).send("world"));
    TcpConnectResult connected = TcpConnection::connect("127.0.0.1", server.port(), 2000, {});
    ASSERT_TRUE(connected.result.ok());
    ASSERT_TRUE(writeAll(*connected.connection, "hello", 1000).ok());
    EXPECT_EQ(readAll(*connected.connection), "world");
    EXPECT_EQ(server.received(), "hello");
}

TEST(TcpConnection, ConnectsOverIpv6Loopback)
{
    ScriptedServer server(ServerScript().send("six"), true);
    TcpConnectResult connected = TcpConnection::connect("::1", server.port(), 2000, {});
    ASSERT_TRUE(connected.result.ok()) << connected.result.socketError;
    EXPECT_EQ(readAll(*connected.connection), "six");
}

TEST(TcpConnection, RefusedConnectionGivesCode10061)
{
    const TcpConnectResult connected = TcpConnection::connect("127.0.0.1", test::refusedPort(), 2000, {});
    EXPECT_EQ(connected.result.status, IoStatus::Failed);
    EXPECT_EQ(connected.result.socketError, kWsaEconnrefused);
    EXPECT_EQ(connected.connection, nullptr);
}

TEST(TcpConnection, HostThatCannotBeLookedUpGivesCode10022)
{
    const TcpConnectResult connected = TcpConnection::connect("", 80, 2000, {});
    EXPECT_EQ(connected.result.status, IoStatus::Failed);
    EXPECT_EQ(connected.result.socketError, kWsaEinval);
}

TEST(TcpConnection, UnansweredConnectTimesOutAfterTheConnectTimeOut)
{
    test::SilentListener silent;
    const auto start = Clock::now();
    const TcpConnectResult connected = TcpConnection::connect("127.0.0.1", silent.port(), 300, {});
    const auto took = Clock::now() - start;
    EXPECT_EQ(connected.result.status, IoStatus::TimedOut);
    EXPECT_GE(took, Ms(280));
    EXPECT_LT(took, Ms(2000));
}

TEST(TcpConnection, StopDuringConnectTakesEffectWithinAboutATenthOfASecond)
{
    test::SilentListener silent;
    std::atomic<bool> alive{true};
    std::atomic<Clock::time_point> stoppedAt{};
    std::thread stopper([&] {
        std::this_thread::sleep_for(Ms(200));
        stoppedAt = Clock::now();
        alive = false;
    });
    const TcpConnectResult connected
        = TcpConnection::connect("127.0.0.1", silent.port(), 30000, [&] { return alive.load(); });
    const auto reaction = Clock::now() - stoppedAt.load();
    stopper.join();
    EXPECT_EQ(connected.result.status, IoStatus::Stopped);
    EXPECT_LT(reaction, Ms(400));
}

TEST(TcpConnection, ReadWaitsAtMostItsTimeOutAndThenStillWorks)
{
    ScriptedServer server(ServerScript().pause(500).send("late"));
    TcpConnectResult connected = TcpConnection::connect("127.0.0.1", server.port(), 2000, {});
    ASSERT_TRUE(connected.result.ok());
    char buffer[16];
    const auto start = Clock::now();
    EXPECT_EQ(connected.connection->read(buffer, sizeof buffer, 100).status, IoStatus::TimedOut);
    EXPECT_LT(Clock::now() - start, Ms(450));
    EXPECT_EQ(connected.connection->read(buffer, sizeof buffer, 0).status, IoStatus::TimedOut);
    EXPECT_EQ(readAll(*connected.connection), "late");
}

TEST(TcpConnection, StopDuringReadTakesEffectWithinAboutATenthOfASecond)
{
    ScriptedServer server(ServerScript().stall());
    std::atomic<bool> alive{true};
    TcpConnectResult connected = TcpConnection::connect("127.0.0.1", server.port(), 2000, [&] { return alive.load(); });
    ASSERT_TRUE(connected.result.ok());
    std::atomic<Clock::time_point> stoppedAt{};
    std::thread stopper([&] {
        std::this_thread::sleep_for(Ms(200));
        stoppedAt = Clock::now();
        alive = false;
    });
    char buffer[16];
    const IoResult got = connected.connection->read(buffer, sizeof buffer, kWaitForever);
    const auto reaction = Clock::now() - stoppedAt.load();
    stopper.join();
    EXPECT_EQ(got.status, IoStatus::Stopped);
    EXPECT_LT(reaction, Ms(400));
}

TEST(TcpConnection, OrderlyCloseReadsAsClosedAndResetAsCode10054)
{
    ScriptedServer closing(ServerScript().send("bye").close());
    TcpConnectResult first = TcpConnection::connect("127.0.0.1", closing.port(), 2000, {});
    ASSERT_TRUE(first.result.ok());
    EXPECT_EQ(readAll(*first.connection), "bye");
    char buffer[16];
    EXPECT_EQ(first.connection->read(buffer, sizeof buffer, 1000).status, IoStatus::Closed);

    ScriptedServer resetting(ServerScript().readBytes(1).reset());
    TcpConnectResult second = TcpConnection::connect("127.0.0.1", resetting.port(), 2000, {});
    ASSERT_TRUE(second.result.ok());
    ASSERT_TRUE(writeAll(*second.connection, "x", 1000).ok());
    const IoResult got = second.connection->read(buffer, sizeof buffer, 2000);
    EXPECT_EQ(got.status, IoStatus::Failed);
    EXPECT_EQ(got.socketError, kWsaEconnreset);
}

}  // namespace
}  // namespace fetchora
