// End-to-end FTP downloads: the fetchora-cli executable against real FTP
// servers on 127.0.0.1 (pyftpdlib and vsftpd), directly and through SOCKS5
// and CONNECT tunnels, its output compared byte for byte with the source.
#include "config/app_settings.h"
#include "config/proxy_entry.h"
#include "config/settings_key.h"
#include "platform/registry.h"
#include "shell/application.h"
#include "support/cli_process.h"
#include "support/profile_settings.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace fetchora {
namespace {

using test::CliProcess;
using test::FtpPeerOptions;
using test::PyftpdlibPeer;
using test::TempDir;
using test::VsftpdPeer;

constexpr auto kRunTimeout = std::chrono::seconds(120);

// The files of a folder, for "nothing was left behind" checks.
std::vector<std::string> folderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// The offset each RETR of a -v log started at, per part: the last REST the
// part sent before it (the REST probe's "REST 0" when no other followed).
std::vector<int64_t> retrieveOffsets(const std::string& log)
{
    static const std::regex line(R"(^\S+ #(\d+) sent (REST (\d+)|RETR\b).*$)");
    std::map<std::string, int64_t> lastRest;
    std::vector<int64_t> offsets;
    std::istringstream in(log);
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (!std::regex_match(text, match, line))
            continue;
        if (match[3].matched)
            lastRest[match[1]] = std::stoll(match[3]);
        else
            offsets.push_back(lastRest.count(match[1]) ? lastRest[match[1]] : 0);
    }
    return offsets;
}

// How often text occurs in a log.
int occurrences(const std::string& log, const std::string& text)
{
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size()))
        ++count;
    return count;
}

// The later connections of a split job trust the first one's REST probe:
// only part #0 probes, and the others say they left it out.
void expectOneProbe(const std::string& log)
{
    static const std::regex probe(R"(^\S+ #(\d+) sent REST 100$)");
    static const std::regex fetch(R"(^\S+ #(\d+) sent RETR\b.*$)");
    std::istringstream in(log);
    int firstPart = 0;
    int laterFetches = 0;
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_match(line, match, probe)) {
            EXPECT_EQ(match[1], "0") << line;
            ++firstPart;
        } else if (std::regex_match(line, match, fetch) && match[1] != "0") {
            ++laterFetches;
        }
    }
    EXPECT_GE(firstPart, 1) << log;
    // Under load the first part may fetch everything before the others have
    // logged in; every later part that fetched trusted the first one's probe.
    if (laterFetches > 0) {
        EXPECT_GE(occurrences(log, "The site resumes (found by the job's first connection)."), 1) << log;
    }
}

class CliFtpDownload : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(m_dir / "out");
        std::filesystem::create_directories(m_dir / "listing");
    }

    std::map<std::string, std::string> environment() const
    {
        return test::ownProfileEnvironment(m_dir.path());
    }

    // Runs fetchora-cli -v to its end; its part logs land in *log.
    int download(const std::filesystem::path& folder, const std::vector<std::string>& extra, const std::string& url,
                 std::string* log = nullptr)
    {
        std::filesystem::create_directories(folder);
        std::vector<std::string> arguments{"-q", "-v", "-d", folder.string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(url);
        CliProcess cli(arguments, environment(), m_dir.path());
        const int code = cli.wait(kRunTimeout);
        if (log)
            *log = cli.standardError();
        return code;
    }

    void changeSettings(const std::function<void(AppSettings&)>& change)
    {
        ASSERT_TRUE(test::changeProfileSettings(m_dir / "home", m_dir / "settings-tmp", change));
    }

    // Makes every later FTP job go through this proxy.
    void useFtpProxy(const ProxyEntry& proxy)
    {
        changeSettings([&](AppSettings& settings) {
            ASSERT_EQ(settings.proxies().AddProxy(proxy, false), 1);
            auto index = static_cast<int32_t>(settings.proxies().ProxyCount() - 1);
            settings.proxies().setDefaultIndex(ProxyDefault::Ftp, index);
            settings.SetOption(OptionId::UseDefaultProxies, 1);
        });
    }

    // The completed bytes of the (only) job in the profile's database, as
    // last saved; 0 when it has none yet.
    int64_t completedBytesInDatabase()
    {
        std::string out;
        std::string err;
        test::runCli({"--db", (m_dir / "home" / "Default.kxd").string(), "list"}, environment(), m_dir / "listing",
                     &err, &out);
        static const std::regex job(R"re("isCategory":false.*"completedBytes":(\d+))re");
        std::smatch match;
        return std::regex_search(out, match, job) ? std::stoll(match[1]) : 0;
    }

    static std::string ftpUrl(uint16_t port, const std::string& path, const std::string& login = {})
    {
        return "ftp://" + login + (login.empty() ? "" : "@") + "127.0.0.1:" + std::to_string(port) + "/" + path;
    }

    TempDir m_dir;
};

