// A run killed after a finished file took its final name but before the
// database recorded the job as finished: the next run completes the job from
// that file, and never takes a different file under that name for its own.
#include "model/database_file.h"
#include "model/finish_journal.h"
#include "model/job_database.h"
#include "platform/job_lock.h"
#include "support/cli_process.h"
#include "support/real_peers.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

namespace fetchora {
namespace {

constexpr int64_t kFileBytes = 300 * 1024 + 17;

class CliUnrecordedFinish : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"home", "out", "run", "daemon", "downloads"})
            std::filesystem::create_directories(m_dir / folder);
        test::writePseudoRandomFile(m_nginx.www() / "files" / "whole.bin", kFileBytes, 7);
    }

    std::map<std::string, std::string> environment() const
    {
        return test::desktopProfileEnvironment(m_dir.path());
    }

    // Polls until done() or the time is up.
    static bool eventually(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60))
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return done();
    }

    // The files below the daemon's download folder.
    std::vector<std::filesystem::path> daemonFiles() const
    {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir / "downloads")) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
        return files;
    }

    // A daemon on the profile, serving once --info answers.
    std::unique_ptr<test::CliProcess> startDaemon(const std::map<std::string, std::string>& env)
    {
        auto daemon = std::make_unique<test::CliProcess>(std::vector<std::string>{"--daemon"}, env, m_dir / "daemon");
        EXPECT_TRUE(eventually(
            [&] { return test::runCli({"--info", "-1"}, environment(), m_dir.path()) == 0; }, std::chrono::seconds(30)))
            << daemon->standardError();
        return daemon;
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_nginx.httpPort()) + "/files/whole.bin"; }
    std::filesystem::path database() const { return m_dir / "home" / "Default.kxd"; }
    std::filesystem::path output() const { return m_dir / "out" / "whole.bin"; }

    int download(std::string* err)
    {
        return test::runCli({"-q", "-d", (m_dir / "out").string(), url()}, environment(), m_dir.path(), err);
    }

    // A run killed the moment its finished file took its final name, long
    // before the next save: the last database still has the job unfinished.
    int downloadKilledAfterRename(std::string* err)
    {
        std::map<std::string, std::string> env = environment();
        env["FETCHORA_TEST_KILL_AFTER_RENAME"] = "1";
        return test::runCli({"-q", "-d", (m_dir / "out").string(), url()}, env, m_dir.path(), err);
    }

    // The state a kill between the rename and the save leaves: every range
    // recorded, the job not yet finished, no ".kx!" file.
    void forgetTheFinish()
    {
        JobLock lock;
        CZoviradDoc doc(lock);
        DatabaseOpenOptions options;
        options.load.defaults.maxParallelNum = 10;
        options.load.defaults.defaultDownloadFolder = (m_dir / "out").string();
        ASSERT_EQ(OpenDatabase(doc, database(), options).status, OpenStatus::Opened);
        int jobs = 0;
        for (DownloadJob* node : doc.tree().nodes()) {
            if (node->IsCategory())
                continue;
            ++jobs;
            ASSERT_TRUE(node->IsComplete());
            ASSERT_EQ(node->completedBytes, kFileBytes);
            node->SetState(JobState::Downloading, false);
        }
        ASSERT_EQ(jobs, 1);
        ASSERT_TRUE(SaveDatabase(doc, database()).ok);
        ASSERT_FALSE(std::filesystem::exists(m_dir / "out" / "whole.bin.kx!"));
    }

    // The "state" and "name" fields of the one job the database lists.
    std::pair<std::string, std::string> recordedJob()
    {
        std::string out;
        std::string err;
        EXPECT_EQ(test::runCli({"--db", database().string(), "list"}, environment(), m_dir.path(), &err, &out), 0)
            << err;
        std::istringstream lines(out);
        std::pair<std::string, std::string> found;
        int jobs = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("\"isCategory\":false") == std::string::npos)
                continue;
            ++jobs;
            found = {field(line, "state"), field(line, "name")};
        }
        EXPECT_EQ(jobs, 1) << out;
        return found;
    }

    static std::string field(const std::string& line, const std::string& name)
    {
        const std::string key = "\"" + name + "\":";
        const size_t at = line.find(key);
        if (at == std::string::npos)
            return {};
        size_t start = at + key.size();
        if (line[start] == '"')
            return line.substr(start + 1, line.find('"', start + 1) - start - 1);
        return line.substr(start, line.find_first_of(",}", start) - start);
    }

    int requestsForTheFile() const
    {
        std::ifstream log(m_nginx.accessLogFile());
        int count = 0;
        for (std::string line; std::getline(log, line);)
            count += line.find("GET /files/whole.bin ") != std::string::npos ? 1 : 0;
        return count;
    }

    size_t filesInOutput() const
    {
        size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir / "out"))
            ++count;
        return count;
    }

    test::TempDir m_dir;
    test::NginxPeer m_nginx{{"IP:127.0.0.1"}};
};

