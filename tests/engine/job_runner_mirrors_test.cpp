// The mirror passes the runner drives: a ping pass before the parts of a
// start, and a search followed by a ping pass after the first answer.
#include <filesystem>
#include <set>

#include "engine/runner_fixture.h"

namespace fetchora::test {
namespace {

namespace fs = std::filesystem;

class JobRunnerMirrorsTest : public RunnerTest {
protected:
    void SetUp() override
    {
        m_settings.SetOption(OptionId::BlockSize, 10240);
        m_settings.SetOption(OptionId::MirrorSearch, 1);
        m_settings.SetOption(OptionId::AutoSelectMirror, 1);
        m_settings.SetOption(OptionId::FtpSearchMinSize, 1);
        // Ping times by host: the third mirror answers fastest, the second never.
        m_threads.registerPingProcedure([this](MirrorTask& task) {
            ++m_pingWorkers;
            for (size_t index = task.firstIndex; index < task.urls.size(); index += 10) {
                const std::string& host = task.urls[index].host;
                const int32_t ms = host == "127.0.0.3" ? 10 : host == "127.0.0.2" ? -1 : 40;
                task.channel->logLine(ConnectionLogKind::Status, host + "  " + std::to_string(ms) + "ms");
                task.channel->pingResult(index, ms, host);
            }
            return 0;
        });
    }

    void recordHost(const TransferTask& task)
    {
        std::lock_guard lock(m_hostsMutex);
        m_hosts.insert(task.url.host);
    }

    std::atomic<int> m_pingWorkers{0};
    std::mutex m_hostsMutex;
    std::set<std::string> m_hosts;
};

TEST_F(JobRunnerMirrorsTest, PingPassOrdersTheMirrorsBeforeThePartsStart)
{
    const std::string source = randomBytes(50000, 41);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) {
        recordHost(task);
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/mirrored.bin", 1);
    job.alternateUrls = {{"http://127.0.0.2:8080/mirrored.bin", 0}, {"http://127.0.0.3:8080/mirrored.bin", 0}};
    job.SetFileSize(static_cast<int64_t>(source.size()));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "mirrored.bin"), source);
    EXPECT_EQ(m_pingWorkers.load(), 3);
    EXPECT_TRUE(logged(job, "Start Ping."));
    EXPECT_TRUE(logged(job, "Ping Done!"));
    EXPECT_TRUE(logged(job, "127.0.0.3  10ms"));
    // The main URL stays first; the others follow by ping time, unanswered last.
    ASSERT_EQ(job.run().urlEntries.size(), 3u);
    EXPECT_EQ(job.run().urlEntries[0].host, "127.0.0.1");
    EXPECT_EQ(job.run().urlEntries[1].host, "127.0.0.3");
    EXPECT_EQ(job.run().urlEntries[2].host, "127.0.0.2");
    EXPECT_EQ(job.run().urlEntries[1].pingTime, 10);
    EXPECT_EQ(job.run().pingThreadCount, 0);
}

TEST_F(JobRunnerMirrorsTest, ThePingPartBecomesTheFirstTransferPart)
{
    const std::string source = randomBytes(60000, 43);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    m_worker = [&](TransferTask& task) { return serve(task, file); };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/two.bin", 2);
    job.alternateUrls = {{"http://127.0.0.2:8080/two.bin", 0}, {"http://127.0.0.3:8080/two.bin", 0}};
    job.SetFileSize(static_cast<int64_t>(source.size()));
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));
    ASSERT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "two.bin"), source);

    // No stopped ping part is left in front: the job has exactly its split
    // count of parts, and the first of them carries the ping lines and then
    // transferred (from the file's start; a part that finished its range
    // early may have taken over a later one since), so lines about the whole
    // job land in the log of a part that transferred.
    JobRunner* runner = runnerOf(job);
    ASSERT_NE(runner, nullptr);
    ASSERT_EQ(runner->parts().size(), 2u);
    const JobPart& first = *runner->parts().front();
    EXPECT_NE(first.flags & kPartFirst, 0u);
    EXPECT_EQ(first.flags & kPartMirrorPing, 0u);
    EXPECT_GT(first.position(), 0);
    std::vector<std::string> firstLines;
    for (const LogEntry& entry : first.log.entries())
        firstLines.push_back(entry.text);
    EXPECT_NE(std::find(firstLines.begin(), firstLines.end(), "Start Ping."), firstLines.end());
    EXPECT_NE(std::find(firstLines.begin(), firstLines.end(), "Ping Done!"), firstLines.end());
}