TEST_F(CliFtpDownload, BigFileWithEightConnectionsFromPyftpdlibAndVsftpdIsByteIdentical)
{
    PyftpdlibPeer pyftpdlib;
    VsftpdPeer vsftpd;
    const int64_t size = test::bigTestFileBytes(64);
    const auto source = pyftpdlib.anonymousRoot() / "big.bin";
    test::writePseudoRandomFile(source, size, 31);
    std::filesystem::create_hard_link(source, vsftpd.anonymousRoot() / "big.bin");

    std::string log;
    ASSERT_EQ(download(m_dir / "out" / "py", {"-s", "8"}, ftpUrl(pyftpdlib.port(), "big.bin"), &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "py" / "big.bin"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out" / "py" / "big.bin.kx!"));
    // The file was split: more than one connection fetched it at once.
    EXPECT_GE(pyftpdlib.peakSessions(), 2) << log;
    // An anonymous login never shows a password either.
    EXPECT_NE(log.find("PASS ********"), std::string::npos) << log;
    expectOneProbe(log);

    ASSERT_EQ(download(m_dir / "out" / "vs", {"-s", "8"}, ftpUrl(vsftpd.port(), "big.bin"), &log), 0)
        << log << test::readFile(vsftpd.logFile());
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "vs" / "big.bin"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out" / "vs" / "big.bin.kx!"));
    expectOneProbe(log);
}

TEST_F(CliFtpDownload, TheNextJobForTheSameSiteTakesOverTheLoginOnlyWhenReuseIsOn)
{
    PyftpdlibPeer pyftpdlib;
    const auto first = pyftpdlib.userRoot() / "first.bin";
    const auto second = pyftpdlib.userRoot() / "second.bin";
    test::writePseudoRandomFile(first, 3 << 20, 41);
    test::writePseudoRandomFile(second, 2 << 20, 42);
    const std::string login = std::string(PyftpdlibPeer::kFtpUser) + ":" + PyftpdlibPeer::kFtpPassword;
    // One job at a time, so that the second starts when the first is done.
    changeSettings([](AppSettings& settings) {
        settings.SetOption(OptionId::SimJobs, 1);
        settings.SetOption(OptionId::ReuseFtpConnections, 0);
    });

    const auto runBoth = [&](const std::filesystem::path& folder, std::string* log) {
        std::filesystem::create_directories(folder);
        CliProcess cli({"-q", "-v", "-s", "1", "-d", folder.string(), ftpUrl(pyftpdlib.port(), "first.bin", login),
                        ftpUrl(pyftpdlib.port(), "second.bin", login)},
                       environment(), m_dir.path());
        const int code = cli.wait(kRunTimeout);
        *log = cli.standardError();
        return code;
    };

    std::string log;
    ASSERT_EQ(runBoth(m_dir / "out" / "off", &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(first, m_dir / "out" / "off" / "first.bin"));
    EXPECT_TRUE(test::sameFileBytes(second, m_dir / "out" / "off" / "second.bin"));
    EXPECT_EQ(pyftpdlib.logins(), 2) << log;

    changeSettings([](AppSettings& settings) { settings.SetOption(OptionId::ReuseFtpConnections, 1); });
    ASSERT_EQ(runBoth(m_dir / "out" / "on", &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(first, m_dir / "out" / "on" / "first.bin"));
    EXPECT_TRUE(test::sameFileBytes(second, m_dir / "out" / "on" / "second.bin"));
    EXPECT_EQ(pyftpdlib.logins(), 3) << log;
    EXPECT_NE(log.find("status Logged in already: the connection of the job before."), std::string::npos) << log;
}

TEST_F(CliFtpDownload, ADownloadRunSavesTheSettingsAtExitButNotItsOwnSpeedLimit)
{
    PyftpdlibPeer pyftpdlib;
    const auto source = pyftpdlib.anonymousRoot() / "small.bin";
    test::writePseudoRandomFile(source, 200000, 43);
    const std::filesystem::path file = m_dir / "home" / kSettingsFileName;
    {
        // A settings file written by hand, with one value of its own.
        Registry handMade(file);
        handMade.writeDword(Hive::CurrentUser, settingsKey("Connection"), "CT", 77);
        ASSERT_TRUE(handMade.flush());
    }

    std::string log;
    ASSERT_EQ(download(m_dir / "out", {"--limit", "5000000"}, ftpUrl(pyftpdlib.port(), "small.bin"), &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "small.bin"));

    Registry saved(file);
    ASSERT_TRUE(saved.load());
    EXPECT_EQ(saved.readString(Hive::CurrentUser, settingsKey("General"), "Version"), "1.65");
    EXPECT_EQ(saved.readDword(Hive::CurrentUser, settingsKey("Connection"), "CT"), 77u);
    // --limit is for that run only.
    EXPECT_EQ(saved.readDword(Hive::CurrentUser, settingsKey("Connection"), "Speed Limit"), 25000u);
    EXPECT_FALSE(saved.read(Hive::CurrentUser, settingsKey("General"), "SpeedMode").has_value());
}

TEST_F(CliFtpDownload, ActiveModeDownloadIsByteIdentical)
{
    PyftpdlibPeer pyftpdlib;
    const auto source = pyftpdlib.anonymousRoot() / "active.bin";
    test::writePseudoRandomFile(source, test::bigTestFileBytes(8), 32);
    // The passive-mode option is the passive flag of the direct-connection entry.
    changeSettings([](AppSettings& settings) {
        ProxyEntry* direct = settings.proxies().ProxyAt(0);
        ASSERT_NE(direct, nullptr);
        direct->flags &= ~kProxyPassive;
        ASSERT_EQ(settings.GetOption(OptionId::FtpPassive), 0);
    });

    std::string log;
    ASSERT_EQ(download(m_dir / "out", {"-s", "4"}, ftpUrl(pyftpdlib.port(), "active.bin"), &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "active.bin"));
    EXPECT_NE(log.find("sent PORT 127,0,0,1,"), std::string::npos) << log;
    EXPECT_EQ(log.find("sent PASV"), std::string::npos) << log;
}

TEST_F(CliFtpDownload, LoginFromTheUrlWorksAndAWrongPasswordFailsWithoutAFile)
{
    PyftpdlibPeer pyftpdlib;
    const auto source = pyftpdlib.userRoot() / "private.bin";
    test::writePseudoRandomFile(source, 3 << 20, 33);
    const std::string login = std::string(PyftpdlibPeer::kFtpUser) + ":" + PyftpdlibPeer::kFtpPassword;

    std::string log;
    ASSERT_EQ(download(m_dir / "out", {"-s", "2"}, ftpUrl(pyftpdlib.port(), "private.bin", login), &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "private.bin"));
    EXPECT_NE(log.find("sent USER " + std::string(PyftpdlibPeer::kFtpUser)), std::string::npos) << log;
    EXPECT_NE(log.find("PASS ********"), std::string::npos) << log;
    EXPECT_EQ(log.find(PyftpdlibPeer::kFtpPassword), std::string::npos) << log;

    const auto wrong = m_dir / "out" / "wrong";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(download(wrong, {},
                       ftpUrl(pyftpdlib.port(), "private.bin", std::string(PyftpdlibPeer::kFtpUser) + ":nope"), &log),
              1)
        << log;
    // A refused login ends the job instead of retrying it for minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_NE(log.find("received 530"), std::string::npos) << log;
    EXPECT_EQ(log.find("nope"), std::string::npos) << log;
    EXPECT_EQ(folderEntries(wrong), std::vector<std::string>{}) << log;
}

TEST_F(CliFtpDownload, MaxConnectionInTheWelcomeKeepsTheSiteAtTwoConnections)
{
    FtpPeerOptions options;
    options.banner = {"Fetchora test FTP server", "fetchora: maxconnection=2"};
    options.maxSessionsPerAddress = 2;
    // Slow enough that eight parts would want eight connections at once.
    options.maxBytesPerSecond = 6 << 20;
    PyftpdlibPeer pyftpdlib(options);
    const auto source = pyftpdlib.anonymousRoot() / "limited.bin";
    test::writePseudoRandomFile(source, test::bigTestFileBytes(16), 34);

    std::string log;
    ASSERT_EQ(download(m_dir / "out" / "py", {"-s", "8"}, ftpUrl(pyftpdlib.port(), "limited.bin"), &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "py" / "limited.bin"));
    EXPECT_LE(pyftpdlib.peakSessions(), 2) << log;
    EXPECT_EQ(pyftpdlib.refusedSessions(), 0) << log;
    // The limit caps the connections; it does not drop them to one.
    EXPECT_EQ(pyftpdlib.peakSessions(), 2) << log;

    // Upper case counts the same; vsftpd refuses a third session with 421.
    FtpPeerOptions upper;
    upper.banner = {"Welcome. FETCHORA: MAXCONNECTION=2"};
    upper.maxSessionsPerAddress = 2;
    upper.maxBytesPerSecond = 6 << 20;
    VsftpdPeer vsftpd(upper);
    std::filesystem::create_hard_link(source, vsftpd.anonymousRoot() / "limited.bin");
    ASSERT_EQ(download(m_dir / "out" / "vs", {"-s", "8"}, ftpUrl(vsftpd.port(), "limited.bin"), &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "vs" / "limited.bin"));
    EXPECT_EQ(log.find("received 421"), std::string::npos) << log;
}

TEST_F(CliFtpDownload, KilledMidDownloadResumesWithRestAndEndsByteIdentical)
{
    const int64_t size = test::bigTestFileBytes(32);
    FtpPeerOptions options;
    // Four connections take about five seconds for the whole file, long
    // enough for the running download to save its ranges at least once.
    options.maxBytesPerSecond = std::max<int64_t>(size / 20, 64 << 10);
    PyftpdlibPeer pyftpdlib(options);
    const auto source = pyftpdlib.anonymousRoot() / "resume.bin";
    test::writePseudoRandomFile(source, size, 35);
    const std::string url = ftpUrl(pyftpdlib.port(), "resume.bin");
    int64_t savedBytes = 0;
    {
        CliProcess cli({"-q", "-s", "4", "-d", (m_dir / "out").string(), url}, environment(), m_dir.path());
        // Killed as soon as the database holds some finished ranges.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (savedBytes == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            savedBytes = completedBytesInDatabase();
        }
        cli.signal(SIGKILL);
        cli.wait();
    }
    ASSERT_GT(savedBytes, 0) << "the download saved no range while it ran";
    ASSERT_LT(savedBytes, size) << "the download ended before it was killed";
    ASSERT_TRUE(std::filesystem::exists(m_dir / "out" / "resume.bin.kx!"));
    ASSERT_FALSE(std::filesystem::exists(m_dir / "out" / "resume.bin"));

    std::string log;
    ASSERT_EQ(download(m_dir / "out", {"-s", "4"}, url, &log), 0) << log;
    EXPECT_TRUE(test::sameFileBytes(source, m_dir / "out" / "resume.bin"));
    // The saved ranges start at 0: the second run resumes every part with a
    // REST past them and never fetches from the start again.
    const std::vector<int64_t> offsets = retrieveOffsets(log);
    ASSERT_FALSE(offsets.empty()) << log;
    for (int64_t offset : offsets)
        EXPECT_GT(offset, 0) << log;
}

TEST_F(CliFtpDownload, DownloadsThroughSocks5AndConnectTunnels)
{
    PyftpdlibPeer pyftpdlib;
    const auto source = pyftpdlib.anonymousRoot() / "tunnelled.bin";
    test::writePseudoRandomFile(source, test::bigTestFileBytes(8), 36);
    test::MicrosocksPeer socks5(test::ProxyLogin{"suser", "spass"});
    test::TinyproxyPeer tinyproxy(test::ProxyLogin{"puser", "ppass"});

    struct Case {
        const char* name;
        ProxyEntry proxy;
    };
    const std::vector<Case> cases = {
        {"socks5-login",
         {"p", "127.0.0.1", "suser", "spass", socks5.port(), kProxySocks5, kProxyAuthenticate | kProxyPassive}},
        {"connect-tunnel",
         {"p", "127.0.0.1", "puser", "ppass", tinyproxy.port(), kProxyHttpConnect, kProxyAuthenticate | kProxyPassive}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useFtpProxy(c.proxy);
        const auto folder = m_dir / "out" / c.name;
        std::string log;
        ASSERT_EQ(download(folder, {"-s", "2"}, ftpUrl(pyftpdlib.port(), "tunnelled.bin"), &log), 0) << log;
        EXPECT_TRUE(test::sameFileBytes(source, folder / "tunnelled.bin"));
    }
    // The CONNECT tunnel carried the control connection and the passive data
    // connections alike.
    const std::string proxyLog = test::readFile(tinyproxy.logFile());
    bool controlTunnelled = false;
    bool dataTunnelled = false;
    static const std::regex connect(R"(CONNECT 127\.0\.0\.1:(\d+))");
    for (auto match = std::sregex_iterator(proxyLog.begin(), proxyLog.end(), connect); match != std::sregex_iterator();
         ++match) {
        const int port = std::stoi((*match)[1]);
        controlTunnelled = controlTunnelled || port == pyftpdlib.port();
        dataTunnelled = dataTunnelled
            || (port >= pyftpdlib.passivePortLow() && port < pyftpdlib.passivePortLow() + test::kFtpPassivePorts);
    }
    EXPECT_TRUE(controlTunnelled) << proxyLog;
    EXPECT_TRUE(dataTunnelled) << proxyLog;
}

TEST_F(CliFtpDownload, MissingFileFailsAndEscapedNamesAreFound)
{
    PyftpdlibPeer pyftpdlib;
    VsftpdPeer vsftpd;

    for (uint16_t port : {pyftpdlib.port(), vsftpd.port()}) {
        SCOPED_TRACE(port);
        const auto folder = m_dir / "out" / std::to_string(port);
        std::string log;
        EXPECT_EQ(download(folder, {}, ftpUrl(port, "no/such-file.bin"), &log), 1) << log;
        EXPECT_NE(log.find("received 550"), std::string::npos) << log;
        EXPECT_EQ(folderEntries(folder), std::vector<std::string>{}) << log;
    }

    // A name with a blank, written escaped in the URL, is the server's name.
    std::filesystem::create_directories(pyftpdlib.anonymousRoot() / "sub dir");
    const auto source = pyftpdlib.anonymousRoot() / "sub dir" / "two words.txt";
    test::writeFile(source, test::kSmallFileText);
    std::string log;
    EXPECT_EQ(download(m_dir / "out" / "escaped", {}, ftpUrl(pyftpdlib.port(), "sub%20dir/two%20words.txt"), &log), 0)
        << log;
    EXPECT_EQ(test::readFile(m_dir / "out" / "escaped" / "two words.txt"), test::kSmallFileText) << log;
}

}  // namespace
}  // namespace fetchora

namespace fetchora {
namespace {

// An empty file ends its data connection as soon as it opens: the job still
// completes with an empty file, from either server, split or not.
TEST_F(CliFtpDownload, EmptyFileCompletesEmptyFromBothServers)
{
    PyftpdlibPeer pyftpdlib;
    VsftpdPeer vsftpd;
    test::writePseudoRandomFile(pyftpdlib.anonymousRoot() / "empty.bin", 0, 1);
    test::writePseudoRandomFile(vsftpd.anonymousRoot() / "empty.bin", 0, 1);
    for (const auto& [name, port] : {std::pair{"py", pyftpdlib.port()}, std::pair{"vs", vsftpd.port()}})
        for (const char* split : {"1", "4"}) {
            const auto folder = m_dir / "out" / (std::string(name) + split);
            std::string log;
            ASSERT_EQ(download(folder, {"-s", split}, ftpUrl(port, "empty.bin"), &log), 0) << name << "\n" << log;
            EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"empty.bin"}) << name;
            EXPECT_EQ(std::filesystem::file_size(folder / "empty.bin"), 0u) << name;
        }
}

}  // namespace
}  // namespace fetchora
