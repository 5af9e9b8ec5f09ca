#include "platform/ipc_endpoint.h"

#include "platform/message_loop.h"
#include "support/loop_thread.h"
#include "support/other_user.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <iostream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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
        : m_server(m_loop, {"WWW_OPENURL", "DownloadInfo", "ClickCatcher", "BrowserCatch", "Activate", "TakeOver"},
                   [this](const std::string& topic, const std::string& item) -> std::optional<std::string> {
                       m_handlerThread = std::this_thread::get_id();
                       ++m_calls;
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
    std::atomic<int> m_calls{0};
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

// ---- other users and floods -------------------------------------------------

const char* const kEveryTopic[]
    = {"WWW_OPENURL", "DownloadInfo", "ClickCatcher", "BrowserCatch", "Activate", "TakeOver"};

// What came of one raw request (run in the other user's child).
enum RawOutcome { kClosedUnanswered = 0, kNotConnected = 10, kAnswered = 11, kStillOpen = 12 };

int rawRequest(const std::filesystem::path& path, const std::string& request)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return kNotConnected;
    }
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    [[maybe_unused]] const ssize_t sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[64];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    const int error = errno;
    ::close(fd);
    if (n > 0)
        return kAnswered;
    return n == 0 || error == ECONNRESET ? kClosedUnanswered : kStillOpen;
}

// Every topic's request from the other user; 0 when each came out as
// expected, else 1 + the outcome of the first that did not.
int everyTopicAsOtherUser(const std::filesystem::path& path, int expected)
{
    for (const char* topic : kEveryTopic) {
        const int got = rawRequest(path, encodeIpcRequest(topic, "http://h/planted.zip"));
        if (got != expected)
            return 1 + got;
    }
    return 0;
}

TEST_F(IpcEndpoint, AnotherUserGetsNothingOnAnyTopicAndTheOwnerIsStillServed)
{
    if (const std::string why = test::otherUserUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    LoopThread loopThread(m_loop);
    ::chmod(m_dir.path().c_str(), 0711);
    // The socket file's mode keeps the other user out...
    EXPECT_EQ(test::runAsOtherUser([&] { return everyTopicAsOtherUser(socketPath(), kNotConnected); }), 0);
    // ...and when a lax mode lets the connection through, the server's own
    // check of the peer closes it unanswered.
    ASSERT_EQ(::chmod(socketPath().c_str(), 0666), 0);
    EXPECT_EQ(test::runAsOtherUser([&] { return everyTopicAsOtherUser(socketPath(), kClosedUnanswered); }), 0);
    EXPECT_EQ(m_calls.load(), 0) << "a request of another user reached the handler";

    IpcReply reply = ask("DownloadInfo", "1");
    ASSERT_EQ(reply.outcome, Outcome::Data) << reply.error;
    EXPECT_EQ(reply.text, "DownloadInfo:1");
}

// Serves at path as the other user until endFd reads its end, taking every
// byte it is sent; 0 when nobody sent it any.
int plantedServer(const std::filesystem::path& path, int readyFd, int endFd)
{
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener, 8) != 0)
        return 2;
    [[maybe_unused]] const ssize_t told = ::write(readyFd, "r", 1);
    size_t received = 0;
    for (;;) {
        pollfd entries[2] = {{listener, POLLIN, 0}, {endFd, POLLIN, 0}};
        if (::poll(entries, 2, 10000) <= 0)
            return 3;
        if (entries[1].revents != 0)
            break;
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0)
            continue;
        pollfd in{connection, POLLIN, 0};
        char buffer[256];
        while (::poll(&in, 1, 300) > 0) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            received += static_cast<size_t>(n);
        }
        ::close(connection);
    }
    // The socket file stays, as one of a server that died.
    return received == 0 ? 0 : 1;
}

