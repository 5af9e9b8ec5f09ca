// A job fetched from its URL and --mirror URLs at once, each on its own nginx
// on 127.0.0.1: every server serves ranges, the result is byte-identical, a
// mirror of another size is dropped and a dead one is left for the others.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/cli_process.h"
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

    int download(const std::vector<std::string>& mirrors, const std::string& url, std::string* err)
    {
        std::vector<std::string> arguments{"-q", "-v", "-s", "6", "-d", (m_dir / "out").string()};
        for (const std::string& mirror : mirrors) {
            arguments.push_back("--mirror");
            arguments.push_back(mirror);
        }
        arguments.push_back(url);
        const std::map<std::string, std::string> environment{{"FETCHORA_HOME", (m_dir / "home").string()},
                                                             {"TMPDIR", m_dir.path().string()},
                                                             {"HOME", m_dir.path().string()}};
        return test::runCli(arguments, environment, m_dir.path(), err);
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

}  // namespace
}  // namespace fetchora
