// Hostile servers end to end: fetchora-cli against scripted servers that lie,
// flood, trickle or point elsewhere. Each case asserts the outcome a user
// sees (completed with the right bytes, or failed naming a cause), that
// nothing was written outside the download folder, and that the run ends in
// bounded time and memory.
//
// The parsers' own limits are unit-tested in tests/net (http_response_test
// EndlessHeadersAreCutOff, http_transfer_test GiantHeaderLineIsRefused,
// ftp_control_test EndlessLinesAndRepliesAreCutOff and NegativeOrGiantSizesAreNoSize,
// ftp_transfer_test PassiveAddressOfAnotherHostIsReplacedByTheControlPeer) and
// tests/engine (response_handling_test RedirectLoopEndsAfterTheLimit,
// job_runner_sites_test EndlessRedirectsEndInsteadOfLooping); a self-signed
// certificate and refused FTP logins are covered end to end in
// cli_failures_test, an unannounced TLS drop in tls_body_end_test.
#include "support/cli_process.h"
#include "support/fault_proxy.h"
#include "support/ftp_scripts.h"
#include "support/loopback_sockets.h"
#include "support/real_peers.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

namespace fetchora {
namespace {

using Clock = std::chrono::steady_clock;
using test::ScriptedServer;
using test::ServerScript;

constexpr const char* kBody = "0123456789abcdefghijklmnopqrstuvwxyz";

// The peak resident size of a live process, in KiB; 0 when it is gone.
int64_t peakKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return std::stoll(line.substr(6));
    return 0;
}

// The dialogue up to the passive reply, as the FTP client sends it for a
// 10-byte file.
ServerScript ftpUpToPassive(const std::string& name, const std::string& passiveReply)
{
    return std::move(test::ftpLoginAndSize("/" + name, "213 10\r\n").readUntil("PASV\r\n").send(passiveReply));
}

class HostileServers : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(box() / "out");
    }

    void TearDown() override
    {
        // Whatever the server sent, nothing landed beside the download folder.
        std::vector<std::string> beside;
        for (const auto& entry : std::filesystem::directory_iterator(box()))
            beside.push_back(entry.path().filename().string());
        EXPECT_EQ(beside, std::vector<std::string>{"out"});
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path())) {
            if (entry.path().filename().string().find("evil") != std::string::npos) {
                EXPECT_EQ(entry.path().parent_path(), out()) << entry.path();
            }
        }
    }

    std::filesystem::path box() const { return m_dir / "box"; }
    std::filesystem::path out() const { return box() / "out"; }

    struct Run {
        int code = -3;
        std::string err;
        double seconds = 0;
        int64_t peakKib = 0;
    };

    // Runs fetchora-cli on one URL without retries, watching its memory.
    Run download(const std::string& url, std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments{"-q", "-d", out().string(), "--retry", "0", "--timeout", "30"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(url);
        Run run;
        const auto started = Clock::now();
        test::CliProcess cli(arguments, test::ownProfileEnvironment(m_dir.path()), m_dir.path());
        const pid_t pid = cli.pid();
        std::atomic<bool> ended{false};
        std::thread watcher([&] {
            while (!ended) {
                run.peakKib = std::max(run.peakKib, peakKib(pid));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        run.code = cli.wait(std::chrono::seconds(180));
        ended = true;
        watcher.join();
        run.err = cli.standardError();
        run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        return run;
    }

    // Failed, saying why, in bounded time and memory, leaving no finished file.
    void expectFailedWithCause(const Run& run, const std::string& name, double seconds)
    {
        EXPECT_EQ(run.code, 1) << run.err;
        const auto at = run.err.find(name + ": failed: ");
        ASSERT_NE(at, std::string::npos) << run.err;
        EXPECT_NE(run.err[at + name.size() + 10], '\n') << run.err;
        EXPECT_LT(run.seconds, seconds) << run.err;
        EXPECT_LT(run.peakKib, m_peakBoundKib) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out() / name));
    }

    static std::string local(const ScriptedServer& server, const std::string& path)
    {
        return "http://127.0.0.1:" + std::to_string(server.port()) + path;
    }

    // Sanitized builds start far bigger; the flood test measures its own
    // baseline instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    int64_t m_peakBoundKib = 1024 * 1024;
#else
    int64_t m_peakBoundKib = 64 * 1024;
#endif
    test::TempDir m_dir;
};

TEST_F(HostileServers, FloodedHeadsFailWithoutBufferingThem)
{
    // One header line of 32 MiB, then 32 MiB of short header lines.
    const std::string giantLine = "HTTP/1.1 200 OK\r\nX-Junk: " + std::string(32 << 20, 'a');
    std::string manyLines = "HTTP/1.1 200 OK\r\n";
    while (manyLines.size() < (32u << 20))
        manyLines += "X-Junk: aaaaaaaaaaaaaaaaaaaa\r\n";
    // What a plain download takes, plus far less than the flood.
    ScriptedServer plain(ServerScript()
                             .readRequestHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 36\r\n\r\n" + std::string(kBody))
                             .close());
    const Run baseline = download(local(plain, "/plain.bin"));
    ASSERT_EQ(baseline.code, 0) << baseline.err;
    ASSERT_GT(baseline.peakKib, 0);
    m_peakBoundKib = baseline.peakKib + 16 * 1024;
    for (const std::string* flood : std::vector<const std::string*>{&giantLine, &manyLines}) {
        ScriptedServer server(ServerScript().readRequestHead().send(*flood).close());
        expectFailedWithCause(download(local(server, "/f.bin")), "f.bin", 20);
    }
}

TEST_F(HostileServers, LyingLengthsNeverPassForAWholeFile)
{
    // Fewer bytes than announced: a failure, not a short file.
    {
        ScriptedServer server(ServerScript()
                                  .readRequestHead()
                                  .send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(kBody))
                                  .close());
        expectFailedWithCause(download(local(server, "/short.bin")), "short.bin", 20);
    }
    // More bytes than announced: the announced length is the file.
    {
        ScriptedServer server(ServerScript()
                                  .readRequestHead()
                                  .send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n" + std::string(kBody))
                                  .close());
        const Run run = download(local(server, "/long.bin"));
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(test::readFile(out() / "long.bin"), std::string(kBody, 10));
    }
    // A range past the size it names.
    {
        ScriptedServer server(ServerScript()
                                  .readRequestHead()
                                  .send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-35/20\r\n"
                                        "Content-Length: 36\r\n\r\n"
                                        + std::string(kBody))
                                  .close());
        expectFailedWithCause(download(local(server, "/beyond.bin")), "beyond.bin", 20);
    }
}

