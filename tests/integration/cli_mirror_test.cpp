// A job fetched from its URL and --mirror URLs at once, each on its own nginx
// on 127.0.0.1: every server serves ranges, the result is byte-identical, a
// mirror of another size is dropped and a dead one is left for the others.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "config/app_settings.h"
#include "support/cli_process.h"
#include "support/profile_settings.h"
#include "support/real_peers.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

namespace fetchora {
namespace {

using test::NginxPeer;

constexpr const char* kSlowFiles = "location /slow/ { alias $WWW/files/; limit_rate 1m; }\n";
constexpr int64_t kFileBytes = int64_t{6} << 20;

std::string readText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string slowUrl(const NginxPeer& nginx)
{
    return "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/slow/big.bin";
}

// Requests of the file that asked for a byte range and got 206.
int rangeRequests(const NginxPeer& nginx)
{
    const std::string log = readText(nginx.rangeLogFile());
    int count = 0;
    size_t at = 0;
    while ((at = log.find("/slow/big.bin \"bytes=", at)) != std::string::npos) {
        const size_t end = log.find('\n', at);
        if (log.substr(at, end - at).find(" 206") != std::string::npos)
            ++count;
        at = end;
    }
    return count;
}

class CliMirrors : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(m_dir / "out");
        test::writePseudoRandomFile(m_source, kFileBytes, 7);
        for (NginxPeer* nginx : {&m_a, &m_b, &m_c})
            nginx->writeServedFile("files/big.bin", readText(m_source));
    }

    int download(const std::vector<std::string>& mirrors, const std::string& url, std::string* err,
                 const std::string& split = "6")
    {
        std::vector<std::string> arguments{"-q", "-v", "-s", split, "-d", (m_dir / "out").string()};
        for (const std::string& mirror : mirrors) {
            arguments.push_back("--mirror");
            arguments.push_back(mirror);
        }
        arguments.push_back(url);
        const auto environment = test::ownProfileEnvironment(m_dir.path());
        return test::runCli(arguments, environment, m_dir.path(), err);
    }

    std::string listDatabase()
    {
        std::string out;
        std::string err;
        const auto environment = test::ownProfileEnvironment(m_dir.path());
        EXPECT_EQ(test::runCli({"--db", (m_dir / "home" / "Default.kxd").string(), "list"}, environment, m_dir.path(),
                               &err, &out),
                  0)
            << err;
        return out;
    }

    test::TempDir m_dir;
    std::filesystem::path m_source = m_dir / "big.bin";
    NginxPeer m_a{{"DNS:localhost", "IP:127.0.0.1"}, kSlowFiles};
    NginxPeer m_b{{"DNS:localhost", "IP:127.0.0.1"}, kSlowFiles};
    NginxPeer m_c{{"DNS:localhost", "IP:127.0.0.1"}, kSlowFiles};
};

TEST_F(CliMirrors, ThreeMirrorsEachServeRangesAndTheFileIsByteIdentical)
{
    std::string err;
    ASSERT_EQ(download({slowUrl(m_b), slowUrl(m_c)}, slowUrl(m_a), &err), 0) << err;
    EXPECT_TRUE(test::sameFileBytes(m_source, m_dir / "out" / "big.bin"));
    EXPECT_GE(rangeRequests(m_a), 1) << readText(m_a.rangeLogFile());
    EXPECT_GE(rangeRequests(m_b), 1) << readText(m_b.rangeLogFile());
    EXPECT_GE(rangeRequests(m_c), 1) << readText(m_c.rangeLogFile());
}

TEST_F(CliMirrors, AMirrorOfAnotherSizeIsDroppedWithItsLogLine)
{
    m_b.writeServedFile("files/big.bin", readText(m_source).substr(0, kFileBytes - 1000));
    std::string err;
    ASSERT_EQ(download({slowUrl(m_b), slowUrl(m_c)}, slowUrl(m_a), &err), 0) << err;
    EXPECT_TRUE(test::sameFileBytes(m_source, m_dir / "out" / "big.bin"));
    EXPECT_NE(err.find("File size is different,can't download from this site."), std::string::npos) << err;
    // Once dropped the mirror is not asked again: only the parts first given
    // to it (two of six over three URLs) reached it.
    const int askedB = rangeRequests(m_b);
    EXPECT_GE(askedB, 1);
    EXPECT_LE(askedB, 2) << readText(m_b.rangeLogFile());
    EXPECT_GE(rangeRequests(m_c), 1);
}

