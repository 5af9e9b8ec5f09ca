#include "platform/tcp_connection_count.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

namespace fetchora {
namespace {

// Lines as the kernel writes them: a LISTEN socket, an ESTABLISHED one, a
// TIME_WAIT one, a SYN_SENT and a SYN_RECV one.
const char* const kTcpTable
    = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 12345 1 "
      "0000000000000000 100 0 0 10 0\n"
      "   1: 0100007F:A2C4 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1000        0 22334 1 "
      "0000000000000000 20 4 30 10 -1\n"
      "   2: 0100007F:A2C6 0100007F:1F90 06 00000000:00000000 03:00000D2F 00000000     0        0 0 3 "
      "0000000000000000\n"
      "   3: 0A00020F:C350 5DB8D822:01BB 02 00000001:00000000 01:00000064 00000002  1000        0 4455 1 "
      "0000000000000000 200 0 0 10 -1\n"
      "   4: 0100007F:1F90 0100007F:A2C8 03 00000000:00000000 01:00000064 00000000     0        0 0 0 "
      "0000000000000000\n";

const char* const kTcp6Table
    = "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
      "tm->when retrnsmt   uid  timeout inode\n"
      "   0: 00000000000000000000000001000000:1F90 00000000000000000000000000000000:0000 0A 00000000:00000000 "
      "00:00000000 00000000     0        0 999 1 0000000000000000 100 0 0 10 0\n"
      "   1: 00000000000000000000000001000000:B0B0 00000000000000000000000001000000:1F90 01 00000000:00000000 "
      "00:00000000 00000000  1000        0 998 1 0000000000000000 20 4 30 10 -1\n";

TEST(TcpConnectionCountTest, CountsOpeningAndEstablishedEntriesOnly)
{
    EXPECT_EQ(countOpenTcpEntries(kTcpTable), 3u);
    EXPECT_EQ(countOpenTcpEntries(kTcp6Table), 1u);
}

TEST(TcpConnectionCountTest, SkipsLinesThatAreNotTableEntries)
{
    const std::vector<std::string> notEntries = {
        "",
        "  sl  local_address rem_address   st",
        "   0: 0100007F:1F90 0100007F:A2C4",  // cut before the state
        "   0: 0100007F:1F90 0100007F:A2C4 1",  // one-digit state
        "   0: 0100007F:1F90 0100007F:A2C4 0x1 0:0",  // not two hex digits
        "   x: 0100007F:1F90 0100007F:A2C4 01 0:0",  // slot is not a number
        "   0: 0100007F-1F90 0100007F:A2C4 01 0:0",  // address without a port
        "   0: 0100007G:1F90 0100007F:A2C4 01 0:0",  // not hex
        "   0: 0100007F: 0100007F:A2C4 01 0:0",  // empty port
        std::string("   0: 0100007F:1F90 0100007F:A2C4 0\0", 36),  // embedded NUL
    };
    for (const auto& line : notEntries)
        EXPECT_EQ(countOpenTcpEntries(line), 0u) << line;
    // A table cut off in the middle of a line still counts its whole lines,
    // and Windows line ends or tabs do not matter.
    const std::string cut = std::string(kTcpTable).substr(0, std::string(kTcpTable).find("   4:") + 20);
    EXPECT_EQ(countOpenTcpEntries(cut), 2u);
    EXPECT_EQ(countOpenTcpEntries("\t0:\t0100007F:1F90\t0100007F:A2C4\t01\r\n"), 1u);
}

TEST(TcpConnectionCountTest, MonitorAddsBothTablesAndToleratesAMissingOne)
{
    std::map<std::string, std::string> files = {{"tcp", kTcpTable}, {"tcp6", kTcp6Table}};
    auto reader = [&](const std::filesystem::path& path) -> std::optional<std::string> {
        const auto it = files.find(path.string());
        if (it == files.end())
            return std::nullopt;
        return it->second;
    };
    ProcTcpConnectionMonitor both({"tcp", "tcp6"}, reader);
    EXPECT_EQ(both.openConnections(), 4u);

    files.erase("tcp6");  // IPv6 disabled
    EXPECT_EQ(both.openConnections(), 3u);

    files.clear();
    EXPECT_EQ(both.openConnections(), std::nullopt);
}

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

TEST(TcpConnectionCountTest, SeesALoopbackConnectionOfThisProcess)
{
    if (!std::filesystem::exists("/proc/net/tcp"))
        GTEST_SKIP() << "no /proc/net/tcp";
    EXPECT_EQ(ProcTcpConnectionMonitor::readWholeFile("/nonexistent/tcp"), std::nullopt);

    Fd listener{::socket(AF_INET, SOCK_STREAM, 0)};
    ASSERT_GE(listener.fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.fd, 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    Fd client{::socket(AF_INET, SOCK_STREAM, 0)};
    ASSERT_EQ(::connect(client.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    Fd server{::accept(listener.fd, nullptr, nullptr)};
    ASSERT_GE(server.fd, 0);

    // Both ends are ESTABLISHED; the listener does not count. Other programs
    // may hold more connections, so only a lower bound is certain.
    const auto count = ProcTcpConnectionMonitor().openConnections();
    ASSERT_TRUE(count.has_value());
    EXPECT_GE(*count, 2u);
}

}  // namespace
}  // namespace fetchora
