// The list modes and --batch of the fetchora-cli executable, end to end, on
// a profile of their own and nginx on 127.0.0.1.
#include "support/cli_process.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace fetchora {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CliLists : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"home", "run", "downloads", "out"})
            std::filesystem::create_directories(m_dir / folder);
    }

    std::map<std::string, std::string> environment() const { return test::desktopProfileEnvironment(m_dir.path()); }

    int cli(const std::vector<std::string>& arguments, std::string* out = nullptr, std::string* err = nullptr)
    {
        return test::runCli(arguments, environment(), m_dir.path(), err, out);
    }

    // The JSON lines of the profile's database that are jobs.
    std::vector<std::string> jobLines()
    {
        std::string out;
        std::string err;
        EXPECT_EQ(cli({"--db", (m_dir / "home" / "Default.kxd").string(), "list"}, &out, &err), 0) << err;
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            if (line.find("\"isCategory\":false") != std::string::npos)
                lines.push_back(line);
        }
        return lines;
    }

    TempDir m_dir;
};

TEST_F(CliLists, ImportedUrlsBecomeJobsThatExportBackAsListsAndPages)
{
    test::writeFile(m_dir / "in.lst",
                    "http://127.0.0.1:1/a.zip\r\njunk line\r\n\r\nftp://127.0.0.1:1/b.zip\r\n"
                    "http://127.0.0.1:1/a.zip\r\n");
    std::string out;
    std::string err;
    ASSERT_EQ(cli({"--import-list", (m_dir / "in.lst").string()}, &out, &err), 0) << err;
    EXPECT_EQ(out, "Added 2 jobs; 1 already in the database\n");
    test::writeFile(m_dir / "game.lst", "http://127.0.0.1:1/c.zip\r\n");
    ASSERT_EQ(cli({"--import-list", (m_dir / "game.lst").string(), "--category", "downloaded/GAME"}, &out, &err), 0)
        << err;
    EXPECT_EQ(out, "Added 1 job\n");
    // Importing again adds nothing.
    ASSERT_EQ(cli({"--import-list", (m_dir / "in.lst").string()}, &out, &err), 0) << err;
    EXPECT_EQ(out, "Added 0 jobs; 3 already in the database\n");

    const std::vector<std::string> jobs = jobLines();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_NE(jobs[0].find("\"url\":\"http://127.0.0.1:1/a.zip\""), std::string::npos) << jobs[0];
    EXPECT_NE(jobs[0].find("\"completedBytes\":0"), std::string::npos) << "nothing was downloaded";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir / "downloads"))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();

    ASSERT_EQ(cli({"--export-list", (m_dir / "out" / "all.lst").string()}, &out, &err), 0) << err;
    const std::string all = readAll(m_dir / "out" / "all.lst");
    EXPECT_NE(all.find("http://127.0.0.1:1/a.zip\r\n"), std::string::npos) << all;
    EXPECT_NE(all.find("ftp://127.0.0.1:1/b.zip\r\n"), std::string::npos) << all;
    EXPECT_NE(all.find("http://127.0.0.1:1/c.zip\r\n"), std::string::npos) << all;
    EXPECT_EQ(all.size(), 3 * 26u - 1) << all;

    ASSERT_EQ(cli({"--export-list", (m_dir / "out" / "game.lst").string(), "--category", "Game"}, &out, &err), 0)
        << err;
    EXPECT_EQ(readAll(m_dir / "out" / "game.lst"), "http://127.0.0.1:1/c.zip\r\n");

    test::writeFile(m_dir / "style.kxs",
                    "[Format]\r\nF_START=<ul>\r\nC_START=<li>{C_NAME}\r\n"
                    "ITEM=<a href=\"{F_URL}\">{F_NAME}</a>{F_SIZE}\r\nC_END=</li>\r\nF_END=</ul>\r\n");
    ASSERT_EQ(cli({"--export-html", (m_dir / "out" / "game.htm").string(), (m_dir / "style.kxs").string(), "--category",
                   "Game"},
                  &out, &err),
              0)
        << err;
    EXPECT_EQ(readAll(m_dir / "out" / "game.htm"),
              "<ul><li>Game\r\n<a href=\"http://127.0.0.1:1/c.zip\">c.zip</a>&nbsp;\r\n</li>\r\n</ul>");
    EXPECT_EQ(cli({"--export-list", (m_dir / "out" / "x.lst").string(), "--category", "Nothing"}, &out, &err), 1);
    EXPECT_NE(err.find("no category named Nothing"), std::string::npos) << err;
}