TEST_F(CliUnrecordedFinish, AWholeFileUnderItsFinalNameCompletesTheJob)
{
    std::string err;
    ASSERT_EQ(download(&err), 0) << err;
    ASSERT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", output()));
    forgetTheFinish();

    EXPECT_EQ(download(&err), 0) << err;
    const auto [state, name] = recordedJob();
    EXPECT_EQ(state, "4");
    EXPECT_EQ(name, "whole.bin");
    EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", output()));
    // Neither a second copy nor a second fetch.
    EXPECT_EQ(filesInOutput(), 1u);
    EXPECT_EQ(requestsForTheFile(), 1);
}

TEST_F(CliUnrecordedFinish, ADifferentFileUnderTheFinalNameIsNeverTakenNorTouched)
{
    const std::filesystem::path foreign = m_dir / "foreign.bin";
    for (const int64_t size : {kFileBytes - 1, kFileBytes + 1, int64_t{0}}) {
        SCOPED_TRACE("foreign size " + std::to_string(size));
        std::filesystem::remove_all(m_dir / "home");
        std::filesystem::remove_all(m_dir / "out");
        std::filesystem::create_directories(m_dir / "home");
        std::string err;
        ASSERT_EQ(download(&err), 0) << err;
        forgetTheFinish();
        test::writePseudoRandomFile(foreign, size, 99);
        std::filesystem::copy_file(foreign, output(), std::filesystem::copy_options::overwrite_existing);

        download(&err);
        EXPECT_TRUE(test::sameFileBytes(foreign, output()));
        const auto [state, name] = recordedJob();
        if (state == "4") {
            // Finished only by fetching the file again, under a name of its own.
            EXPECT_NE(name, "whole.bin");
            EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", m_dir / "out" / name));
        } else {
            // A failure says what is missing.
            EXPECT_NE(err.find("whole.bin.kx!"), std::string::npos) << err;
        }
    }
}

TEST_F(CliUnrecordedFinish, ALinkUnderTheFinalNameIsNotTakenEvenAtTheRightSize)
{
    std::string err;
    ASSERT_EQ(download(&err), 0) << err;
    forgetTheFinish();
    const std::filesystem::path elsewhere = m_dir / "elsewhere.bin";
    std::filesystem::rename(output(), elsewhere);
    std::filesystem::create_symlink(elsewhere, output());

    EXPECT_NE(download(&err), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(output()));
    EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", elsewhere));
    EXPECT_NE(recordedJob().first, "4");
    EXPECT_NE(err.find("whole.bin.kx!"), std::string::npos) << err;
}

