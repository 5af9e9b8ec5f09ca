// fetchora-cli killed with SIGKILL at random moments, over and over, while it
// downloads a mix of small and large files and saves its database: after
// each kill the database loads whole, and a last run ends every job with a
// file byte-identical to its source, under its own name and once only.
//
// FETCHORA_KILL_CYCLES sets the number of kills (15 by default), and
// FETCHORA_KILL_SEED the seed of the kill moments (printed, so that a failing
// series can be run again).
#include "model/database_file.h"
#include "model/finish_journal.h"
#include "model/job_database.h"
#include "platform/job_lock.h"
#include "support/cli_process.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <thread>

namespace fetchora {
namespace {

int fromEnvironment(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

class CliKillCycles : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(m_dir / "out");
        // Small files finish (and are renamed and saved) all the time; the
        // large ones are still running at most kills.
        for (int n = 0; n < kSmallFiles; ++n)
            addSource("small" + std::to_string(n) + ".bin", 20 * 1024 + n * 977, 100 + n);
        addSource("large0.bin", 6 << 20, 7);
        addSource("large1.bin", 3 << 20, 8);
    }

    void addSource(const std::string& name, int64_t size, uint64_t seed)
    {
        test::writePseudoRandomFile(m_nginx.www() / "files" / name, size, seed);
        m_names.push_back(name);
        m_urls.push_back("http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/slow/" + name);
    }

    std::map<std::string, std::string> environment() const
    {
        return test::ownProfileEnvironment(m_dir.path());
    }

    std::vector<std::string> arguments() const
    {
        std::vector<std::string> args = {"-q", "-s", "3", "-d", (m_dir / "out").string()};
        args.insert(args.end(), m_urls.begin(), m_urls.end());
        return args;
    }

    // The database the killed run left opens as it is: not torn, no backup
    // needed, every job still there.
    void expectDatabaseLoads(int cycle)
    {
        const std::filesystem::path database = m_dir / "home" / "Default.kxd";
        if (!std::filesystem::exists(database))
            return;  // killed before the first save
        JobLock lock;
        CZoviradDoc doc(lock);
        DatabaseOpenOptions options;
        options.load.defaults.maxParallelNum = 10;
        options.load.defaults.defaultDownloadFolder = (m_dir / "out").string();
        const OpenResult result = OpenDatabase(doc, database, options);
        EXPECT_EQ(result.status, OpenStatus::Opened) << "after kill " << cycle << ": " << result.message;
        size_t jobs = 0;
        for (DownloadJob* node : doc.tree().nodes())
            jobs += node->IsCategory() ? 0 : 1;
        EXPECT_LE(jobs, m_urls.size()) << "after kill " << cycle;
        // A file under its final name is a finished job: the database says
        // so, or the finish journal beside it does.
        ApplyFinishJournal(doc.tree(), ReadFinishJournal(FinishJournalPath(database)));
        for (DownloadJob* node : doc.tree().nodes()) {
            if (node->IsCategory() || !std::filesystem::exists(node->GetLocalPath()))
                continue;
            const bool whole = node->IsSizeKnown() && node->completedBytes == node->fileSize;
            EXPECT_TRUE(node->IsComplete() || whole) << node->GetDisplayName() << " is renamed but not finished after kill "
                                            << cycle;
        }
    }

    static constexpr int kSmallFiles = 12;
    test::TempDir m_dir;
    test::NginxPeer m_nginx{{"IP:127.0.0.1"}, "location /slow/ { alias $WWW/files/; limit_rate 2m; }\n"};
    std::vector<std::string> m_names;
    std::vector<std::string> m_urls;
};

TEST_F(CliKillCycles, EveryJobEndsByteIdenticalAfterKillsAtRandomMoments)
{
    const int cycles = fromEnvironment("FETCHORA_KILL_CYCLES", 15);
    const auto seed = static_cast<uint32_t>(
        fromEnvironment("FETCHORA_KILL_SEED", static_cast<int>(std::random_device{}() & 0x7FFFFFFF)));
    std::cout << "kill cycles: " << cycles << ", seed " << seed << std::endl;
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);

    int completedRuns = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        test::CliProcess cli(arguments(), environment(), m_dir.path());
        // Mostly early in a run, where the starts, finishes and saves are.
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 900));
        cli.signal(SIGKILL);
        const int code = cli.wait(std::chrono::seconds(60));
        if (code == 0) {
            // Everything had finished: the next cycle starts afresh.
            ++completedRuns;
            for (const std::string& name : m_names)
                ASSERT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / name, m_dir / "out" / name))
                    << name << " after cycle " << cycle << ", seed " << seed;
            std::filesystem::remove_all(m_dir / "out");
            std::filesystem::remove_all(m_dir / "home");
            std::filesystem::create_directories(m_dir / "home");
            std::filesystem::create_directories(m_dir / "out");
            continue;
        }
        ASSERT_EQ(code, -1) << "cycle " << cycle << ", seed " << seed << ": " << cli.standardError();
        expectDatabaseLoads(cycle);
        if (HasFailure())
            FAIL() << "seed " << seed;
    }
    std::cout << "runs that ended before their kill: " << completedRuns << std::endl;

    std::string err;
    ASSERT_EQ(test::runCli(arguments(), environment(), m_dir.path(), &err), 0) << err << "seed " << seed;
    std::set<std::string> expected(m_names.begin(), m_names.end());
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir / "out"))
        found.insert(entry.path().filename().string());
    EXPECT_EQ(found, expected) << "seed " << seed;
    for (const std::string& name : m_names)
        EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / name, m_dir / "out" / name))
            << name << ", seed " << seed;
}

}  // namespace
}  // namespace fetchora
