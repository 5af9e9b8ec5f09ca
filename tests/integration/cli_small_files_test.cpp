// Many small files from a URL list, killed at random moments: whatever the
// database records as finished is on disk whole under its name, and a last
// run leaves every file byte-identical to its source.
#include "support/cli_process.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace fetchora {
namespace {

using test::CliProcess;

constexpr int kFiles = 60;

std::string fieldOf(const std::string& line, const std::string& field)
{
    const std::string key = "\"" + field + "\":";
    const size_t at = line.find(key);
    if (at == std::string::npos)
        return {};
    size_t start = at + key.size();
    if (line[start] == '"') {
        ++start;
        return line.substr(start, line.find('"', start) - start);
    }
    return line.substr(start, line.find_first_of(",}", start) - start);
}

class CliSmallFiles : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(m_dir / "out");
        std::ofstream list(m_dir / "list.txt");
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "small" + std::to_string(i) + ".bin";
            test::writePseudoRandomFile(m_nginx.www() / "files" / name, 192 * 1024 + i * 7, 100 + i);
            list << "http://127.0.0.1:" << m_nginx.httpPort() << "/slow/" << name << "\n";
        }
    }

    std::map<std::string, std::string> environment() const
    {
        return test::ownProfileEnvironment(m_dir.path());
    }

    std::vector<std::string> arguments() const
    {
        return {"-q", "-d", (m_dir / "out").string(), "-i", (m_dir / "list.txt").string()};
    }

    struct Finished {
        std::string source;  // the file the URL names
        std::string name;  // the file on disk
    };

    // The jobs the database records as completed.
    std::vector<Finished> recordedAsCompleted()
    {
        std::string out;
        std::string err;
        EXPECT_EQ(test::runCli({"--db", (m_dir / "home" / "Default.kxd").string(), "list"}, environment(), m_dir.path(),
                               &err, &out),
                  0)
            << err;
        std::vector<Finished> finished;
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            if (fieldOf(line, "isCategory") != "false" || fieldOf(line, "state") != "4")
                continue;
            const std::string url = fieldOf(line, "url");
            finished.push_back({url.substr(url.rfind('/') + 1), fieldOf(line, "name")});
        }
        return finished;
    }

    test::TempDir m_dir;
    test::NginxPeer m_nginx{{"IP:127.0.0.1"}, "location /slow/ { alias $WWW/files/; limit_rate 2m; }\n"};
};

TEST_F(CliSmallFiles, AKillAtAnyMomentLosesNoFileTheDatabaseCallsFinished)
{
    std::mt19937 random(20261209);
    size_t recordedBefore = 0;
    for (int kill = 0; kill < 4; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        CliProcess cli(arguments(), environment(), m_dir.path());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!std::filesystem::exists(m_dir / "home" / "Default.kxd") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + random() % 700));
        cli.signal(SIGKILL);
        cli.wait();

        const std::vector<Finished> finished = recordedAsCompleted();
        for (const Finished& job : finished) {
            EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / job.source, m_dir / "out" / job.name))
                << job.name;
        }
        // What a run recorded as finished stays so after the next kill.
        EXPECT_GE(finished.size(), recordedBefore);
        recordedBefore = finished.size();
    }

    // A file that was finished (and renamed) just before a kill, before the
    // database recorded it, is whole under its name too.
    std::string err;
    test::runCli(arguments(), environment(), m_dir.path(), &err);
    EXPECT_GE(recordedAsCompleted().size(), static_cast<size_t>(kFiles)) << err;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "small" + std::to_string(i) + ".bin";
        EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / name, m_dir / "out" / name)) << name;
    }
}

}  // namespace
}  // namespace fetchora
