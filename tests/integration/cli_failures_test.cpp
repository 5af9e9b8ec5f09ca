// fetchora-cli's failures end to end: permanent errors fail a URL at once and
// say why on standard error; transient ones retry with the configured wait
// (or the one the server asks for) and the download completes.
#include "config/app_settings.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "support/cli_process.h"
#include "support/profile_settings.h"
#include "support/real_peers.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace fetchora {
namespace {

using Clock = std::chrono::steady_clock;
using test::ScriptedServer;
using test::ServerScript;

constexpr const char* kBody = "0123456789abcdefghijklmnopqrstuvwxyz";

std::string okReply()
{
    return "HTTP/1.1 200 OK\r\nContent-Length: 36\r\nConnection: close\r\n\r\n" + std::string(kBody);
}

ServerScript answer(const std::string& reply)
{
    return ServerScript().readRequestHead().send(reply).close();
}

class CliFailures : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(m_dir / "out");
    }

    // Runs fetchora-cli on one URL; the exit code, what it wrote on standard
    // error and how long it took.
    struct Run {
        int code = -3;
        std::string err;
        Clock::duration took{};
    };
    Run download(const std::string& url, const std::vector<std::string>& extra = {"-q"})
    {
        std::vector<std::string> arguments{"-d", (m_dir / "out").string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(url);
        Run run;
        const auto started = Clock::now();
        run.code = test::runCli(arguments, test::ownProfileEnvironment(m_dir.path()), m_dir.path(), &run.err);
        run.took = Clock::now() - started;
        return run;
    }

    void changeSettings(const std::function<void(AppSettings&)>& change)
    {
        ASSERT_TRUE(test::changeProfileSettings(m_dir / "home", m_dir / "settings-tmp", change));
    }

    void setRetryDelay(int seconds)
    {
        changeSettings([&](AppSettings& settings) { settings.SetOption(OptionId::RetryDelay, seconds); });
    }

    // A retry wait that no run without a retry comes near.
    static constexpr int kNoRetryDelaySeconds = 60;

    static void expectNoRetry(const Run& run)
    {
        EXPECT_EQ(run.err.find("for retry"), std::string::npos) << run.err;
        EXPECT_LT(run.took, std::chrono::seconds(kNoRetryDelaySeconds / 2)) << run.err;
    }

    test::TempDir m_dir;
};

TEST_F(CliFailures, SelfSignedCertificateAndNotFoundFailAtOnceNamingTheCause)
{
    // "At once" means without a retry. The retry wait is set far above what
    // a run takes, so a loose bound on the time still tells a retry from a
    // slow start of the program on a loaded machine; the verbose log must not
    // announce a wait either.
    setRetryDelay(kNoRetryDelaySeconds);
    test::NginxPeer nginx({"DNS:localhost", "IP:127.0.0.1"}, "location /gone/ { return 410; }\n");
    nginx.writeServedFile("files/f.bin", kBody);

    const Run untrusted = download("https://localhost:" + std::to_string(nginx.httpsPort()) + "/files/f.bin", {"-v"});
    EXPECT_EQ(untrusted.code, 1) << untrusted.err;
    expectNoRetry(untrusted);
    EXPECT_NE(
        untrusted.err.find("f.bin: failed: the certificate of localhost is not trusted (self-signed certificate)"),
        std::string::npos)
        << untrusted.err;

    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort());
    const Run missing = download(base + "/files/none.bin", {"-v"});
    EXPECT_EQ(missing.code, 1);
    expectNoRetry(missing);
    EXPECT_NE(missing.err.find("none.bin: failed: HTTP 404 Not Found"), std::string::npos) << missing.err;

    const Run gone = download(base + "/gone/old.bin", {"-v"});
    EXPECT_EQ(gone.code, 1);
    expectNoRetry(gone);
    EXPECT_NE(gone.err.find("old.bin: failed: HTTP 410 Gone"), std::string::npos) << gone.err;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out" / "old.bin"));
}

TEST_F(CliFailures, ServiceUnavailableTwiceThenTheFileCompletesAfterTheConfiguredWaits)
{
    setRetryDelay(1);
    const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    ScriptedServer server({answer(busy), answer(busy), answer(okReply())});
    const Run run = download("http://127.0.0.1:" + std::to_string(server.port()) + "/f.bin", {"-v"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(test::readFile(m_dir / "out" / "f.bin"), kBody);
    EXPECT_EQ(server.connectionCount(), 3u);
    // Two waits of the configured second each, no more.
    EXPECT_GE(run.took, std::chrono::seconds(2));
    EXPECT_LT(run.took, std::chrono::seconds(8)) << run.err;
    EXPECT_NE(run.err.find("Wait 1 second for retry"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("f.bin: done, 36 B in "), std::string::npos) << run.err;
}

TEST_F(CliFailures, TooManyRequestsWaitsWhatRetryAfterAsksInsteadOfTheConfiguredDelay)
{
    setRetryDelay(60);
    const std::string slowDown
        = "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 2\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    ScriptedServer server({answer(slowDown), answer(okReply())});
    const Run run = download("http://127.0.0.1:" + std::to_string(server.port()) + "/f.bin", {"-v"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(test::readFile(m_dir / "out" / "f.bin"), kBody);
    EXPECT_GE(run.took, std::chrono::seconds(2));
    EXPECT_LT(run.took, std::chrono::seconds(15)) << run.err;
    EXPECT_NE(run.err.find("Wait 2 second for retry"), std::string::npos) << run.err;
}

TEST_F(CliFailures, RetriesThatRunOutNameTheLastCause)
{
    setRetryDelay(0);
    changeSettings([](AppSettings& settings) {
        // Retrying for ever is the default; a limit needs it off.
        settings.SetOption(OptionId::AlwaysRetry, 0);
        settings.SetOption(OptionId::RetryCount, 2);
    });
    const std::string broken = "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    ScriptedServer server(answer(broken));
    const Run run = download("http://127.0.0.1:" + std::to_string(server.port()) + "/f.bin");
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(server.connectionCount(), 3u);
    EXPECT_NE(run.err.find("f.bin: failed: HTTP 502 Bad Gateway (gave up after 2 retries)"), std::string::npos)
        << run.err;
}

TEST_F(CliFailures, ServerTextReachesTheTerminalWithItsControlCharactersEscaped)
{
    const std::string evil = "HTTP/1.1 404 Not\x1b]0;owned\x07 Found\x9b"
                             "2J\r\nContent-Length: 0\r\n\r\n";
    ScriptedServer server(answer(evil));
    const Run run = download("http://127.0.0.1:" + std::to_string(server.port()) + "/f.bin", {"-v"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\x07'), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\x9b'), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("f.bin: failed: HTTP 404 Not\\x1b]0;owned\\x07 Found\\x9b2J"), std::string::npos) << run.err;
}

TEST_F(CliFailures, RefusedFtpLoginFailsAtOnceWithTheServersReply)
{
    test::PyftpdlibPeer ftp;
    test::writePseudoRandomFile(ftp.userRoot() / "private.bin", 4096, 7);
    const Run run = download("ftp://" + std::string(test::PyftpdlibPeer::kFtpUser)
                             + ":nope@127.0.0.1:" + std::to_string(ftp.port()) + "/private.bin");
    EXPECT_EQ(run.code, 1);
    EXPECT_LT(run.took, std::chrono::seconds(10)) << run.err;
    EXPECT_NE(run.err.find("private.bin: failed: The login was refused: FTP 530"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace fetchora
