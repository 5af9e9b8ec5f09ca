#include "platform/ipc_endpoint.h"

#include "platform/message_loop.h"
#include "support/loop_thread.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fetchora {
namespace {

using test::TempDir;
using Outcome = IpcReply::Outcome;

using test::LoopThread;

// A raw client that speaks whatever bytes a test gives it.
class RawClient {
public:
    explicit RawClient(const std::filesystem::path& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        timeval limit{5, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~RawClient() { ::close(m_fd); }
    bool connected() const { return m_connected; }
    void write(const std::string& bytes)
    {
        ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Whether the server closed the connection (an end or a reset, when it
    // left our bytes unread) within 5 s, having sent nothing.
    testing::AssertionResult closedWithoutReply()
    {
        char buffer[4096];
        std::string got;
        for (;;) {
            ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                got.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno != ECONNRESET)
                return testing::AssertionFailure() << "still open: " << std::strerror(errno);
            if (!got.empty())
                return testing::AssertionFailure() << "the server replied " << got.size() << " bytes";
            return testing::AssertionSuccess();
        }
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

class IpcEndpoint : public testing::Test {
protected:
    IpcEndpoint()
        : m_server(m_loop, {"WWW_OPENURL", "DownloadInfo"},
                   [this](const std::string& topic, const std::string& item) -> std::optional<std::string> {
                       m_handlerThread = std::this_thread::get_id();
                       if (item == "none")
                           return std::nullopt;
                       return topic + ":" + item;
                   })
    {
    }

    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_server.listen(socketPath(), error)) << error;
    }

    std::filesystem::path socketPath() const { return m_dir / "Fetchora"; }

    IpcReply ask(std::string_view topic, std::string_view item)
    {
        return ipcRequest(socketPath(), topic, item, std::chrono::milliseconds(3000));
    }

    TempDir m_dir;
    MessageLoop m_loop;
    std::atomic<std::thread::id> m_handlerThread;
    IpcServer m_server;
};

TEST_F(IpcEndpoint, AnswersWithTheHandlersTextFromTheLoopThreadAndTopicsIgnoreCase)
{
    LoopThread loopThread(m_loop);
    IpcReply reply = ask("www_openurl", "http://a/b,http://ref");
    ASSERT_EQ(reply.outcome, Outcome::Data) << reply.error;
    // The handler sees the topic as the server spells it.
    EXPECT_EQ(reply.text, "WWW_OPENURL:http://a/b,http://ref");
    EXPECT_EQ(m_handlerThread.load(), loopThread.id());

    reply = ask("DOWNLOADINFO", "none");
    EXPECT_EQ(reply.outcome, Outcome::NoData);
    EXPECT_TRUE(reply.text.empty());

    reply = ask("System", "1");
    EXPECT_EQ(reply.outcome, Outcome::Refused);
}

TEST_F(IpcEndpoint, SocketIsPrivateAndGoneAfterStop)
{
    struct stat st;
    ASSERT_EQ(::lstat(socketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    m_server.stop();
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    EXPECT_EQ(ask("DownloadInfo", "1").outcome, Outcome::NoServer);
}

TEST_F(IpcEndpoint, OversizedLengthsAreCutOffWithoutAReplyAndTheServerGoesOn)
{
    LoopThread loopThread(m_loop);
    // At once, not after waiting for the bytes announced.
    const auto start = std::chrono::steady_clock::now();
    {
        RawClient hostile(socketPath());
        ASSERT_TRUE(hostile.connected());
        hostile.write(std::string("\xff\xff\xff\xff", 4) + "WWW_OPENURL");
        EXPECT_TRUE(hostile.closedWithoutReply()) << "the server must not try to read 4 GiB";
    }
    {
        RawClient hostile(socketPath());
        std::string request = encodeIpcRequest("WWW_OPENURL", "");
        request.resize(request.size() - 4);
        const uint32_t tooLong = kMaxItemBytes + 1;
        request += std::string{static_cast<char>(tooLong >> 24), static_cast<char>(tooLong >> 16),
                               static_cast<char>(tooLong >> 8), static_cast<char>(tooLong)};
        hostile.write(request);
        EXPECT_TRUE(hostile.closedWithoutReply());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, kServerIoTimeout / 2);
    IpcReply reply = ask("DownloadInfo", "-1");
    ASSERT_EQ(reply.outcome, Outcome::Data) << reply.error;
    EXPECT_EQ(reply.text, "DownloadInfo:-1");
}

TEST_F(IpcEndpoint, ASlowClientIsDroppedAfterTheDeadlineAndOthersAreServedAfterIt)
{
    LoopThread loopThread(m_loop);
    RawClient slow(socketPath());
    ASSERT_TRUE(slow.connected());
    // Half a request, then nothing.
    slow.write(encodeIpcRequest("DownloadInfo", "1").substr(0, 6));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(slow.closedWithoutReply());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, kServerIoTimeout - std::chrono::milliseconds(100));
    EXPECT_LT(waited, kServerIoTimeout + std::chrono::milliseconds(1500));

    IpcReply reply = ask("DownloadInfo", "2");
    ASSERT_EQ(reply.outcome, Outcome::Data) << reply.error;
    EXPECT_EQ(reply.text, "DownloadInfo:2");
}

TEST_F(IpcEndpoint, ARequestWaitingForABusyLoopGetsNoDataWhenTheServerStops)
{
    // Nobody drives the loop: the request waits in its send until stop().
    auto pending = std::async(std::launch::async, [this] { return ask("DownloadInfo", "1"); });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    m_server.stop();
    IpcReply reply = pending.get();
    EXPECT_EQ(reply.outcome, Outcome::NoData) << reply.error;
}

TEST_F(IpcEndpoint, TheClientGivesUpAtItsTimeoutWhenTheLoopDoesNotAnswer)
{
    const auto start = std::chrono::steady_clock::now();
    IpcReply reply = ipcRequest(socketPath(), "DownloadInfo", "1", std::chrono::milliseconds(200));
    EXPECT_EQ(reply.outcome, Outcome::Failed);
    EXPECT_NE(reply.error.find("no reply"), std::string::npos) << reply.error;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST_F(IpcEndpoint, AStaleSocketIsReplacedButALiveServerAndOtherFilesAreNot)
{
    MessageLoop otherLoop;
    IpcServer second(otherLoop, {"DownloadInfo"}, [](const std::string&, const std::string&) { return "x"; });
    std::string error;
    EXPECT_FALSE(second.listen(socketPath(), error));
    EXPECT_NE(error.find("another instance"), std::string::npos) << error;

    // A socket file whose server died.
    const auto stale = m_dir / "stale";
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stale.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    ASSERT_TRUE(std::filesystem::exists(stale));
    EXPECT_TRUE(second.listen(stale, error)) << error;
    second.stop();

    const auto plain = m_dir / "plain";
    test::writeFile(plain, "keep me");
    IpcServer third(otherLoop, {"DownloadInfo"}, [](const std::string&, const std::string&) { return "x"; });
    EXPECT_FALSE(third.listen(plain, error));
    EXPECT_EQ(test::readFile(plain), "keep me");
}

TEST(IpcEndpointPaths, APathTooLongForASocketAddressIsAClearError)
{
    MessageLoop loop;
    IpcServer server(loop, {"DownloadInfo"}, [](const std::string&, const std::string&) { return "x"; });
    const std::filesystem::path longPath = "/tmp/" + std::string(120, 'x') + "/Fetchora";
    EXPECT_FALSE(fitsSocketAddress(longPath));
    std::string error;
    EXPECT_FALSE(server.listen(longPath, error));
    EXPECT_NE(error.find("longer than"), std::string::npos) << error;
    EXPECT_EQ(ipcRequest(longPath, "DownloadInfo", "1").outcome, Outcome::Failed);
}

TEST(IpcEndpointPaths, NoServerIsToldApartFromAFailure)
{
    TempDir dir;
    IpcReply reply = ipcRequest(dir / "Fetchora", "WWW_OPENURL", "http://x/");
    EXPECT_EQ(reply.outcome, Outcome::NoServer);
    EXPECT_FALSE(reply.error.empty());
}

TEST(IpcFraming, FieldsAreLengthPrefixedMostSignificantByteFirst)
{
    EXPECT_EQ(encodeIpcRequest("ab", "xyz"), std::string("\0\0\0\2ab\0\0\0\3xyz", 13));
    EXPECT_EQ(encodeIpcReply(IpcStatus::NoData, ""), std::string("\1\0\0\0\0", 5));
    const std::string big(300, 'q');
    EXPECT_EQ(encodeIpcReply(IpcStatus::Data, big).substr(0, 5), std::string("\0\0\0\x01\x2c", 5));
}

}  // namespace
}  // namespace fetchora