TEST_F(JobRunnerMirrorsTest, SearchAfterTheFirstAnswerAddsMirrorsThatTakeAPart)
{
    const std::string source = randomBytes(200000, 42);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    std::atomic<bool> searched{false};
    m_threads.registerSearchProcedure([&](MirrorTask& task) {
        task.channel->logLine(ConnectionLogKind::Status, "Start Ftp Search.");
        task.channel->foundUrls(
            {"http://127.0.0.2:8080/" + task.fileName, "http://127.0.0.3:8080/" + task.fileName, "not a url"});
        searched = true;
        return 0;
    });
    std::atomic<bool> firstAnswered{false};
    m_worker = [&](TransferTask& task) {
        recordHost(task);
        if (!firstAnswered.exchange(true)) {
            if (answerWithRanges(*task.channel, static_cast<int64_t>(source.size())) == 0)
                return 0;
            // The first part holds back until the mirrors are ranked, so that
            // it cannot fetch the whole file alone first.
            for (int i = 0; i < 10000 && m_pingWorkers.load() < 3; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return serve(task, file);
    };
    DownloadJob& job = makeJob("http://127.0.0.1:8080/found.bin", 2);
    ASSERT_EQ(start(job), JobStartResult::Started);
    ASSERT_TRUE(runUntilEnded(job));

    EXPECT_TRUE(searched.load());
    EXPECT_EQ(job.GetState(), JobState::Completed);
    EXPECT_EQ(readFile(fs::path(job.saveFolder.str()) / "found.bin"), source);
    ASSERT_EQ(job.alternateUrls.size(), 2u);
    EXPECT_EQ(job.run().runFlags & (kRunSearching | kRunPinging), 0u);
    EXPECT_TRUE(logged(job, "Start Ftp Search."));
    EXPECT_TRUE(logged(job, "Ping Done!"));
    // The search part became the second transfer part, on the fastest mirror.
    ASSERT_EQ(runnerOf(job)->parts().size(), 2u);
    EXPECT_EQ(job.run().urlEntries[runnerOf(job)->parts()[1]->urlIndex].host, "127.0.0.3");
    ASSERT_TRUE(runUntilThreadsEnd());
    std::lock_guard lock(m_hostsMutex);
    EXPECT_TRUE(m_hosts.count("127.0.0.3"));
}

}  // namespace
}  // namespace fetchora::test

namespace fetchora::test {
namespace {

// What the search worker is handed of the settings, and the day of a sharing
// request that the runner stores so that the country and version go out once
// a day.
TEST_F(JobRunnerMirrorsTest, TheSearchGetsTheSettingsAndTheSharingCodeOnlyOnceADay)
{
    const std::string source = randomBytes(60000, 44);
    ServedFile file{&source, -1, true, 4096, 0.0, 0};
    std::atomic<int> searches{0};
    std::atomic<int> answered{0};
    m_worker = [&](TransferTask& task) {
        // The first part of each run holds back until its search has
        // reported, so that the job cannot end before it.
        const int run = answered.load();
        if (task.url.object.find("shared" + std::to_string(run)) != std::string::npos
            && answered.exchange(run + 1) == run) {
            if (answerWithRanges(*task.channel, static_cast<int64_t>(source.size())) == 0)
                return 0;
            for (int i = 0; i < 5000 && searches.load() <= run; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return serve(task, file);
    };
    m_settings.SetOptionText(OptionId::MirrorCountryCode, "DE");
    m_settings.SetOptionText(OptionId::MirrorCountryList, "AT CH");
    m_settings.SetOptionText(OptionId::MirrorSearchServer, "http://127.0.0.1:9/s?q={filename}");
    m_settings.SetOption(OptionId::FtpSearchMaxHit, 17);
    m_settings.SetOption(OptionId::UrlSharingService, 1);
    m_settings.SetOption(OptionId::ShareUrls, 1);
    m_settings.setCheckDate(0);
    m_ctx.now = [] { return std::time_t{1700000000}; };  // 2023-11-14 UTC
    std::mutex seenMutex;
    std::vector<MirrorSearchOptions> seen;
    m_threads.registerSearchProcedure([&](MirrorTask& task) {
        std::lock_guard lock(seenMutex);
        seen.push_back(task.search);
        // As the worker does once it has sent the day's code.
        if (task.search.today != task.search.checkDate)
            task.channel->dailyCodeSent(task.search.today);
        ++searches;
        return 0;
    });
    for (int run = 0; run < 2; ++run) {
        DownloadJob& job = makeJob("http://127.0.0.1:8080/shared" + std::to_string(run) + ".bin", 1);
        ASSERT_EQ(start(job), JobStartResult::Started);
        ASSERT_TRUE(runUntilEnded(job));
        EXPECT_EQ(job.GetState(), JobState::Completed);
    }
    std::lock_guard lock(seenMutex);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].jobUrl, "http://127.0.0.1:8080/shared0.bin");
    EXPECT_EQ(seen[0].countryCode, "DE");
    EXPECT_EQ(seen[0].countryList, "AT CH");
    EXPECT_EQ(seen[0].searchTemplate, "http://127.0.0.1:9/s?q={filename}");
    EXPECT_EQ(seen[0].maxHit, 17);
    EXPECT_TRUE(seen[0].sharingService);
    EXPECT_TRUE(seen[0].shareUrls);
    EXPECT_EQ(seen[0].today, 20231114);
    EXPECT_EQ(seen[0].checkDate, 0);
    EXPECT_EQ(seen[1].checkDate, 20231114);
    EXPECT_EQ(m_settings.checkDate(), 20231114);
}

}  // namespace
}  // namespace fetchora::test