TEST_F(IpcEndpoint, ASocketPlantedByAnotherUserIsNeitherTalkedToNorReplaced)
{
    if (const std::string why = test::otherUserUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    LoopThread loopThread(m_loop);
    const std::filesystem::path planted = test::makeSharedFolder(m_dir.path(), "shared") / "Fetchora";
    int ready[2];
    int end[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(end, O_CLOEXEC), 0);
    auto child = std::async(std::launch::async, [&] {
        return test::runAsOtherUser([&] {
            ::close(ready[0]);
            ::close(end[1]);
            return plantedServer(planted, ready[1], end[0]);
        });
    });
    // Our ends stay open until the child has surely been forked (the fork
    // runs on the other thread).
    pollfd wait{ready[0], POLLIN, 0};
    char byte = 0;
    ASSERT_TRUE(::poll(&wait, 1, 10000) == 1 && ::read(ready[0], &byte, 1) == 1) << "the planted server did not start";
    ::close(ready[0]);
    ::close(ready[1]);
    ::close(end[0]);

    MessageLoop otherLoop;
    IpcServer second(otherLoop, {"WWW_OPENURL"}, [](const std::string&, const std::string&) { return "x"; });
    std::string error;
    EXPECT_FALSE(second.listen(planted, error));
    EXPECT_NE(error.find("another user"), std::string::npos) << error;
    // A second instance must not hand its URL to someone else's socket.
    const IpcReply reply = ipcRequest(planted, "WWW_OPENURL", "http://h/private.zip", std::chrono::milliseconds(2000));
    EXPECT_EQ(reply.outcome, Outcome::Failed);
    EXPECT_NE(reply.error.find("another user"), std::string::npos) << reply.error;
    ::close(end[1]);
    EXPECT_EQ(child.get(), 0) << "the planted server was sent bytes";

    // Its server gone, the socket file is still someone else's: left alone.
    EXPECT_FALSE(second.listen(planted, error));
    EXPECT_NE(error.find("another user"), std::string::npos) << error;
    struct stat st;
    ASSERT_EQ(::lstat(planted.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, test::kOtherUid);

    EXPECT_EQ(ask("DownloadInfo", "2").text, "DownloadInfo:2");
}

size_t entriesIn(const char* folder)
{
    size_t count = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++count;
    return count;
}

// The flood, in a process of its own: 1,000 connections, up to 200 at once,
// in four kinds: one never writes, one writes a byte of a request a second,
// one sends a frame announcing a topic of 2 GiB, one sends half a request
// and then nothing. A closed connection makes room for the next. Tells
// startedFd once the first 50 are in. 0 when all were made and none was
// answered.
int flood(const std::filesystem::path& path, int startedFd)
{
    using Clock = std::chrono::steady_clock;
    constexpr int kConnects = 1000;
    constexpr size_t kAtOnce = 200;
    struct Peer {
        int fd;
        int kind;
        size_t dribbled;
        Clock::time_point nextByte;
    };
    const std::string request = encodeIpcRequest("WWW_OPENURL", "http://h/flood.zip");
    std::string garbage = "\x7f\xff\xff\xf0";
    for (int i = 0; i < 60; ++i)
        garbage += static_cast<char>(i * 37 + 11);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());

    std::vector<Peer> peers;
    std::vector<pollfd> entries;
    int made = 0;
    int answered = 0;
    bool told = false;
    const auto start = Clock::now();
    while (made < kConnects || !peers.empty()) {
        const auto now = Clock::now();
        const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
        if (elapsedMs > 25000)
            return 3;
        // Paced so the flood lasts about three seconds.
        while (made < kConnects && peers.size() < kAtOnce && made < 50 + elapsedMs / 3) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                const int error = errno;
                ::close(fd);
                if (error == EAGAIN)
                    break;
                return 2;
            }
            Peer peer{fd, made % 4, 0, now};
            if (peer.kind == 2) [[maybe_unused]]
                const ssize_t n = ::send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL);
            if (peer.kind == 3) [[maybe_unused]]
                const ssize_t n = ::send(fd, request.data(), request.size() / 2, MSG_NOSIGNAL);
            peers.push_back(peer);
            ++made;
        }
        if (!told && made >= 50) {
            [[maybe_unused]] const ssize_t n = ::write(startedFd, "s", 1);
            told = true;
        }
        entries.clear();
        for (const Peer& peer : peers)
            entries.push_back({peer.fd, POLLIN, 0});
        ::poll(entries.data(), entries.size(), 20);
        std::vector<Peer> kept;
        for (size_t i = 0; i < peers.size(); ++i) {
            Peer& peer = peers[i];
            bool open = true;
            if (entries[i].revents != 0) {
                char buffer[64];
                const ssize_t n = ::recv(peer.fd, buffer, sizeof buffer, 0);
                if (n > 0)
                    ++answered;
                open = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            }
            if (open && peer.kind == 1 && Clock::now() >= peer.nextByte && peer.dribbled < request.size()) {
                [[maybe_unused]] const ssize_t n = ::send(peer.fd, request.data() + peer.dribbled++, 1, MSG_NOSIGNAL);
                peer.nextByte += std::chrono::seconds(1);
            }
            if (open)
                kept.push_back(peer);
            else
                ::close(peer.fd);
        }
        peers.swap(kept);
    }
    return answered == 0 ? 0 : 4;
}