TEST_F(HostileServers, NamesThatClimbOutStayInTheDownloadFolder)
{
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 36\r\nConnection: close\r\n";
    for (const std::string disposition :
         {"attachment; filename=\"../../evil1.txt\"", "attachment; filename=\"/tmp/evil2.txt\"",
          "attachment; filename*=UTF-8''..%2F..%2Fevil3.txt"}) {
        ScriptedServer server(ServerScript()
                                  .readRequestHead()
                                  .send(ok + "Content-Disposition: " + disposition + "\r\n\r\n" + kBody)
                                  .close());
        const Run run = download(local(server, "/f.bin"));
        EXPECT_EQ(run.code, 0) << disposition << "\n" << run.err;
    }
    for (const std::string path :
         {"/%2e%2e%2f%2e%2e%2fevil4.txt", "/a/..%2F..%2F..%2Fevil5.txt", "/a/%2E%2E%5C%2E%2E%5Cevil6.txt"}) {
        ScriptedServer server(ServerScript().readRequestHead().send(ok + "\r\n" + kBody).close());
        const Run run = download(local(server, path));
        EXPECT_EQ(run.code, 0) << path << "\n" << run.err;
    }
    // Every file is in the folder with the body it was sent.
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out())) {
        EXPECT_EQ(test::readFile(entry.path()), kBody) << entry.path();
        ++found;
    }
    EXPECT_EQ(found, 6);
}