TEST_F(CliMirrors, AFailingMirrorIsLeftAndItsPartRetriedElsewhere)
{
    uint16_t deadPort = 0;
    {
        test::ScriptedServer probe(test::ServerScript{});
        deadPort = probe.port();
    }
    const std::string dead = "http://127.0.0.1:" + std::to_string(deadPort) + "/slow/big.bin";
    std::string err;
    ASSERT_EQ(download({dead, slowUrl(m_c)}, slowUrl(m_a), &err), 0) << err;
    EXPECT_TRUE(test::sameFileBytes(m_source, m_dir / "out" / "big.bin"));
    EXPECT_NE(err.find("Connection refused"), std::string::npos) << err;
    EXPECT_GE(rangeRequests(m_a), 1);
    EXPECT_GE(rangeRequests(m_c), 1);
}

TEST_F(CliMirrors, TheUsersMirrorListGivesTheJobItsMirrors)
{
    const auto prefix
        = [](const NginxPeer& nginx) { return "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/slow/"; };
    std::ofstream(m_dir / "home" / "mymirror.lst", std::ios::binary)
        << "// my servers\r\nUS,,other,http://127.0.0.1:1/unrelated/\r\n"
        << "US,,mine," << prefix(m_a) << "\r\nUS,,mine," << prefix(m_b) << "\r\nUS,,mine," << prefix(m_c) << "\r\n";
    std::string err;
    ASSERT_EQ(download({}, slowUrl(m_a), &err), 0) << err;
    EXPECT_TRUE(test::sameFileBytes(m_source, m_dir / "out" / "big.bin"));
    EXPECT_GE(rangeRequests(m_b), 1);
    EXPECT_GE(rangeRequests(m_c), 1);
    const std::string listed = listDatabase();
    EXPECT_NE(listed.find("\"alternateUrls\":[\"" + slowUrl(m_b) + "\",\"" + slowUrl(m_c) + "\"]"), std::string::npos)
        << listed;
}

TEST_F(CliMirrors, ASearchOnALoopbackResultPageAddsItsLinksRankedByPing)
{
    // The result page lists the file on two other servers, a file of another
    // name and a script link.
    m_a.writeServedFile("search/found.html",
                        "<html><a href=\"" + slowUrl(m_b)
                            + "\">b</a> <a href=\"http://127.0.0.1:" + std::to_string(m_c.httpPort())
                            + "/slow/other.bin\">x</a> "
                              "<a href=\"javascript:get('big.bin')\">js</a> <a href=\""
                            + slowUrl(m_c) + "\">c</a></html>");
    const std::string search
        = "http://127.0.0.1:" + std::to_string(m_a.httpPort()) + "/search/found.html?q={filename}&size={filesize}";
    ASSERT_TRUE(test::changeProfileSettings(m_dir / "home", m_dir / "scratch", [&](AppSettings& settings) {
        settings.SetOptionText(OptionId::MirrorSearchServer, search);
        settings.SetOption(OptionId::UrlSharingService, 0);
    }));
    std::string err;
    ASSERT_EQ(download({}, slowUrl(m_a), &err, "2"), 0) << err;
    EXPECT_TRUE(test::sameFileBytes(m_source, m_dir / "out" / "big.bin"));
    EXPECT_NE(err.find("Start Ftp Search."), std::string::npos) << err;
    EXPECT_NE(err.find("Ftp search finished.  Total found 2 mirror sites."), std::string::npos) << err;
    EXPECT_NE(readText(m_a.rangeLogFile()).find("/search/found.html?q=big.bin&size=" + std::to_string(kFileBytes)),
              std::string::npos);
    // Three URLs for two connections: the mirrors are pinged first (each
    // line a time, or "No Response" where the sandbox forbids ICMP).
    EXPECT_NE(err.find("Start Ping."), std::string::npos) << err;
    EXPECT_NE(err.find("Ping Done!"), std::string::npos) << err;
    EXPECT_NE(err.find("127.0.0.1  "), std::string::npos) << err;
    const std::string listed = listDatabase();
    EXPECT_NE(listed.find("\"alternateUrls\":[\"" + slowUrl(m_b) + "\",\"" + slowUrl(m_c) + "\"]"), std::string::npos)
        << listed;
}

}  // namespace
}  // namespace fetchora