TEST_F(CliLists, FilesThatCannotBeReadOrWrittenGetTheStandardErrors)
{
    std::string out;
    std::string err;
    const std::filesystem::path missing = m_dir / "missing.lst";
    EXPECT_EQ(cli({"--import-list", missing.string()}, &out, &err), 1);
    EXPECT_NE(err.find(missing.string() + " was not found."), std::string::npos) << err;

    test::writeFile(m_dir / "junk.lst",
                    std::string("\x7f"
                                "ELF\0\1\2 no urls",
                                15));
    EXPECT_EQ(cli({"--import-list", (m_dir / "junk.lst").string()}, &out, &err), 1);
    EXPECT_NE(err.find("Doesn't include valid URL(s)!"), std::string::npos) << err;

    const std::filesystem::path nowhere = m_dir / "no" / "such" / "out.lst";
    EXPECT_EQ(cli({"--export-list", nowhere.string()}, &out, &err), 1);
    EXPECT_NE(err.find(nowhere.string() + " contains an incorrect path."), std::string::npos) << err;

    EXPECT_EQ(cli({"--export-html", (m_dir / "out" / "a.htm").string(), (m_dir / "none.kxs").string()}, &out, &err), 1);
    EXPECT_NE(err.find((m_dir / "none.kxs").string() + " was not found."), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out" / "a.htm"));
}

TEST_F(CliLists, ABatchSeriesDownloadsLikeAnyUrls)
{
    test::NginxPeer nginx;
    for (const char* name : {"f08.txt", "f09.txt", "f10.txt"})
        nginx.writeServedFile(std::string("series/") + name, std::string("file ") + name);
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + "/series/";
    std::string out;
    std::string err;
    ASSERT_EQ(cli({"-q", "-d", (m_dir / "out").string(), "--batch", base + "f(*).txt", "8", "10", "2"}, &out, &err), 0)
        << err;
    for (const char* name : {"f08.txt", "f09.txt", "f10.txt"})
        EXPECT_EQ(readAll(m_dir / "out" / name), std::string("file ") + name);

    EXPECT_EQ(cli({"-q", "--batch", base + "f(*).txt", "0", "100000"}, &out, &err), 2);
    EXPECT_NE(err.find("at most 100000"), std::string::npos) << err;
}

TEST_F(CliLists, ABatchThatGivesNoFetchableUrlEndsAtOnceAsAnArgumentError)
{
    std::string out;
    std::string err;
    // Each would otherwise make jobs that can never be fetched.
    EXPECT_EQ(cli({"-q", "-d", (m_dir / "out").string(), "--batch", "URL", "1", "b"}, &out, &err), 2);
    EXPECT_NE(err.find("both numbers or both single letters"), std::string::npos) << err;
    EXPECT_EQ(cli({"-q", "-d", (m_dir / "out").string(), "--batch", "f(*).zip", "1", "2"}, &out, &err), 2);
    EXPECT_NE(err.find("--batch f(*).zip gives f1.zip, not a URL fetchora can download"), std::string::npos) << err;
    EXPECT_EQ(cli({"-q", "--batch", "URL", "1", "2"}, &out, &err), 2);
    EXPECT_NE(err.find("--batch URL has no (*)"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out" / "f1.zip"));
}

TEST_F(CliLists, ARunningDaemonKeepsTheListModesAway)
{
    test::CliProcess daemon({"--daemon"}, environment(), m_dir / "out");
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (cli({"--info", "-1"}) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(100ms);
    test::writeFile(m_dir / "in.lst", "http://127.0.0.1:1/a.zip\r\n");
    std::string out;
    std::string err;
    EXPECT_EQ(cli({"--import-list", (m_dir / "in.lst").string()}, &out, &err), 1);
    EXPECT_NE(err.find("daemon is running and owns the job database"), std::string::npos) << err;
    EXPECT_EQ(cli({"--export-list", (m_dir / "out" / "x.lst").string()}, &out, &err), 1);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out" / "x.lst"));
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(std::chrono::seconds(30)), 0) << daemon.standardError();
}

}  // namespace
}  // namespace fetchora
