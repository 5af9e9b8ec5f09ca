// The FTP test servers themselves: their welcome texts, their per-address
// session limits and the session counts the FTP download tests rely on.
#include "support/real_peers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fetchora {
namespace {

using test::FtpPeerOptions;

// One control connection, read up to the end of its first reply.
class ControlConnection {
public:
    explicit ControlConnection(uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~ControlConnection() { close(); }
    ControlConnection(const ControlConnection&) = delete;
    ControlConnection& operator=(const ControlConnection&) = delete;

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Everything up to and with the reply's last line ("NNN text"), or what
    // came before the server closed or two seconds passed.
    std::string readReply()
    {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (m_fd >= 0 && std::chrono::steady_clock::now() < deadline) {
            const size_t lastLine = text.rfind('\n', text.size() >= 2 ? text.size() - 2 : 0);
            const size_t from = lastLine == std::string::npos ? 0 : lastLine + 1;
            if (!text.empty() && text.back() == '\n' && text.size() - from > 4 && text[from + 3] == ' ')
                break;
            pollfd readable{m_fd, POLLIN, 0};
            if (::poll(&readable, 1, 50) <= 0)
                continue;
            char buffer[512];
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }

private:
    int m_fd = -1;
};

TEST(FtpPeers, PyftpdlibSendsItsWelcomeLinesCountsSessionsAndRefusesPastItsLimit)
{
    FtpPeerOptions options;
    options.banner = {"Fetchora test", "fetchora: maxconnection=2"};
    options.maxSessionsPerAddress = 2;
    test::PyftpdlibPeer peer(options);

    ControlConnection first(peer.port());
    EXPECT_EQ(first.readReply(), "220-Fetchora test\r\n220 fetchora: maxconnection=2\r\n");
    ControlConnection second(peer.port());
    EXPECT_EQ(second.readReply().substr(0, 4), "220-");
    ControlConnection third(peer.port());
    EXPECT_EQ(third.readReply().substr(0, 4), "421 ");
    EXPECT_EQ(peer.peakSessions(), 2);
    EXPECT_EQ(peer.refusedSessions(), 1);

    // A closed session frees its place.
    first.close();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string reply;
    while (reply.substr(0, 4) != "220-" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ControlConnection again(peer.port());
        reply = again.readReply();
    }
    EXPECT_EQ(reply.substr(0, 4), "220-");
    EXPECT_EQ(peer.peakSessions(), 2);
}

TEST(FtpPeers, VsftpdSendsAMultiLineWelcomeAndRefusesPastItsLimit)
{
    FtpPeerOptions options;
    options.banner = {"Fetchora test", "FETCHORA: MAXCONNECTION=1"};
    options.maxSessionsPerAddress = 1;
    test::VsftpdPeer peer(options);

    ControlConnection first(peer.port());
    const std::string welcome = first.readReply();
    EXPECT_NE(welcome.find("220-Fetchora test\r\n"), std::string::npos) << welcome;
    EXPECT_NE(welcome.find("FETCHORA: MAXCONNECTION=1\r\n"), std::string::npos) << welcome;
    ControlConnection second(peer.port());
    EXPECT_EQ(second.readReply().substr(0, 4), "421 ");
}

}  // namespace
}  // namespace fetchora