TEST_F(HostileServers, EndlessRedirectsEndWithACause)
{
    ScriptedServer server(ServerScript()
                              .readRequestHead()
                              .send("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n")
                              .close());
    // The job is named after where it was sent last.
    expectFailedWithCause(download(local(server, "/f.bin")), "again", 30);
    EXPECT_LT(server.connectionCount(), 100u);
}

TEST_F(HostileServers, PassiveAddressesElsewhereAreNotFollowed)
{
    // 127.0.0.2 stands for another host: the data is fetched from the
    // control connection's peer instead.
    ScriptedServer data(ServerScript().send("0123456789").close());
    ScriptedServer elsewhere(
        std::move(ftpUpToPassive("f.bin", test::passiveReply("127.0.0.2", data.port()))
                      .readUntil("RETR /f.bin\r\n")
                      .send("150 Opening (10 bytes)\r\n")
                      .send("226 Transfer complete\r\n")
                      .stall()));
    const Run run = download("ftp://127.0.0.1:" + std::to_string(elsewhere.port()) + "/f.bin", {"-s", "1"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(test::readFile(out() / "f.bin"), "0123456789");

    // A data port that refuses: a failure naming it.
    ScriptedServer refusing(ftpUpToPassive("g.bin", test::passiveReply("127.0.0.1", test::refusedPort())).stall());
    expectFailedWithCause(download("ftp://127.0.0.1:" + std::to_string(refusing.port()) + "/g.bin", {"-s", "1"}),
                          "g.bin", 20);
}

TEST_F(HostileServers, EndlessMultiLineFtpRepliesFail)
{
    std::string endless;
    while (endless.size() < (16u << 20))
        endless += "220-and another line of welcome\r\n";
    ScriptedServer server(ServerScript().send(endless).stall());
    expectFailedWithCause(download("ftp://127.0.0.1:" + std::to_string(server.port()) + "/f.bin"), "f.bin", 20);
}

TEST_F(HostileServers, SlowLorisHeadsAreGivenUpInBoundedTime)
{
    // A byte of header every 200 ms: never idle long enough for the data
    // time-out, never ending either.
    ServerScript trickle;
    trickle.readRequestHead().send("HTTP/1.1 200 OK\r\nX-Slow: ");
    for (int second = 0; second < 5 * 150; ++second)
        trickle.pause(200).send("a");
    ScriptedServer server(std::move(trickle));
    expectFailedWithCause(download(local(server, "/f.bin")), "f.bin", 60);
}

TEST_F(HostileServers, TlsServerStoppingMidRecordFailsAndNeverCompletes)
{
    test::NginxPeer nginx;
    test::writePseudoRandomFile(nginx.www() / "cut.bin", 1 << 20, 5);
    test::writePseudoRandomFile(nginx.www() / "held.bin", 1 << 20, 6);
    const auto through = [&](const test::FaultProxy& proxy, const std::string& name) {
        return download("https://127.0.0.1:" + std::to_string(proxy.port()) + "/" + name,
                        {"-s", "1", "--ca-file", nginx.certificateFile().string()});
    };
    test::FaultOdds cut;
    cut.everyResetAt = 200000;
    test::FaultProxy cutting(nginx.httpsPort(), test::ProxiedProtocol::Tls, 1, cut);
    expectFailedWithCause(through(cutting, "cut.bin"), "cut.bin", 20);

    // A resumable connection is allowed twice the data time-out of silence.
    test::FaultOdds held;
    held.everyStallAt = 200000;
    test::FaultProxy holding(nginx.httpsPort(), test::ProxiedProtocol::Tls, 1, held);
    expectFailedWithCause(through(holding, "held.bin"), "held.bin", 90);
}

}  // namespace
}  // namespace fetchora