TEST_F(IpcEndpoint, AFloodOfIdleDribblingAndGarbageClientsNeitherStarvesTheOwnerNorGrowsTheServer)
{
    LoopThread loopThread(m_loop);
    int started[2];
    ASSERT_EQ(::pipe2(started, O_CLOEXEC), 0);
    const size_t fdsBefore = entriesIn("/proc/self/fd");
    const size_t threadsBefore = entriesIn("/proc/self/task");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(started[0]);
        ::_exit(flood(socketPath(), started[1]));
    }
    ::close(started[1]);
    pollfd wait{started[0], POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 10000), 1) << "the flood did not start";

    // The owner asks on and on, with the client's usual time-out, while the
    // flood goes on.
    int asked = 0;
    int answered = 0;
    std::string firstFailure;
    std::chrono::steady_clock::duration slowest{};
    size_t mostFds = 0;
    size_t mostThreads = 0;
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    while (::waitpid(pid, &status, WNOHANG) == 0
           && std::chrono::steady_clock::now() - start < std::chrono::seconds(40)) {
        const std::string item = std::to_string(asked++);
        const auto sent = std::chrono::steady_clock::now();
        const IpcReply reply = ipcRequest(socketPath(), "DownloadInfo", item);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - sent);
        if (reply.outcome == Outcome::Data && reply.text == "DownloadInfo:" + item)
            ++answered;
        else if (firstFailure.empty())
            firstFailure = "request " + item + ": " + reply.error;
        mostFds = std::max(mostFds, entriesIn("/proc/self/fd"));
        mostThreads = std::max(mostThreads, entriesIn("/proc/self/task"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto lasted = std::chrono::steady_clock::now() - start;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2 connect failed, 3 the flood did not end, 4 a flood client got a reply";
    EXPECT_GE(asked, 10);
    EXPECT_EQ(answered, asked) << firstFailure;
    // The server holds at most its cap of connections, and for a moment the
    // newcomer it drops one for, all on the one thread it has.
    EXPECT_LE(mostFds, fdsBefore - 1 + kMaxServerClients + 1);
    EXPECT_EQ(mostThreads, threadsBefore);
    // Once the deadlines have passed, every flood connection is gone.
    size_t fdsAfter = entriesIn("/proc/self/fd");
    for (int i = 0; i < 300 && fdsAfter > fdsBefore - 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fdsAfter = entriesIn("/proc/self/fd");
    }
    EXPECT_EQ(fdsAfter, fdsBefore - 1);
    ::close(started[0]);
    std::cout << "[flood] 1000 connects over " << std::chrono::duration_cast<std::chrono::milliseconds>(lasted).count()
              << " ms; owner " << answered << "/" << asked << " answered, slowest "
              << std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count() << " ms; descriptors "
              << fdsBefore - 1 << " before, " << mostFds << " at most, " << fdsAfter << " after; threads "
              << threadsBefore << "/" << mostThreads << "\n";
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

// A failure keeps its kind, socket, errno and count apart from its English,
// which the reply's error and listen's text still read.
TEST(IpcEndpointPaths, FailuresKeepTheirKindSocketAndCount)
{
    TempDir dir;
    const IpcReply none = ipcRequest(dir / "Fetchora", "WWW_OPENURL", "http://x/");
    EXPECT_EQ(none.fault.kind, IpcFaultKind::NoInstance);
    EXPECT_EQ(none.fault.path, dir / "Fetchora");
    EXPECT_EQ(none.error, "no instance is running (nothing listens at " + (dir / "Fetchora").string() + ")");

    const std::filesystem::path longPath = "/tmp/" + std::string(120, 'x') + "/Fetchora";
    const IpcReply tooLong = ipcRequest(longPath, "DownloadInfo", "1");
    EXPECT_EQ(tooLong.fault.kind, IpcFaultKind::PathTooLong);
    EXPECT_EQ(tooLong.error, ipcFaultEnglish(tooLong.fault));
    const IpcReply hugeItem = ipcRequest(dir / "Fetchora", "DownloadInfo", std::string(kMaxItemBytes + 1, 'i'));
    EXPECT_EQ(hugeItem.outcome, Outcome::Failed);
    EXPECT_EQ(hugeItem.fault.kind, IpcFaultKind::RequestTooLong);
    EXPECT_EQ(hugeItem.error, "the request is too long");

    MessageLoop loop;
    IpcServer server(loop, {"DownloadInfo"}, [](const std::string&, const std::string&) { return "x"; });
    IpcFault fault;
    EXPECT_FALSE(server.listen(longPath, fault));
    EXPECT_EQ(fault.kind, IpcFaultKind::PathTooLongToServe);
    EXPECT_EQ(fault.number, static_cast<int64_t>(sizeof(sockaddr_un::sun_path) - 1));
    EXPECT_NE(ipcFaultEnglish(fault).find("longer than the " + std::to_string(fault.number) + " bytes"),
              std::string::npos)
        << ipcFaultEnglish(fault);
    const auto plain = dir / "plain";
    test::writeFile(plain, "keep me");
    EXPECT_FALSE(server.listen(plain, fault));
    EXPECT_EQ(fault.kind, IpcFaultKind::NotASocket);
    EXPECT_EQ(fault.path, plain);
    std::string error;
    EXPECT_FALSE(server.listen(plain, error));
    EXPECT_EQ(error, plain.string() + " exists and is not a socket; remove it if it is not needed");
    EXPECT_EQ(ipcFaultEnglish({}), "");
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
