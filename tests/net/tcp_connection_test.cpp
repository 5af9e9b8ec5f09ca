#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "net/socket_error.h"
#include "net/tcp_connection.h"
#include "support/scripted_server.h"

namespace fetchora {
namespace {

using test::ScriptedServer;
using test::ServerScript;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// A loopback port that refuses connections: bound by nobody right after this.
uint16_t closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A loopback listener that never accepts, with its queue already full: the
// next connect to it gets no answer at all, as from a host that is down.
class FullBacklogListener {
public:
    FullBacklogListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 0);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~FullBacklogListener()
    {
        ::close(m_filler);
        ::close(m_listener);
    }
    uint16_t port() const { return m_port; }

private:
    int m_listener = -1;
    int m_filler = -1;
    uint16_t m_port = 0;
};

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
    const TcpConnectResult connected = TcpConnection::connect("127.0.0.1", closedPort(), 2000, {});
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
    FullBacklogListener silent;
    const auto start = Clock::now();
    const TcpConnectResult connected = TcpConnection::connect("127.0.0.1", silent.port(), 300, {});
    const auto took = Clock::now() - start;
    EXPECT_EQ(connected.result.status, IoStatus::TimedOut);
    EXPECT_GE(took, Ms(280));
    EXPECT_LT(took, Ms(2000));
}

TEST(TcpConnection, StopDuringConnectTakesEffectWithinAboutATenthOfASecond)
{
    FullBacklogListener silent;
    std::atomic<bool> alive{true};
    std::atomic<Clock::time_point> stoppedAt{};
    std::thread stopper([&] {
        std::this_thread::sleep_for(Ms(200));
        stoppedAt = Clock::now();
        alive = false;
    });
    const TcpConnectResult connected =
        TcpConnection::connect("127.0.0.1", silent.port(), 30000, [&] { return alive.load(); });
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
    TcpConnectResult connected =
        TcpConnection::connect("127.0.0.1", server.port(), 2000, [&] { return alive.load(); });
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