TEST_F(CliUnrecordedFinish, AKillRightAfterTheRenameLeavesAJobTheNextRunCompletesFromItsFile)
{
    std::string err;
    ASSERT_EQ(downloadKilledAfterRename(&err), -1) << err;
    ASSERT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", output()));
    ASSERT_FALSE(std::filesystem::exists(m_dir / "out" / "whole.bin.kx!"));
    ASSERT_NE(recordedJob().first, "4");

    EXPECT_EQ(download(&err), 0) << err;
    const auto [state, name] = recordedJob();
    EXPECT_EQ(state, "4");
    EXPECT_EQ(name, "whole.bin");
    EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", output()));
    EXPECT_EQ(filesInOutput(), 1u);
    EXPECT_EQ(requestsForTheFile(), 1);
}

TEST_F(CliUnrecordedFinish, AFinishedUrlGivenAgainIsNotFetchedUnderANewName)
{
    std::string err;
    ASSERT_EQ(download(&err), 0) << err;
    EXPECT_EQ(download(&err), 0) << err;
    EXPECT_EQ(recordedJob().first, "4");
    EXPECT_EQ(filesInOutput(), 1u);
    EXPECT_EQ(requestsForTheFile(), 1);
    EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", output()));

    // Without its file the URL is fetched again, under its own name.
    std::filesystem::remove(output());
    EXPECT_EQ(download(&err), 0) << err;
    EXPECT_EQ(requestsForTheFile(), 2);
    EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", output()));
}

TEST_F(CliUnrecordedFinish, ADaemonKilledRightAfterTheRenameEndsTheJobFromItsFileAtItsNextStart)
{
    std::map<std::string, std::string> killing = environment();
    killing["FETCHORA_TEST_KILL_AFTER_RENAME"] = "1";
    std::unique_ptr<test::CliProcess> daemon = startDaemon(killing);
    std::string out;
    std::string err;
    ASSERT_EQ(test::runCli({"--send", url()}, environment(), m_dir.path(), &err, &out), 0) << err;
    EXPECT_EQ(out, "0\n");
    ASSERT_EQ(daemon->wait(std::chrono::seconds(60)), -1) << daemon->standardError();
    std::vector<std::filesystem::path> files = daemonFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::filesystem::path file = files.front();
    ASSERT_EQ(file.filename(), "whole.bin");
    ASSERT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", file));
    ASSERT_NE(recordedJob().first, "4");
    ASSERT_FALSE(ReadFinishJournal(FinishJournalPath(database())).empty());
    std::filesystem::remove(m_dir / "run" / "Fetchora");  // the killed daemon's socket

    daemon = startDaemon(environment());
    EXPECT_TRUE(eventually([&] { return recordedJob().first == "4"; })) << daemon->standardError();
    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->wait(std::chrono::seconds(30)), 0) << daemon->standardError();
    const auto [state, name] = recordedJob();
    EXPECT_EQ(state, "4");
    EXPECT_EQ(name, "whole.bin");
    EXPECT_EQ(daemonFiles(), std::vector<std::filesystem::path>{file});
    EXPECT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", file));
    EXPECT_EQ(requestsForTheFile(), 1);
    EXPECT_TRUE(ReadFinishJournal(FinishJournalPath(database())).empty());
}

TEST_F(CliUnrecordedFinish, ARerunFindsTheJobThatTookAFreeNameAtItsAdd)
{
    // Someone else's file has the name: the job takes "whole(1).bin".
    test::writePseudoRandomFile(output(), 1000, 5);
    std::string err;
    ASSERT_EQ(download(&err), 0) << err;
    ASSERT_EQ(recordedJob().second, "whole(1).bin");
    ASSERT_TRUE(test::sameFileBytes(m_nginx.www() / "files" / "whole.bin", m_dir / "out" / "whole(1).bin"));

    // The same URL again is the same job, not a third file.
    EXPECT_EQ(download(&err), 0) << err;
    EXPECT_EQ(recordedJob(), (std::pair<std::string, std::string>{"4", "whole(1).bin"}));
    EXPECT_EQ(filesInOutput(), 2u);
    EXPECT_EQ(requestsForTheFile(), 1);
}

}  // namespace
}  // namespace fetchora
